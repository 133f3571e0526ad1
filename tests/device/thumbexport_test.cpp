#include "device/PhotoDb.h"
#include "device/PixelDecode.h"
#include "device/ThumbExport.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "tests/fixtures/ThumbWriter.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace device;
using namespace fixtures;

namespace {

class ThumbExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        Tree = std::make_unique<DeviceTree>(Dir.path() + "/ipod");
        platform::SetDriveTableForTesting(std::vector<platform::Drive>{Tree->AsDrive('E')});
        Out = Dir.path() + "/out/";
        QDir().mkpath(Out);
    }
    void TearDown() override { platform::SetDriveTableForTesting(std::nullopt); }

    // Loads the set from drive E: with every photo selected and progress counted.
    std::unique_ptr<TPhotoDb> Load(const PhotoSet& set) {
        WritePhotoSet(*Tree, set, false);
        auto db = std::make_unique<TPhotoDb>("E:", false);
        EXPECT_TRUE(db->Load(false));
        for (int i = 0; i < db->Photos.Count(); ++i)
            db->Photos.GetItem(i)->Selected = 1;
        db->OutputFolder = Out;
        db->OnProgress = [this] { ++Progress; };
        return db;
    }

    QStringList Files() const { return QDir(Out).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

    QTemporaryDir Dir;
    std::unique_ptr<DeviceTree> Tree;
    QString Out;
    int Progress = 0;
};

// The exported picture shows the four quadrant colours of photo `seed`, within `tolerance`.
void ExpectQuadrants(const QImage& image, int seed, int tolerance) {
    ASSERT_FALSE(image.isNull());
    const int w = image.width(), h = image.height();
    const QPoint centres[4] = {{w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}};
    for (int q = 0; q < 4; ++q) {
        const QColor want = QuadrantColour(seed, q), got = image.pixelColor(centres[q]);
        EXPECT_NEAR(got.red(), want.red(), tolerance) << "quadrant " << q << " seed " << seed;
        EXPECT_NEAR(got.green(), want.green(), tolerance) << "quadrant " << q << " seed " << seed;
        EXPECT_NEAR(got.blue(), want.blue(), tolerance) << "quadrant " << q << " seed " << seed;
    }
}

} // namespace

TEST_F(ThumbExportTest, EveryLayoutExportsPicturesOfTheExpectedSizeAndColours) {
    struct Case {
        int32_t Id;
        bool Aspect;
        QSize Size;
        int Tolerance;
    };
    const Case cases[] = {
        {1019, true, {640, 480}, 12}, {1019, false, {704, 480}, 12}, {1067, true, {720, 480}, 12},
        {1023, true, {176, 132}, 12}, {1024, true, {320, 240}, 12},  {1015, true, {130, 88}, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Id);
        QDir(Out).removeRecursively();
        QDir().mkpath(Out);
        Progress = 0;
        const PhotoSet set = MakePhotoSet(c.Id, 1009, 4, false, 3);
        auto db = Load(set);
        db->Photos.GetItem(2)->Selected = 0;
        EXPECT_FALSE(db->ExportThumbs(c.Aspect));
        EXPECT_EQ(Progress, 3);
        EXPECT_EQ(Files(), (QStringList{"100.jpg", "101.jpg", "103.jpg"}));
        EXPECT_TRUE(db->Log.isEmpty());
        for (int i : {0, 1, 3}) {
            const QImage image(Out + QString::number(100 + i) + ".jpg");
            EXPECT_EQ(image.size(), c.Size);
            ExpectQuadrants(image, i, c.Tolerance);
        }
        EXPECT_TRUE(db->WorkStream.isEmpty());
    }
}

TEST_F(ThumbExportTest, JpegDataIsWrittenUnchanged) {
    const PhotoSet set = MakePhotoSet(1081, 1036, 3, false, 2);
    auto db = Load(set);
    EXPECT_FALSE(db->ExportThumbs(true));
    EXPECT_EQ(Progress, 3);
    for (int i = 0; i < 3; ++i) {
        QFile f(Out + QString::number(100 + i) + ".jpg");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), EncodeJpegData(set.Pictures[size_t(i)]));
    }
}

TEST_F(ThumbExportTest, MissingContainerIsLoggedAndItsPhotosGetNoProgress) {
    PhotoSet set = MakePhotoSet(1024, 1036, 7, false, 2); // containers 1..4
    auto db = Load(set);
    QFile::remove(Tree->Path("Photos/Thumbs/F1024_2.ithmb"));
    db->Photos.GetItem(0)->FileNo = 9; // outside 1..FileCount: never exported
    db->Log = "before\r\n";
    EXPECT_TRUE(db->ExportThumbs(true));
    EXPECT_EQ(db->Log, QByteArray("before\r\n1024_2 :RGB file not found.\r\n"));
    EXPECT_EQ(Progress, 4); // photos 1, 4, 5, 6
    EXPECT_EQ(Files(), (QStringList{"101.jpg", "104.jpg", "105.jpg", "106.jpg"}));
    // A second run writes nothing and reports every handled photo again.
    QFile f(Out + "104.jpg");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("keep");
    f.close();
    Progress = 0;
    EXPECT_TRUE(db->ExportThumbs(true));
    EXPECT_EQ(Progress, 4);
    QFile kept(Out + "104.jpg");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("keep"));
    EXPECT_EQ(Files().size(), 4);

    // Each layout has its own text.
    const struct {
        int32_t Id;
        const char* Text;
    } texts[] = {{1019, "1019_1 :UYUV file not found.\r\n"},
                 {1023, "1023_1 :NRgb file not found.\r\n"},
                 {1067, "1067_1 :Yuvs file not found.\r\n"},
                 {1081, "1081_1 :Photo file not found.\r\n"}};
    for (const auto& t : texts) {
        PhotoSet s = MakePhotoSet(t.Id, 1036, 1, false);
        auto other = Load(s);
        QFile::remove(Tree->Path(QStringLiteral("Photos/Thumbs/F%1_1.ithmb").arg(t.Id)));
        EXPECT_TRUE(other->ExportThumbs(true));
        EXPECT_EQ(other->Log, QByteArray(t.Text));
    }
}

