#include "device/ArtworkDb.h"
#include "device/PixelDecode.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "tests/fixtures/ArtworkDbWriter.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/ThumbWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace device;
using namespace fixtures;

namespace {

class ArtworkDbTest : public ::testing::Test {
protected:
    void SetUp() override {
        Tree = std::make_unique<DeviceTree>(Dir.path() + "/ipod");
        platform::SetDriveTableForTesting(std::vector<platform::Drive>{Tree->AsDrive('E')});
        Out = Dir.path() + "/Artworks/";
        QDir().mkpath(Out);
    }
    void TearDown() override { platform::SetDriveTableForTesting(std::nullopt); }

    std::unique_ptr<TArtworkDb> Load(const ArtSet& set) {
        WriteArtSet(*Tree, set, false);
        auto db = std::make_unique<TArtworkDb>("E:", false);
        EXPECT_TRUE(db->Load());
        db->OutputFolder = Out;
        db->OnProgress = [this] { ++Progress; };
        return db;
    }

    QTemporaryDir Dir;
    std::unique_ptr<DeviceTree> Tree;
    QString Out;
    int Progress = 0;
};

FixtureThumbRef Ref(int32_t id, uint16_t w, uint16_t h, int fileNo = 1) {
    FixtureThumbRef r;
    r.FormatId = id;
    r.Width = w;
    r.Height = h;
    r.Size = uint32_t(w * h * 2);
    r.FileName = QStringLiteral(":F%1_%2.ithmb").arg(id).arg(fileNo);
    return r;
}

void ExpectQuadrants(const QImage& image, int seed) {
    ASSERT_FALSE(image.isNull());
    const int w = image.width(), h = image.height();
    const QPoint centres[4] = {{w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}};
    for (int q = 0; q < 4; ++q) {
        const QColor want = QuadrantColour(seed, q), got = image.pixelColor(centres[q]);
        EXPECT_NEAR(got.red(), want.red(), 8);
        EXPECT_NEAR(got.green(), want.green(), 8);
        EXPECT_NEAR(got.blue(), want.blue(), 8);
    }
}

} // namespace

TEST_F(ArtworkDbTest, LoadsItemsAndFormats) {
    const ArtSet set = MakeArtSet(1060, 1055, 5, false, 2);
    auto db = Load(set);
    EXPECT_EQ(db->Large, (TThumbFormat{1060, 320 * 320 * 2, 320, 320, 3}));
    EXPECT_EQ(db->Small, (TThumbFormat{1055, 128 * 128 * 2, 128, 128, 1}));
    ASSERT_EQ(db->Arts.Count(), 5);
    for (int i = 0; i < 5; ++i) {
        const TArtItem& a = *db->Arts.GetItem(i);
        EXPECT_EQ(a.ImageId, uint32_t(1 + i));
        EXPECT_EQ(a.SongDbId, 0x1000000000ull + uint64_t(i));
        EXPECT_EQ(a.LargeFileNo, 1 + i / 2);
        EXPECT_EQ(a.LargeOffset, uint32_t((i % 2) * 320 * 320 * 2));
        EXPECT_EQ(a.SmallFileNo, 1);
        EXPECT_EQ(a.SmallOffset, uint32_t(i * 128 * 128 * 2));
        EXPECT_EQ(a.Selected, 0);
    }
    // The headers are built with the disk-mode masks.
    EXPECT_EQ(db->BmpLarge[54] | db->BmpLarge[55] << 8, 0xF800);
    EXPECT_EQ(int32_t(db->BmpSmall[22] | db->BmpSmall[23] << 8 | db->BmpSmall[24] << 16 | db->BmpSmall[25] << 24), -128);

    QImage picture;
    ASSERT_TRUE(db->LoadSmallArt(3, picture));
    EXPECT_EQ(picture.size(), QSize(128, 128));
    ExpectQuadrants(picture, 3);
    EXPECT_FALSE(db->LoadSmallArt(5, picture));
    QFile::remove(Tree->Path("iPod_Control/Artwork/F1055_1.ithmb"));
    EXPECT_FALSE(db->LoadSmallArt(0, picture));
    EXPECT_TRUE(db->WorkStream.isEmpty());
}

