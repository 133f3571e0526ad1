// The photo export overlaps reading, encoding and writing; what it leaves behind must be what
// one photo after another would have left: the same files, log and progress, also on failure.
#include "device/JpegWriter.h"
#include "device/PhotoDb.h"
#include "device/PixelDecode.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/PhotoDbWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

using namespace device;
using namespace fixtures;

namespace {

class ExportPipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        Tree = std::make_unique<DeviceTree>(Dir.path() + "/ipod");
        platform::SetDriveTableForTesting(std::vector<platform::Drive>{Tree->AsDrive('E')});
        Out = Dir.path() + "/out/";
        QDir().mkpath(Out);
    }
    void TearDown() override { platform::SetDriveTableForTesting(std::nullopt); }

    std::unique_ptr<TPhotoDb> Load(int32_t id, int count) {
        WritePhotoSet(*Tree, MakePhotoSet(id, 1036, count, false, 4), false);
        auto db = std::make_unique<TPhotoDb>("E:", false);
        EXPECT_TRUE(db->Load(false));
        for (int i = 0; i < db->Photos.Count(); ++i)
            db->Photos.GetItem(i)->Selected = 1;
        db->OutputFolder = Out;
        return db;
    }

    QByteArray Read(const QString& path) const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QStringList Entries() const { return QDir(Out).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name); }

    QTemporaryDir Dir;
    std::unique_ptr<DeviceTree> Tree;
    QString Out;
};

// The JPEG of one photo made on its own from its container's bytes.
QByteArray EncodedAlone(const TPhotoDb& db, const QByteArray& container, const TPhotoItem& photo) {
    JpegWriter jpeg;
    if (db.Large.Id == FormatUyvy) {
        QImage picture(640, 480, QImage::Format_RGB888);
        DecodeUyvyResampled(reinterpret_cast<const uint8_t*>(container.constData() + photo.LargeOffset), picture);
        return jpeg.Encode(picture);
    }
    QByteArray file(reinterpret_cast<const char*>(db.BmpHeader.data()), BitmapHeaderSize);
    file += container.mid(photo.LargeOffset, db.Large.Size);
    return jpeg.Encode(DecodeBitfieldBitmap(file));
}

} // namespace

TEST_F(ExportPipelineTest, FilesLogAndProgressAreThoseOfOnePhotoAfterAnother) {
    for (const int32_t id : {1019, 1024}) {
        SCOPED_TRACE(id);
        QDir(Out).removeRecursively();
        QDir().mkpath(Out);
        auto db = Load(id, 23); // containers 1..6, four photos each
        QFile::remove(Tree->Path(QStringLiteral("Photos/Thumbs/F%1_3.ithmb").arg(id)));
        db->Photos.GetItem(5)->Selected = 0;
        QFile kept(Out + "101.jpg");
        ASSERT_TRUE(kept.open(QIODevice::WriteOnly));
        kept.write("mine");
        kept.close();
        // Each call sees the log of the containers walked so far, on the calling thread.
        QList<QByteArray> logAtCall;
        const auto caller = std::this_thread::get_id();
        db->OnProgress = [&] {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            logAtCall.push_back(db->Log);
        };
        EXPECT_TRUE(db->ExportThumbs(true));

        const QByteArray line = QByteArray::number(id) + "_3 :" + (id == 1019 ? "UYUV" : "RGB") + " file not found.\r\n";
        EXPECT_EQ(db->Log, line);
        QList<QByteArray> expectedLogs;
        for (int i = 0; i < 23; ++i)
            if (i != 5 && (i < 8 || i >= 12))
                expectedLogs.push_back(i < 8 ? QByteArray() : line);
        EXPECT_EQ(logAtCall, expectedLogs);

        db->BuildBitmapHeader(false);
        QStringList expectedFiles;
        for (int i = 0; i < 23; ++i) {
            const TPhotoItem& photo = *db->Photos.GetItem(i);
            const QString name = QString::number(photo.ImageId) + ".jpg";
            const bool written = i != 1 && i != 5 && photo.FileNo != 3;
            if (written || i == 1)
                expectedFiles.push_back(name);
            if (written) {
                const QString container = QStringLiteral("Photos/Thumbs/F%1_%2.ithmb").arg(id).arg(photo.FileNo);
                EXPECT_EQ(Read(Out + name), EncodedAlone(*db, Read(Tree->Path(container)), photo)) << i;
            }
        }
        EXPECT_EQ(Read(Out + "101.jpg"), QByteArray("mine"));
        expectedFiles.sort();
        EXPECT_EQ(Entries(), expectedFiles); // and no temporary left
    }
}

TEST_F(ExportPipelineTest, AFolderGoneMidwayRaisesAtThePhotoItReached) {
    auto db = Load(1024, 12);
    int calls = 0;
    db->OnProgress = [&] {
        if (++calls == 3)
            QDir(Out).removeRecursively();
    };
    try {
        db->ExportThumbs(true);
        FAIL() << "no error";
    } catch (const platform::EFOpenError& e) {
        EXPECT_EQ(e.Message().toStdString(), ("Cannot create file \"" + Out + "103.jpg\". No such file or directory").toStdString());
    }
    EXPECT_EQ(calls, 3);
}

TEST_F(ExportPipelineTest, AFailingProgressHandlerStopsWithTheFilesBeforeItInPlace) {
    auto db = Load(1019, 12);
    int calls = 0;
    db->OnProgress = [&] {
        if (++calls == 2)
            throw std::runtime_error("stop");
    };
    EXPECT_THROW(db->ExportThumbs(true), std::runtime_error);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(Entries(), (QStringList{"100.jpg", "101.jpg"}));
}

TEST_F(ExportPipelineTest, AFileThatAppearsDuringTheExportIsKept) {
    auto db = Load(1024, 8);
    db->OnProgress = [&] {
        QFile f(Out + "106.jpg");
        if (!f.exists() && f.open(QIODevice::WriteOnly))
            f.write("theirs");
    };
    EXPECT_FALSE(db->ExportThumbs(true));
    EXPECT_EQ(Read(Out + "106.jpg"), QByteArray("theirs"));
    EXPECT_EQ(Entries().size(), 8);
}
