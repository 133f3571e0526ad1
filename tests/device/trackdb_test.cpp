#include "device/TrackDb.h"
#include "platform/Errors.h"
#include "tests/device/DeviceTest.h"

#include <QTemporaryFile>
#include <QtEndian>
#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace device;
using namespace devtest;
using namespace fixtures;

// Everything a load gives, as one text.
static QString Describe(const TiTunesDB& db) {
    QStringList lines{QStringLiteral("%1 %2 %3").arg(db.TotalTime).arg(db.TotalSize).arg(db.ErrorCode)};
    for (int i = 0; i < db.Tracks.Count(); ++i) {
        const TTrackItem& t = db.Tracks.GetItem(i);
        const auto n = [](auto v) { return QString::number(v); };
        lines << QStringList{n(t.TrackId),   n(t.Size),       n(t.Length), n(t.Rating),      n(t.PlayCount),
                             n(t.MediaType), n(t.HasArtwork), n(t.DbId),   n(t.ArtworkLink), t.Title,
                             t.Artist,       t.Album,         t.Genre,     t.KindText,       t.Location}
                     .join(u'|');
    }
    for (int i = 0; i < db.Playlists.Count(); ++i) {
        const TPlayListItem& p = db.Playlists.GetItem(i);
        lines << p.Name + u'|' + QString::number(p.Smart) + u'|';
        for (int k = 0; k < p.Count; ++k)
            lines.back() += u' ' + QString::number(p.GetTrackId(k));
    }
    return lines.join(u'\n');
}

// The sample database: track 104 has artwork flag 2 (no artwork, id not taken), 105 the oldest
// (156-byte) header, which ends before the media type; the podcast copy of a playlist is skipped.
const char* const kSample = R"(4000500 154126804 0
101|4123456|215000|80|7|1|0|0|0|Blue Monday|New Order|Substance|Electronic|MPEG audio file|:iPod_Control:Music:F00:ABCD.mp3
102|1000|61000|0|0|1|1|17297757506775570040|77|Ça plane pour moi – 日本|Plastic Bertrand|||AAC audio file|:iPod_Control:Music:F01:EFGH.m4a
103|150000000|3723000|0|0|2|1|42|99|A Film|||||:iPod_Control:Music:F02:IJKL.M4V
104|2048|1000|0|0|1|0|0|0|No Album|||||:iPod_Control:Music:F03:MNOP.mp3
105|300|500|0|0|0|0|0|0|Old Record|||||:iPod_Control:Music:F04:QRST.wav
Test iPod|0| 101 102 103 104 105
Favourites|0| 103 101 999
Recently Played|1| 102)";

// Every field from the disk, texts that outlive the database; lists refuse indexes outside
// them and keep their items' addresses while they grow; a video is told by its extension.
TEST_F(MappedDevice, TrackDbLoadsEveryFieldFromTheDiskAndItsTextsOutliveIt) {
    EXPECT_THROW(TiTunesDB("E:", false).Load(), platform::EFOpenError);
    EXPECT_THROW(TiTunesDB("Q:", false).Load(), platform::EFOpenError);
    // Sections of types 4 and 5 come first and are skipped by their total length.
    FixtureDb unknown = SampleDb();
    unknown.ExtraSections = {Sized("mhsd", 96, Record("mhla", 12, 0) + QByteArray(20, 'x'), 4),
                             Sized("mhsd", 96, {}, 5)};
    Tree.WriteTrackDb(WriteTrackDb(unknown));
    auto disk = std::make_unique<TiTunesDB>("E:", false);
    ASSERT_TRUE(disk->Load());
    EXPECT_EQ(Describe(*disk).toStdString(), kSample);
    QString title = disk->Tracks.GetItem(0).Title;
    title += QStringLiteral("!!!!"); // the texts share one block: this must not run into the next
    disk.reset();
    title += QStringLiteral("?"); // the last holder of the block
    EXPECT_EQ(title, QStringLiteral("Blue Monday!!!!?"));
    TTrackList tracks;
    tracks.Add().Title = QStringLiteral("x");
    TTrackItem& first = tracks.GetItem(0);
    for (int i = 0; i < 1000; ++i)
        tracks.Add();
    EXPECT_EQ(first.Title, QStringLiteral("x"));
    EXPECT_THROW(tracks.GetItem(-1), std::out_of_range);
    EXPECT_THROW(TPlayListItem().GetTrackId(0), std::out_of_range);
    const std::pair<const char*, bool> videos[] = {
        {":a:CLIP.M4V", true}, {":a:b.MoV", true}, {":a:b.mp3", false}, {":a.mp4:noext", false}, {":a:b.mp4x", false}};
    for (const auto& [location, video] : videos)
        EXPECT_EQ(TTrackItem{.Location = QString::fromLatin1(location)}.IsVideo(), video) << location;
}

