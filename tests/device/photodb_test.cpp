#include "device/PhotoDb.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/PhotoDbWriter.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace device;
using namespace fixtures;

namespace {

FixtureThumbRef Ref(int32_t id, uint16_t width, uint16_t height, int fileNo = 1, uint32_t offset = 0, uint32_t size = 0) {
    FixtureThumbRef r;
    r.FormatId = id;
    r.Width = width;
    r.Height = height;
    r.Offset = offset;
    r.Size = size ? size : uint32_t(width * height * 2);
    r.FileName = QStringLiteral(":Thumbs:F%1_%2.ithmb").arg(id).arg(fileNo);
    return r;
}

FixturePhoto Photo(uint32_t id, std::vector<FixtureThumbRef> refs) {
    FixturePhoto p;
    p.ImageId = id;
    p.Refs = std::move(refs);
    return p;
}

// A database of `n` photos, each with a 1036 small and a 1024 large reference.
FixturePhotoDb Simple(int n) {
    FixturePhotoDb db;
    for (int i = 0; i < n; ++i)
        db.Photos.push_back(Photo(uint32_t(10 + i), {Ref(1036, 50, 41, 1, uint32_t(i * 4100)),
                                                     Ref(1024, 320, 240, 1, uint32_t(i * 153600))}));
    return db;
}

// Overwrites the n-th occurrence of `tag` with `with`.
void PatchTag(QByteArray& bytes, const char* tag, const char* with, int n = 0) {
    qsizetype at = -1;
    for (int i = 0; i <= n; ++i)
        at = bytes.indexOf(tag, at + 1);
    ASSERT_GE(at, 0) << tag;
    bytes.replace(at, 4, QByteArray(with, 4));
}

} // namespace

TEST(PhotoDb, LoadsPhotosAlbumsAndFormatsFromADiskModeDevice) {
    QTemporaryDir dir;
    DeviceTree tree(dir.path() + "/ipod");
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{tree.AsDrive('E')});
    const PhotoSet set = MakePhotoSet(1019, 1036, 5, false, 3);
    WritePhotoSet(tree, set, false);

    TPhotoDb db("E:", false);
    ASSERT_TRUE(db.Load(false));
    EXPECT_EQ(db.ErrorCode, 0u);
    ASSERT_EQ(db.Photos.Count(), 5);
    EXPECT_EQ(db.Large, (TThumbFormat{1019, 691200, 720, 480, 2}));
    EXPECT_EQ(db.Small, (TThumbFormat{1036, 50 * 41 * 2, 50, 41, 1}));
    for (int i = 0; i < 5; ++i) {
        const TPhotoItem& p = *db.Photos.GetItem(i);
        EXPECT_EQ(p.ImageId, uint32_t(100 + i));
        EXPECT_EQ(p.Selected, 0);
        EXPECT_EQ(p.FileNo, i < 3 ? 1 : 2);
        EXPECT_EQ(p.LargeOffset, uint32_t((i % 3) * 691200));
        EXPECT_EQ(p.LargeSize, 691200u);
        EXPECT_EQ(p.SmallOffset, uint32_t(i * 4100));
        EXPECT_TRUE(p.FullResName.isEmpty());
    }
    EXPECT_EQ(db.HasFullRes, 0);
    ASSERT_EQ(db.Albums.Count(), 2);
    EXPECT_EQ(db.Albums.GetItem(0)->Name, QStringLiteral("Holiday \u00e9t\u00e9")); // UTF-8 name
    EXPECT_EQ(db.Albums.GetItem(0)->Count, 5);
    EXPECT_EQ(db.Albums.GetItem(1)->Count, 2);
    EXPECT_EQ(db.Albums.GetItem(1)->GetImageId(1), 101u);
    EXPECT_THROW(db.Albums.GetItem(1)->GetImageId(2), platform::Error);
    EXPECT_THROW(db.Photos.GetItem(5), platform::Error);
    EXPECT_THROW(db.Photos.GetItem(-1), platform::Error);

    TPhotoDb missing("F:", false);
    EXPECT_FALSE(missing.Load(false));
    EXPECT_EQ(missing.ErrorCode, 0u);
    platform::SetDriveTableForTesting(std::nullopt);
}

