#include "device/PhotoDb.h"

#include "handheld/Iphone.h"
#include "platform/Errors.h"
#include "platform/Files.h"

#include <QBuffer>

namespace device {

void RaiseListIndexError(int index) {
    throw platform::Error(QStringLiteral("List index out of bounds (%1)").arg(index));
}

uint32_t TPhotoAlbumItem::GetImageId(int i) const {
    if (i < 0 || i >= Count || size_t(i) >= ImageIds.size())
        RaiseListIndexError(i);
    return ImageIds[size_t(i)];
}

int32_t ContainerFileNumber(const QString& name) {
    const qsizetype underscore = name.indexOf(u'_');
    const qsizetype dot = name.indexOf(u'.');
    if (underscore < 0 || dot <= underscore)
        return 1;
    bool ok = false;
    const int32_t number = name.mid(underscore + 1, dot - underscore - 1).toInt(&ok, 10);
    return ok ? number : 1;
}

TPhotoDb::TPhotoDb(const QByteArray& root, bool handheld) : HandheldFlag(handheld ? 1 : 0), Root(root) {}

TPhotoDb::~TPhotoDb() = default;

TPhotoStringRecord TPhotoDb::ReadStringRecord(const ByteView& data, qint64 pos) {
    TPhotoStringRecord record;
    if (!data.Fits(pos, 16) || !data.TagIs(pos, "mhod"))
        return record;
    record.TotalLength = data.U32(pos + 8);
    const uint16_t type = data.U16(pos + 12);
    const qint64 textHeader = pos + data.U32(pos + 4);
    if (type == 1 || type == 3) {
        // The text never reaches past its own record, whatever length it claims.
        const ByteView own = data.Left(pos + record.TotalLength);
        const qint64 length = own.U32(textHeader);
        if (own.Fits(textHeader, 12))
            record.Text = type == 1 ? own.Utf8(textHeader + 12, length) : own.Utf16Le(textHeader + 12, length);
    }
    return record;
}

bool TPhotoDb::Load(bool skip720) {
    Skip720 = skip720 ? 1 : 0;
    // The bytes are released on every path out of Load.
    struct Release {
        TPhotoDb& Db;
        ~Release() {
            Db.Stream = ByteView();
            Db.StreamData.clear();
        }
    } release{*this};

    if (!ReadImageDbFile(HandheldFlag, "/Photos/Photo Database",
                         QString::fromUtf8(Root) + QStringLiteral("/Photos/Photo Database"), StreamData))
        return false;
    return Parse();
}

bool ReadImageDbFile(bool handheld, const char* handheldPath, const QString& diskPath, QByteArray& data) {
    if (handheld) {
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        return handheld::DeviceReadFile(handheldPath, buffer);
    }
    if (!platform::FileExists(diskPath))
        return false;
    data = platform::OpenReadOnly(diskPath)->readAll();
    return true;
}

bool TPhotoDb::LoadFromData(const QByteArray& bytes, bool skip720) {
    Skip720 = skip720 ? 1 : 0;
    StreamData = bytes;
    const bool loaded = Parse();
    Stream = ByteView();
    StreamData.clear();
    return loaded;
}

bool WalkImageDbSections(const ByteView& data, uint32_t& errorCode,
                         const std::function<bool(qint64 pos, qint64 headerLength, uint32_t type)>& section) {
    if (!data.Fits(0, 28) || !data.TagIs(0, "mhfd")) {
        errorCode = ecNotMhfd;
        return false;
    }
    const int32_t sections = data.I32(20);
    qint64 pos = data.U32(4);
    for (int32_t s = 0; s < sections; ++s) {
        // A section that does not fit, is not one, or would not advance, ends the walk.
        if (!data.Fits(pos, 16) || !data.TagIs(pos, "mhsd"))
            break;
        const qint64 totalLength = data.U32(pos + 8);
        if (!section(pos, data.U32(pos + 4), data.U32(pos + 12)))
            return false;
        if (totalLength == 0)
            break;
        pos += totalLength;
    }
    return true;
}

bool WalkImageItemChildren(const ByteView& data, qint64 itemPos, uint32_t& errorCode,
                           const std::function<bool(qint64 pos, uint16_t type)>& child) {
    const int32_t children = data.I32(itemPos + 12);
    qint64 pos = itemPos + data.U32(itemPos + 4);
    for (int32_t c = 0; c < children; ++c) {
        if (!data.Fits(pos, 16) || !data.TagIs(pos, "mhod")) {
            errorCode = ecNotMhod;
            return false;
        }
        if (!child(pos, data.U16(pos + 12)))
            break;
        const uint32_t total = data.U32(pos + 8);
        if (total == 0)
            break;
        pos += total;
    }
    return true;
}

bool WalkImageList(const ByteView& data, qint64 sectionPos, qint64 sectionHeaderLength, uint32_t& errorCode,
                   qint64& itemBytes, const std::function<bool(qint64 firstItem)>& choose,
                   const std::function<uint32_t(qint64 pos)>& item) {
    const qint64 listPos = sectionPos + sectionHeaderLength;
    if (!data.Fits(listPos, 12) || !data.TagIs(listPos, "mhli")) {
        errorCode = ecNotMhli;
        return false;
    }
    const uint32_t count = data.U32(listPos + 8);
    if (count == 0)
        return false;
    qint64 pos = listPos + data.U32(listPos + 4);
    if (!TImageDbWalk::Take(itemBytes, data.U32(pos + 8)) || !choose(pos))
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (!TImageDbWalk::Take(itemBytes, data.U32(pos + 8)))
            break;
        const uint32_t length = item(pos);
        if (length == 0)
            break;
        pos += length;
    }
    return true;
}

