// The handheld's track database loaded through the simulated device, exactly as the window
// loads it: the compressed database first, the plain one when that cannot be read.
#include "SimLink.h"
#include "device/TrackDb.h"
#include "platform/Errors.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/TrackDbWriter.h"

using namespace simtest;

namespace {

fixtures::FixtureDb TwoTracks(const QString& firstTitle) {
    fixtures::FixtureDb db;
    fixtures::FixtureTrack a;
    a.TrackId = 11;
    a.Title = firstTitle;
    a.Artist = "Artist";
    a.Location = ":iTunes_Control:Music:F00:A.m4a";
    a.Size = 1234;
    a.Length = 60000;
    fixtures::FixtureTrack b = a;
    b.TrackId = 12;
    b.Title = "Second";
    b.Location = ":iTunes_Control:Music:F01:B.mp3";
    db.Tracks = {a, b};
    fixtures::FixturePlaylist master;
    master.Name = "Phone";
    master.Master = true;
    master.TrackIds = {11, 12};
    db.Playlists = {master};
    return db;
}

class TrackDbThroughLink : public SimLink, public ::testing::WithParamInterface<bool> {
protected:
    fixtures::DeviceTree Tree{Device.path()};
};

TEST_P(TrackDbThroughLink, CompressedIsPreferredAndPlainIsTheFallBack) {
    Tree.WriteHandheldTrackDb(fixtures::WriteTrackDb(TwoTracks("From CDB")), true);
    Tree.WriteHandheldTrackDb(fixtures::WriteTrackDb(TwoTracks("From DB")), false);
    Start(GetParam());
    Notify("arrive");
    ASSERT_TRUE(handheld::IphoneReady());
    {
        device::TiTunesDB db("iPhone", true);
        ASSERT_TRUE(db.Load());
        ASSERT_EQ(db.Tracks.Count(), 2);
        EXPECT_EQ(db.Tracks.GetItem(0).Title, "From CDB");
        EXPECT_EQ(db.Playlists.GetItem(0).Name, "Phone");
    }
    // The compressed database cannot be read: the plain one is.
    QFile::remove(Tree.MediaPath("/iTunes_Control/iTunes/iTunesCDB"));
    {
        device::TiTunesDB db("iPhone", true);
        ASSERT_TRUE(db.Load());
        EXPECT_EQ(db.Tracks.GetItem(0).Title, "From DB");
        EXPECT_EQ(db.Tracks.GetItem(1).Location, ":iTunes_Control:Music:F01:B.mp3");
    }
    // Neither readable: false with the error code untouched and the link's text.
    Sim("fail AFCFileRefOpen 5");
    {
        device::TiTunesDB db("iPhone", true);
        db.ErrorCode = 99;
        EXPECT_FALSE(db.Load());
        EXPECT_EQ(db.ErrorCode, 99);
        EXPECT_EQ(handheld::IphoneLastError(), "Open error: 5");
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, TrackDbThroughLink, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Newer" : "Older"; });

class TrackDbLink : public SimLink {};

TEST_F(TrackDbLink, CompressedDataThatDoesNotInflateRaises) {
    fixtures::DeviceTree tree(Device.path());
    QByteArray plain = fixtures::WriteTrackDb(TwoTracks("x"));
    const quint32 header = quint32(quint8(plain[4])) | quint32(quint8(plain[5])) << 8;
    tree.WriteFile("var/mobile/Media/iTunes_Control/iTunes/iTunesCDB",
                   plain.left(header) + "not zlib at all");
    Start();
    Notify("arrive");
    device::TiTunesDB db("iPhone", true);
    EXPECT_THROW(db.Load(), platform::EDecompressionError);
}

TEST_F(TrackDbLink, BigDatabaseAcrossSeveralChunks) {
    fixtures::FixtureDb big;
    for (uint32_t i = 0; i < 6000; ++i) {
        fixtures::FixtureTrack t;
        t.TrackId = i + 1;
        t.Title = QString("Track %1 with a long enough title to fill the chunks").arg(i);
        t.Location = QString(":iTunes_Control:Music:F%1:T%2.m4a").arg(i % 50).arg(i);
        big.Tracks.push_back(t);
    }
    const QByteArray plain = fixtures::WriteTrackDb(big);
    ASSERT_GT(plain.size(), 0x300000);
    fixtures::DeviceTree tree(Device.path());
    tree.WriteHandheldTrackDb(plain, false);
    Start();
    Notify("arrive");
    device::TiTunesDB db("iPhone", true);
    ASSERT_TRUE(db.Load());
    EXPECT_EQ(db.Tracks.Count(), 6000);
    EXPECT_EQ(db.Tracks.GetItem(5999).TrackId, 6000u);
}

} // namespace
