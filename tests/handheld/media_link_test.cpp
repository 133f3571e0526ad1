// The track database, photos and album art of a phone, read through the simulated device as
// the window and the copy thread read them.
#include "SimLink.h"
#include "device/ArtworkDb.h"
#include "device/PhotoDb.h"
#include "device/TrackDb.h"
#include "platform/Errors.h"
#include "tests/fixtures/ArtworkDbWriter.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "tests/fixtures/ThumbWriter.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QImage>

using namespace simtest;
using namespace fixtures;

namespace {

class ThroughLink : public SimLink {
protected:
    DeviceTree Tree{Device.path()};
    QTemporaryDir OutDir;
    int Progress = 0;

    void SetUp() override { StartConnected(); }
    // Loads the set's database with every photo selected for export into OutDir.
    std::unique_ptr<device::TPhotoDb> LoadPhotos(const PhotoSet& set) {
        WritePhotoSet(Tree, set, true);
        auto db = std::make_unique<device::TPhotoDb>("iPhone", true);
        EXPECT_TRUE(db->Load(false));
        for (int i = 0; i < db->Photos.Count(); ++i)
            db->Photos.GetItem(i)->Selected = 1;
        ClearOut();
        db->OutputFolder = OutDir.path() + "/";
        db->OnProgress = [this] { ++Progress; };
        return db;
    }
    void ClearOut() {
        QDir(OutDir.path()).removeRecursively();
        QDir().mkpath(OutDir.path());
        Progress = 0;
    }
    QStringList Files() const {
        return QDir(OutDir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

// The centre of each quadrant has the fixture's colour for it.
void ExpectQuadrants(const QImage& image, int seed, int tolerance) {
    ASSERT_FALSE(image.isNull());
    for (int q = 0; q < 4; ++q) {
        const QColor want = QuadrantColour(seed, q);
        const QColor got =
            image.pixelColor((q % 2 * 2 + 1) * image.width() / 4, (q / 2 * 2 + 1) * image.height() / 4);
        EXPECT_LE(std::max({std::abs(got.red() - want.red()), std::abs(got.green() - want.green()),
                            std::abs(got.blue() - want.blue())}),
                  tolerance)
            << q;
    }
}

} // namespace

// The compressed database first, the plain one when that cannot be read (here one of several
// chunks); one that does not inflate raises; neither readable is false with the link's text.
TEST_F(ThroughLink, TrackDatabaseCompressedFirstThenPlain) {
    FixtureDb sample = SampleDb();
    sample.Tracks[0].Title = "From CDB";
    const QByteArray plain = WriteTrackDb(LargeDb(6000, 1));
    ASSERT_GT(plain.size(), 0x300000);
    Tree.WriteHandheldTrackDb(WriteTrackDb(sample), true);
    Tree.WriteHandheldTrackDb(plain, false);
    device::TiTunesDB cdb("iPhone", true);
    ASSERT_TRUE(cdb.Load());
    ASSERT_EQ(cdb.Tracks.Count(), int(sample.Tracks.size()));
    EXPECT_EQ(cdb.Tracks.GetItem(0).Title, "From CDB");
    QFile::remove(Tree.MediaPath("/iTunes_Control/iTunes/iTunesCDB"));
    device::TiTunesDB db("iPhone", true);
    ASSERT_TRUE(db.Load());
    EXPECT_EQ(db.Tracks.Count(), 6000);
    EXPECT_EQ(db.Tracks.GetItem(5999).TrackId, 1000u + 5999u);
    const quint32 header = quint32(quint8(plain[4])) | quint32(quint8(plain[5])) << 8;
    Tree.WriteFile("var/mobile/Media/iTunes_Control/iTunes/iTunesCDB",
                   plain.left(header) + "not zlib at all");
    EXPECT_THROW(device::TiTunesDB("iPhone", true).Load(), platform::EDecompressionError);
    Sim("fail AFCFileRefOpen 5");
    device::TiTunesDB none("iPhone", true);
    none.ErrorCode = 99;
    EXPECT_FALSE(none.Load());
    EXPECT_EQ(none.ErrorCode, 99);
    EXPECT_EQ(handheld::IphoneLastError(), "Open error: 5");
}

// Every layout is read with the handheld masks (1023 is a disk-mode format; on a phone its header
// would take the RGB555 masks). An image delivered in small pieces is still read whole; one the
// container file ends inside is a failed read.
TEST_F(ThroughLink, EveryLayoutIsReadThroughTheLinkWithTheHandheldMasks) {
    for (const int32_t id : {1024, 1019, 1081, 1067}) {
        SCOPED_TRACE(id);
        auto db = LoadPhotos(MakePhotoSet(id, 1036, 2, true, 2));
        ASSERT_EQ(db->Large.Id, id);
        Sim("maxread 4000");
        EXPECT_FALSE(db->ExportThumbs(true));
        Sim("maxread 0");
        EXPECT_TRUE(db->Log.isEmpty()) << db->Log.constData();
        EXPECT_EQ(Files(), (QStringList{"100.jpg", "101.jpg"}));
        for (int i = 0; i < 2; ++i)
            ExpectQuadrants(QImage(OutDir.path() + QStringLiteral("/%1.jpg").arg(100 + i)), i, 12);

        QFile container(Tree.Root() + QStringLiteral("/var/mobile/Media/Photos/Thumbs/F%1_1.ithmb").arg(id));
        ASSERT_TRUE(container.resize(container.size() - 2));
        ClearOut();
        EXPECT_FALSE(db->ExportThumbs(true));
        EXPECT_EQ(Progress, 2);
        EXPECT_EQ(Files(), QStringList{"100.jpg"});
    }
}

// A failed read writes nothing and the next photo stands alone; a container that cannot be
// opened is one line with the link's reason and no progress. Grid tiles come from the open
// device file; a failing read and an image the container ends inside leave the tile as it was.
TEST_F(ThroughLink, FailedReadsOpensAndGridTiles) {
    auto db = LoadPhotos(MakePhotoSet(1024, 1036, 3, true, 3));
    db->Photos.GetItem(0)->Selected = 0;
    // Learn how many reads one photo takes, then let only the first selected photo's succeed.
    const int before = Sim("count AFCFileRefRead");
    ASSERT_FALSE(db->ExportThumbs(true));
    ClearOut();
    const int readsPerPhoto = (Sim("count AFCFileRefRead") - before) / 2;
    ASSERT_GT(readsPerPhoto, 0);
    Sim("fail AFCFileRefRead 10 " + QByteArray::number(readsPerPhoto));
    EXPECT_FALSE(db->ExportThumbs(true));
    EXPECT_EQ(Progress, 2);
    EXPECT_EQ(Files(), QStringList{"101.jpg"});
    ExpectQuadrants(QImage(OutDir.path() + "/101.jpg"), 1, 12);
    EXPECT_EQ(db->Photos.GetItem(2)->Selected, 1);
    EXPECT_TRUE(db->WorkStream.isEmpty());

    Sim("reset");
    QFile(Tree.Root() + "/var/mobile/Media/Photos/Thumbs/F1036_1.ithmb").resize(db->Small.Size + 10);
    db->BuildBitmapHeader(true);
    ASSERT_TRUE(db->OpenDeviceThumbFile("F1036_1.ithmb"));
    QByteArray buffer(db->Small.Size, '\0');
    QImage tile;
    db->LoadSmallThumbFromDevice(buffer, 0, tile);
    EXPECT_EQ(tile.size(), QSize(50, 41));
    ExpectQuadrants(tile, 0, 14);
    QImage kept(3, 3, QImage::Format_RGB888);
    kept.fill(Qt::red);
    db->LoadSmallThumbFromDevice(buffer, 1, kept); // short
    Sim("fail AFCFileRefRead 10");
    db->LoadSmallThumbFromDevice(buffer, 0, kept);
    EXPECT_EQ(kept.size(), QSize(3, 3));
    EXPECT_EQ(kept.pixelColor(1, 1), QColor(Qt::red));
    EXPECT_TRUE(db->CloseDeviceThumbFile());

    Sim("reset");
    auto three = LoadPhotos(MakePhotoSet(1024, 1036, 3, true, 1)); // three containers
    Sim("fail AFCFileRefOpen 77");
    EXPECT_TRUE(three->ExportThumbs(true));
    EXPECT_TRUE(three->Log.startsWith("1024_1 :ip-")) << three->Log.constData();
    EXPECT_TRUE(three->Log.contains("77"));
    EXPECT_EQ(three->Log.count("\r\n"), 3);
    EXPECT_EQ(Progress, 0);
    EXPECT_TRUE(Files().isEmpty());
}

// Art has a fixed small format; a container that cannot be opened is skipped without progress.
TEST_F(ThroughLink, ArtworkThroughTheLink) {
    WriteArtSet(Tree, MakeArtSet(1060, 3006, 3, true, 2), true);
    device::TArtworkDb db("D", true);
    ASSERT_TRUE(db.Load());
    ASSERT_EQ(db.Arts.Count(), 3);
    QImage picture;
    ASSERT_TRUE(db.LoadSmallArt(2, picture));
    EXPECT_EQ(picture.size(), QSize(56, 56));
    ExpectQuadrants(picture.copy(0, 0, 56, 54), 2, 10);
    db.OutputFolder = OutDir.path() + "/";
    db.OnProgress = [&] { ++Progress; };
    auto exportArt = [&] {
        ClearOut();
        for (int i = 0; i < 3; ++i)
            db.Arts.GetItem(i)->Selected = 1;
        return db.ExportArt();
    };
    EXPECT_EQ(exportArt(), 3);
    EXPECT_EQ(Progress, 3);
    const QImage big(OutDir.path() + "/2.bmp");
    EXPECT_EQ(big.size(), QSize(320, 320));
    ExpectQuadrants(big, 2, 10);

    Sim("fail AFCFileRefOpen 5");
    EXPECT_EQ(exportArt(), 0);
    EXPECT_EQ(Progress, 0);
    EXPECT_FALSE(db.LoadSmallArt(0, picture));
}
