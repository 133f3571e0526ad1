#include "device/PhotoDb.h"
#include "device/ThumbExport.h"
#include "platform/Errors.h"
#include "tests/device/DeviceTest.h"
#include "tests/fixtures/PhotoDbWriter.h"

#include <QFile>
#include <QImage>

using namespace device;
using namespace devtest;
using namespace fixtures;

namespace {

class ThumbExportTest : public MappedDevice {
protected:
    // Loads the set from drive E: with every photo selected and progress counted.
    std::unique_ptr<TPhotoDb> Load(const PhotoSet& set) {
        ClearOut();
        WritePhotoSet(Tree, set, false);
        auto db = std::make_unique<TPhotoDb>("E:", false);
        EXPECT_TRUE(db->Load(false));
        for (int i = 0; i < db->Photos.Count(); ++i)
            db->Photos.GetItem(i)->Selected = 1;
        db->OutputFolder = Out;
        db->OnProgress = [this] { ++Progress; };
        return db;
    }
    QByteArray Read(const QString& name) const {
        QFile f(Out + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

} // namespace

// Then with the last container cut inside photo 3's image: a failed read, and nothing cut
// short is left under its name.
TEST_F(ThumbExportTest, EveryLayoutExportsPicturesOfTheExpectedSizeAndColoursAndACutImageIsAFailedRead) {
    const std::tuple<int32_t, bool, QSize> cases[] = {{1019, true, {640, 480}}, {1019, false, {704, 480}},
                                                      {1067, true, {720, 480}}, {1023, true, {176, 132}},
                                                      {1024, true, {320, 240}}, {1015, true, {130, 88}},
                                                      {1081, true, {640, 480}}};
    for (const auto& [id, aspect, size] : cases) {
        SCOPED_TRACE(id);
        PhotoSet set = MakePhotoSet(id, 1009, 4, false, 3);
        for (const bool cut : {false, true}) {
            auto db = Load(set);
            db->Photos.GetItem(2)->Selected = 0;
            EXPECT_FALSE(db->ExportThumbs(aspect));
            EXPECT_EQ(Progress, 3);
            EXPECT_EQ(Files(), (cut ? QStringList{"100.jpg", "101.jpg"} : QStringList{"100.jpg", "101.jpg", "103.jpg"}));
            EXPECT_TRUE(db->Log.isEmpty());
            EXPECT_TRUE(db->WorkStream.isEmpty());
            for (const QString& name : Files()) {
                const QImage image(Out + name);
                EXPECT_EQ(image.size(), size);
                ExpectQuadrants(image, name.left(3).toInt() - 100, 12);
            }
            set.Containers[QStringLiteral("F%1_2.ithmb").arg(id)].chop(100);
        }
    }
    const PhotoSet jpeg = MakePhotoSet(1081, 1036, 3, false, 2); // stored JPEG data is written unchanged
    auto db = Load(jpeg);
    EXPECT_FALSE(db->ExportThumbs(true));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Read(QString::number(100 + i) + ".jpg"), EncodeJpegData(jpeg.Pictures[size_t(i)]));
}

// Every number from 1 to the count is looked for, also one that no photo lies in; a count
// that only a damaged database can give is not probed name by name.
TEST_F(ThumbExportTest, MissingContainersAreLoggedAndOnlyTheCountIsVisited) {
    auto db = Load(MakePhotoSet(1024, 1036, 7, false, 2)); // containers 1..4
    QFile::remove(Tree.Path("Photos/Thumbs/F1024_2.ithmb"));
    db->Photos.GetItem(0)->FileNo = 9; // outside 1..FileCount: never exported
    db->Photos.GetItem(2)->FileNo = db->Photos.GetItem(3)->FileNo = 3;
    db->Log = "before\r\n";
    EXPECT_TRUE(db->ExportThumbs(true));
    EXPECT_EQ(db->Log, QByteArray("before\r\n1024_2 :RGB file not found.\r\n"));
    EXPECT_EQ(Progress, 6);
    EXPECT_EQ(Files(), (QStringList{"101.jpg", "102.jpg", "103.jpg", "104.jpg", "105.jpg", "106.jpg"}));
    // A second run writes nothing and reports every handled photo again.
    DeviceTree(Out).WriteFile("104.jpg", "keep");
    Progress = 0;
    db->Log.clear();
    db->Large.FileCount = 2000000000;
    EXPECT_TRUE(db->ExportThumbs(true));
    EXPECT_EQ(db->Log, QByteArray("1024_9 :RGB file not found.\r\n"));
    EXPECT_EQ(Progress, 6);
    EXPECT_EQ(Read("104.jpg"), QByteArray("keep"));
    EXPECT_EQ(ContainersToVisit(3, {}), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(ContainersToVisit(MaxProbedContainers + 1, {7, 0, 3, 7, MaxProbedContainers + 2}), (std::vector<int32_t>{3, 7}));
}

TEST_F(ThumbExportTest, ImagesOfSizeZeroAreFailedReadsAndAGoneFolderRaises) {
    // A zero size is a failed read, not the whole container.
    auto db = Load(MakePhotoSet(1081, 1036, 2, false, 2));
    db->Photos.GetItem(0)->LargeSize = 0;
    EXPECT_FALSE(db->ExportThumbs(true));
    EXPECT_EQ(Files(), QStringList{"101.jpg"});
    EXPECT_EQ(Progress, 2);
    auto rgb = Load(MakePhotoSet(1024, 1036, 2, false, 2));
    rgb->Large.Size = 0;
    EXPECT_FALSE(rgb->ExportThumbs(true));
    EXPECT_TRUE(Files().isEmpty());
    // An output folder that is gone raises and leaves no partial file.
    db->OutputFolder = Dir.path() + "/gone/";
    EXPECT_THROW(db->ExportThumbs(true), platform::EFOpenError);
    EXPECT_FALSE(QDir(Dir.path() + "/gone").exists());
}
