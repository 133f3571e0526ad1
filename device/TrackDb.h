#pragma once
// The track database of one device: every track with its tags and file location, and every
// playlist with its track ids. Read once per device load; nothing here writes the database.
#include "device/ByteView.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace device {

// ErrorCode values of TiTunesDB.
enum : int32_t {
    ecNone = 0,
    ecNotMhbd = 4,      // root record is not "mhbd"
    ecNotMhlt = 5,      // track list is not "mhlt"
    ecNotMhlp = 6,      // playlist list is not "mhlp"
    ecDataPastEnd = 20, // data the load needs runs past the end of the file (damaged or truncated)
    ecReadError = 21,   // the device failed to deliver the file's bytes (ReadError says why)
};

// Reads of the disk database go through a window of this many bytes, refilled as the walk
// moves on, so memory does not grow with the file and skipped sections are never read.
inline constexpr qint64 kTrackDbChunk = qint64(4) << 20;

class TTrackItem {
public:
    uint8_t Selected = 0;
    QString DestPath;
    uint8_t Rating = 0;
    uint32_t TrackId = 0;
    uint32_t Size = 0;   // bytes
    uint32_t Length = 0; // milliseconds
    uint32_t PlayCount = 0;
    uint32_t MediaType = 0;
    uint32_t ArtworkLink = 0;
    QString Location; // ':'-separated device path, as the database stores it
    QString Title;
    QString Artist;
    QString Album;
    QString Genre;
    QString KindText;
    uint8_t HasArtwork = 0;
    uint64_t DbId = 0; // 0 unless HasArtwork
    int32_t ArtIndex = -1;

    QByteArray SizeText() const;
    QByteArray LengthText() const;
    // Extension of Location is .mp4, .m4v or .mov (any case).
    bool IsVideo() const;
};

class TPlayListItem {
public:
    int32_t Count = 0;
    QString Name;
    std::vector<uint32_t> TrackIds;
    uint8_t Smart = 0;

    // Entry i of TrackIds; std::out_of_range outside 0..Count-1.
    uint32_t GetTrackId(int i) const;
};

// Items keep their address while the list grows (blocks of items), so references stay valid.
class TTrackList {
public:
    TTrackItem& Add();
    // std::out_of_range outside 0..Count()-1.
    TTrackItem& GetItem(int index);
    const TTrackItem& GetItem(int index) const;
    int Count() const { return N; }
    void Clear();

private:
    static constexpr int kBlock = 1024;
    struct FreeBlock {
        void operator()(TTrackItem* items) const;
    };
    std::vector<std::unique_ptr<TTrackItem, FreeBlock>> Blocks;
    int N = 0;
};

// All track texts of one load in a few large blocks. The texts are strings that share their
// block (counted like any shared string), so a copy stays valid after the database is freed
// and a load costs a few allocations instead of one per text.
class TTextStore {
public:
    TTextStore() = default;
    TTextStore(const TTextStore&) = delete;
    TTextStore& operator=(const TTextStore&) = delete;
    ~TTextStore() { Clear(); }

    // Room for a text of up to `units` units; Commit turns `size` units at `first` in that room
    // into a string.
    char16_t* Reserve(qsizetype units);
    QString Commit(qsizetype first, qsizetype size);
    void Clear();
    // The texts come from `bytes` bytes of data: a small database takes a small block.
    void SizeFor(qint64 bytes);

private:
    std::vector<QString> Blocks; // each holds one reference on its block
    QTypedArrayData<char16_t>* Current = nullptr;
    char16_t* Next = nullptr;
    qsizetype Room = 0;
    qsizetype BlockUnits = qsizetype(1) << 20; // 2 MiB, a few blocks for the largest libraries
    // References taken on the current block in one step and handed to its texts one by one.
    int Spare = 0;
    void ReturnSpare();
};

class TPlayLists {
public:
    TPlayListItem& Add();
    TPlayListItem& GetItem(int index);
    const TPlayListItem& GetItem(int index) const;
    int Count() const { return int(Items.size()); }
    void Clear() { Items.clear(); }

private:
    std::deque<TPlayListItem> Items;
};

// One string record (mhod) of the track database.
struct TStringRecord {
    uint32_t TotalLength = 0; // 0 for a record that is not an "mhod"
    uint32_t Type = 0;
    QString Text; // only for types below 15
};

