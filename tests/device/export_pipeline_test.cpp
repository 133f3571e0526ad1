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

// The JPEG of one photo made on its own from its container's bytes.
static QByteArray EncodedAlone(const TPhotoDb& db, const QByteArray& container, const TPhotoItem& photo) {
    if (db.Large.Id == FormatUyvy) {
        QImage picture(640, 480, QImage::Format_RGB888);
        DecodeUyvyResampled(reinterpret_cast<const uint8_t*>(container.constData() + photo.LargeOffset), picture);
        return JpegWriter().Encode(picture);
    }
    const QByteArray header(reinterpret_cast<const char*>(db.BmpHeader.data()), BitmapHeaderSize);
    return JpegWriter().Encode(DecodeBitfieldBitmap(header + container.mid(photo.LargeOffset, db.Large.Size)));
}

// Then it stops at a folder that went away, or at a progress handler that throws.
TEST_F(MappedDevice, PhotoExportLeavesTheFilesLogAndProgressOfOnePhotoAfterAnotherAndStopsAtAFailure) {
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
        // A file of another photo's bytes is kept: the photo takes the next numbered name.
        QStringList expectedFiles{"101.jpg"};
        for (int i = 0; i < 23; ++i) {
            const TPhotoItem& photo = *db->Photos.GetItem(i);
            const QString name = (i == 1 ? "1_" : "") + QString::number(photo.ImageId) + ".jpg";
            const bool written = i != 5 && photo.FileNo != 3;
            EXPECT_EQ(photo.DestPath, written ? Out + name : QString()) << i;
            if (written) {
                expectedFiles.push_back(name);
                const QByteArray container =
                    Tree.ReadFile(QStringLiteral("Photos/Thumbs/F%1_%2.ithmb").arg(id).arg(photo.FileNo));
                EXPECT_EQ(Read(name), EncodedAlone(*db, container, photo)) << i;
            }
        }
        EXPECT_EQ(Read("101.jpg"), QByteArray("mine"));
        expectedFiles.sort();
        EXPECT_EQ(Files(), expectedFiles); // and no temporary left
    }
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
}

// A file of a photo's name stands for the photo only when it holds the photo's bytes: one cut
// short by an interrupted run, one of the same size with other bytes (as another device's photo
// of the same id), or one that appears while the export runs, is kept, and the photo takes the
// first numbered name that is free or holds its bytes. Runs again into the folder add nothing.
TEST_F(MappedDevice, PhotoExportTakesAFileForAPhotoOnlyWithItsBytesAndRunsAgainAddNothing) {
    // Photos 6 and 7 have one id and one picture: each still gets a file of its own.
    auto db = LoadPhotos(MakePhotoSet(1024, 1036, 8, false, 4,
                                      [](int i, int w, int h) { return QuadrantPicture(w, h, i == 7 ? 6 : i); }));
    db->Photos.GetItem(7)->ImageId = 106;
    EXPECT_FALSE(db->ExportThumbs(true));
    QStringList files = Files();
    const QByteArray cut = Read("102.jpg"), patched = Read("103.jpg"), photo6 = Read("106.jpg");
    EXPECT_EQ(Read("1_106.jpg"), photo6);
    QFile::resize(Out + "102.jpg", cut.size() / 2);
    QByteArray flipped = patched;
    flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 1);
    DeviceTree(Out).WriteFile("103.jpg", flipped);
    for (int run = 0; run < 3; ++run)
        EXPECT_FALSE(db->ExportThumbs(true));
    files += {"1_102.jpg", "1_103.jpg"};
    files.sort();
    EXPECT_EQ(Files(), files);
    EXPECT_EQ(std::tuple(Read("1_102.jpg"), Read("1_103.jpg"), db->Photos.GetItem(2)->DestPath),
              std::tuple(cut, patched, Out + "1_102.jpg"));
    EXPECT_EQ(Progress, 4 * 8);

    // A file that appears under a name the export has taken is kept as well; it stands for
    // the photo only with the photo's bytes.
    for (const QByteArray& appearing : {QByteArray("theirs"), photo6}) {
        QDir(Out).removeRecursively();
        QDir().mkpath(Out);
        int calls = 0;
        db->OnProgress = [&] {
            if (++calls == 7) // photo 6 has been handed over for writing
                DeviceTree(Out).WriteFile("106.jpg", appearing);
        };
        EXPECT_FALSE(db->ExportThumbs(true));
        const bool theirs = appearing != photo6;
        EXPECT_EQ(Files().size(), theirs ? 9 : 8);
        EXPECT_EQ(std::tuple(Read("106.jpg"), db->Photos.GetItem(6)->DestPath),
                  std::tuple(appearing, Out + (theirs ? "2_106.jpg" : "106.jpg")));
    }
}
