// The ipod-dump tracks, photo and artwork commands on fixture devices: keys in their documented
// order and the values a reader of the output relies on.
#include "tests/device/DeviceTest.h"

using namespace devtest;
using namespace fixtures;

static const auto Keys = [](const char* keys) { return QString::fromLatin1(keys).split(u' '); };

TEST(Dump, TracksOfPlainAndCompressedDatabasesPhotosArtworkAndTheirExports) {
    QTemporaryDir dir;
    DeviceTree plain(dir.path() + "/plain"), compressed(dir.path() + "/cdb");
    TrackDbLayout at;
    const QByteArray bytes = WriteTrackDb(SampleDb(), &at);
    plain.WriteTrackDb(bytes);
    compressed.MakeITunesFolder();
    compressed.WriteCompressedTrackDb(bytes); // no plain iTunesDB beside it
    const auto [exit, r] = RunDump({"tracks", plain.Root()});
    EXPECT_EQ(RunDump({"tracks", compressed.Root(), "--cdb"}).second, r); // the compressed form prints the same
    ASSERT_EQ(std::pair(exit, int(r.size())), std::pair(0, 5 + 3 + 1));
    EXPECT_EQ(KeysInOrder(r[0]), Keys("index id title artist album genre kind location size length rating "
                                      "playcount mediatype hasartwork dbid video"));
    EXPECT_EQ(KeysInOrder(r[6]), Keys("playlist smart ids"));
    EXPECT_EQ(KeysInOrder(r.back()), Keys("result error damaged readerror tracks playlists totaltime totalsize"));
    EXPECT_EQ(Value(r[1], "dbid").toString(), QStringLiteral("17297757506775570040")); // 64 bits, as text
    EXPECT_FALSE(Value(r.back(), "damaged").toBool());
    // A database cut off in its playlists, or in the list record of their section, still
    // prints, with a false result and the damage; --summary prints only that line.
    for (const qint64 end : {at.Playlists[2] + 10, at.PlaylistSection + 50}) {
        plain.WriteTrackDb(bytes.left(end));
        const auto [cutExit, cut] = RunDump({"tracks", plain.Root(), "--summary"});
        ASSERT_EQ(std::pair(cutExit, int(cut.size())), std::pair(0, 1));
        const auto got = std::tuple(Value(cut[0], "result").toBool(), Value(cut[0], "damaged").toBool(),
                                    Value(cut[0], "tracks").toInt());
        EXPECT_EQ(got, std::tuple(false, true, 5)) << end;
    }
    EXPECT_NE(RunDump({"tracks", dir.path() + "/nothing-here"}).first, 0);
    EXPECT_EQ(RunDump({"tracks", plain.Root(), "--bogus"}).first, 2);

    const DeviceTree tree(dir.path() + "/disk");
    WritePhotoSet(tree, MakePhotoSet(1024, 1036, 4, false, 3), false);
    WriteArtSet(tree, MakeArtSet(1060, 1055, 3, false, 2), false);
    const QStringList formats = Keys("large id size width height filecount small id size width height filecount");
    const QList<QByteArray> photos = RunDump({"photos", tree.Root()}).second;
    ASSERT_EQ(photos.size(), 4 + 2 + 1);
    EXPECT_EQ(KeysInOrder(photos[0]), Keys("index imageid fileno largeoffset largesize smalloffset fullres"));
    EXPECT_EQ(KeysInOrder(photos[4]), Keys("album ids"));
    EXPECT_EQ(KeysInOrder(photos.last()), Keys("result error hasfullres") + formats);
    const QList<QByteArray> art = RunDump({"artwork", tree.Root()}).second;
    ASSERT_EQ(art.size(), 3 + 1);
    EXPECT_EQ(KeysInOrder(art[0]), Keys("index imageid songdbid smallfileno smalloffset largefileno largeoffset"));
    EXPECT_EQ(KeysInOrder(art.last()), Keys("result error") + formats);
    EXPECT_EQ(Value(art[2], "songdbid").toString(), QString::number(0x1000000002ull)); // 64 bits, as text
    const QString out = tree.Root() + "-out";
    EXPECT_EQ(KeysInOrder(RunDump({"export-photos", tree.Root(), out}).second.value(0)), Keys("missing log count"));
    EXPECT_EQ(QImage(out + "/102.jpg").size(), QSize(320, 240));
    EXPECT_EQ(Value(RunDump({"export-art", tree.Root(), out + "/art"}).second.value(0), "count").toInt(), 3);
    EXPECT_EQ(QDir(out + "/art").entryList(QDir::Files), (QStringList{"0.bmp", "1.bmp", "2.bmp"}));
}
