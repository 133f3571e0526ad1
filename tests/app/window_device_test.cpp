// Start-up, settings, notices, volume and handheld events of the main window.
#include "tests/app/window_helpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

namespace {

// A volume arriving or leaving, as the system reports it.
void Volume(TZozoDodiFrm& w, bool arrival, uint32_t mask) {
    w.WMDeviceChange(arrival ? TZozoDodiFrm::DBT_DEVICEARRIVAL : TZozoDodiFrm::DBT_DEVICEREMOVECOMPLETE,
                     TZozoDodiFrm::DBT_DEVTYP_VOLUME, mask);
}

} // namespace

TEST_F(WindowTest, SettingsAcrossRunsKeepOnlyValidValues) {
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + "/iPodMusic";
    EXPECT_EQ(Open().OutEdit->text(), music);
    Window->FormatLst->setCurrentIndex(4);
    Window->close();
    Window.reset();
    EXPECT_EQ(Open().FormatLst->currentIndex(), 4);
    EXPECT_EQ(Opened.size(), 1u); // the start page on the first run only
    Window.reset();
    QFile ini(Temp.filePath(QStringLiteral("config/Marrowgate/Marrowgate.ini")));
    // The file written is the one that the help and the README name.
    ASSERT_TRUE(ini.exists());
    for (const char* doc : {"/resources/help/index.html", "/README.md"}) {
        QFile f(QStringLiteral(MG_SOURCE_DIR) + doc);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << doc;
        EXPECT_TRUE(f.readAll().contains("~/.config/" +
                                         QDir(Temp.filePath("config")).relativeFilePath(ini.fileName()).toUtf8()))
            << doc;
    }
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(
        "[General]\nFirstRun=0\nSaveType=7\nLWidth=240\nOutPath=\"   \"\nOutPathPic=\" /pics \"\nSync=1\nArt=yes\n");
    ini.close();
    MakeIpod('E', {}); // no playlist at all
    TZozoDodiFrm& w = Open();
    EXPECT_EQ(BoxesStarting(QStringLiteral("There is no music or video in your iPod.")), 1);
    EXPECT_EQ(w.PlayLstList->topLevelItemCount(), 0);
    EXPECT_EQ(w.FormatLst->currentIndex(), 0);
    EXPECT_EQ(w.OutEdit->text(), music);
    EXPECT_EQ(w.PicOutEdit->text(), QStringLiteral("/pics"));
    EXPECT_TRUE(w.SyncCb->isChecked() && !w.ArtCb->isChecked());
    EXPECT_EQ(w.spl->sizes().value(0), 240); // applied after the layout
}

TEST_F(WindowTest, WaitingAndLockedNoticesAndTheRoundedShape) {
    TZozoDodiFrm& w = Open();
    EXPECT_EQ(w.ErrLb->text(), QStringLiteral("Waiting for iPod ..."));
    EXPECT_FALSE(w.ExportBtn->Enabled() || w.MusicList->isEnabled());
    Window.reset();
    fixtures::DeviceTree tree = MakeIpod('E', WindowDb());
    tree.WriteLock();
    TZozoDodiFrm& locked = OpenShown();
    EXPECT_EQ(locked.ErrLb->text(), QStringLiteral("iPod is locked by iTunes!"));
    locked.resize(1000, 700);
    EXPECT_TRUE(!locked.mask().contains(QPoint(0, 0)) && locked.mask().contains(QPoint(4, 0)));
    QTest::mouseClick(locked.UnlockBtn, Qt::LeftButton);
    EXPECT_FALSE(QFile::exists(tree.Path(QStringLiteral("iPod_Control/iTunes/iTunesLock"))));
    EXPECT_FALSE(locked.isVisible());
    // Closing a window that never loaded an iPod asks nothing about ejecting.
    EXPECT_EQ(BoxesStarting(QStringLiteral("Do you want to eject")), 0);
}

