#include "device/TrackDb.h"

#include "device/Format.h"
#include "device/Inflate.h"
#include "handheld/Iphone.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include "platform/Errors.h"
#include "platform/FileCopy.h"

#include <QBuffer>
#include <memory>
#include <cerrno>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

// How damaged data is treated. Every walk stays inside the data:
// - a list item (section, track, playlist, playlist item) whose total length is smaller than
//   a record header, or that runs past the end of the data or of its section, ends its list;
//   the items read before it are kept and Damaged() is set. Only data that runs past the end
//   fails the load (ErrorCode ecDataPastEnd), a list record cut off by the end of the data
//   included; a short record or a count beyond the section is damage that ends the walk but
//   loses nothing that was there to read;
// - a file that gives fewer bytes than its size is read as a file cut where its bytes end; so is
//   one whose read fails, but that load is never complete (ecReadError);
// - a section walk that cannot go on loses nothing when it was at the last section or when
//   both lists were read, so it is no damage then;
// - a string record of total length 0 (which is also what a record that is not an "mhod" gives)
//   ends its string walk; inside a track it is damage, as the track's further texts are lost;
// - a track's string records and a playlist's children are read only inside their own record,
//   and a text only inside its string record, so the work and memory of a load grow with the
//   size of the file, whatever counts and lengths it claims;
// - the items of all track lists together, and those of all playlist lists, may cover no more
//   bytes than the data holds: in a sound database no byte belongs to two tracks or two
//   playlists, while sections that point at one list again and again would make a small file
//   cost time by the square of its size.

