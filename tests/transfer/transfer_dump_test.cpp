// ipod-dump copy against device trees written by the fixtures: the tool drives the same copy
// thread as the window, on a disk-mode iPod and on the simulated handheld.
#include "tests/fixtures/ArtworkDbWriter.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QDir>
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
    if (!lines.isEmpty()) r.Summary = QJsonDocument::fromJson(lines.takeLast()).object();
    r.Log = QString::fromUtf8(lines.join('\n'));
    return r;
}

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void Touch(const QString& path, const QByteArray& bytes = {}) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
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
    EXPECT_EQ(Read(Out.path() + "/New Order/Substance/Blue Monday.mp3"),
              fixtures::DeviceTree::MusicContent(a.Location, a.Size));
    // Its device folder is missing too: a path-not-found entry naming the source side.
    EXPECT_TRUE(
        r.Log.contains("A Film.M4V :path not found\n, Source path\n:iPod_Control:Music:F02:IJKL.M4V\n"));
    const int n = int(Db.Tracks.size());
    EXPECT_EQ(r.Summary["music"].toInt(), n - 1);
    EXPECT_EQ(r.Summary["title"].toString(), "All done");
    EXPECT_EQ(r.Summary["position"].toInt(), n);
    EXPECT_TRUE(
        r.Log.endsWith(QStringLiteral("\nMusic: %1/%2\nPhotos: 0/0\nTo iTunes: 0, 0").arg(n - 1).arg(n)));

    // A second run into the same folder: nothing is copied twice, nothing is overwritten.
    const DumpResult again = RunCopy({Dev.path(), Out.path(), "--layout", "1"});
    EXPECT_EQ(again.Summary["music"].toInt(), n - 1);
    EXPECT_FALSE(QFile::exists(Out.path() + "/New Order/Substance/Blue Monday1.mp3"));

    // A stage that stops is no success to a script.
    QTemporaryDir blocked;
    Touch(blocked.path() + "/New Order");
    const DumpResult stopped = RunCopy({Dev.path(), blocked.path(), "--layout", "1"});
    EXPECT_TRUE(stopped.Log.contains("[X] Stopped at: Blue Monday")) << stopped.Log.toStdString();
    EXPECT_EQ(stopped.Exit, 1);
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
    // A file of that name and the track's size was there before: with --had-files it stands for the track.
    Touch(Out.path() + "/Missing 0.mp3", "old old ok");
    const DumpResult r = RunCopy({Dev.path(), Out.path(), "--handheld", "--had-files"});
    ASSERT_EQ(r.Exit, 0);
    EXPECT_TRUE(r.Log.startsWith("[iPhone/iTouch mode]\n"));
    // Eleven of the twelve missing ones fail; nine are logged, each with the link's reason.
    EXPECT_EQ(r.Log.count("\nNot found\n"), 9);
    EXPECT_TRUE(r.Log.contains("Missing 9.mp3"));
    EXPECT_FALSE(r.Log.contains("Missing 11.mp3"));
    EXPECT_TRUE(
        r.Log.contains("/Escape\nNot found (outside the device): :iTunes_Control:..:..:..:etc:hostname\n"));
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
    Touch(library, R"({"playlists": [{"name": "RECENTLY played", "smart": true}],
                "failures": [{"op": "CreatePlaylist", "call": 1, "message": "Disk full"}]})");
    const DumpResult r = RunCopy({Dev.path(), Out.path(), "--itunes", library});
    ASSERT_EQ(r.Exit, 0) << r.Log.toStdString();
    EXPECT_TRUE(r.Log.contains("\nAdd to iTunes:\n4/5\n[X]Error occured when adding to iTunes.\nDisk full\n"
                               "3M: 4:5\nP: 0:3 - 2\nVer: 12.13.2.3\n\n- done.\n"))
        << r.Log.toStdString();
    QStringList calls;
    QJsonObject itunes;
    for (const QString& line : r.Log.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (o.contains("call")) calls << o["call"].toString();
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