TEST_F(WindowTest, VolumesLoadTheLowestDriveAfterATransferAndAreLostOnce) {
    TZozoDodiFrm& w = Open();
    fixtures::FixtureDb other = WindowDb();
    other.Playlists[0].Name = QStringLiteral("Other iPod");
    MakeIpod('F', WindowDb());
    MakeIpod('H', other);
    // A mask without drive bits (drive A): nothing loads.
    Volume(w, true, 0xFC000000u);
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkNone);
    // An arrival during a transfer waits until the transfer's thread is gone.
    auto* thread = new QThread;
    w.CopyThread = thread;
    Volume(w, true, (1u << 5) | (1u << 7));
    w.TransferEnded();
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkNone);
    delete thread;
    w.TransferEnded();
    Volume(w, true, 1u << 7);
    EXPECT_EQ(w.IpodLb->text(), QStringLiteral("Test iPod"));
    SetHandheldReady(false); // a handheld's news means nothing to a loaded iPod
    w.WMIphoneNotify();
    w.FCopying = true;
    EXPECT_FALSE(w.close());
    EXPECT_EQ(BoxesStarting(QStringLiteral("Copy is in progress. Please cancel the transfer first.")), 1);
    w.FCopying = false;

    Volume(w, false, 1u << 6);
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkIpod);
    Answer = MsgResult::Yes;
    Volume(w, false, 1u << 5);
    Volume(w, false, 1u << 5);
    EXPECT_EQ(w.StatusLb->text(), QStringLiteral("Connection Lost"));
    EXPECT_EQ(BoxesStarting(QStringLiteral("Lost connection to the iPod device.")), 1);
    EXPECT_TRUE(Opened.back().toString().endsWith(QStringLiteral("ej.html")));
}

TEST_F(WindowTest, HandheldUnreadableThenArrivingAndLeaving) {
    fixtures::DeviceTree phone(Temp.filePath(QStringLiteral("phone")));
    phone.WriteHandheldTrackDb(fixtures::WriteTrackDb(WindowDb()), true);
    device::SetHandheldFileReader([](const QByteArray&, QByteArray&, QString&) { return false; });
    TZozoDodiFrm& w = OpenShown();
    SetHandheldReady(true, /*failed=*/true);
    w.WMIphoneNotify();
    EXPECT_EQ(w.ErrLb->text(), QStringLiteral("Can not read from iPhone/iPod touch"));
    // The link's latest failure text, whichever read failed last.
    EXPECT_TRUE(w.DesLb->text().contains("(\n" + QString::fromUtf8(handheld::IphoneLastError()) + ")"));
    device::SetHandheldFileReader([&](const QByteArray& path, QByteArray& out, QString&) {
        QFile f(phone.MediaPath(QString::fromUtf8(path)));
        return f.open(QIODevice::ReadOnly) && (out = f.readAll(), true);
    });
    SetHandheldReady(true);
    w.WMIphoneNotify();
    // A reload lists the tracks in database order, with no sort arrow left in the header.
    QHeaderView* h = w.MusicList->header();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, {h->sectionViewportPosition(TrackListModel::ColName) + 5, 5});
    EXPECT_EQ(h->sortIndicatorSection(), TrackListModel::ColName);
    w.WMIphoneNotify();
    EXPECT_EQ(h->sortIndicatorSection(), -1);
    EXPECT_EQ(Titles(), (QStringList{"delta", "Alpha", "Charlie", "bravo", "Echo alpha"}));
    // With a handheld loaded, volume events are ignored.
    MakeIpod('E', WindowDb());
    w.FWaitingDevice = true;
    Volume(w, true, 1u << 4);
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkHandheld);
    SetHandheldReady(false);
    w.WMIphoneNotify();
    EXPECT_EQ(BoxesStarting(QStringLiteral("Lost connection to the iPod device.")), 1);
    EXPECT_EQ(w.MusicModel->Count(), 0);
    device::SetHandheldFileReader(nullptr);
}
