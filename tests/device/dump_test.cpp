// The ipod-dump tracks, photo and artwork commands on fixture devices: keys in their documented
// order and the values a reader of the output relies on.
#include "tests/device/DeviceTest.h"
#include "tests/fixtures/ArtworkDbWriter.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QImage>
#include <QJsonArray>

using namespace devtest;
using namespace fixtures;

static const auto Keys = [](const char* keys) { return QString::fromLatin1(keys).split(u' '); };

TEST(Dump, TracksForPlainAndCompressedDatabases) {
    QTemporaryDir dir;
    DeviceTree plain(dir.path() + "/plain"), compressed(dir.path() + "/cdb");
    TrackDbLayout at;
    const QByteArray bytes = WriteTrackDb(SampleDb(), &at);
    plain.WriteTrackDb(bytes);
    compressed.MakeITunesFolder();
    compressed.WriteCompressedTrackDb(bytes); // no plain iTunesDB beside it
    const DumpRun r = RunDump({"tracks", plain.Root()});
    EXPECT_EQ(RunDump({"tracks", compressed.Root(), "--cdb"}).Raw, r.Raw); // the compressed form prints the same
    ASSERT_EQ(std::pair(r.Exit, int(r.Lines.size())), std::pair(0, 5 + 3 + 1));
    EXPECT_EQ(KeysInOrder(r.Raw[0]), Keys("index id title artist album genre kind location size length rating "
                                          "playcount mediatype hasartwork dbid video"));
    EXPECT_EQ(KeysInOrder(r.Raw[6]), Keys("playlist smart ids"));
    EXPECT_EQ(KeysInOrder(r.Raw.back()), Keys("result error tracks playlists totaltime totalsize"));
    EXPECT_EQ(r.Lines[1].value("dbid").toString(), QStringLiteral("17297757506775570040")); // 64 bits, as text
    EXPECT_EQ(r.Lines[6].value("ids").toArray(), (QJsonArray{103, 101, 999}));
    // A database cut off in its playlists still prints, with a false result; --summary prints
    // only that line.
    plain.WriteTrackDb(bytes.left(at.Playlists[2] + 10));
    const DumpRun cut = RunDump({"tracks", plain.Root(), "--summary"});
    ASSERT_EQ(std::pair(cut.Exit, int(cut.Lines.size())), std::pair(0, 1));
    EXPECT_EQ(std::pair(cut.Lines[0].value("result").toBool(), cut.Lines[0].value("tracks").toInt()),
              std::pair(false, 5));
    EXPECT_NE(RunDump({"tracks", dir.path() + "/nothing-here"}).Exit, 0);
    EXPECT_EQ(RunDump({"tracks", plain.Root(), "--bogus"}).Exit, 2);
}

TEST(Dump, PhotosArtworkAndTheirExports) {
    QTemporaryDir dir;
    const DeviceTree tree(dir.path() + "/disk");
    WritePhotoSet(tree, MakePhotoSet(1024, 1036, 4, false, 3), false);
    WriteArtSet(tree, MakeArtSet(1060, 1055, 3, false, 2), false);
    const QStringList formats = Keys("large id size width height filecount small id size width height filecount");
    const DumpRun photos = RunDump({"photos", tree.Root()});
    ASSERT_EQ(photos.Lines.size(), 4u + 2 + 1);
    EXPECT_EQ(KeysInOrder(photos.Raw[0]), Keys("index imageid fileno largeoffset largesize smalloffset fullres"));
    EXPECT_EQ(KeysInOrder(photos.Raw[4]), Keys("album ids"));
    EXPECT_EQ(KeysInOrder(photos.Raw.last()), Keys("result error hasfullres") + formats);
    const DumpRun art = RunDump({"artwork", tree.Root()});
    ASSERT_EQ(art.Lines.size(), 3u + 1);
    EXPECT_EQ(KeysInOrder(art.Raw[0]), Keys("index imageid songdbid smallfileno smalloffset largefileno largeoffset"));
    EXPECT_EQ(KeysInOrder(art.Raw.last()), Keys("result error") + formats);
    EXPECT_EQ(art.Lines[2].value("songdbid").toString(), QString::number(0x1000000002ull)); // 64 bits, as text

    const QString out = tree.Root() + "-out";
    const DumpRun exported = RunDump({"export-photos", tree.Root(), out});
    ASSERT_EQ(exported.Lines.size(), 1u);
    EXPECT_EQ(KeysInOrder(exported.Raw[0]), Keys("missing log count"));
    EXPECT_EQ(QImage(out + "/102.jpg").size(), QSize(320, 240));
    EXPECT_EQ(RunDump({"export-art", tree.Root(), out + "/art"}).Lines.at(0).value("count").toInt(), 3);
    EXPECT_EQ(QDir(out + "/art").entryList(QDir::Files), (QStringList{"0.bmp", "1.bmp", "2.bmp"}));
}
