// The thumbnail exporters, the grid loader and the artwork export over fuzzed containers.
// The input's first 32 bytes choose the format and the photos' places; the rest is the
// container, written as container 1 of a disk-mode device. With bit 2 of byte 1 set the
// container is repeated up to the end of the first photo, so that small inputs reach the
// decoders of the large formats (a full UYVY image alone is 675 KiB).
#include "device/ArtworkDb.h"
#include "device/PhotoDb.h"
#include "device/PixelDecode.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "fuzz/FuzzSeeds.h"
#include "tests/fixtures/ThumbWriter.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

QTemporaryDir* gDir = nullptr;

constexpr int32_t kFormats[] = {1019, 1023, 1067, 1081, 1024, 1009, 3006, 7777};

uint32_t U32(const uint8_t* p) {
    return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
}

void WriteSeeds(const QString& dir) {
    // One seed per layout: parameters, then the first rows of a picture we know, repeated.
    int n = 0;
    for (const int32_t id : {1019, 1023, 1067, 1081, 1024}) {
        QByteArray params(32, '\0');
        params[0] = char(n++);
        params[1] = 4;
        const bool small = id == 1023 || id == 1081;
        const QImage picture = fixtures::QuadrantPicture(small        ? 176
                                                         : id == 1024 ? 320
                                                                      : 720,
                                                         small        ? 132
                                                         : id == 1024 ? 240
                                                                      : 480,
                                                         n);
        const int full = id == 1023 ? 46464 : id == 1024 ? 153600 : 691200;
        QByteArray image = fixtures::EncodeForFormat(id, picture, false, full);
        const uint32_t size = id == 1081 ? uint32_t(image.size()) : uint32_t(full);
        if (id != 1081)
            image.truncate(8192);
        std::memcpy(params.data() + 4, &size, 4);  // Large.Size
        std::memcpy(params.data() + 12, &size, 4); // photo 0 LargeSize
        std::memcpy(params.data() + 16, &size, 4); // photo 1 offset
        std::memcpy(params.data() + 20, &size, 4); // photo 1 LargeSize
        fuzzseeds::WriteSeed(dir, QStringLiteral("seed-%1").arg(id), params + image);
    }
}

