// Start-up, settings, notices, volume and handheld events of the main window.
#include "tests/app/window_helpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

namespace {

const QString kLost = QStringLiteral("Lost connection to the iPod device.");

// A volume arriving or leaving, as the system reports it.
void Volume(TZozoDodiFrm& w, bool arrival, uint32_t mask) {
    w.WMDeviceChange(arrival ? TZozoDodiFrm::DBT_DEVICEARRIVAL : TZozoDodiFrm::DBT_DEVICEREMOVECOMPLETE,
                     TZozoDodiFrm::DBT_DEVTYP_VOLUME, mask);
}

// The handheld's state record as the link leaves it.
void SetHandheldReady(bool ready, bool failed = false) {
    QMutexLocker lock(&handheld::IphoneLock());
    handheld::IphoneMgr.Ready = ready;
    handheld::IphoneMgr.LastError = ready && !failed ? QByteArray() : QByteArray("Open AFC error: 7");
}

} // namespace

TEST_F(WindowTest, SettingsAcrossRunsKeepOnlyValidValues) {
    TZozoDodiFrm& w = Open();
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    EXPECT_EQ(w.OutEdit->text(), music + QStringLiteral("/iPodMusic"));
    EXPECT_EQ(Opened.size(), 1u);
    w.FormatLst->setCurrentIndex(4);
    w.OutEdit->setText(QStringLiteral("/music/here "));
    w.close();
    Window.reset();
    EXPECT_EQ(Open().FormatLst->currentIndex(), 4);
    EXPECT_EQ(Window->OutEdit->text(), QStringLiteral("/music/here"));
    EXPECT_EQ(Opened.size(), 1u);
    Window->close();
    Window.reset();
    QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Marrowgate"), QStringLiteral("Marrowgate"));
    for (const auto& [key, value] : std::initializer_list<std::pair<const char*, QVariant>>{{"SaveType", 7},
                                                                                            {"LWidth", 240},
                                                                                            {"OutPath", "   "},
                                                                                            {"OutPathPic", " /pics "},
                                                                                            {"Sync", 1},
                                                                                            {"Art", "yes"}})
        s.setValue(QLatin1String(key), value);
    s.sync();
    TZozoDodiFrm& again = Open();
    EXPECT_EQ(again.FormatLst->currentIndex(), 0);
    EXPECT_EQ(again.OutEdit->text(), music + QStringLiteral("/iPodMusic"));
    EXPECT_EQ(again.PicOutEdit->text(), QStringLiteral("/pics"));
    EXPECT_TRUE(again.SyncCb->isChecked());
    EXPECT_FALSE(again.ArtCb->isChecked());
    EXPECT_EQ(again.spl->sizes().value(0), 240);
}

TEST_F(WindowTest, WaitingAndLockedNotices) {
    TZozoDodiFrm& w = Open();
    EXPECT_EQ(w.ErrLb->text(), QStringLiteral("Waiting for iPod ..."));
    EXPECT_TRUE(w.UnlockBtn->isHidden());
    EXPECT_FALSE(w.ExportBtn->Enabled() || w.MusicList->isEnabled());
    EXPECT_TRUE(w.PlayBtn->isHidden());
    EXPECT_TRUE(w.StopPreview(false));
    Window.reset();
    fixtures::DeviceTree tree = MakeIpod('E', WindowDb(), true);
    TZozoDodiFrm& locked = OpenShown();
    EXPECT_EQ(locked.ErrLb->text(), QStringLiteral("iPod is locked by iTunes!"));
    EXPECT_EQ(locked.FDeviceKind, TZozoDodiFrm::dkNone);
    QTest::mouseClick(locked.UnlockBtn, Qt::LeftButton);
    EXPECT_FALSE(QFile::exists(tree.Path(QStringLiteral("iPod_Control/iTunes/iTunesLock"))));
    EXPECT_FALSE(locked.isVisible());
    // Closing a window that never loaded an iPod asks nothing about ejecting.
    EXPECT_EQ(BoxesStarting(QStringLiteral("Do you want to eject")), 0);
}