namespace device {
namespace {

constexpr qint64 kListHeader = 12; // tag, header length, total length or count

// The handheld link's whole-file read: the file at the media root followed by the path. The
// link says why it failed; only a failed read (not a missing or unopenable file) is a read error.
bool ReadThroughLink(const QByteArray& path, QByteArray& out, QString& readError) {
    QBuffer stream(&out);
    stream.open(QIODevice::WriteOnly);
    if (handheld::DeviceReadFile(path, stream))
        return true;
    const QByteArray why = handheld::DeviceLastError();
    if (why.startsWith("Read error: "))
        readError = QString::fromUtf8(why);
    return false;
}

HandheldFileReader& Reader() {
    static HandheldFileReader reader = ReadThroughLink;
    return reader;
}

// Maps the whole pages of [data, data + size) in one call instead of one fault per page; the
// large blocks of a load are written from end to end anyway. Kernels without it ignore it.
void Prefault(void* data, size_t size) {
    const uintptr_t page = 4096;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
    const uintptr_t last = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
}

// [pos, pos + total) is a record of at least a header's size inside [pos, end).
bool Within(qint64 pos, qint64 total, qint64 end) {
    return total >= kListHeader && pos >= 0 && total <= end - pos;
}

} // namespace

void SetHandheldFileReader(HandheldFileReader reader) {
    Reader() = reader ? std::move(reader) : ReadThroughLink;
}

QByteArray TTrackItem::SizeText() const {
    return FormatSizeText(int64_t(Size));
}

QByteArray TTrackItem::LengthText() const {
    return FormatTimeText(Length);
}

bool TTrackItem::IsVideo() const {
    const qsizetype dot = Location.lastIndexOf(QLatin1Char('.'));
    const qsizetype sep = qMax(Location.lastIndexOf(QLatin1Char(':')), Location.lastIndexOf(QLatin1Char('\\')));
    if (dot < 0 || dot < sep)
        return false;
    const QString ext = Location.mid(dot);
    for (const char* video : {".mp4", ".m4v", ".mov"})
        if (ext.compare(QLatin1String(video), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

uint32_t TPlayListItem::GetTrackId(int i) const {
    if (i < 0 || i >= Count || size_t(i) >= TrackIds.size())
        throw std::out_of_range("List index out of bounds (" + std::to_string(i) + ")");
    return TrackIds[size_t(i)];
}

namespace {
template <typename List>
auto& Item(List& items, int index) {
    if (index < 0 || size_t(index) >= items.size())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    return items[size_t(index)];
}
} // namespace

void TTrackList::FreeBlock::operator()(TTrackItem* items) const {
    std::destroy_n(items, kBlock);
    ::operator delete(items);
}

TTrackItem& TTrackList::Add() {
    if (N % kBlock == 0 && size_t(N / kBlock) == Blocks.size()) {
        void* raw = ::operator new(sizeof(TTrackItem) * kBlock);
        Prefault(raw, sizeof(TTrackItem) * kBlock);
        auto* items = static_cast<TTrackItem*>(raw);
        std::uninitialized_value_construct_n(items, kBlock);
        std::unique_ptr<TTrackItem, FreeBlock> block(items);
        Blocks.push_back(std::move(block));
    }
    TTrackItem& item = Blocks[size_t(N / kBlock)].get()[N % kBlock];
    ++N;
    return item;
}

TTrackItem& TTrackList::GetItem(int index) {
    if (index < 0 || index >= N)
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    return Blocks[size_t(index / kBlock)].get()[index % kBlock];
}

const TTrackItem& TTrackList::GetItem(int index) const {
    return const_cast<TTrackList*>(this)->GetItem(index);
}

void TTrackList::Clear() {
    Blocks.clear();
    N = 0;
}

TPlayListItem& TPlayLists::Add() {
    return Items.emplace_back();
}
TPlayListItem& TPlayLists::GetItem(int index) {
    return Item(Items, index);
}
const TPlayListItem& TPlayLists::GetItem(int index) const {
    return Item(Items, index);
}

char16_t* TTextStore::Reserve(qsizetype units) {
    if (Room < units + 1) { // a zero follows every text
        ReturnSpare();
        const auto [header, data] = QTypedArrayData<char16_t>::allocate(qMax(BlockUnits, units + 1));
        if (!header)
            throw std::bad_alloc();
        Blocks.emplace_back(QString::DataPointer(header, data, 0));
        Prefault(data, size_t(header->allocatedCapacity()) * sizeof(char16_t));
        Current = header;
        Next = data;
        Room = header->allocatedCapacity();
    }
    return Next;
}

QString TTextStore::Commit(qsizetype first, qsizetype size) {
    if (size <= 0)
        return QString();
    if (Spare == 0) {
        // A text takes at least two units with its zero: enough for the rest of the block.
        Spare = int(qMin<qsizetype>(Room / 2 + 1, 1 << 20));
        Current->ref_.fetchAndAddRelaxed(Spare);
    }
    --Spare;
    // Strings are zero-terminated, as every QString's data is.
    Next[first + size] = 0;
    QString text(QString::DataPointer(Current, Next + first, size));
    Next += first + size + 1;
    Room -= first + size + 1;
    return text;
}

// The block's own string in Blocks still holds a reference, so this never frees it.
void TTextStore::ReturnSpare() {
    if (Spare > 0)
        Current->ref_.fetchAndSubRelaxed(Spare);
    Spare = 0;
}

void TTextStore::SizeFor(qint64 bytes) {
    // A text of n units comes from 2n bytes inside a record of at least 40, which pays for its
    // zero: the units of all texts stay below the byte count.
    BlockUnits = qsizetype(qBound<qint64>(64, bytes, qsizetype(1) << 20));
}

void TTextStore::Clear() {
    ReturnSpare();
    Blocks.clear();
    Current = nullptr;
    Next = nullptr;
    Room = 0;
}

// The bytes of the database being parsed: all of them in memory, or a window of a file that
// is refilled by pread as the walk moves.
class TiTunesDB::Bytes {
public:
    explicit Bytes(const QByteArray& data) : All(data), Total(data.size()) {}
    Bytes(int fd, qint64 size, qint64 chunk, const FileReadFn& read)
        : Fd(fd), Total(qMax<qint64>(0, size)), Chunk(qMax<qint64>(chunk, 64)), Read(read) {}

    qint64 Size() const { return Total; }
    // The errno of the first read that failed, 0 when none did.
    int ReadErrno() const { return Errno; }

    // [pos, pos + count) clipped to the end of the data, as a view whose offset 0 is pos;
    // valid until the next call.
    ByteView At(qint64 pos, qint64 count) {
        if (pos < 0 || pos >= Total || count <= 0)
            return {};
        count = qMin(count, Total - pos);
        if (Fd < 0)
            return ByteView(All.constData() + pos, count);
        if (pos < WindowPos || pos - WindowPos > WindowLen - count)
            Fill(pos, count);
        return ByteView(Buffer.get() + (pos - WindowPos), qMin(count, WindowPos + WindowLen - pos));
    }

    // Thrown when the file turns out shorter than its size said; the load starts again.
    struct Shrunk {};

    // The walk is over: the bytes it took on trust up to the stated end are still there.
    void CheckEnd() {
        char byte;
        if (Fd >= 0 && Total > 0 && ReadAt(Total - 1, &byte, 1) < 1)
            Shorten(Total - 1);
    }

private:
    void Fill(qint64 pos, qint64 count) {
        const qint64 want = qMin(qMax(count, Chunk), Total - pos);
        if (want > Capacity) {
            Buffer.reset(); // free the old window before the larger one is taken
            Capacity = 0;
            Buffer.reset(new char[size_t(want)]);
            Prefault(Buffer.get(), size_t(want));
            Capacity = want;
        }
        WindowPos = pos;
        WindowLen = ReadAt(pos, Buffer.get(), want);
        if (WindowLen < want)
            Shorten(pos + WindowLen);
    }

    // Up to `count` bytes at pos; fewer at the end of the file or on a read error, whose errno
    // is kept (the first one).
    qint64 ReadAt(qint64 pos, char* to, qint64 count) {
        qint64 got = 0;
        while (got < count) {
            const qint64 r = Read ? Read(Fd, to + got, count - got, pos + got)
                                  : qint64(::pread(Fd, to + got, size_t(count - got), off_t(pos + got)));
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 && Errno == 0)
                Errno = errno ? errno : EIO;
            if (r <= 0)
                break;
            got += r;
        }
        return got;
    }

    // Nothing could be read at `pos`: the file shrank, or the device gives fewer bytes than its
    // size said. It is read as a file cut where its bytes end, found by halving. The walk so far
    // may have trusted bytes past that end, so it starts again (twice at most: a file that
    // keeps shrinking is then read as far as it goes). A read that failed cuts the file there
    // the same way; the halving only asks for bytes before it.
    void Shorten(qint64 pos) {
        qint64 lo = 0, hi = pos;
        char byte;
        while (lo < hi) {
            const qint64 mid = lo + (hi - lo) / 2;
            if (ReadAt(mid, &byte, 1) == 1)
                lo = mid + 1;
            else
                hi = mid;
        }
        Total = lo;
        if (Restarts > 0) {
            --Restarts;
            throw Shrunk{};
        }
    }

    QByteArray All;
    int Fd = -1;
    int Errno = 0;
    int Restarts = 2;
    qint64 Total = 0;
    qint64 Chunk = 0;
    FileReadFn Read;
    std::unique_ptr<char[]> Buffer;
    qint64 Capacity = 0;
    qint64 WindowPos = 0;
    qint64 WindowLen = 0;
};

TiTunesDB::TiTunesDB(const QByteArray& root, bool handheld) : HandheldFlag(handheld ? 1 : 0), Root(root) {}

TStringRecord TiTunesDB::ReadStringRecord(const ByteView& data, qint64 pos) {
    TStringRecord record;
    if (!data.TagIs(pos, "mhod"))
        return record;
    record.TotalLength = data.U32(pos + 8);
    record.Type = data.U32(pos + 12);
    if (record.Type < 15) {
        // The text never reaches past its own record, whatever length it claims.
        const qint64 room = qMax<qint64>(0, qint64(record.TotalLength) - 40);
        record.Text = data.Utf16Le(pos + 40, qMin<qint64>(data.U32(pos + 28), room));
    }
    return record;
}

bool TiTunesDB::Load() {
    ReadError.clear();
    if (HandheldFlag) {
        QByteArray data;
        if (!ReadHandheld(data))
            return false;
        return AfterReadErrors(LoadFromData(data));
    }
    const auto file = platform::OpenReadOnly(QString::fromUtf8(Root) + QStringLiteral("/iPod_Control/iTunes/iTunesDB"));
    return LoadFromFile(file->handle(), file->size());
}

bool TiTunesDB::AfterReadErrors(bool loaded) {
    if (ReadError.isEmpty())
        return loaded;
    ErrorCode = ecReadError;
    return false;
}

bool TiTunesDB::ReadHandheld(QByteArray& data) {
    const HandheldFileReader& read = Reader();
    if (!read)
        return false;
    QByteArray compressed;
    if (read(QByteArrayLiteral("/iTunes_Control/iTunes/iTunesCDB"), compressed, ReadError) || !ReadError.isEmpty()) {
        // One that failed part-way gives what its bytes so far inflate to: the plain database
        // is not this device's library when a compressed one is there.
        data = InflateTrackDb(compressed, kMaxInflatedSize, !ReadError.isEmpty());
        return true;
    }
    data.clear();
    return read(QByteArrayLiteral("/iTunes_Control/iTunes/iTunesDB"), data, ReadError) || !ReadError.isEmpty();
}

bool TiTunesDB::LoadFromData(const QByteArray& data) {
    Bytes bytes(data);
    return Parse(bytes);
}

bool TiTunesDB::LoadFromFile(int fd, qint64 size, qint64 chunk, const FileReadFn& read) {
    Bytes bytes(fd, size, chunk, read);
    for (;;) {
        try {
            const bool loaded = Parse(bytes);
            bytes.CheckEnd();
            ReadError = bytes.ReadErrno() ? platform::SystemErrorText(bytes.ReadErrno()) : QString();
            return AfterReadErrors(loaded);
        } catch (const Bytes::Shrunk&) {
        }
    }
}

void TiTunesDB::NoteDamage(qint64 pos, qint64 total) {
    FDamaged = true;
    if (total >= kListHeader && pos >= 0 && total > Stream->Size() - pos)
        CutOff = true;
}

bool TiTunesDB::Parse(Bytes& bytes) {
    struct StreamRelease {
        TiTunesDB* Db;
        ~StreamRelease() { Db->Stream = nullptr; }
    } release{this};
    Stream = &bytes;
    FDamaged = CutOff = false;
    TrackBytesLeft = PlaylistBytesLeft = bytes.Size();
    // A walk that starts again after a short read starts from nothing.
    ErrorCode = ecNone;
    Tracks.Clear();
    Playlists.Clear();
    Texts.Clear();
    Texts.SizeFor(bytes.Size());
    TotalTime = 0;
    TotalSize = 0;

    const ByteView root = bytes.At(0, 24);
    Header = QByteArray(reinterpret_cast<const char*>(root.Raw()), qsizetype(root.Size()));
    Header.append(24 - Header.size(), '\0');
    if (!root.TagIs(0, "mhbd")) {
        ErrorCode = ecNotMhbd;
        return false;
    }
    if (root.Size() < 24) {
        ErrorCode = ecDataPastEnd; // the root record itself is cut short
        FDamaged = true;
        return false;
    }
    const int32_t sections = root.I32(20);
    qint64 pos = root.U32(4);
    bool sawTracks = false, sawPlaylists = false;
    for (int32_t i = 0; i < sections; ++i) {
        const ByteView section = bytes.At(pos, 16);
        const qint64 total = section.U32(8);
        if (section.Size() < 16) {
            if (!(sawTracks && sawPlaylists)) {
                FDamaged = true;
                CutOff = true;
            }
            break;
        }
        const qint64 headerLength = section.U32(4);
        const uint32_t type = section.U32(12);
        // A list's items end with their section, whatever count the list claims.
        const qint64 end = Within(pos, total, bytes.Size()) ? pos + total : bytes.Size();
        bool ok = true;
        if (type == 1) {
            ok = ParseTrackList(pos + headerLength, end);
            sawTracks = true;
        } else if (type == 2) {
            ok = ParsePlaylists(pos + headerLength, end);
            sawPlaylists = true;
        }
        if (!ok)
            return false;
        // A section that runs past the end still gave what it held; nothing can follow it,
        // which loses nothing when it is the last or both lists are read.
        if (!Within(pos, total, bytes.Size())) {
            if (i + 1 < sections && !(sawTracks && sawPlaylists))
                NoteDamage(pos, total);
            break;
        }
        pos += total;
    }
    if (CutOff) {
        ErrorCode = ecDataPastEnd;
        return false;
    }
    return true;
}

qint64 TiTunesDB::TakeItem(qint64 item, qint64 end, qint64& budget) {
    const ByteView head = Stream->At(item, kListHeader);
    const qint64 total = head.U32(8);
    if (head.Size() < kListHeader || !Within(item, total, end) || total > budget) {
        NoteDamage(item, head.Size() < kListHeader ? kListHeader : total);
        return -1;
    }
    budget -= total;
    return total;
}

namespace {

// The kind text is kept without blanks and control characters (codes up to 32) at its ends.
void TrimControls(const char16_t* text, qsizetype& first, qsizetype& last) {
    while (first < last && text[first] <= 0x20)
        ++first;
    while (last > first && text[last - 1] <= 0x20)
        --last;
}

QString* TrackText(TTrackItem& t, uint32_t type) {
    switch (type) {
    case 1: return &t.Title;
    case 2: return &t.Location;
    case 3: return &t.Album;
    case 4: return &t.Artist;
    case 5: return &t.Genre;
    case 8: return &t.KindText;
    default: return nullptr;
    }
}

} // namespace

bool TiTunesDB::ParseTrackList(qint64 list, qint64 end) {
    Bytes& s = *Stream;
    const ByteView head = s.At(list, kListHeader);
    if (head.Size() < 4) {
        NoteDamage(list, kListHeader); // the data ends before the list's tag
        return true;
    }
    if (!head.TagIs(0, "mhlt")) {
        ErrorCode = ecNotMhlt;
        return false;
    }
    if (head.Size() < kListHeader)
        NoteDamage(list, kListHeader); // the item count is cut off
    const int32_t count = head.I32(8);
    Tracks.Clear();
    Texts.Clear();
    // The totals describe the tracks in the list, also when a second track list replaces it.
    TotalTime = 0;
    TotalSize = 0;
    qint64 item = list + head.U32(4);
    for (int32_t k = 0; k < count; ++k) {
        const qint64 total = TakeItem(item, end, TrackBytesLeft);
        if (total < 0)
            break;
        // Fields past the header length are not there (the oldest devices write 156 bytes):
        // those bytes belong to the string records.
        const qint64 headerLength = qMin<qint64>(s.At(item, 8).U32(4), total);
        const ByteView r = s.At(item, qMin<qint64>(headerLength, 304));
        TTrackItem& t = Tracks.Add();
        t.TrackId = r.U32(16);
        t.Rating = r.U8(31);
        t.Size = r.U32(36);
        t.Length = r.U32(40);
        t.PlayCount = r.U32(80);
        t.MediaType = r.U32(208);
        TotalTime += t.Length;
        TotalSize += t.Size;
        t.HasArtwork = r.U8(164) == 1 ? 1 : 0;
        if (t.HasArtwork) {
            t.DbId = r.U64(112);
            t.ArtworkLink = total > 352 ? r.U32(300) : 0;
        }

        const qint64 last = item + total;
        const int32_t strings = r.I32(12);
        qint64 at = item + headerLength;
        for (int32_t j = 0; j < strings && at < last; ++j) {
            const ByteView m = s.At(at, 40);
            if (!m.TagIs(0, "mhod"))
                break;
            const qint64 length = m.U32(8);
            const uint32_t type = m.U32(12);
            if (length == 0) {
                FDamaged = true; // the track's further texts cannot be found
                break;
            }
            if (!Within(at, length, s.Size())) {
                NoteDamage(at, length);
                break;
            }
            if (length > last - at)
                break; // outside its track: not this track's any more
            if (QString* field = TrackText(t, type)) {
                // The text never reaches past its own record, whatever length it claims.
                const qint64 bytes = qMin<qint64>(m.U32(28), length - 40);
                if (bytes > 0) {
                    char16_t* room = Texts.Reserve(qsizetype((bytes + 1) / 2));
                    qsizetype first = 0, last = s.At(at + 40, bytes).DecodeUtf16Le(0, bytes, room);
                    if (type == 8)
                        TrimControls(room, first, last);
                    *field = Texts.Commit(first, last - first);
                } else {
                    *field = QString();
                }
            }
            at += length;
        }
        item = last;
    }
    return true;
}

bool TiTunesDB::ParsePlaylists(qint64 list, qint64 end) {
    Bytes& s = *Stream;
    const ByteView head = s.At(list, kListHeader);
    if (head.Size() < 4) {
        NoteDamage(list, kListHeader); // the data ends before the list's tag
        return true;
    }
    if (!head.TagIs(0, "mhlp")) {
        ErrorCode = ecNotMhlp;
        return false;
    }
    if (head.Size() < kListHeader)
        NoteDamage(list, kListHeader); // the item count is cut off
    const int32_t count = head.I32(8);
    Playlists.Clear();
    qint64 item = list + head.U32(4);
    for (int32_t k = 0; k < count; ++k) {
        const qint64 total = TakeItem(item, end, PlaylistBytesLeft);
        if (total < 0)
            break;
        TPlayListItem& p = Playlists.Add();
        const qint64 last = item + total;
        const ByteView r = s.At(item, 20);
        const int32_t entries = r.I32(16);
        qint64 at = item + r.U32(4);
        // String records come first; the first record of type 0 (any record that is not an
        // "mhod" among them) ends them.
        while (at < last) {
            const ByteView m = s.At(at, 40);
            if (!m.TagIs(0, "mhod"))
                break;
            const qint64 length = m.U32(8);
            const uint32_t type = m.U32(12);
            if (length == 0)
                break;
            if (!Within(at, length, s.Size())) {
                NoteDamage(at, length);
                break;
            }
            if (length > last - at)
                break;
            if (type == 1)
                p.Name = s.At(at + 40, qMin<qint64>(m.U32(28), length - 40)).Utf16Le(0, length);
            else if (type == 50)
                p.Smart = 1;
            at += length;
            if (type == 0)
                break;
        }
        for (int32_t n = 0; n < entries; ++n) {
            if (at >= last)
                break; // a count larger than the playlist holds
            const ByteView e = s.At(at, 28);
            const qint64 length = e.U32(8);
            if (e.Size() < kListHeader || !Within(at, length, s.Size())) {
                NoteDamage(at, e.Size() < kListHeader ? kListHeader : length);
                break;
            }
            if (length > last - at)
                break;
            if (e.TagIs(0, "mhip")) {
                p.TrackIds.push_back(e.U32(24));
                ++p.Count;
            }
            at += length;
        }
        item = last;
    }
    return true;
}

} // namespace device