// The container, repeated up to `needed` bytes.
QByteArray Filled(const QByteArray& container, qint64 needed) {
    if (container.isEmpty() || container.size() >= needed)
        return container;
    QByteArray out;
    out.reserve(qsizetype(needed));
    while (out.size() < needed)
        out.append(container.constData(), qsizetype(std::min<qint64>(container.size(), needed - out.size())));
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzseeds::WriteSeedsIfAsked(WriteSeeds);
    // Containers and exported pictures (each synced) stay in memory when /dev/shm is there.
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    gDir = shm.isDir() && shm.isWritable() ? new QTemporaryDir(shm.filePath() + QStringLiteral("/mg-fuzz-XXXXXX"))
                                           : new QTemporaryDir;
    std::atexit([] { delete gDir; }); // memory-backed: leave nothing behind
    QDir().mkpath(gDir->path() + "/dev/Photos/Thumbs");
    QDir().mkpath(gDir->path() + "/dev/iPod_Control/Artwork");
    platform::SetDriveTableForTesting(
        std::vector<platform::Drive>{{'E', gDir->path() + "/dev", platform::DriveRemovable, QString()}});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 32)
        return 0;
    QByteArray container(reinterpret_cast<const char*>(data) + 32, qsizetype(size - 32));
    const QByteArray bitmap(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)device::DecodeBitfieldBitmap(bitmap);

    // The resize at sizes of the input's choosing; its rows are read eight bytes at a time.
    {
        QImage source(1 + data[2] % 48, 1 + data[3] % 48, QImage::Format_RGB888);
        QImage dest(1 + data[4] % 48, 1 + data[5] % 48, QImage::Format_RGB888);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width() * 3; ++x)
                source.scanLine(y)[x] = data[(y * 7 + x) % size];
        device::ResampleBitmap(source, dest);
    }

    const int32_t id = kFormats[data[0] % std::size(kFormats)];
    const bool aspect = data[1] & 1;
    const QString out = gDir->path() + "/out/";
    QDir(out).removeRecursively();
    QDir().mkpath(out);

    device::TPhotoDb db("E:", false);
    db.Large = {id, int32_t(U32(data + 4) & 0xFFFFF), 0, 0, 1};
    db.Large.Width = 1 + data[2] % 200; // unknown ids keep these
    db.Large.Height = 1 + data[3] % 200;
    device::LookupThumbFormatSize(db.Large);
    db.Small = {1036, int32_t(U32(data + 24) & 0xFFFF), 50, 41, 1};
    for (int i = 0; i < 2; ++i) {
        device::TPhotoItem* p = db.Photos.Add();
        p->ImageId = uint32_t(i);
        p->Selected = 1;
        p->FileNo = 1;
        p->LargeOffset = U32(data + 8 + 8 * i) & 0xFFFFF;
        p->LargeSize = U32(data + 12 + 8 * i) & 0xFFFFF;
        p->SmallOffset = U32(data + 28) & 0xFFFF;
    }
    db.Photos.GetItem(0)->LargeOffset = 0;
    db.OutputFolder = out;
    if (data[1] & 4) {
        // Up to the end of the first photo only: a full decode is most of an input's time.
        const device::TPhotoItem* first = db.Photos.GetItem(0);
        const qint64 length = id == device::FormatUyvy       ? device::UyvyImageBytes
                              : id == device::FormatJpegData ? qint64(first->LargeSize)
                                                             : qint64(db.Large.Size);
        container = Filled(
            container, std::max(qint64(first->LargeOffset) + length, db.Small.Size + qint64(U32(data + 28) & 0xFFFF)));
    }
    {
        QFile f(gDir->path() + QStringLiteral("/dev/Photos/Thumbs/F%1_1.ithmb").arg(id));
        if (!f.open(QIODevice::WriteOnly))
            return 0;
        f.write(container);
    }
    try {
        db.ExportThumbs(aspect);
    } catch (const platform::Error&) {
    }
    QFile::remove(gDir->path() + QStringLiteral("/dev/Photos/Thumbs/F%1_1.ithmb").arg(id));

    QBuffer stream;
    stream.setData(container);
    stream.open(QIODevice::ReadOnly);
    db.BuildBitmapHeader(true);
    QImage tile;
    try {
        db.LoadSmallThumb(stream, 1, tile);
    } catch (const platform::Error&) {
    }

    // The artwork export and small-art loader over the same container.
    device::TArtworkDb art("E:", data[1] & 2);
    art.Large = {1028, int32_t(U32(data + 4) & 0xFFFFF), 100, 100, 1};
    art.Small = {1017, int32_t(U32(data + 24) & 0xFFFF), 56, 56, 1};
    art.BmpLarge = device::BuildBitmapHeader(art.Large, false);
    art.BmpSmall = device::BuildBitmapHeader(art.Small, false);
    device::TArtItem* item = art.Arts.Add();
    item->Selected = 1;
    item->LargeFileNo = 1;
    item->SmallFileNo = 1;
    item->LargeOffset = U32(data + 8) & 0xFFFFF;
    item->SmallOffset = U32(data + 28) & 0xFFFF;
    art.OutputFolder = out;
    {
        QFile f(gDir->path() + "/dev/iPod_Control/Artwork/F1028_1.ithmb");
        if (f.open(QIODevice::WriteOnly))
            f.write(container);
    }
    {
        QFile f(gDir->path() + "/dev/iPod_Control/Artwork/F1017_1.ithmb");
        if (f.open(QIODevice::WriteOnly))
            f.write(container);
    }
    if (!(data[1] & 2)) {
        try {
            art.ExportArt();
        } catch (const platform::Error&) {
        }
        art.LoadSmallArt(0, tile);
    }
    return 0;
}
