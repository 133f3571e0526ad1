// ipod-dump tracks, run as a program on fixture-written devices.
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace fixtures;

namespace {

struct DumpRun {
    int Exit = -1;
    std::vector<QJsonObject> Lines;
    std::vector<QByteArray> Raw;
};

// The keys of one printed line, in the order they were written.
QList<QByteArray> KeysInOrder(const QByteArray& line) {
    QList<QByteArray> keys;
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    qsizetype from = 0;
    for (;;) {
        const qsizetype open = line.indexOf("\"", from);
        if (open < 0)
            break;
        const qsizetype close = line.indexOf('"', open + 1);
        if (close < 0)
            break;
        const QByteArray word = line.mid(open + 1, close - open - 1);
        if (close + 1 < line.size() && line[close + 1] == ':' && object.contains(QString::fromUtf8(word)))
            keys.append(word);
        from = close + 1;
    }
    return keys;
}

DumpRun Dump(const QStringList& args) {
    DumpRun r;
    const QString tool = QStringLiteral(MG_BIN_DIR "/ipod-dump");
    if (!QFileInfo::exists(tool))
        return r;
    QProcess p;
    p.start(tool, QStringList{QStringLiteral("tracks")} + args);
    p.waitForFinished(60000);
    r.Exit = p.exitCode();
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty()) {
            r.Lines.push_back(QJsonDocument::fromJson(line).object());
            r.Raw.push_back(line);
        }
    return r;
}

} // namespace

TEST(DumpTracks, PrintsTracksPlaylistsAndTheResultForPlainAndCompressedDatabases) {
    ASSERT_TRUE(QFileInfo::exists(QStringLiteral(MG_BIN_DIR "/ipod-dump"))) << "build ipod-dump with the tests";
    QTemporaryDir dir;
    DeviceTree plain(dir.path() + QStringLiteral("/plain")), compressed(dir.path() + QStringLiteral("/cdb"));
    TrackDbLayout at;
    const QByteArray bytes = WriteTrackDb(SampleDb(), &at);
    plain.WriteTrackDb(bytes);
    compressed.MakeITunesFolder();
    compressed.WriteCompressedTrackDb(bytes); // no plain iTunesDB beside it

    for (const QStringList& args : {QStringList{plain.Root()}, QStringList{compressed.Root(), QStringLiteral("--cdb")}}) {
        const DumpRun r = Dump(args);
        ASSERT_EQ(r.Exit, 0) << args.join(' ').toStdString();
        ASSERT_EQ(r.Lines.size(), 5u + 3u + 1u);
        const QJsonObject& b = r.Lines[1];
        EXPECT_EQ(b.value("index").toInt(), 1);
        EXPECT_EQ(b.value("id").toInt(), 102);
        EXPECT_EQ(b.value("title").toString(), QString::fromUtf8("Ça plane pour moi – 日本"));
        EXPECT_EQ(b.value("location").toString(), QStringLiteral(":iPod_Control:Music:F01:EFGH.m4a"));
        EXPECT_EQ(b.value("kind").toString(), QStringLiteral("AAC audio file"));
        EXPECT_EQ(b.value("dbid").toString(), QStringLiteral("17297757506775570040")); // 0xF00DFACE12345678
        EXPECT_TRUE(b.value("hasartwork").toBool());
        EXPECT_FALSE(b.value("video").toBool());
        EXPECT_TRUE(r.Lines[2].value("video").toBool());
        EXPECT_EQ(r.Lines[0].value("size").toInteger(), 4123456);
        EXPECT_EQ(r.Lines[0].value("playcount").toInt(), 7);
        EXPECT_EQ(r.Lines[0].value("rating").toInt(), 80);
        EXPECT_EQ(r.Lines[6].value("playlist").toString(), QStringLiteral("Favourites"));
        EXPECT_EQ(r.Lines[6].value("ids").toArray(), (QJsonArray{103, 101, 999}));
        EXPECT_TRUE(r.Lines[7].value("smart").toBool());
        // Keys in the documented order, on every kind of line.
        EXPECT_EQ(KeysInOrder(r.Raw[0]),
                  QByteArrayList({"index", "id", "title", "artist", "album", "genre", "kind", "location", "size",
                                  "length", "rating", "playcount", "mediatype", "hasartwork", "dbid", "video"}));
        EXPECT_EQ(KeysInOrder(r.Raw[6]), QByteArrayList({"playlist", "smart", "ids"}));
        EXPECT_EQ(KeysInOrder(r.Raw.back()),
                  QByteArrayList({"result", "error", "tracks", "playlists", "totaltime", "totalsize"}));
        EXPECT_TRUE(r.Lines[0].value("dbid").isString());
        EXPECT_EQ(r.Lines[0].value("dbid").toString(), QStringLiteral("0"));
        const QJsonObject& last = r.Lines.back();
        EXPECT_TRUE(last.value("result").toBool());
        EXPECT_EQ(last.value("error").toInt(), 0);
        EXPECT_EQ(last.value("tracks").toInt(), 5);
        EXPECT_EQ(last.value("playlists").toInt(), 3);
        EXPECT_EQ(last.value("totalsize").toInteger(), 4123456ll + 1000 + 150000000 + 2048 + 300);
        EXPECT_EQ(last.value("totaltime").toInteger(), 215000ll + 61000 + 3723000 + 1000 + 500);
    }

    // A database cut off in its playlists still prints, with a false result; --summary prints
    // only that line.
    plain.WriteTrackDb(bytes.left(at.Playlists[2] + 10));
    const DumpRun cut = Dump({plain.Root(), QStringLiteral("--summary")});
    EXPECT_EQ(cut.Exit, 0);
    ASSERT_EQ(cut.Lines.size(), 1u);
    EXPECT_FALSE(cut.Lines[0].value("result").toBool());
    EXPECT_EQ(cut.Lines[0].value("tracks").toInt(), 5);

    EXPECT_NE(Dump({dir.path() + QStringLiteral("/nothing-here")}).Exit, 0);
    EXPECT_EQ(Dump({plain.Root(), QStringLiteral("--bogus")}).Exit, 2);
}
