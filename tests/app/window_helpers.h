#pragma once
// In-process main-window tests: a temporary settings folder, a fake drive table over
// fixture-written device trees, recorded message boxes and opened pages.
#include "app/TrackListModel.h"
#include "app/ZozoDodiMain.h"
#include "device/TrackDb.h"
#include "handheld/Iphone.h"
#include "handheld/Slots.h"
#include "platform/Desktop.h"
#include "platform/mobiledevice/MobileDeviceApi.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/SimLibraries.h"
#include "widgets/PicBtn.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

// The handheld's state record as the link leaves it: one more phone connected, or every phone gone.
inline void SetHandheldReady(bool ready, bool failed = false) {
    handheld::detail::WriteRecord([&](handheld::TIphoneMgr& m) {
        m.Ready = ready;
        m.LastError = ready && !failed ? QByteArray() : QByteArray("Open AFC error: 7");
        if (ready)
            m.Links.push_back({++m.Arrival});
        else
            m.Links.clear();
    });
}

// Five tracks with easy numbers, a video in capitals, and three playlists: one with a
// repeated id and an id that names no track, one empty.
inline fixtures::FixtureDb WindowDb() {
    const QString f = QStringLiteral(":iPod_Control:Music:F00:");
    // Positional: id, rating, size, length, play count, media type, artwork, its ids, then the texts.
    fixtures::FixtureDb db{
        .Tracks = {{11, 0, 3000, 30000, 0, 1, false, 0, 0, "delta", f + "A.mp3", "Beta", "Zed", "Rock"},
                   {12, 0, 1000, 10000, 0, 1, false, 0, 0, "Alpha", f + "B.mp3", "gamma", "amy", "pop"},
                   {13, 0, 2000, 20000, 0, 1, false, 0, 0, "Charlie", f + "C.M4V", "Alpha", "Bob", "Jazz"},
                   {14, 0, 5000, 5000, 0, 1, false, 0, 0, "bravo", f + "D.mov", "Delta", "Cat", "blues"},
                   {15, 0, 4000, 40000, 0, 1, false, 0, 0, "Echo alpha", f + "E.m4a", "echo", "Dan", "Folk"}}};
    db.Playlists = {{"Test iPod", {11, 12, 13, 14, 15}, false, true, true}, {"Mix", {13, 11, 13, 99}}, {"Empty", {}}};
    return db;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Temp.filePath(QStringLiteral("config")));
        MessageBoxHook = [this](MsgKind, const QString& text, MsgButtons) { return Boxes.push_back(text), Answer; };
        platform::SetOpenUrlHookForTesting([this](const QUrl& url) { return Opened.push_back(url), true; });
        platform::SetDriveTableForTesting(std::vector<platform::Drive>{});
    }

    void TearDown() override {
        Window.reset();
        MessageBoxHook = nullptr;
        platform::SetOpenUrlHookForTesting(nullptr);
        TZozoDodiFrm::FolderPickerHook = nullptr;
        platform::SetDriveTableForTesting(std::nullopt);
        platform::SetCommonProgramFilesFolderForTesting(QString());
        device::SetHandheldFileReader(nullptr);
    }

    // A disk-mode iPod with `db` in a folder of its own, mapped to `letter`.
    fixtures::DeviceTree MakeIpod(char letter, const fixtures::FixtureDb& db) {
        fixtures::DeviceTree tree(Temp.filePath(QStringLiteral("dev%1").arg(letter)));
        tree.WriteTrackDb(fixtures::WriteTrackDb(db));
        Drives.push_back(tree.AsDrive(letter));
        platform::SetDriveTableForTesting(Drives);
        return tree;
    }

    TZozoDodiFrm& Open() { return *(Window = std::make_unique<TZozoDodiFrm>()); }
    TZozoDodiFrm& OpenShown() { return Open().show(), *Window; }

    // Opens the window over the simulated handheld library and connects a phone whose media is `phone`.
    TZozoDodiFrm& OpenWithPhone(const fixtures::DeviceTree& phone) {
        EXPECT_TRUE(fixtures::InstallSimulatedLibraries(MG_BIN_DIR "/mobiledevice-sim/new", Libs.path()));
        TZozoDodiFrm& w = OpenShown();
        SimControl = reinterpret_cast<PFN_MobileDeviceSimControl>(
            platform::GetProcAddress(handheld::IphoneState().MobileDeviceModule, "MobileDeviceSimControl"));
        for (const QByteArray& c : {"root " + phone.Root().toUtf8(), QByteArray("arrive"), QByteArray("wait")})
            SimControl(c.constData(), nullptr, 0);
        QCoreApplication::processEvents();
        EXPECT_EQ(w.FDeviceKind, TZozoDodiFrm::dkHandheld) << handheld::IphoneLastError().constData();
        return w;
    }

    // Lets events run until `done` holds, for up to 20 s; whether it holds.
    static bool Until(const std::function<bool()>& done) {
        for (QDeadlineTimer limit(20000); !done() && !limit.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    // A click on a row's check picture.
    static void ClickBox(TZozoDodiFrm& w, int row) {
        QTest::mouseClick(w.MusicList->viewport(), Qt::LeftButton, {},
                          TrackCheckPictureRect(w.MusicList, w.MusicModel->index(row, 1)).center());
    }
    static void TickAllTracks(TZozoDodiFrm& w) {
        for (int r = 0; r < w.MusicModel->Count(); ++r)
            ClickBox(w, r);
    }

    static void WaitForThreadEnd(TZozoDodiFrm& w) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w.CopyThread; }, 60000)) << "the transfer did not end";
    }

    // How many message boxes shown so far begin with `start`.
    int BoxesStarting(const QString& start) const {
        return int(std::ranges::count_if(Boxes, [&](const QString& b) { return b.startsWith(start); }));
    }

    // The titles of the list's rows, top to bottom.
    QStringList Titles() const {
        QStringList out;
        for (int r = 0; r < Window->MusicModel->Count(); ++r)
            out << Window->TrackDb->Tracks.GetItem(Window->MusicModel->TrackIndexAt(r)).Title;
        return out;
    }

    QTemporaryDir Temp, Libs;
    std::vector<platform::Drive> Drives;
    std::unique_ptr<TZozoDodiFrm> Window;
    std::vector<QString> Boxes;
    std::vector<QUrl> Opened;
    MsgResult Answer = MsgResult::No;
    PFN_MobileDeviceSimControl SimControl = nullptr; // of the phone's simulated library
};
