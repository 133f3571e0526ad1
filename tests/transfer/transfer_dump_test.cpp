// ipod-dump copy against device trees written by the fixtures: the tool drives the same copy
// thread as the window, on a disk-mode iPod and on the simulated handheld.
#include "tests/fixtures/ArtworkDbWriter.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct DumpResult {
    int Exit = -1;
    QString Log;
    QJsonObject Summary;
};

DumpResult RunCopy(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(MG_BIN_DIR "/ipod-dump"), QStringList{"copy"} + args);
    p.waitForFinished(120000);
    DumpResult r;
    r.Exit = p.exitCode();
    QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    if (!lines.isEmpty())
        r.Summary = QJsonDocument::fromJson(lines.takeLast()).object();
    r.Log = QString::fromUtf8(lines.join('\n'));
    return r;
}

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A device folder and an output folder; the sample database unless a test writes its own.
class TransferDump : public ::testing::Test {
protected:
    QTemporaryDir Dev, Out;
    fixtures::DeviceTree Tree{Dev.path()};
    fixtures::FixtureDb Db = fixtures::SampleDb();
};

} // namespace

TEST_F(TransferDump, DiskModeFolderLayoutWithAMissingFile) {
    Tree.WriteTrackDb(fixtures::WriteTrackDb(Db));
    Tree.WriteMusicFiles(Db, 5 << 20); // the 150 MB video stays missing
    const DumpResult r = RunCopy({Dev.path(), Out.path(), "--layout", "1"});
    ASSERT_EQ(r.Exit, 0) << r.Log.toStdString();
    EXPECT_TRUE(r.Log.startsWith("[iPod mode]\n"));
    const fixtures::FixtureTrack& a = Db.Tracks[0];
    EXPECT_EQ(Read(Out.path() + "/New Order/Substance/Blue Monday.mp3"), fixtures::DeviceTree::MusicContent(a.Location, a.Size));
    // Its device folder is missing too: a path-not-found entry naming the source side.
    EXPECT_TRUE(r.Log.contains("A Film.M4V :path not found\n, Source path\n:iPod_Control:Music:F02:IJKL.M4V\n"));
    EXPECT_EQ(r.Summary["musiccount"].toInt(), int(Db.Tracks.size()));
    EXPECT_EQ(r.Summary["music"].toInt(), int(Db.Tracks.size()) - 1);
    EXPECT_EQ(r.Summary["title"].toString(), "All done");
    EXPECT_EQ(r.Summary["position"].toInt(), r.Summary["maximum"].toInt());
    EXPECT_EQ(r.Summary["maximum"].toInt(), int(Db.Tracks.size()));
    EXPECT_TRUE(r.Log.endsWith(QStringLiteral("\nMusic: %1/%2\nPhotos: 0/0\nTo iTunes: 0, 0")
                                   .arg(Db.Tracks.size() - 1)
                                   .arg(Db.Tracks.size())));

    // A second run into the same folder: nothing is copied twice, nothing is overwritten.
    const DumpResult again = RunCopy({Dev.path(), Out.path(), "--layout", "1"});
    EXPECT_EQ(again.Summary["music"].toInt(), int(Db.Tracks.size()) - 1);
    EXPECT_FALSE(QFile::exists(Out.path() + "/New Order/Substance/Blue Monday1.mp3"));

    // A stage that stops is no success to a script.
    QTemporaryDir blocked;
    QFile artist(blocked.path() + "/New Order");
    ASSERT_TRUE(artist.open(QIODevice::WriteOnly));
    artist.close();
    const DumpResult stopped = RunCopy({Dev.path(), blocked.path(), "--layout", "1"});
    EXPECT_TRUE(stopped.Log.contains("[X] Stopped at: Blue Monday")) << stopped.Log.toStdString();
    EXPECT_EQ(stopped.Exit, 1);
}

