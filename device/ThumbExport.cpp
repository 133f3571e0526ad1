#include "device/ThumbExport.h"

#include "device/JpegWriter.h"
#include "device/PhotoDb.h"
#include "device/PixelDecode.h"
#include "handheld/Iphone.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/SafeWrite.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <set>

namespace device {

bool ReadHandheldAt(qint64 offset, char* dest, qint64 count) {
    // The link may hand over an image in pieces; a piece of 0 bytes is the end of the file,
    // and an image that the file does not hold in full is a failed read.
    qint64 done = 0;
    while (done < count) {
        quint32 delivered = 0;
        if (!handheld::DeviceReadAt(quint32(count - done), dest + done, offset + done, &delivered) || delivered == 0)
            return false;
        done += delivered;
    }
    return true;
}

namespace {

class DiskContainer : public ThumbContainer {
public:
    explicit DiskContainer(std::unique_ptr<QFile> file) : File(std::move(file)), Length_(File->size()) {}
    bool ReadAt(qint64 offset, char* dest, qint64 count) override {
        if (offset < 0 || count < 0 || offset > Length_ || count > Length_ - offset || !File->seek(offset))
            return false;
        qint64 done = 0;
        while (done < count) {
            const qint64 n = File->read(dest + done, count - done);
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }
    qint64 Length() const override { return Length_; }

private:
    std::unique_ptr<QFile> File;
    qint64 Length_;
};

class HandheldContainer : public ThumbContainer {
public:
    ~HandheldContainer() override { handheld::DeviceCloseFile(); }
    bool ReadAt(qint64 offset, char* dest, qint64 count) override {
        if (offset < 0 || count < 0 || count > MaxImageBytes)
            return false;
        return ReadHandheldAt(offset, dest, count);
    }
};

} // namespace

bool ThumbContainer::ReadAt(qint64 offset, QByteArray& dest, qint64 count) {
    if (count < 0 || count > MaxImageBytes)
        return false;
    // Refuse before allocating when the container is known to be shorter.
    const qint64 length = Length();
    if (length >= 0 && (offset < 0 || offset > length || count > length - offset))
        return false;
    dest.resize(qsizetype(count));
    return ReadAt(offset, dest.data(), count);
}

std::unique_ptr<ThumbContainer> OpenDiskContainer(const QString& path) {
    try {
        return std::make_unique<DiskContainer>(platform::OpenReadOnly(path));
    } catch (const platform::EFOpenError&) {
        return nullptr;
    }
}

std::unique_ptr<ThumbContainer> OpenHandheldContainer(const QByteArray& path, QByteArray& error) {
    if (!handheld::DeviceOpenFile(path)) {
        error = handheld::DeviceLastError();
        return nullptr;
    }
    return std::make_unique<HandheldContainer>();
}

bool SaveExportFile(const QString& path, const QByteArray& bytes, bool replace) {
    if (platform::WriteFileSafely(path, bytes, replace))
        return true;
    if (errno == EEXIST && !replace)
        return false;
    throw platform::EFOpenError(QStringLiteral("Cannot create file \"%1\". %2").arg(path, platform::LastErrorText()));
}

QByteArray ContainerName(int32_t id, int32_t fileNo) {
    return "F" + QByteArray::number(id) + "_" + QByteArray::number(fileNo) + ".ithmb";
}

std::vector<int32_t> ContainersToVisit(int32_t fileCount, const std::vector<int32_t>& used) {
    std::vector<int32_t> numbers;
    if (fileCount <= MaxProbedContainers) {
        for (int32_t n = 1; n <= fileCount; ++n)
            numbers.push_back(n);
        return numbers;
    }
    const std::set<int32_t> distinct(used.begin(), used.end());
    for (const int32_t n : distinct)
        if (n >= 1 && n <= fileCount)
            numbers.push_back(n);
    return numbers;
}

namespace {

// The loop that every exporter shares: each container of the large format in turn, and in it
// every selected photo, whose image `exportOne` reads and saves.
class ExportLoop {
public:
    ExportLoop(TPhotoDb& db, const char* missingText) : Db(db), MissingText(missingText) {}

