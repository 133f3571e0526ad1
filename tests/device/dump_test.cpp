// The ipod-dump tracks, photo and artwork commands on fixture devices: keys in their documented
// order and the values a reader of the output relies on.
#include "tests/device/DeviceTest.h"
#include "tests/fixtures/ArtworkDbWriter.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QImage>
#include <QJsonArray>

using namespace devtest;
using namespace fixtures;

TEST(Dump, TracksForPlainAndCompressedDatabases) {
    QTemporaryDir dir;
    DeviceTree plain(dir.path() + "/plain"), compressed(dir.path() + "/cdb");
    const QByteArray bytes = WriteTrackDb(SampleDb());
    plain.WriteTrackDb(bytes);
    compressed.MakeITunesFolder();
    compressed.WriteCompressedTrackDb(bytes); // no plain iTunesDB beside it
    const DumpRun r = RunDump({"tracks", plain.Root()});
    EXPECT_EQ(RunDump({"tracks", compressed.Root(), "--cdb"}).Raw, r.Raw); // the compressed form prints the same
    ASSERT_EQ(r.Exit, 0);
    ASSERT_EQ(r.Lines.size(), 5u + 3u + 1u);
    EXPECT_EQ(KeysInOrder(r.Raw[0]), QString("index id title artist album genre kind location size length rating "
                                             "playcount mediatype hasartwork dbid video").split(' '));
    EXPECT_EQ(KeysInOrder(r.Raw[6]), QString("playlist smart ids").split(' '));
    EXPECT_EQ(KeysInOrder(r.Raw.back()), QString("result error tracks playlists totaltime totalsize").split(' '));
    EXPECT_EQ(r.Lines[1].value("title").toString(), QString::fromUtf8("Ça plane pour moi – 日本"));
    EXPECT_EQ(r.Lines[1].value("dbid").toString(), QStringLiteral("17297757506775570040")); // 64 bits, as text
    EXPECT_EQ(std::pair(r.Lines[1].value("video").toBool(), r.Lines[2].value("video").toBool()), std::pair(false, true));
    EXPECT_EQ(r.Lines[6].value("ids").toArray(), (QJsonArray{103, 101, 999}));
    EXPECT_TRUE(r.Lines[7].value("smart").toBool());
    EXPECT_TRUE(r.Lines.back().value("result").toBool());
    EXPECT_EQ(r.Lines.back().value("totalsize").toInteger(), 4123456ll + 1000 + 150000000 + 2048 + 300);
    // A database cut off in its playlists still prints, with a false result; --summary prints
    // only that line.
    TrackDbLayout at;
    WriteTrackDb(SampleDb(), &at);
    plain.WriteTrackDb(bytes.left(at.Playlists[2] + 10));
    const DumpRun cut = RunDump({"tracks", plain.Root(), "--summary"});
    EXPECT_EQ(cut.Exit, 0);
    ASSERT_EQ(cut.Lines.size(), 1u);
    EXPECT_EQ(std::pair(cut.Lines[0].value("result").toBool(), cut.Lines[0].value("tracks").toInt()), std::pair(false, 5));
    EXPECT_NE(RunDump({"tracks", dir.path() + "/nothing-here"}).Exit, 0);
    EXPECT_EQ(RunDump({"tracks", plain.Root(), "--bogus"}).Exit, 2);
}

TEST(Dump, PhotosArtworkAndTheirExports) {
    QTemporaryDir dir;
    const DeviceTree tree(dir.path() + "/disk");
    WritePhotoSet(tree, MakePhotoSet(1024, 1036, 4, false, 3), false);
    WriteArtSet(tree, MakeArtSet(1060, 1055, 3, false, 2), false);
    const QString formats = QStringLiteral("large id size width height filecount small id size width height filecount");
    const DumpRun photos = RunDump({"photos", tree.Root()});
    ASSERT_EQ(photos.Lines.size(), 4u + 2 + 1);
    EXPECT_EQ(KeysInOrder(photos.Raw[0]), QString("index imageid fileno largeoffset largesize smalloffset fullres").split(' '));
    EXPECT_EQ(KeysInOrder(photos.Raw[4]), (QStringList{"album", "ids"}));
    EXPECT_EQ(KeysInOrder(photos.Raw.last()), ("result error hasfullres " + formats).split(' '));
    EXPECT_EQ(photos.Lines[3].value("fileno").toInt(), 2);
    EXPECT_EQ(photos.Lines[5].value("album").toString(), "First");
    EXPECT_EQ(photos.Lines.back().value("large").toObject().value("filecount").toInt(), 2);

    const DumpRun art = RunDump({"artwork", tree.Root()});
    ASSERT_EQ(art.Lines.size(), 3u + 1);
    EXPECT_EQ(KeysInOrder(art.Raw[0]), QString("index imageid songdbid smallfileno smalloffset largefileno largeoffset").split(' '));
    EXPECT_EQ(KeysInOrder(art.Raw.last()), ("result error " + formats).split(' '));
    EXPECT_EQ(art.Lines[2].value("songdbid").toString(), QString::number(0x1000000002ull)); // 64 bits, as text
    EXPECT_EQ(art.Lines[2].value("largefileno").toInt(), 2);

    const QString out = tree.Root() + "-out";
    const DumpRun exported = RunDump({"export-photos", tree.Root(), out});
    ASSERT_EQ(exported.Lines.size(), 1u);
    EXPECT_EQ(KeysInOrder(exported.Raw[0]), (QStringList{"missing", "log", "count"}));
    EXPECT_EQ(exported.Lines[0].value("count").toInt(), 4);
    EXPECT_EQ(QImage(out + "/102.jpg").size(), QSize(320, 240));
    EXPECT_EQ(RunDump({"export-art", tree.Root(), out + "/art"}).Lines.at(0).value("count").toInt(), 3);
    EXPECT_EQ(QDir(out + "/art").entryList(QDir::Files), (QStringList{"0.bmp", "1.bmp", "2.bmp"}));
}