TEST(PhotoDb, ChoosesPreferredSmallAndWidestLargeFormat) {
    {
        // 1036 wins the grid although 1009 is narrower; 1019 is the widest.
        FixturePhotoDb f;
        f.Photos = {Photo(1, {Ref(1036, 50, 41), Ref(1019, 720, 480), Ref(1009, 42, 30)})};
        TPhotoDb db("E:", false);
        ASSERT_TRUE(db.LoadFromData(WritePhotoDb(f)));
        EXPECT_EQ(db.Small.Id, 1036);
        EXPECT_EQ(db.Large.Id, 1019);
    }
    {
        // The first preferred format met is kept; unknown ids keep width + padding.
        FixturePhotoDb f;
        FixtureThumbRef odd = Ref(1111, 300, 200);
        odd.HPad = 4;
        odd.VPad = 2;
        f.Photos = {Photo(1, {Ref(1066, 64, 64), Ref(1032, 42, 37), odd})};
        TPhotoDb db("E:", false);
        ASSERT_TRUE(db.LoadFromData(WritePhotoDb(f)));
        EXPECT_EQ(db.Small.Id, 1066);
        EXPECT_EQ(db.Large, (TThumbFormat{1111, 120000, 304, 202, 1}));
    }
    {
        // Skip720 passes over a 720-wide format.
        FixturePhotoDb f;
        f.Photos = {Photo(1, {Ref(1019, 720, 480), Ref(1024, 320, 240), Ref(1036, 50, 41)})};
        TPhotoDb db("E:", false);
        ASSERT_TRUE(db.LoadFromData(WritePhotoDb(f), true));
        EXPECT_EQ(db.Large.Id, 1024);
        EXPECT_EQ(db.Skip720, 1);
    }
    {
        // Every format 1024 wide or more and no preferred small id: nothing usable.
        FixturePhotoDb f;
        f.Photos = {Photo(1, {Ref(2000, 1024, 768), Ref(2001, 2048, 1536)})};
        TPhotoDb db("E:", false);
        EXPECT_FALSE(db.LoadFromData(WritePhotoDb(f)));
        EXPECT_EQ(db.ErrorCode, 0u);
    }
}

TEST(PhotoDb, FullSizeReferencesAndContainerNumbers) {
    FixturePhotoDb f;
    FixturePhoto a = Photo(1, {Ref(1036, 50, 41), Ref(1024, 320, 240, 3)});
    a.FullResPath = QStringLiteral(":2007:01:IMG_0001.JPG");
    FixturePhoto b = Photo(2, {Ref(1036, 50, 41), Ref(1024, 320, 240, 7)});
    b.FullResPath = QStringLiteral(":2007:01:IMG_0002.JPG");
    f.Photos = {a, b};
    TPhotoDb db("E:", false);
    ASSERT_TRUE(db.LoadFromData(WritePhotoDb(f)));
    EXPECT_EQ(db.HasFullRes, 1);
    // The full-size reference makes the large format 2042 wide: no thumbnail can beat it.
    EXPECT_EQ(db.Large, (TThumbFormat{0, 0, 0, 0, 1}));
    ASSERT_EQ(db.Photos.Count(), 2);
    EXPECT_EQ(db.Photos.GetItem(1)->FullResName, QStringLiteral(":2007:01:IMG_0002.JPG"));
    EXPECT_EQ(db.Photos.GetItem(1)->FileNo, 0);

    FixturePhotoDb g = Simple(0);
    g.Photos = {Photo(1, {Ref(1036, 50, 41), Ref(1024, 320, 240, 3)}), Photo(2, {Ref(1036, 50, 41), Ref(1024, 320, 240, 7)})};
    TPhotoDb numbered("E:", false);
    ASSERT_TRUE(numbered.LoadFromData(WritePhotoDb(g)));
    EXPECT_EQ(numbered.Large.FileCount, 7);
    EXPECT_EQ(numbered.Photos.GetItem(0)->FileNo, 3);

    EXPECT_EQ(ContainerFileNumber(QStringLiteral(":Thumbs:F1068_3.ithmb")), 3);
    EXPECT_EQ(ContainerFileNumber(QStringLiteral("F1068.ithmb")), 1);
    EXPECT_EQ(ContainerFileNumber(QStringLiteral("F1068_x.ithmb")), 1);
    EXPECT_EQ(ContainerFileNumber(QString()), 1);
    EXPECT_EQ(ContainerFileNumber(QStringLiteral("F1068_12")), 1);
}

TEST(PhotoDb, DropsPhotosWithoutBothReferences) {
    FixturePhotoDb f = Simple(1);
    f.Photos.push_back(Photo(50, {Ref(1009, 42, 30), Ref(1013, 220, 176)})); // neither format
    f.Photos.push_back(Photo(51, {Ref(1036, 50, 41)}));                      // small only
    FixturePhoto typeOne = Simple(1).Photos[0];
    typeOne.ImageId = 52;
    typeOne.TypeOneChild = true; // a title child is passed over
    f.Photos.push_back(typeOne);
    TPhotoDb db("E:", false);
    ASSERT_TRUE(db.LoadFromData(WritePhotoDb(f)));
    ASSERT_EQ(db.Photos.Count(), 2);
    EXPECT_EQ(db.Photos.GetItem(0)->ImageId, 10u);
    EXPECT_EQ(db.Photos.GetItem(1)->ImageId, 52u);
}

