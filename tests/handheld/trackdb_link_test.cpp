// The handheld's track database loaded through the simulated device, exactly as the window
// loads it: the compressed database first, the plain one when that cannot be read.
#include "SimLink.h"
#include "device/TrackDb.h"
#include "platform/Errors.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/TrackDbWriter.h"

using namespace simtest;

namespace {

QByteArray Titled(const QString& firstTitle) {
    fixtures::FixtureDb db = fixtures::SampleDb();
    db.Tracks[0].Title = firstTitle;
    return fixtures::WriteTrackDb(db);
}

class TrackDbLink : public SimLink {
protected:
    fixtures::DeviceTree Tree{Device.path()};
    void Connect(bool newGeneration = true) {
        Start(newGeneration);
        Notify("arrive");
        ASSERT_TRUE(handheld::IphoneReady());
    }
};
class TrackDbThroughLink : public TrackDbLink, public ::testing::WithParamInterface<bool> {};

TEST_P(TrackDbThroughLink, CompressedIsPreferredAndPlainIsTheFallBack) {
    Tree.WriteHandheldTrackDb(Titled("From CDB"), true);
    Tree.WriteHandheldTrackDb(Titled("From DB"), false);
    Connect(GetParam());
    const fixtures::FixtureDb sample = fixtures::SampleDb();
    for (const char* title : {"From CDB", "From DB"}) {
        device::TiTunesDB db("iPhone", true);
        ASSERT_TRUE(db.Load());
        ASSERT_EQ(db.Tracks.Count(), int(sample.Tracks.size()));
        EXPECT_EQ(db.Tracks.GetItem(0).Title, title);
        EXPECT_EQ(db.Tracks.GetItem(1).Location, sample.Tracks[1].Location);
        EXPECT_EQ(db.Playlists.GetItem(0).Name, sample.Playlists[0].Name);
        // The compressed database cannot be read: the plain one is.
        QFile::remove(Tree.MediaPath("/iTunes_Control/iTunes/iTunesCDB"));
    }
    // Neither readable: false with the error code untouched and the link's text.
    Sim("fail AFCFileRefOpen 5");
    device::TiTunesDB db("iPhone", true);
    db.ErrorCode = 99;
    EXPECT_FALSE(db.Load());
    EXPECT_EQ(db.ErrorCode, 99);
    EXPECT_EQ(handheld::IphoneLastError(), "Open error: 5");
}

INSTANTIATE_TEST_SUITE_P(Generations, TrackDbThroughLink, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Newer" : "Older"; });

TEST_F(TrackDbLink, CompressedDataThatDoesNotInflateRaises) {
    const QByteArray plain = Titled("x");
    const quint32 header = quint32(quint8(plain[4])) | quint32(quint8(plain[5])) << 8;
    Tree.WriteFile("var/mobile/Media/iTunes_Control/iTunes/iTunesCDB",
                   plain.left(header) + "not zlib at all");
    Connect();
    device::TiTunesDB db("iPhone", true);
    EXPECT_THROW(db.Load(), platform::EDecompressionError);
}

TEST_F(TrackDbLink, BigDatabaseAcrossSeveralChunks) {
    const QByteArray plain = fixtures::WriteTrackDb(fixtures::LargeDb(6000, 1));
    ASSERT_GT(plain.size(), 0x300000);
    Tree.WriteHandheldTrackDb(plain, false);
    Connect();
    device::TiTunesDB db("iPhone", true);
    ASSERT_TRUE(db.Load());
    EXPECT_EQ(db.Tracks.Count(), 6000);
    EXPECT_EQ(db.Tracks.GetItem(5999).TrackId, 1000u + 5999u);
}

} // namespace
