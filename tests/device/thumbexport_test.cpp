#include "device/JpegWriter.h"
#include "device/ThumbExport.h"
#include "platform/Errors.h"
#include "tests/device/DeviceTest.h"

using namespace device;
using namespace devtest;
using namespace fixtures;

// Made again into the folder, each layout's files are the same bytes and nothing is added.
// Then with the last container cut inside photo 3's image: a failed read, and nothing cut
// short is left under its name. An image of size zero is a failed read too, not the whole
// container.
TEST_F(MappedDevice, EveryLayoutExportsItsPicturesAndOnlyTheCountedContainersAreVisited) {
    EXPECT_FALSE(TPhotoDb("E:", false).Load(false)); // no database yet
    const std::tuple<int32_t, bool, QSize> cases[] = {
        {1019, true, {640, 480}}, {1019, false, {704, 480}}, {1067, true, {720, 480}}, {1023, true, {176, 132}},
        {1024, true, {320, 240}}, {1015, true, {130, 88}},   {1081, true, {640, 480}}};
    for (const auto& [id, aspect, size] : cases) {
        SCOPED_TRACE(id);
        PhotoSet set = MakePhotoSet(id, 1009, 4, false, 3);
        for (const bool cut : {false, true}) {
            auto db = LoadPhotos(set);
            db->Photos.GetItem(2)->Selected = 0;
            for (int run = 1; run <= 2; ++run) {
                EXPECT_FALSE(db->ExportThumbs(aspect));
                EXPECT_EQ(std::pair(Progress, Files()),
                          std::pair(3 * run, QStringList({"100.jpg", "101.jpg", "103.jpg"}).mid(0, cut ? 2 : 3)));
            }
            for (const QString& name : Files()) {
                EXPECT_EQ(QImage(Out + name).size(), size);
                ExpectQuadrants(QImage(Out + name), name.left(3).toInt() - 100, 12);
            }
            set.Containers[QStringLiteral("F%1_2.ithmb").arg(id)].chop(100);
        }
    }
    const PhotoSet jpeg = MakePhotoSet(1081, 1036, 3, false, 2); // stored JPEG data is written unchanged
    std::unique_ptr<TPhotoDb> db = LoadPhotos(jpeg);
    db->Photos.GetItem(0)->LargeSize = 0;
    EXPECT_FALSE(db->ExportThumbs(true));
    EXPECT_EQ(Files(), (QStringList{"101.jpg", "102.jpg"}));
    EXPECT_EQ(Read("102.jpg"), JpegWriter().Encode(jpeg.Pictures[2]));
    db = LoadPhotos(MakePhotoSet(1024, 1036, 2, false, 2));
    db->Large.Size = 0;
    EXPECT_FALSE(db->ExportThumbs(true));
    EXPECT_TRUE(Files().isEmpty());

    // Loaded from the disk, an export looks for every number from 1 to the count, also one
    // that no photo lies in; a count that only a damaged database can give is not probed name
    // by name.
    db = LoadPhotos(MakePhotoSet(1024, 1036, 7, false, 2)); // containers 1..4
    EXPECT_EQ(std::pair(db->Large, db->Small),
              std::pair(TThumbFormat{1024, 153600, 320, 240, 4}, TThumbFormat{1036, 4100, 50, 41, 1}));
    const TPhotoItem& p = *db->Photos.GetItem(4);
    EXPECT_EQ(std::tuple(p.ImageId, p.FileNo, p.LargeOffset, p.SmallOffset), std::tuple(104u, 3, 0u, 4u * 4100));
    EXPECT_EQ(db->Albums.GetItem(0)->Name, QStringLiteral("Holiday \u00e9t\u00e9")); // UTF-8 name
    EXPECT_EQ(db->Albums.GetItem(1)->ImageIds, (std::vector<uint32_t>{100, 101}));
    EXPECT_THROW(db->Albums.GetItem(1)->GetImageId(2), platform::Error);
    EXPECT_THROW(db->Photos.GetItem(7), platform::Error);
    QFile::remove(Tree.Path("Photos/Thumbs/F1024_2.ithmb"));
    db->Photos.GetItem(0)->FileNo = 9; // outside 1..FileCount: never exported
    db->Photos.GetItem(2)->FileNo = db->Photos.GetItem(3)->FileNo = 3;
    EXPECT_TRUE(db->ExportThumbs(true));
    EXPECT_EQ(std::pair(db->Log, db->MissingContainers),
              std::pair(QByteArray("1024_2 :RGB file not found.\r\n"), std::vector<int32_t>{2}));
    EXPECT_EQ(Files(), (QStringList{"101.jpg", "102.jpg", "103.jpg", "104.jpg", "105.jpg", "106.jpg"}));
    db->Log.clear();
    db->Large.FileCount = 2000000000;
    EXPECT_TRUE(db->ExportThumbs(true));
    EXPECT_EQ(std::pair(db->Log, db->MissingContainers),
              std::pair(QByteArray("1024_9 :RGB file not found.\r\n"), std::vector<int32_t>{9}));
    EXPECT_EQ(ContainersToVisit(MaxProbedContainers + 1, {7, 0, 3, 7, MaxProbedContainers + 2}),
              (std::vector<int32_t>{3, 7}));
}
