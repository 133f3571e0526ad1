#include "device/ArtworkDb.h"
#include "device/PixelDecode.h"
#include "platform/Errors.h"
#include "tests/device/DeviceTest.h"

using namespace device;
using namespace devtest;
using namespace fixtures;

// Items, small art and the export of marked items that can be read; then the format choice
// and the failure paths.
TEST_F(MappedDevice, ArtworkLoadsAndExportsMarkedItemsThatCanBeReadAndFailsOnlyWhereItMust) {
    EXPECT_FALSE(TArtworkDb("E:", false).Load());
    ArtSet set = MakeArtSet(1028, 1017, 7, false, 2); // containers 1..4
    set.Containers["F1028_4.ithmb"].chop(10);         // item 6 runs past the end
    WriteArtSet(Tree, set, false);
    TArtworkDb db("E:", false);
    ASSERT_TRUE(db.Load());
    EXPECT_EQ(std::pair(db.Large, db.Small.Id), std::pair(TThumbFormat{1028, 100 * 100 * 2, 100, 100, 4}, 1017));
    const TArtItem& a = *db.Arts.GetItem(3);
    EXPECT_EQ(std::tuple(a.SongDbId, a.LargeFileNo, a.LargeOffset), std::tuple(0x1000000003ull, 2, 20000u));
    QImage picture;
    ASSERT_TRUE(db.LoadSmallArt(3, picture));
    ExpectQuadrants(picture, 3, 8);
    EXPECT_FALSE(db.LoadSmallArt(7, picture));

    for (int i : {0, 2, 3, 5, 6})
        db.Arts.GetItem(i)->Selected = 1;
    db.OutputFolder = Out;
    db.OnProgress = [this] { ++Progress; };
    QFile::remove(Tree.Path("iPod_Control/Artwork/F1028_2.ithmb")); // items 2 and 3
    DeviceTree(Out).WriteFile("0.bmp", "old");                      // an old bitmap of the same name is replaced
    EXPECT_EQ(db.ExportArt(), 2);
    EXPECT_EQ(std::tuple(Progress, Files()), std::tuple(3, QStringList{"0.bmp", "5.bmp"}));
    for (int i : {0, 5})
        ExpectQuadrants(DecodeBitfieldBitmap(Read(QString::number(i) + ".bmp")), i, 8);
    // A missing container leaves marks alone; an unreadable image clears its mark.
    EXPECT_EQ(std::tuple(db.Arts.GetItem(2)->Selected, db.Arts.GetItem(6)->Selected), std::tuple(1, 0));
    db.OutputFolder = Dir.path() + "/gone/";
    EXPECT_THROW(db.ExportArt(), platform::EFOpenError);
    // One reference per image: both formats are the same and every item is dropped.
    FixtureArtworkDb one;
    for (uint32_t i = 0; i < 3; ++i)
        one.Items.push_back({.ImageId = i, .Refs = {{.FormatId = 1028, .Size = 20000, .Width = 100, .Height = 100}}});
    TArtworkDb same("E:", false);
    EXPECT_TRUE(same.LoadFromData(WriteArtworkDb(one)));
    EXPECT_EQ(std::pair(same.Small.Id, same.Arts.Count()), std::pair(1028, 0));
    // Without an image list the database loads with no items.
    EXPECT_TRUE(TArtworkDb("E:", false).LoadFromData(WriteArtworkDb({.WriteImages = false})));
    const TagDamage cases[] = {{"mhfd", 0, false, 7, 0},  {"mhli", 0, false, 8, 0},  {"mhii", 0, false, 9, 0},
                               {"mhni", 0, false, 10, 0}, {"mhod", 0, false, 11, 0}, {"mhii", 2, true, 9, 2},
                               {"mhni", 2, true, 10, 2},  {"mhod", 4, true, 11, 3},  {"mhsd", 0, true, 0, 0}};
    const QByteArray good = WriteArtworkDb(MakeArtSet(1029, 1031, 3, false).Db);
    ExpectDamage<TArtworkDb>(good, cases, 3, [](const TArtworkDb& db) { return db.Arts.Count(); });
}
