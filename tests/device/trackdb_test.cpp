#include "device/TrackDb.h"
#include "platform/Errors.h"
#include "tests/device/DeviceTest.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <functional>

using namespace device;
using namespace fixtures;

namespace {

class TrackDbTest : public devtest::MappedDevice {
protected:
    void TearDown() override {
        MappedDevice::TearDown();
        SetHandheldFileReader({});
    }
    // A handheld whose files come from the tree's media root.
    void UseHandheld() {
        SetHandheldFileReader([tree = Tree](const QByteArray& path, QByteArray& out) {
            QFile f(tree.MediaPath(QString::fromUtf8(path)));
            return f.open(QIODevice::ReadOnly) && (out = f.readAll(), true);
        });
    }
};

bool Parse(TiTunesDB& db, const QByteArray& bytes) { return db.LoadFromData(bytes); }

void ExpectSample(const TiTunesDB& db) {
    ASSERT_EQ(db.Tracks.Count(), 5);
    const TTrackItem& a = db.Tracks.GetItem(0);
    EXPECT_EQ(std::tuple(a.TrackId, a.Rating, a.Size, a.Length, a.PlayCount, a.MediaType, a.HasArtwork, a.ArtIndex),
              std::tuple(101u, 80, 4123456u, 215000u, 7u, 1u, 0, -1));
    EXPECT_EQ((QStringList{a.Title, a.Artist, a.Album, a.Genre, a.KindText, a.Location}),
              (QStringList{"Blue Monday", "New Order", "Substance", "Electronic", "MPEG audio file", // trimmed
                           ":iPod_Control:Music:F00:ABCD.mp3"}));
    const TTrackItem& b = db.Tracks.GetItem(1);
    EXPECT_EQ(b.Title, QString::fromUtf8("Ça plane pour moi – 日本"));
    EXPECT_EQ(std::tuple(b.HasArtwork, b.DbId, b.ArtworkLink), std::tuple(1, 0xF00DFACE12345678ull, 77u));
    EXPECT_TRUE(db.Tracks.GetItem(2).IsVideo());
    // Byte 164 = 2: no artwork, and the id is not taken.
    EXPECT_EQ(std::tuple(db.Tracks.GetItem(3).HasArtwork, db.Tracks.GetItem(3).DbId), std::tuple(0, 0ull));
    // The oldest header (156 bytes) still yields its strings.
    EXPECT_EQ(db.Tracks.GetItem(4).Location, QStringLiteral(":iPod_Control:Music:F04:QRST.wav"));
    EXPECT_EQ(db.TotalTime, 215000u + 61000 + 3723000 + 1000 + 500);
    EXPECT_EQ(db.TotalSize, 4123456ll + 1000 + 150000000 + 2048 + 300);

    ASSERT_EQ(db.Playlists.Count(), 3); // the podcast copy (type 3) is skipped
    EXPECT_EQ(db.Playlists.GetItem(0).Name, QStringLiteral("Test iPod"));
    EXPECT_EQ(db.Playlists.GetItem(0).Count, 5);
    EXPECT_EQ(db.Playlists.GetItem(1).TrackIds, (std::vector<uint32_t>{103, 101, 999}));
    EXPECT_EQ(std::tuple(db.Playlists.GetItem(1).Smart, db.Playlists.GetItem(2).Smart), std::tuple(0, 1));
}

// Parses the sample database written with `patch` applied at the layout's offsets.
template <class Patch>
bool ParsePatched(TiTunesDB& db, const Patch& patch) {
    TrackDbLayout at;
    QByteArray bytes = WriteTrackDb(SampleDb(), &at);
    patch(bytes, at);
    return db.LoadFromData(bytes);
}

} // namespace

TEST_F(TrackDbTest, LoadsEveryFieldFromTheDiskThroughTheDriveTable) {
    const QByteArray bytes = WriteTrackDb(SampleDb());
    Tree.WriteTrackDb(bytes);
    TiTunesDB db("E:", false);
    ASSERT_TRUE(db.Load());
    EXPECT_EQ(db.ErrorCode, 0);
    EXPECT_EQ(db.Header, bytes.left(24));
    ExpectSample(db);
}

