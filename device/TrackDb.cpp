#include "device/TrackDb.h"

#include "device/Format.h"
#include "device/Inflate.h"
#include "handheld/Iphone.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <QBuffer>
#include <stdexcept>

// How damaged data is treated. Every walk stays inside the data:
// - a list item (section, track, playlist, playlist item) whose total length is smaller than
//   a record header or that runs past the end of the data ends its list; the items read before
//   it are kept and Load returns false with ErrorCode ecDataPastEnd;
// - a string record of total length 0 (which is also what a record that is not an "mhod" gives)
//   ends its string walk;
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

// The handheld link's whole-file read: the file at the media root followed by the path.
bool ReadThroughLink(const QByteArray& path, QByteArray& out) {
    QBuffer stream(&out);
    stream.open(QIODevice::WriteOnly);
    return handheld::DeviceReadFile(path, stream);
}

HandheldFileReader& Reader() {
    static HandheldFileReader reader = ReadThroughLink;
    return reader;
}

// [pos, pos + total) is a record of at least a header's size inside [pos, end).
bool Within(qint64 pos, qint64 total, qint64 end) {
    return total >= kListHeader && pos >= 0 && total <= end - pos;
}

} // namespace

void SetHandheldFileReader(HandheldFileReader reader) { Reader() = reader ? std::move(reader) : ReadThroughLink; }

QByteArray TTrackItem::SizeText() const { return FormatSizeText(int64_t(Size)); }

QByteArray TTrackItem::LengthText() const { return FormatTimeText(Length); }

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

TTrackItem& TTrackList::Add() { return Items.emplace_back(); }
TTrackItem& TTrackList::GetItem(int index) { return Item(Items, index); }
const TTrackItem& TTrackList::GetItem(int index) const { return Item(Items, index); }

TPlayListItem& TPlayLists::Add() { return Items.emplace_back(); }
TPlayListItem& TPlayLists::GetItem(int index) { return Item(Items, index); }
const TPlayListItem& TPlayLists::GetItem(int index) const { return Item(Items, index); }

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
        const qint64 present = qMax<qint64>(0, data.Size() - (pos + 40));
        const qint64 count = qMin(qMin<qint64>(data.U32(pos + 28), room), present);
        record.Text = data.Utf16Le(pos + 40, count);
        // The text is read into a zeroed buffer, so an odd last byte is a character of its own.
        if (count % 2 == 1 && record.Text.size() == count / 2) {
            const uint8_t last = data.U8(pos + 40 + count - 1);
            if (last != 0)
                record.Text.append(QChar(last));
        }
    }
    return record;
}

bool TiTunesDB::Load() {
    QByteArray data;
    if (HandheldFlag) {
        if (!ReadHandheld(data))
            return false;
    } else {
        const auto file = platform::OpenReadOnly(QString::fromUtf8(Root) + QStringLiteral("/iPod_Control/iTunes/iTunesDB"));
        data = file->readAll();
    }
    return LoadFromData(data);
}

bool TiTunesDB::ReadHandheld(QByteArray& data) {
    const HandheldFileReader& read = Reader();
    if (!read)
        return false;
    QByteArray compressed;
    if (read(QByteArrayLiteral("/iTunes_Control/iTunes/iTunesCDB"), compressed)) {
        data = InflateTrackDb(compressed);
        return true;
    }
    data.clear();
    return read(QByteArrayLiteral("/iTunes_Control/iTunes/iTunesDB"), data);
}

bool TiTunesDB::LoadFromData(const QByteArray& data) {
    struct StreamRelease {
        TiTunesDB* Db;
        ~StreamRelease() { Db->Stream = ByteView(); }
    } release{this};
    Stream = ByteView(data);
    Damaged = false;
    TrackBytesLeft = PlaylistBytesLeft = Stream.Size();

    Header = data.left(24);
    Header.append(24 - Header.size(), '\0');
    if (!Stream.TagIs(0, "mhbd")) {
        ErrorCode = ecNotMhbd;
        return false;
    }
    if (!Stream.Fits(0, 24)) {
        ErrorCode = ecDataPastEnd; // the root record itself is cut short
        return false;
    }
    const int32_t sections = Stream.I32(20);
    qint64 pos = Stream.U32(4);
    for (int32_t i = 0; i < sections; ++i) {
        if (!Stream.Fits(pos, 16)) {
            Damaged = true;
            break;
        }
        const qint64 headerLength = Stream.U32(pos + 4);
        const qint64 total = Stream.U32(pos + 8);
        const uint32_t type = Stream.U32(pos + 12);
        bool ok = true;
        if (type == 1)
            ok = ParseTrackList(pos, headerLength);
        else if (type == 2)
            ok = ParsePlaylists(pos, headerLength);
        if (!ok)
            return false;
        // A section that runs past the end still gave what it held; nothing can follow it.
        if (!Within(pos, total, Stream.Size())) {
            Damaged = true;
            break;
        }
        pos += total;
    }
    if (Damaged) {
        ErrorCode = ecDataPastEnd;
        return false;
    }
    return true;
}

