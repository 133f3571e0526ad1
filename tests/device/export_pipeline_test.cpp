// The photo export overlaps reading, encoding and writing; what it leaves behind must be what
// one photo after another would have left: the same files, log and progress, also on failure.
#include "device/JpegWriter.h"
#include "device/PixelDecode.h"
#include "platform/Errors.h"
#include "tests/device/DeviceTest.h"

#include <stdexcept>
#include <thread>

using namespace device;
using namespace devtest;
using namespace fixtures;

namespace {

// The JPEG of one photo made on its own from its container's bytes.
QByteArray EncodedAlone(const TPhotoDb& db, const QByteArray& container, const TPhotoItem& photo) {
    if (db.Large.Id == FormatUyvy) {
        QImage picture(640, 480, QImage::Format_RGB888);
        DecodeUyvyResampled(reinterpret_cast<const uint8_t*>(container.constData() + photo.LargeOffset), picture);
        return JpegWriter().Encode(picture);
    }
    const QByteArray header(reinterpret_cast<const char*>(db.BmpHeader.data()), BitmapHeaderSize);
    return JpegWriter().Encode(DecodeBitfieldBitmap(header + container.mid(photo.LargeOffset, db.Large.Size)));
}

} // namespace

TEST_F(MappedDevice, PhotoExportLeavesTheFilesLogAndProgressOfOnePhotoAfterAnother) {
    for (const int32_t id : {1019, 1024}) {
        SCOPED_TRACE(id);
        auto db = LoadPhotos(MakePhotoSet(id, 1036, 23, false, 4)); // containers 1..6, four photos each
        QFile::remove(Tree.Path(QStringLiteral("Photos/Thumbs/F%1_3.ithmb").arg(id)));
        db->Photos.GetItem(5)->Selected = 0;
        DeviceTree(Out).WriteFile("101.jpg", "mine");
        // Each call sees the log of the containers walked so far, on the calling thread.
        QList<QByteArray> logAtCall;
        db->OnProgress = [&, caller = std::this_thread::get_id()] {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            logAtCall.push_back(db->Log);
        };
        EXPECT_TRUE(db->ExportThumbs(true));
        const QByteArray line =
            QByteArray::number(id) + "_3 :" + (id == 1019 ? "UYUV" : "RGB") + " file not found.\r\n";
        // Photos 0..7 but the unmarked 5 before the missing container, 12..22 after it.
        EXPECT_EQ(logAtCall, QList<QByteArray>(7) + QList<QByteArray>(11, line));
        db->BuildBitmapHeader(false);
        QStringList expectedFiles{"101.jpg"};
        for (int i = 0; i < 23; ++i) {
            const TPhotoItem& photo = *db->Photos.GetItem(i);
            const QString name = QString::number(photo.ImageId) + ".jpg";
            if (i != 1 && i != 5 && photo.FileNo != 3) {
                expectedFiles.push_back(name);
                const QString container = QStringLiteral("Photos/Thumbs/F%1_%2.ithmb").arg(id).arg(photo.FileNo);
                EXPECT_EQ(Read(name), EncodedAlone(*db, Tree.ReadFile(container), photo)) << i;
            }
        }
        EXPECT_EQ(Read("101.jpg"), QByteArray("mine"));
        expectedFiles.sort();
        EXPECT_EQ(Files(), expectedFiles); // and no temporary left
    }
}

TEST_F(MappedDevice, PhotoExportStopsAtAGoneFolderOrAFailingProgressHandlerAndKeepsAFileThatAppears) {
    auto db = LoadPhotos(MakePhotoSet(1024, 1036, 12, false, 4));
    db->OnProgress = [&] {
        if (++Progress == 3)
            QDir(Out).removeRecursively();
    };
    EXPECT_THROW(db->ExportThumbs(true), platform::EFOpenError);
    EXPECT_EQ(Progress, 3); // raised at the photo it reached

    db = LoadPhotos(MakePhotoSet(1019, 1036, 12, false, 4));
    db->OnProgress = [&] {
        if (++Progress == 2)
            throw std::runtime_error("stop");
    };
    EXPECT_THROW(db->ExportThumbs(true), std::runtime_error);
    EXPECT_EQ(Files(), (QStringList{"100.jpg", "101.jpg"}));

    db = LoadPhotos(MakePhotoSet(1024, 1036, 8, false, 4));
    db->OnProgress = [&] {
        if (!QFile::exists(Out + "106.jpg"))
            DeviceTree(Out).WriteFile("106.jpg", "theirs");
    };
    EXPECT_FALSE(db->ExportThumbs(true));
    EXPECT_EQ(Read("106.jpg"), QByteArray("theirs"));
    EXPECT_EQ(Files().size(), 8);
}
