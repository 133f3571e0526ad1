#pragma once
// The device's photo database ("Photo Database"): photos with the places of their thumbnails,
// full-size file references and albums; chooses the large (export) and small (grid) formats.
// The thumbnail exporters and grid loaders are in ThumbExport.cpp.
#include "device/ByteView.h"
#include "device/ThumbFormat.h"

#include <QByteArray>
#include <QImage>
#include <QIODevice>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace device {

class ExportSink;

// Called by the exporters once per handled item, on the thread that runs the export.
using TProgressEvent = std::function<void()>;

// An owning list of items addressed by index; an index outside it raises platform::Error
// ("List index out of bounds (n)").
template <class T>
class TCollection {
public:
    T* Add() {
        Items.push_back(std::make_unique<T>());
        return Items.back().get();
    }
    T* GetItem(int index) const;
    T* operator[](int index) const { return GetItem(index); }
    int Count() const { return int(Items.size()); }
    void Clear() { Items.clear(); }
    void Delete(int index);

private:
    std::vector<std::unique_ptr<T>> Items;
};

[[noreturn]] void RaiseListIndexError(int index);

template <class T>
T* TCollection<T>::GetItem(int index) const {
    if (index < 0 || index >= Count())
        RaiseListIndexError(index);
    return Items[size_t(index)].get();
}

template <class T>
void TCollection<T>::Delete(int index) {
    if (index < 0 || index >= Count())
        RaiseListIndexError(index);
    Items.erase(Items.begin() + index);
}

struct TPhotoItem {
    uint8_t Selected = 0; // checked for export
    uint32_t ImageId = 0; // albums refer to it; the exported file is named after it
    int32_t FileNo = 0;   // container number of the large thumbnail
    uint32_t LargeOffset = 0;
    uint32_t LargeSize = 0;
    uint32_t SmallOffset = 0;
    QString FullResName; // ':'-separated path under Photos, empty when none
    // The file that holds the photo after the last thumbnail export (written then, or found
    // holding its bytes); empty when none.
    QString DestPath;
};

struct TPhotoAlbumItem {
    QString Name;
    std::vector<uint32_t> ImageIds;
    int32_t Count = 0;

    uint32_t GetImageId(int i) const;
};

using TPhotoList = TCollection<TPhotoItem>;
using TPhotoAlbumList = TCollection<TPhotoAlbumItem>;

// Result of reading a photo/artwork string record: its total length (0 when the record is
// not an "mhod") and its text.
struct TPhotoStringRecord {
    uint32_t TotalLength = 0;
    QString Text;
};

// The file number of a container name "...F<id>_<n>.ithmb": the text between the first '_'
// and the first '.', 1 when that is not a decimal number.
int32_t ContainerFileNumber(const QString& name);

// ErrorCode values of TPhotoDb and TArtworkDb: the record that was not where it belonged.
enum : uint32_t {
    ecNotMhfd = 7,  // root record
    ecNotMhli = 8,  // image list
    ecNotMhii = 9,  // image item
    ecNotMhni = 10, // thumbnail reference
    ecNotMhod = 11, // child of an image item
    ecNotMhla = 13, // album list
};

// The bytes of a database file: through the link from `handheldPath` on a handheld, from
// `diskPath` on a disk-mode iPod. False when it cannot be read.
bool ReadImageDbFile(bool handheld, const char* handheldPath, const QString& diskPath, QByteArray& data);

// What the walks of one photo or artwork database load may still cover. In a sound database no
// byte belongs to two image items or two albums and each list is walked once, while sections
// that point at one list again and again, or records that overlap, would make a small file cost
// time by the square of its size. With this guard a load costs a few passes over its bytes.
struct TImageDbWalk {
    explicit TImageDbWalk(qint64 size) : ItemBytes(2 * size), AlbumBytes(size) {}
    qint64 ItemBytes; // image items; a list's first item counts once more, for the format choice
    qint64 AlbumBytes;
    qint64 LastImageList = -1, LastAlbumList = -1;

    // Takes `bytes` from `budget`; false when they do not fit.
    static bool Take(qint64& budget, qint64 bytes) {
        if (bytes > budget)
            return false;
        budget -= bytes;
        return true;
    }
    // `list` is the list of its kind walked last: walked again it would give the same items.
    static bool Again(qint64& last, qint64 list) { return std::exchange(last, list) == list; }
};

// The section walk that the photo and artwork databases share: the root must be an "mhfd"
// (else `errorCode` ecNotMhfd and false); then each section in turn goes to `section` with its
// position, header length and type, and a false answer ends the walk with false. A section
// that does not fit, is not an "mhsd", or whose total length is 0, ends the walk.
bool WalkImageDbSections(const ByteView& data, uint32_t& errorCode,
                         const std::function<bool(qint64 pos, qint64 headerLength, uint32_t type)>& section);