    template <class Fn>
    bool Run(Fn exportOne) {
        bool result = false;
        for (const int32_t n : ContainerNumbers()) {
            std::unique_ptr<ThumbContainer> container = Open(n);
            if (!container) {
                result = true;
                continue;
            }
            for (int i = 0; i < Db.Photos.Count(); ++i) {
                TPhotoItem& photo = *Db.Photos.GetItem(i);
                if (photo.FileNo != n || !photo.Selected)
                    continue;
                const QString out = Db.OutputFolder + QString::number(photo.ImageId) + QStringLiteral(".jpg");
                if (!QFileInfo::exists(out)) {
                    const QByteArray bytes = exportOne(*container, photo);
                    if (!bytes.isEmpty())
                        SaveExportFile(out, bytes, false);
                }
                if (Db.OnProgress)
                    Db.OnProgress();
            }
        }
        return result;
    }

private:
    std::vector<int32_t> ContainerNumbers() const {
        std::vector<int32_t> used;
        for (int i = 0; i < Db.Photos.Count(); ++i)
            used.push_back(Db.Photos.GetItem(i)->FileNo);
        return ContainersToVisit(Db.Large.FileCount, used);
    }

    std::unique_ptr<ThumbContainer> Open(int32_t n) {
        const QByteArray name = ContainerName(Db.Large.Id, n);
        const QByteArray prefix = QByteArray::number(Db.Large.Id) + "_" + QByteArray::number(n);
        if (Db.HandheldFlag) {
            QByteArray error;
            auto container = OpenHandheldContainer("/Photos/Thumbs/" + name, error);
            if (!container)
                Db.Log += prefix + " :ip-" + error + "\r\n";
            return container;
        }
        const QString path = QString::fromUtf8(Db.Root + "/Photos/Thumbs/" + name);
        std::unique_ptr<ThumbContainer> container;
        if (platform::FileExists(path))
            container = OpenDiskContainer(path);
        if (!container)
            Db.Log += prefix + MissingText + "\r\n";
        return container;
    }

