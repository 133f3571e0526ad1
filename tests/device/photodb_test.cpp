#include "platform/Errors.h"
#include "tests/device/DeviceTest.h"

using namespace device;
using namespace devtest;
using namespace fixtures;

static FixtureThumbRef Ref(int32_t id, uint16_t width, uint16_t height, int fileNo = 1, uint32_t offset = 0) {
    const QString name = QStringLiteral(":Thumbs:F%1_%2.ithmb").arg(id).arg(fileNo);
    return {id, offset, uint32_t(width * height * 2), width, height, 0, 0, name};
}

// Photo i has the references refs[i]; `n` more each have a 1036 small and a 1024 large one.
static FixturePhotoDb Photos(std::vector<std::vector<FixtureThumbRef>> refs, int n = 0) {
    for (int i = 0; i < n; ++i)
        refs.push_back({Ref(1036, 50, 41, 1, uint32_t(i * 4100)), Ref(1024, 320, 240, 1, uint32_t(i * 153600))});
    FixturePhotoDb db;
    for (auto& r : refs)
        db.Photos.push_back({.ImageId = uint32_t(10 + db.Photos.size()), .Refs = std::move(r)});
    return db;
}

// The preferred small and the widest large format; full-size references and container numbers.
TEST(PhotoDb, ChoosesPreferredSmallAndWidestLargeFormatAndReadsFullSizeReferences) {
    FixtureThumbRef odd = Ref(1111, 300, 200);
    std::tie(odd.HPad, odd.VPad) = std::pair(4, 2);
    const std::tuple<std::vector<FixtureThumbRef>, bool, int32_t, TThumbFormat> cases[] = {
        {{Ref(1036, 50, 41), Ref(1019, 720, 480), Ref(1009, 42, 30)}, false, 1036, {1019, 691200, 720, 480, 1}},
        // The first preferred id met wins; unknown ids keep width + padding.
        {{Ref(1066, 64, 64), Ref(1032, 42, 37), odd}, false, 1066, {1111, 120000, 304, 202, 1}},
        {{Ref(1019, 720, 480), Ref(1024, 320, 240), Ref(1036, 50, 41)}, true, 1036, {1024, 153600, 320, 240, 1}},
        {{Ref(2000, 1024, 768), Ref(2001, 2048, 1536)}, false, 0, {}}, // nothing usable
    };
    for (const auto& [refs, skip720, small, large] : cases) {
        TPhotoDb db("E:", false);
        EXPECT_EQ(db.LoadFromData(WritePhotoDb(Photos({refs})), skip720), small != 0);
        EXPECT_EQ(std::tuple(db.ErrorCode, db.Small.Id, small ? db.Large : large), std::tuple(0u, small, large))
            << small;
    }
    FixturePhotoDb f =
        Photos({{Ref(1036, 50, 41), Ref(1024, 320, 240, 3)}, {Ref(1036, 50, 41), Ref(1024, 320, 240, 7)}});
    TPhotoDb numbered("E:", false);
    ASSERT_TRUE(numbered.LoadFromData(WritePhotoDb(f)));
    EXPECT_EQ(std::pair(numbered.Large.FileCount, numbered.Photos.GetItem(0)->FileNo), std::pair(7, 3));
    f.Photos[0].FullResPath = QStringLiteral(":2007:01:IMG_0001.JPG");
    f.Photos[1].FullResPath = QStringLiteral(":2007:01:IMG_0002.JPG");
    TPhotoDb db("E:", false);
    ASSERT_TRUE(db.LoadFromData(WritePhotoDb(f)));
    // The full-size reference makes the large format 2042 wide: no thumbnail can beat it.
    EXPECT_EQ(std::pair(int(db.HasFullRes), db.Large), std::pair(1, TThumbFormat{0, 0, 0, 0, 1}));
    EXPECT_EQ(db.Photos.GetItem(1)->FullResName, QStringLiteral(":2007:01:IMG_0002.JPG"));
    EXPECT_EQ((std::vector<int>{ContainerFileNumber(":Thumbs:F1068_3.ithmb"), ContainerFileNumber("F1068.ithmb"),
                                ContainerFileNumber("F1068_x.ithmb"), ContainerFileNumber("F1068_12")}),
              (std::vector<int>{3, 1, 1, 1}));
}