TEST_F(ThumbExportTest, ImagesRunningPastTheirContainerAreFailedReads) {
    for (const int32_t id : {1024, 1023, 1019, 1067, 1081}) {
        SCOPED_TRACE(id);
        QDir(Out).removeRecursively();
        QDir().mkpath(Out);
        Progress = 0;
        PhotoSet set = MakePhotoSet(id, 1036, 3, false, 3);
        const QString name = QStringLiteral("F%1_1.ithmb").arg(id);
        // Cut the container inside the last image.
        set.Containers[name].chop(100);
        auto db = Load(set);
        EXPECT_FALSE(db->ExportThumbs(false));
        EXPECT_EQ(Progress, 3);
        EXPECT_EQ(Files(), (QStringList{"100.jpg", "101.jpg"}));
        EXPECT_TRUE(db->WorkStream.isEmpty());
    }
}

TEST_F(ThumbExportTest, ZeroSizesAreFailedReadsNotWholeContainers) {
    PhotoSet set = MakePhotoSet(1081, 1036, 2, false, 2);
    auto db = Load(set);
    db->Photos.GetItem(0)->LargeSize = 0;
    EXPECT_FALSE(db->ExportThumbs(true));
    EXPECT_EQ(Files(), QStringList{"101.jpg"});
    EXPECT_EQ(Progress, 2);

    PhotoSet rgb = MakePhotoSet(1024, 1036, 2, false, 2);
    auto db2 = Load(rgb);
    QDir(Out).removeRecursively();
    QDir().mkpath(Out);
    db2->Large.Size = 0;
    EXPECT_FALSE(db2->ExportThumbs(true));
    EXPECT_TRUE(Files().isEmpty());
}

TEST_F(ThumbExportTest, AnOutputFolderThatIsGoneRaisesAndLeavesNoPartialFile) {
    PhotoSet set = MakePhotoSet(1024, 1036, 2, false, 2);
    auto db = Load(set);
    db->OutputFolder = Dir.path() + "/gone/";
    EXPECT_THROW(db->ExportThumbs(true), platform::EFOpenError);
    EXPECT_FALSE(QDir(Dir.path() + "/gone").exists());
}

TEST_F(ThumbExportTest, SmallThumbnailsOfTheGrid) {
    PhotoSet set = MakePhotoSet(1024, 1036, 3, false, 3);
    auto db = Load(set);
    db->BuildBitmapHeader(true);
    QFile container(Tree->Path("Photos/Thumbs/F1036_1.ithmb"));
    ASSERT_TRUE(container.open(QIODevice::ReadOnly));
    for (int i = 0; i < 3; ++i) {
        QImage tile;
        db->LoadSmallThumb(container, i, tile);
        EXPECT_EQ(tile.size(), QSize(50, 41));
        ExpectQuadrants(tile, i, 14);
    }
    EXPECT_TRUE(db->WorkStream.isEmpty());
    // A container that ends before the image raises a read error.
    db->Photos.GetItem(2)->SmallOffset = uint32_t(container.size() - 10);
    QImage tile;
    EXPECT_THROW(db->LoadSmallThumb(container, 2, tile), platform::Error);
    EXPECT_TRUE(tile.isNull());
    EXPECT_TRUE(db->WorkStream.isEmpty());
}

// Every number from 1 to the count is looked for, also one that no photo lies in; a count
// that only a damaged database can give is not probed name by name.
TEST_F(ThumbExportTest, ContainersAreVisitedUpToTheCount) {
    PhotoSet set = MakePhotoSet(1024, 1036, 6, false, 2); // containers 1..3
    auto db = Load(set);
    ASSERT_EQ(db->Large.FileCount, 3);
    QFile::remove(Tree->Path("Photos/Thumbs/F1024_2.ithmb"));
    for (int i : {2, 3})
        db->Photos.GetItem(i)->FileNo = 3;
    EXPECT_TRUE(db->ExportThumbs(true));
    EXPECT_EQ(db->Log, QByteArray("1024_2 :RGB file not found.\r\n"));

    db->Log.clear();
    db->Large.FileCount = 2000000000;
    Progress = 0;
    QDir(Out).removeRecursively();
    QDir().mkpath(Out);
    EXPECT_FALSE(db->ExportThumbs(true));
    EXPECT_TRUE(db->Log.isEmpty());
    EXPECT_EQ(Progress, 6);
    EXPECT_EQ(ContainersToVisit(3, {}), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(ContainersToVisit(MaxProbedContainers + 1, {7, 0, 3, 7, MaxProbedContainers + 2}),
              (std::vector<int32_t>{3, 7}));
}