// Variants of the sample that still read as the sample.
TEST_F(TrackDbTest, UpperCaseTagsAndSectionsThatAreSkippedOrReplaced) {
    FixtureDb upper = SampleDb(), unknown = SampleDb(), replaced = SampleDb();
    upper.UpperCaseTags = true;
    // Types 4 and 5 come first and are skipped by their total length.
    unknown.ExtraSections = {Sized("mhsd", 96, Record("mhla", 12, 0) + QByteArray(20, 'x'), 4), Sized("mhsd", 96, {}, 5)};
    // A separate, earlier track section is replaced by the later one; the totals follow it.
    const FixtureDb first{.Tracks = {{.TrackId = 7, .Size = 1000000, .Length = 99000}}, .WritePlaylists = false};
    replaced.ExtraSections = {WriteTrackDb(first).mid(188)};
    for (const FixtureDb* variant : {&upper, &unknown, &replaced}) {
        TiTunesDB db("E:", false);
        ASSERT_TRUE(Parse(db, WriteTrackDb(*variant)));
        ExpectSample(db);
    }
    TiTunesDB none("E:", false);
    EXPECT_TRUE(Parse(none, WriteTrackDb({.WriteTracks = false, .WritePlaylists = false})));
    EXPECT_EQ(none.Tracks.Count() + none.Playlists.Count(), 0);
}

TEST_F(TrackDbTest, MissingDiskFileRaisesTheOpenError) {
    TiTunesDB db("E:", false), unmapped("Q:", false);
    EXPECT_THROW(db.Load(), platform::EFOpenError);
    EXPECT_THROW(unmapped.Load(), platform::EFOpenError);
}

// (Which of the handheld's two databases is read is tested through the link.)
TEST_F(TrackDbTest, CompressedDataThatDoesNotInflateRaisesTheDecompressionError) {
    UseHandheld();
    QByteArray cdb = CompressTrackDb(WriteTrackDb(SampleDb()));
    cdb[188 + 2] = char(cdb[188 + 2] ^ 0x55); // inside the zlib stream, just after its header
    Tree.WriteFile(QLatin1String(DeviceTree::kMediaRoot) + QStringLiteral("/iTunes_Control/iTunes/iTunesCDB"), cdb);
    Tree.WriteHandheldTrackDb(WriteTrackDb(SampleDb()), false); // not a fallback for bad data
    TiTunesDB db("D", true);
    EXPECT_THROW(db.Load(), platform::EDecompressionError);
}

TEST_F(TrackDbTest, ArtworkLinkIsTakenOnlyAboveTotalLength352) {
    // No strings: the total length equals the header length.
    const FixtureTrack t{.HasArtwork = true, .DbId = 9, .ArtworkLink = 1234, .HeaderLength = 352};
    FixtureDb d{.Tracks = {t, t}, .WritePlaylists = false};
    d.Tracks[1].HeaderLength = 353;
    TiTunesDB db("E:", false);
    ASSERT_TRUE(Parse(db, WriteTrackDb(d)));
    EXPECT_EQ(db.Tracks.GetItem(0).ArtworkLink, 0u);
    EXPECT_EQ(db.Tracks.GetItem(0).DbId, 9u);
    EXPECT_EQ(db.Tracks.GetItem(1).ArtworkLink, 1234u);
}

TEST_F(TrackDbTest, OddPlaylistRecords) {
    FixtureDb d = SampleDb();
    d.Playlists[1].Name.clear();
    d.Playlists[1].ColumnInfo = false; // the header is followed directly by an mhip
    TiTunesDB db("E:", false);
    ASSERT_TRUE(Parse(db, WriteTrackDb(d)));
    EXPECT_TRUE(db.Playlists.GetItem(1).Name.isEmpty());
    EXPECT_EQ(db.Playlists.GetItem(1).TrackIds, (std::vector<uint32_t>{103, 101, 999}));
    // An item of another tag is skipped.
    TiTunesDB other("E:", false);
    ASSERT_TRUE(ParsePatched(other, [](QByteArray& b, const TrackDbLayout& at) { PutTag(b, at.PlaylistItems[1][1], "mhix"); }));
    EXPECT_EQ(other.Playlists.GetItem(1).TrackIds, (std::vector<uint32_t>{103, 999}));
    EXPECT_EQ(other.Playlists.GetItem(1).Count, 2);
}

