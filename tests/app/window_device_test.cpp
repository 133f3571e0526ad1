// Start-up, settings, notices, volume and handheld events of the main window.
#include "tests/app/window_helpers.h"

#include "platform/VolumeWatcher.h"
#include "transfer/CopyThread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSplitter>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QThread>

// A volume arriving or leaving, as the system reports it.
static void Volume(TZozoDodiFrm& w, bool arrival, uint32_t mask) {
    w.WMDeviceChange(arrival ? TZozoDodiFrm::DBT_DEVICEARRIVAL : TZozoDodiFrm::DBT_DEVICEREMOVECOMPLETE,
                     TZozoDodiFrm::DBT_DEVTYP_VOLUME, mask);
}

TEST_F(WindowTest, SettingsAcrossRunsKeepOnlyValidValues) {
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + "/iPodMusic";
    EXPECT_EQ(Open().OutEdit->text(), music);
    Window->FormatLst->setCurrentIndex(4);
    Window.reset();
    // The start page on the first run only.
    EXPECT_EQ(std::pair(Open().FormatLst->currentIndex(), Opened.size()), std::pair(4, size_t(1)));
    Window.reset();
    // The file written is the one that the help and the README name.
    const fixtures::DeviceTree config(Temp.filePath("config")), source(MG_SOURCE_DIR);
    const QString ini = "Marrowgate/Marrowgate.ini";
    ASSERT_TRUE(QFile::exists(config.Path(ini)));
    for (const char* doc : {"resources/help/index.html", "README.md"})
        EXPECT_TRUE(source.ReadFile(doc).contains("~/.config/" + ini.toUtf8())) << doc;
    config.WriteFile(ini, "[General]\nFirstRun=0\nSaveType=7\nLWidth=240\nOutPath=\"   "
                          "\"\nOutPathPic=\" /pics \"\nSync=1\nArt=yes\n");
    MakeIpod('E', {}); // no playlist at all
    TZozoDodiFrm& w = Open();
    EXPECT_EQ(std::tuple(BoxesStarting("There is no music or video in your iPod."), w.PlayLstList->topLevelItemCount(),
                         w.FormatLst->currentIndex(), w.OutEdit->text(), w.PicOutEdit->text()),
              std::tuple(1, 0, 0, music, QString("/pics")));
    // The pane's width is applied after the layout.
    EXPECT_TRUE(w.SyncCb->isChecked() && !w.ArtCb->isChecked() && w.spl->sizes().value(0) == 240);
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
    EXPECT_FALSE(QFile::exists(tree.Path(QStringLiteral("iPod_Control/iTunes/iTunesLock"))) || locked.isVisible());
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
    w.CopyThread = new QThread;
    Volume(w, true, (1u << 5) | (1u << 7));
    w.TransferEnded();
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkNone);
    delete w.CopyThread;
    w.TransferEnded();
    Volume(w, true, 1u << 7);
    EXPECT_EQ(w.IpodLb->text(), QStringLiteral("Test iPod"));
    SetHandheldReady(false); // a handheld's news means nothing to a loaded iPod
    w.WMIphoneNotify();
    w.FCopying = true;
    EXPECT_TRUE(!w.close() && BoxesStarting("Copy is in progress. Please cancel the transfer first.") == 1);
    w.FCopying = false;

    Volume(w, false, 1u << 6);
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkIpod);
    Answer = MsgResult::Yes;
    Volume(w, false, 1u << 5);
    Volume(w, false, 1u << 5);
    EXPECT_TRUE(w.StatusLb->text() == "Connection Lost" && BoxesStarting("Lost connection to the iPod device.") == 1 &&
                Opened.back().fileName() == "ej.html");
}

TEST_F(WindowTest, HandheldUnreadableThenArriving) {
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
    EXPECT_EQ(Titles(), (QStringList{"delta", "Alpha", "Charlie", "bravo", "Echo alpha"}));
    // With a handheld loaded, volume events are ignored.
    MakeIpod('E', WindowDb());
    w.FWaitingDevice = true;
    Volume(w, true, 1u << 4);
    EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkHandheld);
}