// The image list of a section: an "mhli" (else `errorCode` ecNotMhli and false), false without items;
// `choose` picks the formats from the first item, then `item` parses the items one after another,
// each at the previous one plus the length it returned, until the count, a length of 0 or an
// item that the budget `itemBytes` cannot cover (false when that is the first item).
bool WalkImageList(const ByteView& data, qint64 sectionPos, qint64 sectionHeaderLength, uint32_t& errorCode,
                   qint64& itemBytes, const std::function<bool(qint64 firstItem)>& choose,
                   const std::function<uint32_t(qint64 pos)>& item);

// The children of the image item at `itemPos`: each "mhod" goes to `child` with its position
// and type, until `child` answers false, the count is reached or a child's total length is 0.
// A child that is not an "mhod" sets `errorCode` ecNotMhod and ends the walk with false. Callers
// pass `data` cut at the item's end (ByteView::Left), so that the walk stays inside the item.
bool WalkImageItemChildren(const ByteView& data, qint64 itemPos, uint32_t& errorCode,
                           const std::function<bool(qint64 pos, uint16_t type)>& child);

class TPhotoDb {
public:
    // Create: nothing is read.
    TPhotoDb(const QByteArray& root, bool handheld);
    ~TPhotoDb();
    TPhotoDb(const TPhotoDb&) = delete;
    TPhotoDb& operator=(const TPhotoDb&) = delete;

    bool Load(bool skip720 = false);
    // Parses database bytes already in memory, as Load does after reading the file.
    bool LoadFromData(const QByteArray& bytes, bool skip720 = false);

    // Fills BmpHeader from Small (true) or Large (false) and the device kind.
    void BuildBitmapHeader(bool small);

    // Exports the selected photos as JPEG files (or the stored JPEG data) named after their
    // image ids in OutputFolder. A file of that name stands for the photo only when it holds
    // the same bytes; otherwise a numbered name is taken. Each photo's DestPath tells where it
    // is. True when at least one container was missing or failed to open.
    // Raises platform::Error when an output file cannot be written. Reading, encoding and
    // writing overlap on three threads; OnProgress is called on the calling thread. The files
    // go to `sink` instead when one is given.
    bool ExportThumbs(bool aspect, ExportSink* sink = nullptr);

    // Small-thumbnail loaders of the photo grid. The caller builds the small header first.
    // LoadSmallThumb raises platform::Error when the container ends before the image.
    void LoadSmallThumb(QIODevice& stream, int index, QImage& picture);
    // `buffer` is the caller's memory of at least Small.Size bytes; a failed read leaves
    // `picture` unchanged.
    void LoadSmallThumbFromDevice(QByteArray& buffer, int index, QImage& picture);
    bool OpenDeviceThumbFile(const QByteArray& name);
    bool CloseDeviceThumbFile();

    // The string record of the photo and artwork databases at pos (types 1 UTF-8, 3 UTF-16LE); the
    // text is read only inside the record.
    static TPhotoStringRecord ReadStringRecord(const ByteView& data, qint64 pos);

    uint8_t HandheldFlag = 0;
    QByteArray Root;
    uint32_t ErrorCode = 0; // one of the values above, 0 when loaded
    TPhotoList Photos;
    TPhotoAlbumList Albums;
    TThumbFormat Large;
    TThumbFormat Small;
    QString OutputFolder; // ends in "/"
    uint8_t HasFullRes = 0;
    uint8_t Skip720 = 0;
    QByteArray Log; // one line per missing container
    // The containers that the last thumbnail export could not open (their photos got no file).
    std::vector<int32_t> MissingContainers;
    TProgressEvent OnProgress;
    TBitmapHeader BmpHeader{};
    QByteArray WorkStream; // header and pixel bytes of one picture; empty between uses

private:
    bool Parse();
    bool ParseImageList(qint64 sectionPos, qint64 sectionHeaderLength, TImageDbWalk& walk);
    bool ChooseThumbFormats(qint64 itemPos);
    uint32_t ParseImageItem(qint64 itemPos);
    // `child`: the data cut at the end of the child record that holds the reference at pos.
    bool ParseThumbRef(const ByteView& child, qint64 pos, int type, int& found);
    bool ParseAlbumList(qint64 sectionPos, qint64 sectionHeaderLength, TImageDbWalk& walk);

    bool ExportUyuvThumbs(bool aspect, ExportSink& sink);
    bool ExportNrgbThumbs(ExportSink& sink);
    bool ExportYuvsThumbs(ExportSink& sink);
    bool ExportPhotoThumbs(ExportSink& sink);
    bool ExportRgbThumbs(ExportSink& sink);

    QByteArray StreamData; // the database's bytes during Load
    ByteView Stream;
};

} // namespace device
