#include "device/ArtworkDb.h"

#include "device/PixelDecode.h"
#include "device/ThumbExport.h"
#include "handheld/Iphone.h"
#include "platform/Errors.h"
#include "platform/Files.h"

#include <QBuffer>

namespace device {

TArtworkDb::TArtworkDb(const QByteArray& root, bool handheld) : Root(root), HandheldFlag(handheld ? 1 : 0) {}

TArtworkDb::~TArtworkDb() = default;

bool TArtworkDb::Load() {
    struct Release {
        TArtworkDb& Db;
        ~Release() {
            Db.Stream = ByteView();
            Db.StreamData.clear();
        }
    } release{*this};

    if (!ReadImageDbFile(HandheldFlag, "/iTunes_Control/Artwork/ArtworkDB",
                         QString::fromUtf8(Root) + QStringLiteral("/iPod_Control/Artwork/ArtworkDB"), StreamData))
        return false;
    return Parse();
}

bool TArtworkDb::LoadFromData(const QByteArray& bytes) {
    StreamData = bytes;
    const bool loaded = Parse();
    Stream = ByteView();
    StreamData.clear();
    return loaded;
}

bool TArtworkDb::Parse() {
    Stream = ByteView(StreamData);
    TImageDbWalk walk(Stream.Size());
    return WalkImageDbSections(Stream, ErrorCode, [&](qint64 pos, qint64 headerLength, uint32_t type) {
        return type != 1 || ParseImageList(pos, headerLength, walk);
    });
}

bool TArtworkDb::ParseImageList(qint64 sectionPos, qint64 sectionHeaderLength, TImageDbWalk& walk) {
    if (TImageDbWalk::Again(walk.LastImageList, sectionPos + sectionHeaderLength))
        return true;
    Arts.Clear();
    return WalkImageList(
        Stream, sectionPos, sectionHeaderLength, ErrorCode, walk.ItemBytes,
        [this](qint64 first) { return ChooseArtFormats(first); }, [this](qint64 pos) { return ParseImageItem(pos); });
}

bool TArtworkDb::ChooseArtFormats(qint64 itemPos) {
    if (!Stream.Fits(itemPos, 52) || !Stream.TagIs(itemPos, "mhii")) {
        ErrorCode = ecNotMhii;
        return false;
    }
    int bestWidth = 0, smallestWidth = 1024;
    bool badReference = false;
    const ByteView item = Stream.Left(itemPos + Stream.U32(itemPos + 8));
    const bool walked = WalkImageItemChildren(item, itemPos, ErrorCode, [&](qint64 child, uint16_t type) {
        if (type == 2) {
            const ByteView c = item.Left(child + item.U32(child + 8));
            const qint64 ni = child + c.U32(child + 4);
            if (!c.Fits(ni, 36) || !c.TagIs(ni, "mhni")) {
                ErrorCode = ecNotMhni;
                badReference = true;
                return false;
            }
            const int32_t id = c.I32(ni + 16);
            const int32_t size = c.I32(ni + 24);
            const int vpad = c.U16(ni + 28), hpad = c.U16(ni + 30);
            const int height = c.U16(ni + 32), width = c.U16(ni + 34);
            if (width > bestWidth) {
                bestWidth = width;
                Large = {id, size, width + hpad, height + vpad, Large.FileCount};
            }
            if (width < smallestWidth) {
                smallestWidth = width;
                Small = {id, size, width + hpad, height + vpad, Small.FileCount};
            }
        }
        return true;
    });
    if (!walked || badReference)
        return false;
    if (HandheldFlag) {
        Small.Id = HandheldSmallId;
        Small.Size = HandheldSmallSize;
    }
    Large.FileCount = 1;
    Small.FileCount = 1;
    LookupThumbFormatSize(Small);
    LookupThumbFormatSize(Large);
    BuildBitmapHeaders();
    return bestWidth >= 1 && smallestWidth < 1024;
}

uint32_t TArtworkDb::ParseImageItem(qint64 itemPos) {
    if (!Stream.Fits(itemPos, 52) || !Stream.TagIs(itemPos, "mhii")) {
        ErrorCode = ecNotMhii;
        return 0;
    }
    const uint32_t total = Stream.U32(itemPos + 8);
    TArtItem* art = Arts.Add();
    art->ImageId = Stream.U32(itemPos + 16);
    art->SongDbId = Stream.U64(itemPos + 20);
    int found = 0;
    const ByteView item = Stream.Left(itemPos + total);
    if (!WalkImageItemChildren(item, itemPos, ErrorCode, [&](qint64 child, uint16_t type) {
            const ByteView c = item.Left(child + item.U32(child + 8));
            return ParseArtRef(c, child + c.U32(child + 4), type, found) && found < 2;
        }))
        return total; // the item stays as far as it was filled
    if (found < 2)
        Arts.Delete(Arts.Count() - 1);
    return total;
}

bool TArtworkDb::ParseArtRef(const ByteView& child, qint64 pos, int type, int& found) {
    if (!child.Fits(pos, 36) || !child.TagIs(pos, "mhni")) {
        ErrorCode = ecNotMhni;
        return false;
    }
    if (type != 2)
        return true;
    TArtItem* art = Arts.GetItem(Arts.Count() - 1);
    const int32_t id = child.I32(pos + 16);
    const TPhotoStringRecord name = ReadStringRecord(child, pos + child.U32(pos + 4));
    if (name.TotalLength == 0)
        return true;
    if (id == Large.Id) {
        art->LargeOffset = child.U32(pos + 20);
        art->LargeFileNo = ContainerFileNumber(name.Text);
        Large.FileCount = std::max(Large.FileCount, art->LargeFileNo);
        ++found;
    } else if (id == Small.Id) {
        art->SmallOffset = child.U32(pos + 20);
        art->SmallFileNo = ContainerFileNumber(name.Text);
        Small.FileCount = std::max(Small.FileCount, art->SmallFileNo);
        ++found;
    }
    return true;
}

TPhotoStringRecord TArtworkDb::ReadStringRecord(const ByteView& data, qint64 pos) {
    TPhotoStringRecord record = TPhotoDb::ReadStringRecord(data, pos);
    // Only UTF-16 names are read here.
    if (data.U16(pos + 12) != 3)
        record.Text.clear();
    return record;
}

void TArtworkDb::BuildBitmapHeaders() {
    BmpSmall = BuildBitmapHeader(Small, HandheldFlag);
    BmpLarge = BuildBitmapHeader(Large, HandheldFlag);
}

QString TArtworkDb::ContainerPath(int32_t id, int32_t fileNo) const {
    return QString::fromUtf8(Root + "/iPod_Control/Artwork/" + ContainerName(id, fileNo));
}

bool TArtworkDb::LoadSmallArt(int index, QImage& picture) {
    if (index < 0 || index >= Arts.Count() || Small.Size <= 0 || Small.Size > MaxImageBytes)
        return false;
    const TArtItem& art = *Arts.GetItem(index);
    std::unique_ptr<ThumbContainer> container;
    if (HandheldFlag) {
        QByteArray error;
        container = OpenHandheldContainer("/iTunes_Control/Artwork/" + ContainerName(Small.Id, art.SmallFileNo), error);
    } else {
        container = OpenDiskContainer(ContainerPath(Small.Id, art.SmallFileNo));
    }
    WorkStream.clear();
    QByteArray pixels;
    bool loaded = false;
    if (container && container->ReadAt(art.SmallOffset, pixels, Small.Size)) {
        WorkStream.append(reinterpret_cast<const char*>(BmpSmall.data()), BitmapHeaderSize);
        WorkStream.append(pixels);
        const QImage image = DecodeBitfieldBitmap(WorkStream);
        if (!image.isNull()) {
            picture = image;
            loaded = true;
        }
    }
    WorkStream.clear();
    return loaded;
}

int TArtworkDb::ExportArt() {
    int count = 0;
    std::vector<int32_t> used;
    for (int i = 0; i < Arts.Count(); ++i)
        used.push_back(Arts.GetItem(i)->LargeFileNo);
    QByteArray pixels;
    for (const int32_t n : ContainersToVisit(Large.FileCount, used)) {
        std::unique_ptr<ThumbContainer> container;
        if (HandheldFlag) {
            QByteArray error;
            container = OpenHandheldContainer("/iTunes_Control/Artwork/" + ContainerName(Large.Id, n), error);
        } else if (platform::FileExists(ContainerPath(Large.Id, n))) {
            container = OpenDiskContainer(ContainerPath(Large.Id, n));
        }
        if (!container)
            continue;
        for (int i = 0; i < Arts.Count(); ++i) {
            TArtItem& art = *Arts.GetItem(i);
            if (art.LargeFileNo != n || !art.Selected)
                continue;
            WorkStream.clear();
            WorkStream.append(reinterpret_cast<const char*>(BmpLarge.data()), BitmapHeaderSize);
            if (Large.Size > 0 && container->ReadAt(art.LargeOffset, pixels, Large.Size)) {
                WorkStream.append(pixels);
                // The bitmaps are temporary files of this transfer: an old one is replaced.
                SaveExportFile(OutputFolder + QString::number(i) + QStringLiteral(".bmp"), WorkStream, true);
                ++count;
            } else {
                art.Selected = 0;
            }
            WorkStream.clear();
            if (OnProgress)
                OnProgress();
        }
    }
    return count;
}

} // namespace device