// Two phones with other files at the same paths. A transfer and the iTunes flag stay on the
// loaded phone while the other comes and goes, and nothing is said of the other's removal; once
// the window is free a newcomer is loaded, and only the loaded phone's departure is reported,
// once, also while Start asks for a folder, where no transfer then begins.
TEST_F(WindowTest, ASecondPhoneNeitherTakesOverATransferNorIsReportedGone) {
    fixtures::FixtureDb db = WindowDb();
    const fixtures::DeviceTree first(Temp.filePath("first")), second(Temp.filePath("second"));
    const fixtures::DeviceTree firstMedia(first.MediaPath({})), secondMedia(second.MediaPath({}));
    first.WriteHandheldTrackDb(fixtures::WriteTrackDb(db), true);
    firstMedia.WriteMusicFiles(db);
    QByteArray prefs(20, '\1');
    firstMedia.WriteFile("iTunes_Control/iTunes/iTunesPrefs", prefs);
    db.Playlists[0].Name = "Second phone";
    second.WriteHandheldTrackDb(fixtures::WriteTrackDb(db), true);
    for (fixtures::FixtureTrack& t : db.Tracks)
        --t.Size; // other bytes at the same paths, too few for a copy to pass for the first's
    secondMedia.WriteMusicFiles(db);
    TZozoDodiFrm& w = OpenWithPhone(first);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const auto phone = [&](const char* verb, const fixtures::DeviceTree& tree, bool heard = true) {
        for (const QByteArray& c : {verb + (' ' + tree.Root().toUtf8()), QByteArray("wait")})
            SimControl(c.constData(), nullptr, 0);
        if (heard)
            QCoreApplication::processEvents();
    };
    TickAllTracks(w);
    QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
    w.OutEdit->setText(Temp.filePath("out"));
    phone("arrive", second, false);
    phone("leave", second, false);
    QTest::mouseClick(w.SyncCb, Qt::LeftButton, {}, QPoint(5, w.SyncCb->height() / 2));
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    prefs[10] = 0;
    EXPECT_TRUE(firstMedia.ReadFile("iTunes_Control/iTunes/iTunesPrefs") == prefs);
    // The other phone arrives and leaves while the first track is read.
    const int reads = SimControl("count AFCFileRefRead", nullptr, 0);
    SimControl("hold AFCFileRefRead", nullptr, 0);
    ASSERT_TRUE(Until([&] { return SimControl("count AFCFileRefRead", nullptr, 0) > reads; }));
    phone("arrive", second);
    phone("leave", second);
    SimControl("release", nullptr, 0);
    ASSERT_TRUE(Until([&] { return !w.CopyThread; }));
    EXPECT_TRUE(app::DetailLog.Text().endsWith("Music: 5/5\r\nPhotos: 0/0\r\nTo iTunes: -1, -1") &&
                w.IpodLb->text() == "Test iPod");
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));

    phone("arrive", second);
    EXPECT_EQ(w.IpodLb->text(), "Second phone");
    phone("leave", first);
    EXPECT_EQ(w.MusicModel->Count(), 5);
    TickAllTracks(w);
    QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
    w.OutEdit->clear();
    TZozoDodiFrm::FolderPickerHook = [&](const QString&) { return phone("leave", second), Temp.filePath("late"); };
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    EXPECT_FALSE(w.TransferThreadAlive() || w.MusicModel->Count());
    EXPECT_EQ(std::pair(BoxesStarting("Lost connection to the iPod device."), w.StatusLb->text()),
              std::pair(1, QString("Connection Lost")));
    // With none loaded, a phone that fails to connect is reported as a lost connection.
    SimControl("fail AMDeviceConnect 5", nullptr, 0);
    phone("arrive", first);
    EXPECT_EQ(BoxesStarting("Lost connection to the iPod device."), 2);
}

// The iPod's drive is lost during a transfer, and another iPod mounted at the same place: the old
// list stays on screen, but Copy and the preview stay off, also after the transfer's Done, and
// the status line says why, so nothing of the new tree is read with the old database.
TEST_F(WindowTest, AfterALostDriveNothingReadsWhatIsMountedInItsPlace) {
    const QString mount = Temp.filePath("mnt"), drives = Temp.filePath("drives");
    for (const QString& root : {mount, Temp.filePath("other")}) {
        fixtures::DeviceTree(root).WriteTrackDb(fixtures::WriteTrackDb(WindowDb()));
        fixtures::DeviceTree(root).WriteMusicFiles(WindowDb());
    }
    const auto mountAt = [&](const QByteArray& line) {
        QFile f(drives);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(line) == line.size());
    };
    mountAt("E: " + mount.toUtf8() + " removable\n");
    platform::SetDriveTableForTesting(std::nullopt);
    qputenv("MARROWGATE_DRIVES", QFile::encodeName(drives));
    const auto unset = qScopeGuard([] { qunsetenv("MARROWGATE_DRIVES"); });
    TZozoDodiFrm& w = OpenShown();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    TickAllTracks(w);
    QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
    w.OutEdit->setText(Temp.filePath("out"));
    QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    mountAt("");
    ASSERT_TRUE(Until([&] { return w.StatusLb->text() == "Connection Lost" && !w.CopyThread; }));
    QTest::mouseClick(w.CancelBtn, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(BoxesStarting("Lost connection to the iPod device."), 1);

    ASSERT_TRUE(QDir().rename(mount, Temp.filePath("lost")) && QDir().rename(Temp.filePath("other"), mount));
    mountAt("E: " + mount.toUtf8() + " removable\n");
    ASSERT_TRUE(Until([&] { return w.FVolumeWatcher->CurrentMask() == 1u << 4; }));
    // Copy, and Start if the output page shows.
    QTest::mouseClick(w.ExportBtn, Qt::LeftButton);
    w.OutEdit->setText(Temp.filePath("again"));
    if (w.ErrPnl->isVisible() && w.NotePgc->currentWidget() == w.SetTab)
        QTest::mouseClick(w.ExpBtn, Qt::LeftButton);
    Until([&] { return !w.CopyThread; });
    EXPECT_FALSE(QFileInfo::exists(Temp.filePath("again")) || w.ExportBtn->Enabled() || w.PlayBtn->Enabled() ||
                 w.MusicList->isEnabled());
    EXPECT_EQ(std::pair(w.StatusLb->text(), w.MusicModel->Count()), std::pair(QString("Connection Lost"), 5));
}