TEST_F(TransferDump, HandheldCopiesThroughTheLink) {
    for (auto& t : Db.Tracks) {
        t.Location.replace(":iPod_Control:", ":iTunes_Control:");
        t.Size = std::min<uint32_t>(t.Size, 3 << 20);
    }
    Db.Tracks[1].Location = ":iTunes_Control:Music:F01:GONE.m4a";
    Tree.WriteHandheldTrackDb(fixtures::WriteTrackDb(Db), true);
    for (size_t i = 0; i < Db.Tracks.size(); ++i)
        if (i != 1)
            Tree.WriteFile(QStringLiteral("var/mobile/Media") + Db.Tracks[i].Location.replace(':', '/'),
                           fixtures::DeviceTree::MusicContent(QString::number(i), Db.Tracks[i].Size));
    const DumpResult r = RunCopy({Dev.path(), Out.path(), "--handheld"});
    ASSERT_EQ(r.Exit, 0) << r.Log.toStdString();
    EXPECT_TRUE(r.Log.startsWith("[iPhone/iTouch mode]\n"));
    EXPECT_EQ(Read(Out.path() + "/Blue Monday.mp3"), fixtures::DeviceTree::MusicContent("0", Db.Tracks[0].Size));
    EXPECT_TRUE(r.Log.contains(Out.path() + "/" + Db.Tracks[1].Title + ".m4a\n"));
    EXPECT_FALSE(QFile::exists(Out.path() + "/" + Db.Tracks[1].Title + ".m4a"));
    EXPECT_EQ(r.Summary["music"].toInt(), int(Db.Tracks.size()) - 1);
    EXPECT_EQ(QDir(Out.path()).entryList(QDir::Files | QDir::Hidden).size(), int(Db.Tracks.size()) - 1);
}

TEST_F(TransferDump, HandheldLogsTheFirstNineFailuresAndGoesOn) {
    Db = {};
    for (int i = 0; i < 13; ++i) {
        fixtures::FixtureTrack t;
        t.TrackId = uint32_t(200 + i);
        t.Title = QStringLiteral("Missing %1").arg(i);
        t.Location = QStringLiteral(":iTunes_Control:Music:F00:M%1.mp3").arg(i);
        t.Size = 10;
        Db.Tracks.push_back(t);
    }
    Db.Tracks.back().Title = "Here";
    // A refusal first: logged, but not in place of one of the nine.
    fixtures::FixtureTrack escape = Db.Tracks.front();
    escape.Title = "Escape";
    escape.Location = ":iTunes_Control:..:..:..:etc:hostname";
    Db.Tracks.insert(Db.Tracks.begin(), escape);
    Tree.WriteHandheldTrackDb(fixtures::WriteTrackDb(Db), true);
    Tree.WriteFile("var/mobile/Media/iTunes_Control/Music/F00/M12.mp3", "0123456789");
    // A file of that name and the track's size was there before: with --had-files it stands
    // for the track.
    QFile present(Out.path() + "/Missing 0.mp3");
    ASSERT_TRUE(present.open(QIODevice::WriteOnly) && present.write("old old ok") == 10);
    present.close();
    const DumpResult r = RunCopy({Dev.path(), Out.path(), "--handheld", "--had-files"});
    ASSERT_EQ(r.Exit, 0);
    // Eleven of the twelve missing ones fail; nine are logged, each with the link's reason.
    EXPECT_EQ(r.Log.count("\nNot found\n"), 9);
    EXPECT_TRUE(r.Log.contains("Missing 9.mp3"));
    EXPECT_FALSE(r.Log.contains("Missing 11.mp3"));
    EXPECT_TRUE(r.Log.contains("/Escape\nNot found (outside the device): :iTunes_Control:..:..:..:etc:hostname\n"));
    EXPECT_EQ(r.Summary["music"].toInt(), 2);
    EXPECT_EQ(r.Summary["position"].toInt(), 14);
    EXPECT_EQ(Read(Out.path() + "/Missing 0.mp3"), "old old ok");
    EXPECT_EQ(Read(Out.path() + "/Here.mp3"), "0123456789");
}