bool TPhotoDb::Parse() {
    Stream = ByteView(StreamData);
    TImageDbWalk walk(Stream.Size());
    return WalkImageDbSections(Stream, ErrorCode, [&](qint64 pos, qint64 headerLength, uint32_t type) {
        if (type == 1)
            return ParseImageList(pos, headerLength, walk);
        if (type == 2)
            return ParseAlbumList(pos, headerLength, walk);
        return true;
    });
}

bool TPhotoDb::ParseImageList(qint64 sectionPos, qint64 sectionHeaderLength, TImageDbWalk& walk) {
    if (TImageDbWalk::Again(walk.LastImageList, sectionPos + sectionHeaderLength))
        return true;
    Photos.Clear();
    return WalkImageList(
        Stream, sectionPos, sectionHeaderLength, ErrorCode, walk.ItemBytes,
        [this](qint64 first) { return ChooseThumbFormats(first); }, [this](qint64 pos) { return ParseImageItem(pos); });
}

bool TPhotoDb::ChooseThumbFormats(qint64 itemPos) {
    if (!Stream.Fits(itemPos, 52) || !Stream.TagIs(itemPos, "mhii")) {
        ErrorCode = ecNotMhii;
        return false;
    }
    int bestWidth = 0, smallestWidth = 1024;
    bool smallLocked = false;
    bool badReference = false;
    const ByteView item = Stream.Left(itemPos + Stream.U32(itemPos + 8));
    const bool walked = WalkImageItemChildren(item, itemPos, ErrorCode, [&](qint64 child, uint16_t type) {
        if (type == 5) {
            HasFullRes = 1;
            Large.Id = Large.Size = Large.Width = Large.Height = 0;
            bestWidth = 2042;
        } else if (type == 2) {
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
            if (width > bestWidth && !(Skip720 && width == 720)) {
                bestWidth = width;
                Large = {id, size, width + hpad, height + vpad, Large.FileCount};
            }
            if (!smallLocked) {
                // The grid's preferred formats win over narrower ones.
                if (id == 1036 || id == 1066 || id == 1032 || id == 3004) {
                    smallLocked = true;
                    smallestWidth = 1;
                    Small.Id = id;
                    Small.Size = size;
                } else if (width < smallestWidth) {
                    smallestWidth = width;
                    Small = {id, size, width + hpad, height + vpad, Small.FileCount};
                }
            }
        }
        return true;
    });
    if (!walked || badReference)
        return false;
    Large.FileCount = 1;
    Small.FileCount = 1;
    if (bestWidth <= 0 || smallestWidth >= 1024)
        return false;
    LookupThumbFormatSize(Small);
    LookupThumbFormatSize(Large);
    return true;
}

