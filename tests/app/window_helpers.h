#pragma once
// In-process main-window tests: a temporary settings folder, a fake drive table over
// fixture-written device trees, recorded message boxes and opened pages.
#include "widgets/PicBtn.h"
#include "app/TrackListModel.h"
#include "app/ZozoDodiMain.h"
#include "device/TrackDb.h"
#include "handheld/Iphone.h"
#include "platform/Desktop.h"
#include "platform/Drives.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

inline void InitWindowResources() { Q_INIT_RESOURCE(marrowgate); }

struct ShownBox {
    MsgKind Kind;
    QString Text;
};

// Five tracks with easy numbers, a video in capitals, and three playlists: one with a
// repeated id and an id that names no track, one empty.
inline fixtures::FixtureDb WindowDb() {
    fixtures::FixtureDb db;
    auto track = [&](uint32_t id, QString title, QString artist, QString album, QString genre, uint32_t size,
                     uint32_t length, QString location) {
        fixtures::FixtureTrack t;
        t.TrackId = id;
        t.Title = title;
        t.Artist = artist;
        t.Album = album;
        t.Genre = genre;
        t.Size = size;
        t.Length = length;
        t.Location = location;
        db.Tracks.push_back(t);
    };
    track(11, "delta", "Zed", "Beta", "Rock", 3000, 30000, ":iPod_Control:Music:F00:A.mp3");
    track(12, "Alpha", "amy", "gamma", "pop", 1000, 10000, ":iPod_Control:Music:F00:B.mp3");
    track(13, "Charlie", "Bob", "Alpha", "Jazz", 2000, 20000, ":iPod_Control:Music:F00:C.M4V");
    track(14, "bravo", "Cat", "Delta", "blues", 5000, 5000, ":iPod_Control:Music:F00:D.mov");
    track(15, "Echo alpha", "Dan", "echo", "Folk", 4000, 40000, ":iPod_Control:Music:F00:E.m4a");
    fixtures::FixturePlaylist master;
    master.Name = QStringLiteral("Test iPod");
    master.Master = true;
    master.TrackIds = {11, 12, 13, 14, 15};
    fixtures::FixturePlaylist mix;
    mix.Name = QStringLiteral("Mix");
    mix.TrackIds = {13, 11, 13, 99};
    fixtures::FixturePlaylist empty;
    empty.Name = QStringLiteral("Empty");
    db.Playlists = {master, mix, empty};
    return db;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitWindowResources();
        ASSERT_TRUE(Temp.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Temp.filePath(QStringLiteral("config")));
        Boxes.clear();
        Opened.clear();
        MessageBoxHook = [this](MsgKind kind, const QString& text, MsgButtons) {
            Boxes.push_back({kind, text});
            return Answer;
        };
        platform::SetOpenUrlHookForTesting([this](const QUrl& url) {
            Opened.push_back(url);
            return true;
        });
        platform::SetDriveTableForTesting(std::vector<platform::Drive>{});
    }

    void TearDown() override {
        Answer = MsgResult::No;
        Window.reset();
        MessageBoxHook = nullptr;
        platform::SetOpenUrlHookForTesting(nullptr);
        platform::SetDriveTableForTesting(std::nullopt);
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

    TZozoDodiFrm& Open() {
        Window = std::make_unique<TZozoDodiFrm>();
        return *Window;
    }

    TZozoDodiFrm& OpenShown() {
        Open().show();
        return *Window;
    }

    // The window over a disk-mode iPod on E: holding WindowDb().
    TZozoDodiFrm& OpenLoaded() {
        MakeIpod('E', WindowDb());
        return Open();
    }

    // How many message boxes shown so far begin with `start`.
    int BoxesStarting(const QString& start) const {
        int n = 0;
        for (const ShownBox& b : Boxes)
            n += b.Text.startsWith(start) ? 1 : 0;
        return n;
    }

    QString RootCaption() const { return Window->PlayLstList->topLevelItem(0)->text(0); }

    // Saves a picture of `widget` beside the binaries for a look by eye.
    static void SaveShot(QWidget& widget, const QString& name) {
        widget.grab().save(QDir(QStringLiteral(MG_BIN_DIR)).filePath(name));
    }

    QSettings Settings() const {
        return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Marrowgate"),
                         QStringLiteral("Marrowgate"));
    }

    QTreeWidgetItem* Node(int absoluteIndex) {
        int i = 0;
        for (QTreeWidgetItemIterator it(Window->PlayLstList); *it; ++it, ++i)
            if (i == absoluteIndex)
                return *it;
        return nullptr;
    }

    // The titles of the list's rows, top to bottom.
    QStringList Titles() const {
        QStringList out;
        for (int r = 0; r < Window->MusicModel->Count(); ++r)
            out << Window->TrackDb->Tracks.GetItem(Window->MusicModel->TrackIndexAt(r)).Title;
        return out;
    }

    void ClickBox(int row) {
        const QModelIndex idx = Window->MusicModel->index(row, TrackListModel::ColName);
        const bool on = Window->MusicModel->data(idx, Qt::CheckStateRole).toInt() == Qt::Checked;
        Window->MusicModel->setData(idx, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    }

    QTemporaryDir Temp;
    std::vector<platform::Drive> Drives;
    std::unique_ptr<TZozoDodiFrm> Window;
    std::vector<ShownBox> Boxes;
    std::vector<QUrl> Opened;
    MsgResult Answer = MsgResult::No;
};