// Damage at the writer's offsets: what the load says and what it keeps.
TEST_F(TrackDbTest, DamagedRecordsEndTheirWalksAndKeepWhatWasRead) {
    using At = const TrackDbLayout&;
    const struct {
        const char* Why;
        std::function<void(QByteArray&, At)> Apply;
        bool Loads;
        int32_t Code; // -1: any
        int Tracks, Playlists; // -1: any
        std::function<void(const TiTunesDB&)> Check;
    } cases[] = {
        {"not an mhbd", [](QByteArray& b, At) { PutTag(b, 0, "xxxx"); }, false, ecNotMhbd, 0, 0, {}},
        {"not an mhlt", [](QByteArray& b, At at) { PutTag(b, at.TrackList, "xxxx"); }, false, ecNotMhlt, 0, 0, {}},
        {"not an mhlp", [](QByteArray& b, At at) { PutTag(b, at.PlaylistList, "xxxx"); }, false, ecNotMhlp, 5, 0, {}},
        // A playlist string of length 0 ends the walk instead of spinning on it; its items are not found.
        {"empty playlist string", [](QByteArray& b, At at) { PutU32(b, at.Playlists[1] + 108 + 8, 0); }, true,
         -1, 5, 3, [](const TiTunesDB& db) {
             EXPECT_TRUE(db.Damaged());
             EXPECT_EQ(db.Playlists.GetItem(1).Count, 0);
             EXPECT_EQ(db.Playlists.GetItem(2).Count, 1);
         }},
        {"huge string and item counts",
         [](QByteArray& b, At at) { PutFields(b, {{at.Tracks[0] + 12, 0x7FFFFFFF}, {at.Playlists[1] + 16, 0x7FFFFFFF}}); },
         true, 0, 5, 3, [](const TiTunesDB& db) {
             EXPECT_EQ(db.Tracks.GetItem(0).Title, QStringLiteral("Blue Monday"));
             EXPECT_EQ(db.Tracks.GetItem(1).Title, QString::fromUtf8("Ça plane pour moi – 日本"));
             EXPECT_EQ(db.Playlists.GetItem(1).Count, 3);
         }},
        // A track count beyond the data walks on to the end of the data, then reports the damage.
        {"huge track count", [](QByteArray& b, At at) { PutU32(b, at.TrackList + 8, 0x7FFFFFFF); }, false,
         ecDataPastEnd, -1, -1, [](const TiTunesDB& db) {
             EXPECT_LE(db.Tracks.Count(), 10);
             EXPECT_EQ(db.Tracks.GetItem(4).Title, QStringLiteral("Old Record"));
         }},
        // Sections that are not there, after both lists: nothing the load needs is missing.
        {"huge section count", [](QByteArray& b, At) { PutU32(b, 20, 0x7FFFFFFF); }, true, 0, 5, 3,
         [](const TiTunesDB& db) { EXPECT_FALSE(db.Damaged()); }},
        {"a track past the end", [](QByteArray& b, At at) { PutU32(b, at.Tracks[3] + 8, 0xFFFFFFF0); }, false,
         ecDataPastEnd, 3, -1, [](const TiTunesDB& db) { EXPECT_EQ(db.TotalSize, 4123456ll + 1000 + 150000000); }},
        // A section of total length 0 cannot be stepped over: read once, then the walk ends.
        {"empty section", [](QByteArray& b, At at) { PutU32(b, at.TrackSection + 8, 0); }, true, -1, 5, 0,
         [](const TiTunesDB& db) { EXPECT_TRUE(db.Damaged()); }},
        {"empty mhip", [](QByteArray& b, At at) { PutU32(b, at.PlaylistItems[0][2] + 8, 0); }, true, -1, 5, 3,
         [](const TiTunesDB& db) {
             EXPECT_TRUE(db.Damaged());
             EXPECT_EQ(db.Playlists.GetItem(0).Count, 2);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Why);
        TiTunesDB db("E:", false);
        EXPECT_EQ(ParsePatched(db, c.Apply), c.Loads);
        EXPECT_TRUE(c.Code < 0 || db.ErrorCode == c.Code) << db.ErrorCode;
        EXPECT_TRUE(c.Tracks < 0 ? db.Tracks.Count() >= 5 : db.Tracks.Count() == c.Tracks) << db.Tracks.Count();
        EXPECT_TRUE(c.Playlists < 0 || db.Playlists.Count() == c.Playlists) << db.Playlists.Count();
        if (c.Check)
            c.Check(db);
    }
}

TEST_F(TrackDbTest, StringRecordsThatEndTheWalk) {
    TiTunesDB db("E:", false);
    ASSERT_TRUE(ParsePatched(db, [](QByteArray& b, const TrackDbLayout& at) {
        PutU32(b, at.TrackStrings[0][0] + 8, 0);          // track 0: a zero-length first record ends its strings
        PutTag(b, at.TrackStrings[1][1], "mhoX");          // track 1: not an mhod, after the title
        PutU32(b, at.TrackStrings[2][0] + 28, 0xFFFFFFFF); // track 2: a text length far beyond its record
    }));
    EXPECT_TRUE(db.Tracks.GetItem(0).Title.isEmpty());
    EXPECT_TRUE(db.Tracks.GetItem(0).Artist.isEmpty());
    EXPECT_FALSE(db.Tracks.GetItem(1).Title.isEmpty());
    EXPECT_TRUE(db.Tracks.GetItem(1).Location.isEmpty());
    EXPECT_EQ(db.Tracks.GetItem(2).Title, QStringLiteral("A Film")); // only its own record is read
    EXPECT_EQ(db.Tracks.GetItem(3).Title, QStringLiteral("No Album"));
}

TEST_F(TrackDbTest, EveryTruncationFailsWithoutLosingTheCompleteTracks) {
    TrackDbLayout at;
    const QByteArray good = WriteTrackDb(SampleDb(), &at);
    // Only the last section (skipped) follows the playlists: cutting it loses nothing.
    const qint64 playlistsEnd = at.PlaylistSection + ByteView(good).U32(at.PlaylistSection + 8);
    for (qsizetype cut = 0; cut < good.size(); ++cut) {
        TiTunesDB db("E:", false);
        ASSERT_EQ(Parse(db, good.left(cut)), cut >= playlistsEnd) << cut;
        ASSERT_EQ(db.ErrorCode != 0, cut < playlistsEnd) << cut;
        ASSERT_EQ(db.Damaged(), db.ErrorCode == ecDataPastEnd) << cut;
        // A track is kept exactly when its record was complete.
        int complete = 0;
        for (size_t i = 0; i < at.Tracks.size(); ++i)
            complete += (i + 1 < at.Tracks.size() ? at.Tracks[i + 1] : at.PlaylistSection) <= cut;
        ASSERT_EQ(db.Tracks.Count(), complete) << cut;
    }
}

TEST_F(TrackDbTest, OneDamagedByteAnywhereNeverBreaksTheReader) {
    const QByteArray good = WriteTrackDb(SampleDb());
    for (qsizetype i = 0; i < good.size(); ++i) {
        for (const char value : {'\0', '\xff', '\x7f'}) {
            QByteArray bytes = good;
            bytes[i] = value;
            TiTunesDB db("E:", false);
            Parse(db, bytes);
            // Every track record takes at least a header's room in the data.
            ASSERT_LE(db.Tracks.Count(), bytes.size() / 12) << i;
            ASSERT_LE(db.Playlists.Count(), bytes.size() / 12) << i;
        }
    }
}

TEST(TrackItem, ListsRefuseIndexesOutsideAndVideoIsByExtension) {
    TTrackList tracks;
    EXPECT_THROW(tracks.GetItem(0), std::out_of_range);
    tracks.Add().Title = QStringLiteral("x");
    TTrackItem& first = tracks.GetItem(0);
    for (int i = 0; i < 1000; ++i)
        tracks.Add();
    EXPECT_EQ(first.Title, QStringLiteral("x")); // items keep their address while the list grows
    EXPECT_THROW(tracks.GetItem(-1), std::out_of_range);
    EXPECT_THROW(tracks.GetItem(1001), std::out_of_range);
    TPlayListItem p;
    p.TrackIds = {1, 2};
    p.Count = 2;
    EXPECT_EQ(p.GetTrackId(1), 2u);
    EXPECT_THROW(p.GetTrackId(2), std::out_of_range);
    EXPECT_THROW(TPlayLists().GetItem(0), std::out_of_range);

    for (const auto& [location, video] : std::vector<std::pair<const char*, bool>>{
             {":iPod_Control:Music:F00:CLIP.M4V", true}, {":a:b.mp4", true}, {":a:b.MoV", true}, {":a:b.mp3", false},
             {":a:noext", false}, {":a.mp4:noext", false}, {"C:\\x.mov\\file", false}, {"", false}, {":a:b.mp4x", false}}) {
        TTrackItem t;
        t.Location = QString::fromLatin1(location);
        EXPECT_EQ(t.IsVideo(), video) << location;
    }
}

TEST_F(TrackDbTest, StringsAreReadOnlyInsideTheirOwnTrackAndAnOddLastByteIsACharacter) {
    TiTunesDB db("E:", false);
    // Track 0's header length points into track 1's string records: they are not track 0's.
    ASSERT_TRUE(ParsePatched(db, [](QByteArray& b, const TrackDbLayout& at) {
        PutU32(b, at.Tracks[0] + 4, uint32_t(at.TrackStrings[1][0] - at.Tracks[0]));
    }));
    EXPECT_TRUE(db.Tracks.GetItem(0).Title.isEmpty());
    EXPECT_TRUE(db.Tracks.GetItem(0).Artist.isEmpty());
    EXPECT_EQ(db.Tracks.GetItem(1).Artist, QStringLiteral("Plastic Bertrand"));
    // "Blue Monday" is 22 bytes; 21 leave the 'y' as the odd last byte.
    TiTunesDB odd("E:", false);
    ASSERT_TRUE(ParsePatched(odd, [](QByteArray& b, const TrackDbLayout& at) {
        PutFields(b, {{at.TrackStrings[0][0] + 28, 21}, {at.TrackStrings[1][0] + 28, 19}});
    }));
    EXPECT_EQ(odd.Tracks.GetItem(0).Title, QStringLiteral("Blue Monday"));
    // "Ça plane pour moi" cut after 9 whole characters, then the low byte of 'p'.
    EXPECT_EQ(odd.Tracks.GetItem(1).Title, QString::fromUtf8("Ça plane p"));
}

TEST_F(TrackDbTest, TrackListsThatSectionsPointAtAgainAreNotReadTwice) {
    // Many sections that all point at the same track list: the list is not parsed again and
    // again (a small file would otherwise cost time by the square of its size).
    constexpr int kRepeats = 200;
    FixtureDb looped = SampleDb();
    for (int k = 0; k < kRepeats; ++k) {
        QByteArray s = Record("mhsd", 96, 96);
        PutFields(s, {{4, uint64_t((kRepeats - k + 1) * 96)} /* header length: up to the track list */, {12, 1}});
        looped.ExtraSections.push_back(s);
    }
    TrackDbLayout at;
    const QByteArray bytes = WriteTrackDb(looped, &at);
    ASSERT_EQ(at.TrackList, 188 + (kRepeats + 1) * 96); // every repeat points at the real list
    TiTunesDB ldb("E:", false);
    Parse(ldb, bytes);
    EXPECT_TRUE(ldb.Damaged());
    EXPECT_LE(ldb.Tracks.Count(), 5);
}

namespace {

// Everything a load gives, as one text.
QString Describe(const TiTunesDB& db) {
    QStringList lines{QStringLiteral("%1 %2 %3").arg(db.TotalTime).arg(db.TotalSize).arg(db.ErrorCode)};
    for (int i = 0; i < db.Tracks.Count(); ++i) {
        const TTrackItem& t = db.Tracks.GetItem(i);
        lines << QStringList{QString::number(t.TrackId), QString::number(t.Size), QString::number(t.Length),
                             QString::number(t.Rating), QString::number(t.PlayCount), QString::number(t.MediaType),
                             QString::number(t.DbId), QString::number(t.ArtworkLink), t.Title, t.Artist, t.Album,
                             t.Genre, t.KindText, t.Location}
                     .join(u'|');
    }
    for (int i = 0; i < db.Playlists.Count(); ++i) {
        const TPlayListItem& p = db.Playlists.GetItem(i);
        QStringList ids;
        for (int k = 0; k < p.Count; ++k)
            ids << QString::number(p.GetTrackId(k));
        lines << p.Name + u'|' + QString::number(p.Smart) + u'|' + ids.join(u',');
    }
    return lines.join(u'\n');
}

} // namespace

TEST_F(TrackDbTest, ReadingTheFileInChunksGivesTheSameAndAShrinkingFileIsAReadError) {
    for (const QByteArray& bytes : {WriteTrackDb(SampleDb()), WriteTrackDb(LargeDb(40, 3))}) {
        QTemporaryFile file;
        ASSERT_TRUE(file.open());
        ASSERT_EQ(file.write(bytes), bytes.size());
        ASSERT_TRUE(file.flush());
        TiTunesDB whole("E:", false);
        ASSERT_TRUE(whole.LoadFromData(bytes));
        // Small windows make records straddle a refill at every kind of place.
        for (const qint64 chunk : {qint64(64), qint64(1000), qint64(4096), kTrackDbChunk}) {
            TiTunesDB db("E:", false);
            EXPECT_TRUE(db.LoadFromFile(file.handle(), bytes.size(), chunk)) << chunk;
            EXPECT_EQ(Describe(db), Describe(whole)) << chunk;
        }
        // A file that shrinks after it was opened (a pulled device) is a read error, never a
        // shorter list taken for the whole.
        ASSERT_TRUE(file.resize(bytes.size() / 2));
        TiTunesDB cut("E:", false);
        EXPECT_THROW(cut.LoadFromFile(file.handle(), bytes.size(), 1000), platform::Error);
    }
}

TEST_F(TrackDbTest, DamageFailsTheLoadOnlyWhereDataItNeedsIsCutOff) {
    TrackDbLayout at, alone;
    const QByteArray good = WriteTrackDb(SampleDb(), &at);
    const qint64 last = at.PlaylistSection + ByteView(good).U32(at.PlaylistSection + 8);
    FixtureDb withoutLast = SampleDb();
    withoutLast.PodcastSection = false;
    const QByteArray playlistsLast = WriteTrackDb(withoutLast, &alone);
    FixtureDb unusedFirst = SampleDb();
    QByteArray unused = Record("mhsd", 96, 96);
    PutU32(unused, 12, 9);
    unusedFirst.ExtraSections = {unused};
    const QByteArray early = WriteTrackDb(unusedFirst);
    const auto patched = [](QByteArray bytes, qint64 pos, uint32_t value) {
        PutU32(bytes, pos, value);
        return bytes;
    };
    const struct {
        const char* Name;
        QByteArray Bytes;
        bool Loads, Damaged;
        int Tracks, Playlists;
    } cases[] = {
        {"last section runs past the end", patched(good, last + 8, 0xFFFFFF00), true, false, 5, 3},
        {"last section of length 0", patched(good, last + 8, 0), true, false, 5, 3},
        {"the playlists, last, run past the end", patched(playlistsLast, alone.PlaylistSection + 8, 0xFFFFFF00), true,
         false, 5, 3},
        {"unused section before the lists runs past the end", patched(early, 188 + 8, 0xFFFFFF00), false, true, 0, 0},
        {"unused section before the lists of length 0", patched(early, 188 + 8, 0), true, true, 0, 0},
        {"track section runs past the end before the playlists", patched(good, at.TrackSection + 8, 0xFFFFFF00), false,
         true, 5, 0},
    };
    for (const auto& c : cases) {
        TiTunesDB db("E:", false);
        EXPECT_EQ(Parse(db, c.Bytes), c.Loads) << c.Name;
        EXPECT_EQ(db.ErrorCode, c.Loads ? ecNone : ecDataPastEnd) << c.Name;
        EXPECT_EQ(db.Damaged(), c.Damaged) << c.Name;
        EXPECT_EQ(db.Tracks.Count(), c.Tracks) << c.Name;
        EXPECT_EQ(db.Playlists.Count(), c.Playlists) << c.Name;
    }
}

TEST_F(TrackDbTest, TextsOutliveTheDatabaseAndAChangedCopyLeavesTheOthersAlone) {
    QString title;
    {
        TiTunesDB db("E:", false);
        ASSERT_TRUE(Parse(db, WriteTrackDb(SampleDb())));
        title = db.Tracks.GetItem(0).Title;
        title += QStringLiteral("!!!!"); // the texts share one block: this must not run into the next
        ExpectSample(db);
    }
    EXPECT_EQ(title, QStringLiteral("Blue Monday!!!!"));
    title += QStringLiteral("?"); // the last holder of the block
    EXPECT_EQ(title, QStringLiteral("Blue Monday!!!!?"));
}