// Damaged and odd records: what the load says, what it keeps, and that no walk spins or runs
// outside its record.
TEST(TrackDb, DamagedAndOddRecords) {
    TrackDbLayout at, alone;
    const QByteArray good = WriteTrackDb(SampleDb(), &at);
    const auto tag = [](const char* t) { return qFromLittleEndian<uint32_t>(t); };
    FixtureDb withoutLast = SampleDb(), unnamed = SampleDb();
    withoutLast.PodcastSection = false;
    const QByteArray playlistsLast = WriteTrackDb(withoutLast, &alone);
    unnamed.Playlists[1].Name.clear();
    unnamed.Playlists[1].ColumnInfo = false; // the header is followed directly by an mhip
    // No strings: the total length equals the header length, 352 or 353.
    const FixtureTrack linked{.HasArtwork = true, .DbId = 9, .ArtworkLink = 1234, .HeaderLength = 352};
    FixtureDb links{.Tracks = {linked, linked}, .WritePlaylists = false};
    links.Tracks[1].HeaderLength = 353;
    // Many sections that all point at the same track list (by their header length): it is
    // not parsed again and again, which would cost time by the square of the file size.
    FixtureDb looped = SampleDb();
    for (int k = 0; k < 200; ++k)
        looped.ExtraSections.push_back(Patched(Record("mhsd", 96, 96), {{4, uint64_t((200 - k + 1) * 96)}, {12, 1}}));
    using Db = const TiTunesDB&;
    const auto title = [](Db db, int i) { return db.Tracks.GetItem(i).Title; };
    // What the load says, its error code, tracks, playlists and damage (-1: any), and a check.
    const std::tuple<const char*, QByteArray, bool, int, int, int, int, std::function<void(Db)>> cases[] = {
        {"not an mhbd", Patched(good, {{0, tag("xxxx")}}), false, ecNotMhbd, 0, 0, -1, {}},
        {"not an mhlt", Patched(good, {{at.TrackList, tag("xxxx")}}), false, ecNotMhlt, 0, 0, -1, {}},
        {"not an mhlp", Patched(good, {{at.PlaylistList, tag("xxxx")}}), false, ecNotMhlp, 5, 0, -1, {}},
        {"no lists at all", WriteTrackDb({.WriteTracks = false, .WritePlaylists = false}), true, 0, 0, 0, 0, {}},
        // A playlist string of length 0 ends the walk instead of spinning on it; its items are not found.
        {"empty playlist string", Patched(good, {{at.Playlists[1] + 108 + 8, 0}}), true, -1, 5, 3, 1,
         [](Db db) { EXPECT_EQ(db.Playlists.GetItem(1).Count, 0); }},
        // Section count: sections that are not there, after both lists; nothing the load needs is missing.
        {"huge string, item and section counts",
         Patched(good, {{at.Tracks[0] + 12, 0x7FFFFFFF}, {at.Playlists[1] + 16, 0x7FFFFFFF}, {20, 0x7FFFFFFF}}),
         true, 0, 5, 3, 0, [](Db db) { EXPECT_EQ(db.Playlists.GetItem(1).Count, 3); }},
        // Counts beyond the records of their section: the lists end with their sections.
        {"huge track and playlist counts", Patched(good, {{at.TrackList + 8, 0x7FFFFFFF}, {at.PlaylistList + 8, 99}}),
         true, 0, 5, 3, 1, [&](Db db) { EXPECT_EQ(title(db, 4), QStringLiteral("Old Record")); }},
        {"a track past the end", Patched(good, {{at.Tracks[3] + 8, 0xFFFFFFF0}}), false, ecDataPastEnd, 3, -1, 1, {}},
        // A record of total length 0 cannot be stepped over: read once, then the walk ends.
        {"empty track section", Patched(good, {{at.TrackSection + 8, 0}}), true, -1, 5, 0, 1, {}},
        {"empty mhip", Patched(good, {{at.PlaylistItems[0][2] + 8, 0}}), true, -1, 5, 3, 1,
         [](Db db) { EXPECT_EQ(db.Playlists.GetItem(0).Count, 2); }},
        {"playlists, last, past the end", Patched(playlistsLast, {{alone.PlaylistSection + 8, 0xFFFFFF00}}), true, 0, 5, 3, 0, {}},
        {"track section past the end", Patched(good, {{at.TrackSection + 8, 0xFFFFFF00}}), false, ecDataPastEnd, 5, 0, 1, {}},
        {"sections that point at the track list again", WriteTrackDb(looped), true, -1, -1, -1, 1,
         [](Db db) { EXPECT_LE(db.Tracks.Count(), 5); }},
        {"playlist without name or column record", WriteTrackDb(unnamed), true, 0, 5, 3, 0,
         [](Db db) { EXPECT_EQ(db.Playlists.GetItem(1).TrackIds, (std::vector<uint32_t>{103, 101, 999})); }},
        {"an item of another tag is skipped", Patched(good, {{at.PlaylistItems[1][1], tag("mhix")}}), true, 0, 5, 3, 0,
         [](Db db) { EXPECT_EQ(db.Playlists.GetItem(1).TrackIds, (std::vector<uint32_t>{103, 999})); }},
        // Track 0: a zero-length third record ends its strings (damage: its later texts are
        // lost); track 1: not an mhod after the title; track 2: a text length far beyond its
        // record, so only that record is lost.
        {"string records that end the walk",
         Patched(good, {{at.TrackStrings[0][2] + 8, 0}, {at.TrackStrings[1][1], tag("mhoX")}, {at.TrackStrings[2][0] + 28, 0xFFFFFFFF}}),
         true, 0, 5, 3, 1, [&](Db db) {
             const TTrackItem& t = db.Tracks.GetItem(0);
             EXPECT_EQ(QStringList({t.Title, t.Location, t.Album + t.Artist, db.Tracks.GetItem(1).Location, title(db, 2)}),
                       QStringList({"Blue Monday", ":iPod_Control:Music:F00:ABCD.mp3", "", "", "A Film"}));
         }},
        // Track 0's header length points into track 1's string records: they are not track 0's.
        {"strings outside their own track", Patched(good, {{at.Tracks[0] + 4, uint64_t(at.TrackStrings[1][0] - at.Tracks[0])}}),
         true, -1, 5, 3, -1, [&](Db db) { EXPECT_EQ(title(db, 0) + db.Tracks.GetItem(0).Artist, QString()); }},
        // "Blue Monday" is 22 bytes; 21 leave the 'y' as the odd last byte. The second title is
        // cut after 9 whole characters, then the low byte of 'p'.
        {"odd text lengths", Patched(good, {{at.TrackStrings[0][0] + 28, 21}, {at.TrackStrings[1][0] + 28, 19}}), true, 0,
         5, 3, 0, [&](Db db) { EXPECT_EQ(title(db, 0) + title(db, 1), QString::fromUtf8("Blue MondayÇa plane p")); }},
        {"artwork link only above total length 352", WriteTrackDb(links), true, 0, 2, 0, 0, [](Db db) {
             EXPECT_EQ(std::pair(db.Tracks.GetItem(0).ArtworkLink, db.Tracks.GetItem(1).ArtworkLink), std::pair(0u, 1234u));
         }},
    };
    for (const auto& [why, bytes, loads, code, tracks, playlists, damaged, check] : cases) {
        SCOPED_TRACE(why);
        TiTunesDB db("E:", false);
        EXPECT_EQ(db.LoadFromData(bytes), loads);
        // The code, tracks, playlists and damage, in that order.
        const int want[] = {code, tracks, playlists, damaged},
                  got[] = {db.ErrorCode, db.Tracks.Count(), db.Playlists.Count(), db.Damaged()};
        for (int k = 0; k < 4; ++k)
            EXPECT_TRUE(want[k] < 0 || want[k] == got[k]) << k << ": " << got[k];
        if (check)
            check(db);
    }
}