    TPhotoDb& Db;
    const char* MissingText;
};

} // namespace

bool TPhotoDb::ExportThumbs(bool aspect) {
    switch (Large.Id) {
    case FormatUyvy:
        return ExportUyuvThumbs(aspect);
    case FormatRgb565BigEndian:
        BuildBitmapHeader(false);
        return ExportNrgbThumbs();
    case FormatPlanarYuv:
        return ExportYuvsThumbs();
    case FormatJpegData:
        return ExportPhotoThumbs();
    default:
        BuildBitmapHeader(false);
        return ExportRgbThumbs();
    }
}

bool TPhotoDb::ExportRgbThumbs() {
    JpegWriter jpeg;
    QByteArray pixels;
    return ExportLoop(*this, " :RGB file not found.").Run([&](ThumbContainer& container, TPhotoItem& photo) {
        WorkStream.clear();
        QByteArray out;
        // A size of 0 would be no picture at all.
        if (Large.Size > 0 && container.ReadAt(photo.LargeOffset, pixels, Large.Size)) {
            WorkStream.append(reinterpret_cast<const char*>(BmpHeader.data()), BitmapHeaderSize);
            WorkStream.append(pixels);
            out = jpeg.Encode(DecodeBitfieldBitmap(WorkStream));
        }
        WorkStream.clear();
        return out;
    });
}

bool TPhotoDb::ExportNrgbThumbs() {
    JpegWriter jpeg;
    QByteArray buffer(Rgb565BigEndianBufferBytes, '\0');
    const qint64 count = std::min<qint64>(Large.Size, Rgb565BigEndianBufferBytes);
    return ExportLoop(*this, " :NRgb file not found.").Run([&](ThumbContainer& container, TPhotoItem& photo) {
        WorkStream.clear();
        QByteArray out;
        if (count > 0 && container.ReadAt(photo.LargeOffset, buffer.data(), count)) {
            SwapBytes16(reinterpret_cast<uint8_t*>(buffer.data()), count);
            WorkStream.append(reinterpret_cast<const char*>(BmpHeader.data()), BitmapHeaderSize);
            WorkStream.append(buffer.constData(), qsizetype(count));
            out = jpeg.Encode(DecodeBitfieldBitmap(WorkStream));
        }
        WorkStream.clear();
        return out;
    });
}

bool TPhotoDb::ExportUyuvThumbs(bool aspect) {
    JpegWriter jpeg;
    QImage decoded, resized;
    if (aspect)
        resized = QImage(640, 480, QImage::Format_RGB888);
    else
        decoded = QImage(UyvyWidth, UyvyHeight, QImage::Format_RGB888);
    // The whole image in one read: through the handheld link that is one request, not 480.
    QByteArray image(UyvyImageBytes, '\0');
    return ExportLoop(*this, " :UYUV file not found.").Run([&](ThumbContainer& container, TPhotoItem& photo) {
        if (!container.ReadAt(photo.LargeOffset, image.data(), UyvyImageBytes))
            return QByteArray();
        const uint8_t* next = reinterpret_cast<const uint8_t*>(image.constData());
        if (aspect) {
            // Straight to the resized picture, a row at a time.
            DecodeUyvyResampled(next, resized);
            return jpeg.Encode(resized);
        }
        const UyvyLineReader line = [&](uint8_t* out) {
            std::memcpy(out, next, UyvyLineBytes);
            next += UyvyLineBytes;
            return true;
        };
        ReadUyuvField(line, 0, decoded);
        ReadUyuvField(line, 1, decoded);
        return jpeg.Encode(decoded);
    });
}

bool TPhotoDb::ExportYuvsThumbs() {
    JpegWriter jpeg;
    QByteArray buffer(PlanarBufferBytes, '\0');
    QImage decoded(PlanarWidth, PlanarHeight, QImage::Format_RGB888);
    const qint64 count = std::min<qint64>(Large.Size, PlanarBufferBytes);
    return ExportLoop(*this, " :Yuvs file not found.").Run([&](ThumbContainer& container, TPhotoItem& photo) {
        // Bytes that a shorter image does not cover are zero, never the previous photo's.
        std::memset(buffer.data(), 0, size_t(buffer.size()));
        if (count <= 0 || !container.ReadAt(photo.LargeOffset, buffer.data(), count))
            return QByteArray();
        DecodePlanarYuv(reinterpret_cast<const uint8_t*>(buffer.constData()), decoded);
        return jpeg.Encode(decoded);
    });
}

bool TPhotoDb::ExportPhotoThumbs() {
    return ExportLoop(*this, " :Photo file not found.").Run([&](ThumbContainer& container, TPhotoItem& photo) {
        WorkStream.clear();
        QByteArray out;
        if (photo.LargeSize > 0 && container.ReadAt(photo.LargeOffset, WorkStream, photo.LargeSize))
            out = WorkStream;
        WorkStream.clear();
        return out;
    });
}

void TPhotoDb::LoadSmallThumb(QIODevice& stream, int index, QImage& picture) {
    const TPhotoItem& photo = *Photos.GetItem(index);
    WorkStream.clear();
    if (Small.Size <= 0 || Small.Size > MaxImageBytes)
        return;
    const QByteArray header(reinterpret_cast<const char*>(BmpHeader.data()), BitmapHeaderSize);
    QByteArray pixels;
    if (stream.seek(photo.SmallOffset))
        pixels = stream.read(Small.Size);
    if (pixels.size() != Small.Size)
        throw platform::Error(QStringLiteral("Stream read error"));
    WorkStream = header + pixels;
    const QImage image = DecodeBitfieldBitmap(WorkStream);
    WorkStream.clear();
    if (!image.isNull())
        picture = image;
}

void TPhotoDb::LoadSmallThumbFromDevice(QByteArray& buffer, int index, QImage& picture) {
    const TPhotoItem& photo = *Photos.GetItem(index);
    WorkStream.clear();
    if (Small.Size <= 0 || Small.Size > MaxImageBytes)
        return;
    if (buffer.size() < Small.Size)
        buffer.resize(Small.Size);
    if (ReadHandheldAt(photo.SmallOffset, buffer.data(), Small.Size)) {
        WorkStream.append(reinterpret_cast<const char*>(BmpHeader.data()), BitmapHeaderSize);
        WorkStream.append(buffer.constData(), Small.Size);
        const QImage image = DecodeBitfieldBitmap(WorkStream);
        if (!image.isNull())
            picture = image;
    }
    WorkStream.clear();
}

bool TPhotoDb::OpenDeviceThumbFile(const QByteArray& name) { return handheld::DeviceOpenFile("/Photos/Thumbs/" + name); }

bool TPhotoDb::CloseDeviceThumbFile() { return handheld::DeviceCloseFile(); }

} // namespace device
