#include "device/ArtworkDb.h"
#include "device/PixelDecode.h"
#include "platform/Errors.h"
#include "tests/device/DeviceTest.h"
#include "tests/fixtures/ArtworkDbWriter.h"

#include <QFile>

using namespace device;
using namespace devtest;
using namespace fixtures;

namespace {

class ArtworkDbTest : public MappedDevice {
protected:
    std::unique_ptr<TArtworkDb> Load(const ArtSet& set) {
        WriteArtSet(Tree, set, false);
        auto db = std::make_unique<TArtworkDb>("E:", false);
        EXPECT_TRUE(db->Load());
        db->OutputFolder = Out;
        db->OnProgress = [this] { ++Progress; };
        return db;
    }
};

} // namespace

TEST_F(ArtworkDbTest, LoadsItemsAndFormatsAndTheSmallArt) {
    auto db = Load(MakeArtSet(1060, 1055, 5, false, 2));
    EXPECT_EQ(db->Large, (TThumbFormat{1060, 320 * 320 * 2, 320, 320, 3}));
    EXPECT_EQ(db->Small, (TThumbFormat{1055, 128 * 128 * 2, 128, 128, 1}));
    ASSERT_EQ(db->Arts.Count(), 5);
    const TArtItem& a = *db->Arts.GetItem(3);
    EXPECT_EQ(std::tuple(a.SongDbId, a.LargeFileNo, a.LargeOffset, a.SmallOffset),
              std::tuple(0x1000000003ull, 2, uint32_t(320 * 320 * 2), uint32_t(3 * 128 * 128 * 2)));

    QImage picture;
    ASSERT_TRUE(db->LoadSmallArt(3, picture));
    EXPECT_EQ(picture.size(), QSize(128, 128));
    ExpectQuadrants(picture, 3, 8);
    EXPECT_FALSE(db->LoadSmallArt(5, picture));
    QFile::remove(Tree.Path("iPod_Control/Artwork/F1055_1.ithmb"));
    EXPECT_FALSE(db->LoadSmallArt(0, picture));
    EXPECT_TRUE(db->WorkStream.isEmpty());
}

TEST_F(ArtworkDbTest, FormatChoiceAndFailurePaths) {
    // One reference per image: both formats are the same and every item is dropped.
    FixtureArtworkDb one;
    for (uint32_t i = 0; i < 3; ++i)
        one.Items.push_back({.ImageId = i, .Refs = {{.FormatId = 1028, .Size = 20000, .Width = 100, .Height = 100, .FileName = ":F1028_1.ithmb"}}});
    TArtworkDb same("E:", false);
    EXPECT_TRUE(same.LoadFromData(WriteArtworkDb(one)));
    EXPECT_EQ(same.Small.Id, 1028);
    EXPECT_EQ(same.Arts.Count(), 0);
    // Without an image list the database loads with no items.
    TArtworkDb noList("E:", false);
    EXPECT_TRUE(noList.LoadFromData(WriteArtworkDb({.WriteImages = false})));

    const QByteArray good = WriteArtworkDb(MakeArtSet(1029, 1031, 3, false).Db);
    ExpectDamage<TArtworkDb>(good,
                             {{"mhfd", 0, false, 7, 0}, {"mhli", 0, false, 8, 0}, {"mhii", 0, false, 9, 0},
                              {"mhni", 0, false, 10, 0}, {"mhod", 0, false, 11, 0}, {"mhii", 2, true, 9, 2},
                              {"mhni", 2, true, 10, 2}, {"mhod", 4, true, 11, 3}},
                             3, [](const TArtworkDb& db) { return db.Arts.Count(); });
    TArtworkDb missing("F:", false);
    EXPECT_FALSE(missing.Load());
}

TEST_F(ArtworkDbTest, ExportsMarkedItemsAsBitmapsNamedByIndexAndSkipsWhatCannotBeRead) {
    ArtSet set = MakeArtSet(1028, 1017, 7, false, 2); // containers 1..4
    set.Containers["F1028_4.ithmb"].chop(10);        // item 6 runs past the end
    auto db = Load(set);
    for (int i : {0, 2, 3, 5, 6})
        db->Arts.GetItem(i)->Selected = 1;
    QFile::remove(Tree.Path("iPod_Control/Artwork/F1028_2.ithmb")); // items 2 and 3
    DeviceTree(Out).WriteFile("0.bmp", "old"); // an old bitmap of the same name is replaced
    EXPECT_EQ(db->ExportArt(), 2);
    EXPECT_EQ(Progress, 3);
    EXPECT_EQ(Files(), (QStringList{"0.bmp", "5.bmp"}));
    for (int i : {0, 5}) {
        const QByteArray bytes = DeviceTree(Out).ReadFile(QString::number(i) + ".bmp");
        EXPECT_EQ(bytes.size(), 66 + 100 * 100 * 2);
        ExpectQuadrants(DecodeBitfieldBitmap(bytes), i, 8);
        EXPECT_EQ(QImage::fromData(bytes, "BMP").size(), QSize(100, 100)); // any bitmap reader takes it
    }
    // A missing container leaves marks alone; an unreadable image clears its mark.
    EXPECT_EQ(db->Arts.GetItem(2)->Selected, 1);
    EXPECT_EQ(db->Arts.GetItem(6)->Selected, 0);
    db->OutputFolder = Dir.path() + "/gone/";
    EXPECT_THROW(db->ExportArt(), platform::EFOpenError);
}