TEST_F(TransferDump, ArtAndThumbnailPhotosThroughTheTool) {
    Tree.WriteTrackDb(fixtures::WriteTrackDb(Db));
    Tree.WriteMusicFiles(Db, 5 << 20);
    fixtures::WriteArtSet(Tree, fixtures::MakeArtSet(1028, 1017, 4, false, 2), false);
    fixtures::WritePhotoSet(Tree, fixtures::MakePhotoSet(1024, 1009, 3, false, 3), false);
    const DumpResult r = RunCopy({Dev.path(), Out.path(), "--art", "--photos"});
    ASSERT_EQ(r.Exit, 0) << r.Log.toStdString();
    // The stages in their order, each counted by its progress handler.
    const qsizetype art = r.Log.indexOf("\nArtworks\n"), photos = r.Log.indexOf("\nPhotos\n");
    ASSERT_GE(art, 0) << r.Log.toStdString();
    EXPECT_GT(photos, art);
    EXPECT_EQ(r.Summary["artdone"].toInt(), 4);
    EXPECT_EQ(r.Summary["photosdone"].toInt(), 3);
    EXPECT_EQ(r.Summary["photos"].toInt(), 3);
    EXPECT_EQ(r.Summary["title"].toString(), "All done");
    EXPECT_EQ(r.Summary["position"].toInt(), 3); // the photo stage's bar, filled
    EXPECT_EQ(QDir(Out.path() + "/Pictures").entryList(QDir::Files, QDir::Name),
              QStringList({"100.jpg", "101.jpg", "102.jpg"}));
    // The temporary bitmaps never touch the output folder.
    EXPECT_FALSE(QFileInfo::exists(Out.path() + "/Artworks"));
    EXPECT_TRUE(r.Log.endsWith("\nPhotos: 3/3\nTo iTunes: 0, 0"));
}

TEST_F(TransferDump, ITunesLibraryAndCallsPrecedeTheSummary) {
    Tree.WriteTrackDb(fixtures::WriteTrackDb(Db));
    Tree.WriteMusicFiles(Db, 5 << 20); // the video stays missing: four tracks copied
    const QString library = Dev.path() + "/library.json";
    QFile f(library);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"({"playlists": [{"name": "RECENTLY played", "smart": true}],
                "failures": [{"op": "CreatePlaylist", "call": 1, "message": "Disk full"}]})");
    f.close();
    const DumpResult r = RunCopy({Dev.path(), Out.path(), "--itunes", library});
    ASSERT_EQ(r.Exit, 0) << r.Log.toStdString();
    EXPECT_TRUE(r.Log.contains("\nAdd to iTunes:\n4/5\n[X]Error occured when adding to iTunes.\nDisk full\n"
                               "3M: 4:5\nP: 0:3 - 2\nVer: 12.13.2.3\n\n- done.\n"))
        << r.Log.toStdString();
    EXPECT_TRUE(r.Log.contains("\nTo iTunes: -1, -1\n"));
    QStringList calls;
    QJsonObject itunes;
    for (const QString& line : r.Log.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (o.contains("call"))
            calls << o["call"].toString();
        itunes = o.contains("itunes") ? o["itunes"].toObject() : itunes;
    }
    EXPECT_EQ(calls.mid(calls.size() - 5),
              QStringList({"CreatePlaylist", "Version", "Sleep", "Quit", "Uninitialize"}));
    const QJsonArray lists = itunes["playlists"].toArray();
    ASSERT_EQ(lists.size(), 2);
    EXPECT_EQ(lists[0].toObject()["tracks"].toArray().size(), 4);
    EXPECT_EQ(itunes["tracks"].toArray()[0].toObject()["name"].toString(), "Blue Monday");
    EXPECT_EQ(r.Summary["music"].toInt(), 4);
}