// Read from a file in chunks of 64 or 1000 bytes, so that records straddle a refill at every kind
// of place; the file may shrink after it was opened (a pulled device): it then gives what a file of its
// new length gives, also when the walk had passed records that ran past the new end, or never
// reads the bytes that are gone (the end of the last playlist item, without the last section).
// A device that fails a read there instead keeps the same, says why, and is never a complete load.
TEST(TrackDb, EveryCutKeepsExactlyTheCompleteTracksAndNoDamagedByteBreaksTheReader) {
    FixtureDb playlistsLast = SampleDb();
    playlistsLast.PodcastSection = false;
    TrackDbLayout withPodcasts, withoutPodcasts;
    for (const auto& [good, at] : {std::pair{WriteTrackDb(SampleDb(), &withPodcasts), &withPodcasts},
                                   {WriteTrackDb(playlistsLast, &withoutPodcasts), &withoutPodcasts}}) {
        // Only the last section (skipped) may follow the playlists: cutting it loses nothing.
        const qint64 playlistsEnd = at->PlaylistSection + ByteView(good).U32(at->PlaylistSection + 8);
        QTemporaryFile file;
        ASSERT_TRUE(file.open() && file.write(good) == good.size() && file.flush());
        for (qsizetype cut = good.size(); cut >= 0; --cut) {
            TiTunesDB db("E:", false), read("E:", false);
            ASSERT_EQ(db.LoadFromData(good.left(cut)), cut >= playlistsEnd) << cut;
            ASSERT_EQ(db.ErrorCode, cut < 4 ? ecNotMhbd : cut < playlistsEnd ? ecDataPastEnd : ecNone) << cut;
            ASSERT_EQ(db.Damaged(), cut >= 4 && cut < playlistsEnd) << cut;
            int complete = 0;
            for (size_t i = 0; i < at->Tracks.size(); ++i)
                complete += (i + 1 < at->Tracks.size() ? at->Tracks[i + 1] : at->PlaylistSection) <= cut;
            ASSERT_EQ(db.Tracks.Count(), complete) << cut;
            ASSERT_TRUE(file.resize(cut));
            ASSERT_EQ(read.LoadFromFile(file.handle(), good.size(), cut % 2 ? 64 : 1000), cut >= playlistsEnd) << cut;
            ASSERT_EQ(std::pair(Describe(read), read.Damaged()), std::pair(Describe(db), db.Damaged())) << cut;
            // The byte before the cut damaged instead: every record still takes a header's room.
            for (const char value : {'\0', '\xff'}) {
                QByteArray damaged = good;
                damaged[std::max<qsizetype>(cut - 1, 0)] = value;
                TiTunesDB any("E:", false);
                any.LoadFromData(damaged);
                ASSERT_LE(any.Tracks.Count() + any.Playlists.Count(), good.size() / 12) << cut;
            }
            // Every eighth place, and every place past the playlists, where nothing is lost.
            if (cut % 8 != 0 && cut < playlistsEnd)
                continue;
            const FileReadFn failing = [cut](int fd, char* to, qint64 count, qint64 offset) -> qint64 {
                errno = EIO;
                return offset < cut ? ::pread(fd, to, size_t(count), offset) : -1;
            };
            TiTunesDB failed("E:", false);
            const bool whole = cut == good.size();
            ASSERT_EQ(failed.LoadFromFile(file.handle(), good.size(), cut % 16 ? 64 : 1000, failing), whole) << cut;
            ASSERT_EQ(std::pair(failed.ErrorCode, failed.ReadError),
                      whole ? std::pair(int32_t(ecNone), QString())
                            : std::pair(int32_t(ecReadError), QString::fromLocal8Bit(std::strerror(EIO))))
                << cut;
            ASSERT_EQ(Describe(failed).section(u'\n', 1), Describe(db).section(u'\n', 1)) << cut;
        }
    }
}