TEST(PhotoDb, ErrorCodesOfTheFailurePaths) {
    const QByteArray good = WritePhotoDb(Simple(3));
    struct Case {
        const char* Tag;
        int Occurrence;
        bool Loads;
        uint32_t Code;
        int Photos;
    };
    const Case cases[] = {
        {"mhfd", 0, false, 7, 0},
        {"mhli", 0, false, 8, 0},
        {"mhii", 0, false, 9, 0},  // the first item: no formats
        {"mhni", 0, false, 10, 0}, // during the format choice
        {"mhod", 0, false, 11, 0},
        {"mhla", 0, false, 13, 3}, // photos parsed before stay
        {"mhii", 1, true, 9, 1},   // a later item ends the list with success
        {"mhni", 2, true, 10, 2},  // drops that photo
        {"mhod", 4, true, 11, 3},  // keeps the photo as far as it was filled
    };
    for (const Case& c : cases) {
        QByteArray bytes = good;
        PatchTag(bytes, c.Tag, "xxxx", c.Occurrence);
        TPhotoDb db("E:", false);
        EXPECT_EQ(db.LoadFromData(bytes), c.Loads) << c.Tag << c.Occurrence;
        EXPECT_EQ(db.ErrorCode, c.Code) << c.Tag << c.Occurrence;
        EXPECT_EQ(db.Photos.Count(), c.Photos) << c.Tag << c.Occurrence;
    }
    // Upper-case tags are the same tags.
    QByteArray upper = good;
    PatchTag(upper, "mhfd", "MHFD");
    PatchTag(upper, "mhii", "MHII", 1);
    TPhotoDb db("E:", false);
    EXPECT_TRUE(db.LoadFromData(upper));
    EXPECT_EQ(db.Photos.Count(), 3);

    TPhotoDb empty("E:", false);
    EXPECT_FALSE(empty.LoadFromData(WritePhotoDb(Simple(0))));
    EXPECT_EQ(empty.ErrorCode, 0u);
}

TEST(PhotoDb, OddAlbumRecords) {
    FixturePhotoDb f = Simple(2);
    FixtureAlbum nameless{QString(), false, {10}, {}};
    QByteArray stranger(40, '\0');
    stranger.replace(0, 4, "mhzz");
    PutU32(stranger, 8, 40);
    PutU32(stranger, 16, 999);
    FixtureAlbum mixed{QStringLiteral("Mixed"), true, {10, 11}, {stranger}};
    f.Albums = {nameless, mixed};
    TPhotoDb db("E:", false);
    ASSERT_TRUE(db.LoadFromData(WritePhotoDb(f)));
    ASSERT_EQ(db.Albums.Count(), 1); // the album without a name record is not added
    const TPhotoAlbumItem& a = *db.Albums.GetItem(0);
    EXPECT_EQ(a.Name, QStringLiteral("Mixed"));
    EXPECT_EQ(a.ImageIds, (std::vector<uint32_t>{10, 11})); // the odd item is skipped
}

TEST(PhotoDb, DamagedBytesNeverCrashOrHang) {
    const QByteArray good = WritePhotoDb(Simple(3));
    // Every cut of the file, and zero lengths under huge counts, end their walks.
    for (qsizetype n = 0; n < good.size(); n += 7) {
        TPhotoDb db("E:", false);
        db.LoadFromData(good.left(n));
        EXPECT_LE(db.Photos.Count(), 3);
    }
    QByteArray zeroed = good;
    const qsizetype item = zeroed.indexOf("mhii");
    PutU32(zeroed, item + 8, 0);            // item total length 0
    PutU32(zeroed, zeroed.indexOf("mhli") + 8, 0x7FFFFFFF);
    PutU32(zeroed, 20, 0x7FFFFFFF);         // section count
    TPhotoDb db("E:", false);
    db.LoadFromData(zeroed);
    EXPECT_LE(db.Photos.Count(), 1);

    QByteArray child = good;
    const qsizetype mhod = child.indexOf("mhod");
    PutU32(child, mhod + 8, 0); // child total length 0 under a large child count
    PutU32(child, item + 12, 0x7FFFFFFF);
    TPhotoDb db2("E:", false);
    db2.LoadFromData(child);
    SUCCEED();
}