// Reads a whole file of a handheld device ("/iTunes_Control/iTunes/iTunesCDB" and the like,
// under its media root) into `out`; false when it cannot be read. A file that is there but
// whose read fails part-way also gives false, with the reason in `readError` and the bytes read
// before the failure in `out`; a missing or unopenable file leaves `readError` empty. By default
// (and after setting an empty one) it is the handheld link's DeviceReadFile; tests may put their
// own.
using HandheldFileReader = std::function<bool(const QByteArray& path, QByteArray& out, QString& readError)>;
void SetHandheldFileReader(HandheldFileReader reader);

// Reads up to `count` bytes at `offset` of `fd` as pread does: the byte count, or -1 with errno
// set. A test puts a failing device in place of ::pread.
using FileReadFn = std::function<qint64(int fd, char* to, qint64 count, qint64 offset)>;

class TiTunesDB {
public:
    // Create: stores both; nothing is read.
    TiTunesDB(const QByteArray& root, bool handheld);
    TiTunesDB(const TiTunesDB&) = delete;
    TiTunesDB& operator=(const TiTunesDB&) = delete;

    // Reads and parses the database. Disk: Root + "/iPod_Control/iTunes/iTunesDB" (EFOpenError
    // when it cannot be opened; a file that gives fewer bytes than its size at open is read as
    // a file cut where its bytes end). Handheld: the compressed database first
    // (EDecompressionError when it does not inflate), else the plain one; false with ErrorCode
    // unchanged when neither can be read.
    // True when the section walk ended without losing data the load needs; false with
    // ErrorCode ecDataPastEnd when such data runs past the end of the file. In both cases what
    // was read stays in Tracks and Playlists, and Damaged() tells whether the walk ended early.
    // A read that fails (a failing or pulled device) is read as a cut where the failure came,
    // and is never a complete load: false with ErrorCode ecReadError and the reason in
    // ReadError. A compressed database that fails part-way gives what its bytes read so far
    // inflate to; the plain one is not read instead.
    bool Load();

    // Parses a whole database already in memory.
    bool LoadFromData(const QByteArray& data);
    // Parses the database in the open file `fd`, which held `size` bytes at open, reading it
    // `chunk` bytes at a time with `read` (::pread when empty).
    bool LoadFromFile(int fd, qint64 size, qint64 chunk = kTrackDbChunk, const FileReadFn& read = {});

    // The last load ended early at damaged data (a record that runs past the end of the file or
    // of its section, is shorter than a record header, or overlaps another; a track string
    // record of length 0), so tracks, playlists or texts may be missing. Records that the load
    // does not need (a last section whose length runs past the end, sections after both lists)
    // never set it.
    bool Damaged() const { return FDamaged; }

    // The string record at pos (reads stay inside `data`).
    static TStringRecord ReadStringRecord(const ByteView& data, qint64 pos);

    uint8_t HandheldFlag = 0;
    QByteArray Root;
    int32_t ErrorCode = ecNone;
    // Why the device could not be read (the system's or the link's text); empty when it could.
    QString ReadError;
    TTrackList Tracks;
    TPlayLists Playlists;
    QByteArray Header;      // first 24 bytes of the mhbd record
    uint32_t TotalTime = 0; // ms, wraps at 32 bits
    int64_t TotalSize = 0;  // bytes
    QString OutputFolder;   // the music folder, ending in "/"
    int32_t NamingScheme = 0;
    int32_t PlayingIndex = -1;

private:
    class Bytes;
    bool Parse(Bytes& bytes);
    // The list record at `list`; its items end at `end`, the end of their section.
    bool ParseTrackList(qint64 list, qint64 end);
    bool ParsePlaylists(qint64 list, qint64 end);
    // The handheld's database into `data`; false when neither file can be read. A read that
    // failed part-way leaves its reason in ReadError and what was read in `data`.
    bool ReadHandheld(QByteArray& data);
    // `loaded`, unless a read failed: then false with ErrorCode ecReadError.
    bool AfterReadErrors(bool loaded);
    // The total length of the list item at `item`, taken from `budget`; -1 (and damage) when
    // the item does not fit before `end` or in the budget, which ends its list.
    qint64 TakeItem(qint64 item, qint64 end, qint64& budget);
    // Damage at a record of stated total length `total` at `pos`: cut off when it runs past
    // the end of the data.
    void NoteDamage(qint64 pos, qint64 total);

    Bytes* Stream = nullptr; // valid only during a load
    TTextStore Texts;
    bool FDamaged = false;
    bool CutOff = false;
    // Bytes that track items and playlist items may still cover during this load.
    qint64 TrackBytesLeft = 0;
    qint64 PlaylistBytesLeft = 0;
};

} // namespace device