TEST_F(ArtworkDbTest, FormatChoiceAndFailurePaths) {
    {
        // One reference per image: both formats are the same and every item is dropped.
        FixtureArtworkDb f;
        for (uint32_t i = 0; i < 3; ++i) {
            FixturePhoto p;
            p.ImageId = i;
            p.Refs = {Ref(1028, 100, 100)};
            f.Items.push_back(p);
        }
        TArtworkDb db("E:", false);
        EXPECT_TRUE(db.LoadFromData(WriteArtworkDb(f)));
        EXPECT_EQ(db.Large.Id, 1028);
        EXPECT_EQ(db.Small.Id, 1028);
        EXPECT_EQ(db.Arts.Count(), 0);
    }
    {
        // Without an image list the database loads with no items.
        FixtureArtworkDb f;
        f.WriteImages = false;
        TArtworkDb db("E:", false);
        EXPECT_TRUE(db.LoadFromData(WriteArtworkDb(f)));
        EXPECT_EQ(db.Arts.Count(), 0);
    }
    const QByteArray good = WriteArtworkDb(MakeArtSet(1029, 1031, 3, false).Db);
    const struct {
        const char* Tag;
        int Occurrence;
        bool Loads;
        uint32_t Code;
        int Items;
    } cases[] = {
        {"mhfd", 0, false, 7, 0}, {"mhli", 0, false, 8, 0}, {"mhii", 0, false, 9, 0},
        {"mhni", 0, false, 10, 0}, {"mhod", 0, false, 11, 0}, {"mhii", 2, true, 9, 2},
        {"mhni", 2, true, 10, 2},  {"mhod", 4, true, 11, 3},
    };
    for (const auto& c : cases) {
        QByteArray bytes = good;
        qsizetype at = -1;
        for (int i = 0; i <= c.Occurrence; ++i)
            at = bytes.indexOf(c.Tag, at + 1);
        ASSERT_GE(at, 0);
        bytes.replace(at, 4, "xxxx");
        TArtworkDb db("E:", false);
        EXPECT_EQ(db.LoadFromData(bytes), c.Loads) << c.Tag << c.Occurrence;
        EXPECT_EQ(db.ErrorCode, c.Code) << c.Tag << c.Occurrence;
        EXPECT_EQ(db.Arts.Count(), c.Items) << c.Tag << c.Occurrence;
    }
    // Every cut of the file ends cleanly.
    for (qsizetype n = 0; n < good.size(); n += 5) {
        TArtworkDb db("E:", false);
        db.LoadFromData(good.left(n));
        EXPECT_LE(db.Arts.Count(), 3);
    }
    TArtworkDb missing("F:", false);
    EXPECT_FALSE(missing.Load());
}

TEST_F(ArtworkDbTest, ExportsMarkedItemsAsBitmapsNamedByIndex) {
    const ArtSet set = MakeArtSet(1028, 1017, 6, false, 2); // containers 1..3
    auto db = Load(set);
    for (int i : {0, 2, 3, 5})
        db->Arts.GetItem(i)->Selected = 1;
    QFile::remove(Tree->Path("iPod_Control/Artwork/F1028_2.ithmb")); // items 2 and 3
    // An old bitmap of the same name is replaced.
    QFile old(Out + "0.bmp");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    EXPECT_EQ(db->ExportArt(), 2);
    EXPECT_EQ(Progress, 2);
    EXPECT_EQ(QDir(Out).entryList(QDir::Files | QDir::Hidden, QDir::Name), (QStringList{"0.bmp", "5.bmp"}));
    for (int i : {0, 5}) {
        QFile f(Out + QString::number(i) + ".bmp");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_EQ(bytes.size(), 66 + 100 * 100 * 2);
        const QImage image = DecodeBitfieldBitmap(bytes);
        EXPECT_EQ(image.size(), QSize(100, 100));
        ExpectQuadrants(image, i);
        // Any bitmap reader takes the file as well.
        EXPECT_EQ(QImage::fromData(bytes, "BMP").size(), QSize(100, 100));
    }
    EXPECT_EQ(db->Arts.GetItem(2)->Selected, 1); // a missing container leaves marks alone
}

TEST_F(ArtworkDbTest, UnreadableImageClearsItsMarkAndStillCountsProgress) {
    ArtSet set = MakeArtSet(1028, 1017, 2, false, 2);
    set.Containers["F1028_1.ithmb"].chop(10); // the second image runs past the end
    auto db = Load(set);
    db->Arts.GetItem(0)->Selected = 1;
    db->Arts.GetItem(1)->Selected = 1;
    EXPECT_EQ(db->ExportArt(), 1);
    EXPECT_EQ(Progress, 2);
    EXPECT_EQ(db->Arts.GetItem(1)->Selected, 0);
    EXPECT_FALSE(QFile::exists(Out + "1.bmp"));

    db->OutputFolder = Dir.path() + "/gone/";
    db->Arts.GetItem(0)->Selected = 1;
    EXPECT_THROW(db->ExportArt(), platform::EFOpenError);
}
