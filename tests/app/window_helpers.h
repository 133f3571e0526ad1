#pragma once
// In-process main-window tests: a temporary settings folder, a fake drive table over
// fixture-written device trees, recorded message boxes and opened pages.
#include "app/TrackListModel.h"
#include "app/ZozoDodiMain.h"
#include "device/TrackDb.h"
#include "handheld/Iphone.h"
#include "handheld/Slots.h"
#include "platform/Desktop.h"
#include "platform/Drives.h"
#include "platform/Library.h"
#include "platform/mobiledevice/MobileDeviceApi.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/SimLibraries.h"
#include "tests/fixtures/TrackDbWriter.h"
#include "widgets/PicBtn.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

// The handheld's state record as the link leaves it.
inline void SetHandheldReady(bool ready, bool failed = false) {
    handheld::detail::WriteRecord([&](handheld::TIphoneMgr& m) {
        m.Ready = ready;
        m.LastError = ready && !failed ? QByteArray() : QByteArray("Open AFC error: 7");
    });
}

// Five tracks with easy numbers, a video in capitals, and three playlists: one with a
// repeated id and an id that names no track, one empty.
inline fixtures::FixtureDb WindowDb() {
    fixtures::FixtureDb db;
    const struct {
        uint32_t Id;
        const char *Title, *Artist, *Album, *Genre;
        uint32_t Size, Length;
        const char* File;
    } tracks[] = {{11, "delta", "Zed", "Beta", "Rock", 3000, 30000, "A.mp3"},
                  {12, "Alpha", "amy", "gamma", "pop", 1000, 10000, "B.mp3"},
                  {13, "Charlie", "Bob", "Alpha", "Jazz", 2000, 20000, "C.M4V"},
                  {14, "bravo", "Cat", "Delta", "blues", 5000, 5000, "D.mov"},
                  {15, "Echo alpha", "Dan", "echo", "Folk", 4000, 40000, "E.m4a"}};
    for (const auto& t : tracks) {
        fixtures::FixtureTrack& f = db.Tracks.emplace_back();
        std::tie(f.TrackId, f.Title, f.Artist, f.Album, f.Genre, f.Size, f.Length) =
            std::tie(t.Id, t.Title, t.Artist, t.Album, t.Genre, t.Size, t.Length);
        f.Location = QStringLiteral(":iPod_Control:Music:F00:") + t.File;
    }
    db.Playlists = {{"Test iPod", {11, 12, 13, 14, 15}, false, true, true}, {"Mix", {13, 11, 13, 99}}, {"Empty", {}}};
    return db;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        Q_INIT_RESOURCE(marrowgate);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Temp.filePath(QStringLiteral("config")));
        MessageBoxHook = [this](MsgKind, const QString& text, MsgButtons) {
            Boxes.push_back(text);
            return Answer;
        };
        platform::SetOpenUrlHookForTesting([this](const QUrl& url) {
            Opened.push_back(url);
            return true;
        });
        platform::SetDriveTableForTesting(std::vector<platform::Drive>{});
    }

    void TearDown() override {
        Window.reset();
        MessageBoxHook = nullptr;
        platform::SetOpenUrlHookForTesting(nullptr);
        platform::SetDriveTableForTesting(std::nullopt);
        platform::SetCommonProgramFilesFolderForTesting(QString());
    }

    // A disk-mode iPod with `db` in a folder of its own, mapped to `letter`.
    fixtures::DeviceTree MakeIpod(char letter, const fixtures::FixtureDb& db, bool locked = false) {
        fixtures::DeviceTree tree(Temp.filePath(QStringLiteral("dev%1").arg(letter)));
        tree.MakeITunesFolder();
        tree.WriteTrackDb(fixtures::WriteTrackDb(db));
        if (locked)
            tree.WriteLock();
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

    static void WaitForThreadEnd(TZozoDodiFrm& w) {
        while (w.CopyThread)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
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