uint32_t TPhotoDb::ParseImageItem(qint64 itemPos) {
    if (!Stream.Fits(itemPos, 52) || !Stream.TagIs(itemPos, "mhii")) {
        ErrorCode = ecNotMhii;
        return 0;
    }
    const uint32_t total = Stream.U32(itemPos + 8);
    TPhotoItem* photo = Photos.Add();
    photo->ImageId = Stream.U32(itemPos + 16);
    int found = 0;
    const ByteView item = Stream.Left(itemPos + total);
    if (!WalkImageItemChildren(item, itemPos, ErrorCode, [&](qint64 child, uint16_t type) {
            const ByteView c = item.Left(child + item.U32(child + 8));
            return ParseThumbRef(c, child + c.U32(child + 4), type, found) && found < 2;
        }))
        return total; // the photo stays as far as it was filled
    if (found < 2)
        Photos.Delete(Photos.Count() - 1);
    return total;
}

bool TPhotoDb::ParseThumbRef(const ByteView& child, qint64 pos, int type, int& found) {
    if (type == 1)
        return true;
    if (!child.Fits(pos, 36) || !child.TagIs(pos, "mhni")) {
        ErrorCode = ecNotMhni;
        return false;
    }
    TPhotoItem* photo = Photos.GetItem(Photos.Count() - 1);
    const TPhotoStringRecord name = ReadStringRecord(child, pos + child.U32(pos + 4));
    if (type == 5) {
        if (name.TotalLength != 0) {
            photo->FullResName = name.Text;
            ++found;
        }
    } else if (type == 2) {
        const int32_t id = child.I32(pos + 16);
        if (id == Large.Id && name.TotalLength != 0) {
            photo->LargeOffset = child.U32(pos + 20);
            photo->LargeSize = child.U32(pos + 24);
            photo->FileNo = ContainerFileNumber(name.Text);
            ++found;
            Large.FileCount = std::max(Large.FileCount, photo->FileNo);
        } else if (id == Small.Id) {
            photo->SmallOffset = child.U32(pos + 20);
            ++found;
        }
    }
    return true;
}

bool TPhotoDb::ParseAlbumList(qint64 sectionPos, qint64 sectionHeaderLength, TImageDbWalk& walk) {
    const qint64 listPos = sectionPos + sectionHeaderLength;
    if (!Stream.Fits(listPos, 12) || !Stream.TagIs(listPos, "mhla")) {
        ErrorCode = ecNotMhla;
        return false;
    }
    if (TImageDbWalk::Again(walk.LastAlbumList, listPos))
        return true;
    Albums.Clear();
    const uint32_t count = Stream.U32(listPos + 8);
    qint64 pos = listPos + Stream.U32(listPos + 4);
    for (uint32_t i = 0; i < count && Stream.Fits(pos, 64); ++i) {
        const uint32_t total = Stream.U32(pos + 8);
        if (!TImageDbWalk::Take(walk.AlbumBytes, total))
            break;
        // An album's names and items lie inside it.
        const ByteView own = Stream.Left(pos + total);
        const uint32_t items = own.U32(pos + 16);
        qint64 at = pos + own.U32(pos + 4);
        const TPhotoStringRecord name = ReadStringRecord(own, at);
        if (name.TotalLength != 0) {
            TPhotoAlbumItem* album = Albums.Add();
            album->Name = name.Text;
            for (TPhotoStringRecord r = name; r.TotalLength != 0; r = ReadStringRecord(own, at))
                at += r.TotalLength;
            for (uint32_t k = 0; k < items && own.Fits(at, 20); ++k) {
                if (own.TagIs(at, "mhia")) {
                    album->ImageIds.push_back(own.U32(at + 16));
                    ++album->Count;
                }
                const uint32_t itemTotal = own.U32(at + 8);
                if (itemTotal == 0)
                    break;
                at += itemTotal;
            }
        }
        if (total == 0)
            break;
        pos += total;
    }
    return true;
}

void TPhotoDb::BuildBitmapHeader(bool small) {
    BmpHeader = device::BuildBitmapHeader(small ? Small : Large, HandheldFlag);
}

} // namespace device