TEST_F(WindowTest, VolumesArriveByTheLowestDriveAndLeaveOnce) {
    TZozoDodiFrm& w = Open();
    fixtures::FixtureDb other = WindowDb();
    other.Playlists[0].Name = QStringLiteral("Other iPod");
    MakeIpod('F', WindowDb());
    MakeIpod('H', other);
    // Not a volume, then a mask without drive bits (drive A): nothing loads.
    w.WMDeviceChange(TZozoDodiFrm::DBT_DEVICEARRIVAL, 5, 1u << 5);
    Volume(w, true, 0xFC000000u);
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkNone);
    Volume(w, true, (1u << 5) | (1u << 7));
    EXPECT_EQ(w.IpodLb->text(), QStringLiteral("Test iPod"));
    Volume(w, true, 1u << 7);
    EXPECT_EQ(w.IpodLb->text(), QStringLiteral("Test iPod"));

    Volume(w, false, 1u << 6);
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkIpod);
    Answer = MsgResult::Yes;
    Volume(w, false, 1u << 5);
    Volume(w, false, 1u << 5);
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Connection Lost"));
    EXPECT_EQ(BoxesStarting(kLost), 1);
    EXPECT_TRUE(Opened.back().toString().endsWith(QStringLiteral("ej.html")));
    EXPECT_GT(w.MusicModel->Count(), 0);
    // After a lost connection a new volume is not loaded (the window no longer waits).
    Volume(w, true, 1u << 5);
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkNone);
}

TEST_F(WindowTest, ArrivalDuringATransferIsLoadedWhenTheTransferEnds) {
    TZozoDodiFrm& w = Open();
    MakeIpod('E', WindowDb());
    auto* thread = new QThread;
    w.CopyThread = thread;
    Volume(w, true, 1u << 4);
    w.TransferEnded(); // the thread is still referenced: nothing yet
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkNone);
    delete thread;
    w.TransferEnded();
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkIpod);
}

TEST_F(WindowTest, HandheldUnreadableThenArrivingAndLeaving) {
    fixtures::DeviceTree phone(Temp.filePath(QStringLiteral("phone")));
    phone.WriteHandheldTrackDb(fixtures::WriteTrackDb(WindowDb()), true);
    device::SetHandheldFileReader([](const QByteArray&, QByteArray&) { return false; });
    TZozoDodiFrm& w = Open();
    SetHandheldReady(true, /*failed=*/true);
    w.WMIphoneNotify();
    EXPECT_EQ(w.ErrLb->text(), QStringLiteral("Can not read from iPhone/iPod touch"));
    // The link's latest failure text, whichever read failed last.
    EXPECT_TRUE(w.DesLb->text().contains("(\n" + QString::fromUtf8(handheld::IphoneLastError()) + ")"));
    EXPECT_FALSE(w.MusicList->isEnabled());

    device::SetHandheldFileReader([&](const QByteArray& path, QByteArray& out) {
        QFile f(phone.MediaPath(QString::fromUtf8(path)));
        return f.open(QIODevice::ReadOnly) && (out = f.readAll(), true);
    });
    SetHandheldReady(true);
    w.WMIphoneNotify();
    EXPECT_TRUE(w.ErrPnl->isHidden());
    EXPECT_EQ(w.MusicModel->Count(), 5);
    // With a handheld loaded, volume events are ignored.
    MakeIpod('E', WindowDb());
    w.FWaitingDevice = true;
    Volume(w, true, 1u << 4);
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkHandheld);
    SetHandheldReady(false);
    w.WMIphoneNotify();
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkNone);
    EXPECT_EQ(BoxesStarting(kLost), 1);
    EXPECT_EQ(w.MusicModel->Count(), 0);
    device::SetHandheldFileReader(nullptr);
}

TEST_F(WindowTest, LoadedIpodKeepsItsShapeIgnoresTheHandheldAndAsksToEjectAtClose) {
    TZozoDodiFrm& w = OpenLoaded();
    w.show();
    w.resize(700, 400); // below the minimum
    EXPECT_GE(w.width(), 800);
    w.resize(1000, 700);
    EXPECT_FALSE(w.mask().contains(QPoint(0, 0)));
    EXPECT_TRUE(w.mask().contains(QPoint(4, 0)) && w.mask().contains(QPoint(999, 350)));
    SetHandheldReady(false);
    w.WMIphoneNotify();
    EXPECT_EQ(w.MusicModel->Count(), 5);
    EXPECT_EQ(BoxesStarting(kLost), 0);
    w.FCopying = true;
    EXPECT_FALSE(w.close());
    EXPECT_EQ(BoxesStarting(QStringLiteral("Copy is in progress. Please cancel the transfer first.")), 1);
    w.FCopying = false;
    Answer = MsgResult::Yes; // a plain-folder drive ejects without the bus
    EXPECT_TRUE(w.close());
    EXPECT_EQ(BoxesStarting(QStringLiteral("Failure ejecting")), 0);
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Ejecting iPod ..."));
}