// The error codes of the failure paths; odd records are passed over and zero lengths end
// their walks; an odd-length UTF-16 text keeps its last byte as a character.
TEST(PhotoDb, FailurePathsOddRecordsAndZeroLengths) {
    // mhni: during the format choice; mhla: the photos parsed before stay; a later mhii ends the
    // list with success, a later mhni drops its photo, a later mhod keeps it as far as it was filled.
    const TagDamage cases[] = {{"mhfd", 0, false, 7, 0},  {"mhli", 0, false, 8, 0},  {"mhii", 0, false, 9, 0},
                               {"mhni", 0, false, 10, 0}, {"mhod", 0, false, 11, 0}, {"mhla", 0, false, 13, 3},
                               {"mhii", 1, true, 9, 1},   {"mhni", 2, true, 10, 2},  {"mhod", 4, true, 11, 3},
                               {"mhsd", 0, true, 0, 0}}; // a section that is not one ends the walk
    ExpectDamage<TPhotoDb>(WritePhotoDb(Photos({}, 3)), cases, 3, [](const TPhotoDb& db) { return db.Photos.Count(); });
    const std::vector<FixtureThumbRef> both{Ref(1036, 50, 41), Ref(1024, 320, 240)};
    FixturePhotoDb f = Photos({both, {Ref(1009, 42, 30), Ref(1013, 220, 176)}, {Ref(1036, 50, 41)}, both});
    f.Photos[3].TypeOneChild = true; // a title child is passed over
    f.Albums = {{QString(), false, {10}, {}}, {QStringLiteral("Mixed"), true, {10, 13}, {Record("mhzz", 40, 40)}}};
    TPhotoDb db("E:", false);
    ASSERT_TRUE(db.LoadFromData(WritePhotoDb(f)));
    // Photos without both references are dropped, the album without a name record is not added.
    ASSERT_EQ(std::pair(db.Photos.Count(), db.Albums.Count()), std::pair(2, 1));
    EXPECT_EQ(db.Albums.GetItem(0)->ImageIds, (std::vector<uint32_t>{10, 13})); // the odd item is skipped

    // Zero lengths under huge counts (of items, of the list, of sections at 20).
    const QByteArray good = WritePhotoDb(Photos({}, 3));
    const qsizetype item = good.indexOf("mhii");
    TPhotoDb zeroed("E:", false), child("E:", false);
    zeroed.LoadFromData(Patched(good, {{item + 8, 0}, {good.indexOf("mhli") + 8, 0x7FFFFFFF}, {20, 0x7FFFFFFF}}));
    child.LoadFromData(Patched(good, {{good.indexOf("mhod") + 8, 0}, {item + 12, 0x7FFFFFFF}}));
    EXPECT_EQ(std::pair(zeroed.Photos.Count() <= 1, child.Photos.Count() <= 3), std::pair(true, true));
    // An item's children lie inside it: the first item cut to its header has none to choose
    // formats from, the second keeps none of its references.
    for (const qsizetype at : {item, good.indexOf("mhii", item + 4)}) {
        TPhotoDb db("E:", false);
        db.LoadFromData(Patched(good, {{at + 8, ByteView(good).U32(at + 4)}}));
        EXPECT_EQ(db.ErrorCode, at == item ? ecNotMhod : ecNotMhii);
        EXPECT_EQ(db.Photos.Count() > 1 ? db.Photos.GetItem(1)->LargeSize : 0u, 0u);
    }
    // A "D" follows the record: a length that claims it still reads only the record.
    QByteArray record = QByteArray("mhod") + QByteArray(32, '\0') + QByteArray("A\0B\0C\0D\0", 8);
    for (const uint32_t length : {5u, 8u}) {
        PutFields(record, {{4, 24} /* header length */, {8, 41} /* total */, {12, 3} /* UTF-16 */, {24, length}});
        EXPECT_EQ(TPhotoDb::ReadStringRecord(ByteView(record), 0).Text, QStringLiteral("ABC"));
    }
}