qint64 TiTunesDB::TakeItem(qint64 item, qint64& budget) {
    const qint64 total = Stream.U32(item + 8);
    if (!Stream.Fits(item, kListHeader) || !Within(item, total, Stream.Size()) || total > budget) {
        Damaged = true;
        return -1;
    }
    budget -= total;
    return total;
}

bool TiTunesDB::ParseTrackList(qint64 pos, qint64 headerLength) {
    const ByteView& s = Stream;
    const qint64 list = pos + headerLength;
    if (!s.TagIs(list, "mhlt")) {
        ErrorCode = ecNotMhlt;
        return false;
    }
    const int32_t count = s.I32(list + 8);
    Tracks.Clear();
    // The totals describe the tracks in the list, also when a second track list replaces it.
    TotalTime = 0;
    TotalSize = 0;
    qint64 item = list + s.U32(list + 4);
    for (int32_t k = 0; k < count; ++k) {
        const qint64 total = TakeItem(item, TrackBytesLeft);
        if (total < 0)
            break;
        TTrackItem& t = Tracks.Add();
        t.TrackId = s.U32(item + 16);
        t.Rating = s.U8(item + 31);
        t.Size = s.U32(item + 36);
        t.Length = s.U32(item + 40);
        t.PlayCount = s.U32(item + 80);
        t.MediaType = s.U32(item + 208);
        TotalTime += t.Length;
        TotalSize += t.Size;
        t.HasArtwork = s.U8(item + 164) == 1 ? 1 : 0;
        if (t.HasArtwork) {
            t.DbId = s.U64(item + 112);
            t.ArtworkLink = total > 352 ? s.U32(item + 300) : 0;
        }

        const qint64 end = item + total;
        const int32_t strings = s.I32(item + 12);
        qint64 at = item + s.U32(item + 4);
        for (int32_t j = 0; j < strings && at < end; ++j) {
            const TStringRecord r = ReadStringRecord(s, at);
            if (r.TotalLength == 0)
                break;
            if (!Within(at, r.TotalLength, s.Size())) {
                Damaged = true;
                break;
            }
            if (r.TotalLength > quint64(end - at))
                break; // outside its track: not this track's any more
            switch (r.Type) {
            case 1: t.Title = r.Text; break;
            case 2: t.Location = r.Text; break;
            case 3: t.Album = r.Text; break;
            case 4: t.Artist = r.Text; break;
            case 5: t.Genre = r.Text; break;
            case 8: t.KindText = platform::TrimBlanks(r.Text); break;
            default: break;
            }
            at += r.TotalLength;
        }
        item = end;
    }
    return true;
}

bool TiTunesDB::ParsePlaylists(qint64 pos, qint64 headerLength) {
    const ByteView& s = Stream;
    const qint64 list = pos + headerLength;
    if (!s.TagIs(list, "mhlp")) {
        ErrorCode = ecNotMhlp;
        return false;
    }
    const int32_t count = s.I32(list + 8);
    Playlists.Clear();
    qint64 item = list + s.U32(list + 4);
    for (int32_t k = 0; k < count; ++k) {
        const qint64 total = TakeItem(item, PlaylistBytesLeft);
        if (total < 0)
            break;
        TPlayListItem& p = Playlists.Add();
        const qint64 end = item + total;
        qint64 at = item + s.U32(item + 4);
        // String records come first; the first record of type 0 (any record that is not an
        // "mhod" among them) ends them.
        while (at < end) {
            const TStringRecord r = ReadStringRecord(s, at);
            if (r.TotalLength == 0)
                break;
            if (!Within(at, r.TotalLength, s.Size())) {
                Damaged = true;
                break;
            }
            if (r.TotalLength > quint64(end - at))
                break;
            if (r.Type == 1)
                p.Name = r.Text;
            else if (r.Type == 50)
                p.Smart = 1;
            at += r.TotalLength;
            if (r.Type == 0)
                break;
        }
        const int32_t entries = s.I32(item + 16);
        for (int32_t m = 0; m < entries; ++m) {
            if (at >= end)
                break; // a count larger than the playlist holds
            const qint64 length = s.U32(at + 8);
            if (!s.Fits(at, kListHeader) || !Within(at, length, s.Size())) {
                Damaged = true;
                break;
            }
            if (length > end - at)
                break;
            if (s.TagIs(at, "mhip")) {
                p.TrackIds.push_back(s.U32(at + 24));
                ++p.Count;
            }
            at += length;
        }
        item = end;
    }
    return true;
}

} // namespace device
