#include "device/TrackDb.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>

using namespace device;
using namespace fixtures;

namespace {

class TrackDbTest : public ::testing::Test {
protected:
    void TearDown() override {
        platform::SetDriveTableForTesting(std::nullopt);
        SetHandheldFileReader({});
    }

    // Maps a fresh device folder as drive E: and returns its tree.
    DeviceTree MapDevice() {
        DeviceTree tree(Dir.path() + QStringLiteral("/ipod"));
        platform::SetDriveTableForTesting(std::vector<platform::Drive>{tree.AsDrive('E')});
        return tree;
    }

    // A handheld whose files come from the tree's media root.
    static void UseHandheld(const DeviceTree& tree) {
        SetHandheldFileReader([tree](const QByteArray& path, QByteArray& out) {
            QFile f(tree.MediaPath(QString::fromUtf8(path)));
            if (!f.open(QIODevice::ReadOnly))
                return false;
            out = f.readAll();
            return true;
        });
    }

    QTemporaryDir Dir;
};

bool Parse(TiTunesDB& db, const QByteArray& bytes) { return db.LoadFromData(bytes); }

void ExpectSample(const TiTunesDB& db) {
    ASSERT_EQ(db.Tracks.Count(), 5);
    const TTrackItem& a = db.Tracks.GetItem(0);
    EXPECT_EQ(a.TrackId, 101u);
    EXPECT_EQ(a.Rating, 80);
    EXPECT_EQ(a.Size, 4123456u);
    EXPECT_EQ(a.Length, 215000u);
    EXPECT_EQ(a.PlayCount, 7u);
    EXPECT_EQ(a.MediaType, 1u);
    EXPECT_EQ(a.Title, QStringLiteral("Blue Monday"));
    EXPECT_EQ(a.Artist, QStringLiteral("New Order"));
    EXPECT_EQ(a.Album, QStringLiteral("Substance"));
    EXPECT_EQ(a.Genre, QStringLiteral("Electronic"));
    EXPECT_EQ(a.KindText, QStringLiteral("MPEG audio file")); // blanks and tab trimmed
    EXPECT_EQ(a.Location, QStringLiteral(":iPod_Control:Music:F00:ABCD.mp3"));
    EXPECT_EQ(a.HasArtwork, 0);
    EXPECT_EQ(a.DbId, 0u);
    EXPECT_EQ(a.Selected, 0);
    EXPECT_EQ(a.ArtIndex, -1);
    EXPECT_TRUE(a.DestPath.isEmpty());

    const TTrackItem& b = db.Tracks.GetItem(1);
    EXPECT_EQ(b.Title, QString::fromUtf8("Ça plane pour moi – 日本"));
    EXPECT_TRUE(b.Album.isEmpty());
    EXPECT_EQ(b.HasArtwork, 1);
    EXPECT_EQ(b.DbId, 0xF00DFACE12345678ull);
    EXPECT_EQ(b.ArtworkLink, 77u);

    EXPECT_EQ(db.Tracks.GetItem(2).MediaType, 2u);
    EXPECT_TRUE(db.Tracks.GetItem(2).IsVideo());
    // Byte 164 = 2: no artwork, and the id is not taken.
    EXPECT_EQ(db.Tracks.GetItem(3).HasArtwork, 0);
    EXPECT_EQ(db.Tracks.GetItem(3).DbId, 0u);
    // The oldest header (156 bytes) still yields its strings.
    EXPECT_EQ(db.Tracks.GetItem(4).Title, QStringLiteral("Old Record"));
    EXPECT_EQ(db.Tracks.GetItem(4).Location, QStringLiteral(":iPod_Control:Music:F04:QRST.wav"));

    EXPECT_EQ(db.TotalTime, 215000u + 61000 + 3723000 + 1000 + 500);
    EXPECT_EQ(db.TotalSize, 4123456ll + 1000 + 150000000 + 2048 + 300);

    ASSERT_EQ(db.Playlists.Count(), 3); // the podcast copy (type 3) is skipped
    const TPlayListItem& master = db.Playlists.GetItem(0);
    EXPECT_EQ(master.Name, QStringLiteral("Test iPod"));
    EXPECT_EQ(master.Count, 5);
    EXPECT_EQ(master.GetTrackId(4), 105u);
    EXPECT_EQ(master.Smart, 0);
    const TPlayListItem& plain = db.Playlists.GetItem(1);
    EXPECT_EQ(plain.TrackIds, (std::vector<uint32_t>{103, 101, 999}));
    EXPECT_EQ(plain.Count, 3);
    EXPECT_EQ(db.Playlists.GetItem(2).Smart, 1);
    EXPECT_EQ(db.Playlists.GetItem(2).Name, QStringLiteral("Recently Played"));
    EXPECT_EQ(db.Playlists.GetItem(2).TrackIds, (std::vector<uint32_t>{102}));
}

} // namespace

TEST_F(TrackDbTest, LoadsEveryFieldFromTheDiskThroughTheDriveTable) {
    const DeviceTree tree = MapDevice();
    const QByteArray bytes = WriteTrackDb(SampleDb());
    tree.WriteTrackDb(bytes);
    TiTunesDB db("E:", false);
    EXPECT_EQ(db.PlayingIndex, -1);
    ASSERT_TRUE(db.Load());
    EXPECT_EQ(db.ErrorCode, 0);
    EXPECT_EQ(db.Header, bytes.left(24));
    ExpectSample(db);
}

TEST_F(TrackDbTest, UpperCaseTagsAreAccepted) {
    FixtureDb sample = SampleDb();
    sample.UpperCaseTags = true;
    TiTunesDB db("E:", false);
    ASSERT_TRUE(Parse(db, WriteTrackDb(sample)));
    ExpectSample(db);
}

TEST_F(TrackDbTest, MissingDiskFileRaisesTheOpenError) {
    MapDevice();
    TiTunesDB db("E:", false);
    EXPECT_THROW(db.Load(), platform::EFOpenError);
    TiTunesDB unmapped("Q:", false);
    EXPECT_THROW(unmapped.Load(), platform::EFOpenError);
}

TEST_F(TrackDbTest, HandheldPrefersTheCompressedDatabaseThenThePlainOne) {
    const DeviceTree tree = MapDevice();
    UseHandheld(tree);
    FixtureDb other = SampleDb();
    other.Tracks.resize(1);
    tree.WriteHandheldTrackDb(WriteTrackDb(SampleDb()), true);
    tree.WriteHandheldTrackDb(WriteTrackDb(other), false);
    {
        TiTunesDB db("D", true);
        ASSERT_TRUE(db.Load());
        ExpectSample(db);
    }
    QFile::remove(tree.MediaPath(QStringLiteral("/iTunes_Control/iTunes/iTunesCDB")));
    {
        TiTunesDB db("D", true);
        ASSERT_TRUE(db.Load());
        EXPECT_EQ(db.Tracks.Count(), 1);
    }
    QFile::remove(tree.MediaPath(QStringLiteral("/iTunes_Control/iTunes/iTunesDB")));
    {
        TiTunesDB db("D", true);
        db.ErrorCode = 99; // unchanged by an unreadable device
        EXPECT_FALSE(db.Load());
        EXPECT_EQ(db.ErrorCode, 99);
    }
    SetHandheldFileReader({});
    TiTunesDB db("D", true);
    EXPECT_FALSE(db.Load());
}

TEST_F(TrackDbTest, CompressedDataThatDoesNotInflateRaisesTheDecompressionError) {
    const DeviceTree tree = MapDevice();
    UseHandheld(tree);
    QByteArray cdb = CompressTrackDb(WriteTrackDb(SampleDb()));
    cdb[188 + 2] = char(cdb[188 + 2] ^ 0x55); // inside the zlib stream, just after its header
    tree.WriteFile(QLatin1String(DeviceTree::kMediaRoot) + QStringLiteral("/iTunes_Control/iTunes/iTunesCDB"), cdb);
    tree.WriteHandheldTrackDb(WriteTrackDb(SampleDb()), false); // not a fallback for bad data
    TiTunesDB db("D", true);
    EXPECT_THROW(db.Load(), platform::EDecompressionError);
}

TEST_F(TrackDbTest, ZeroSectionsAndUnknownSectionTypes) {
    FixtureDb empty;
    empty.WriteTracks = empty.WritePlaylists = false;
    TiTunesDB none("E:", false);
    EXPECT_TRUE(Parse(none, WriteTrackDb(empty)));
    EXPECT_EQ(none.Tracks.Count(), 0);
    EXPECT_EQ(none.Playlists.Count(), 0);

    // Types 4 and 5 come first and are skipped by their total length.
    FixtureDb sample = SampleDb();
    QByteArray albums = Record("mhsd", 96, 96 + 12 + 20, {});
    PutU32(albums, 12, 4);
    albums += Record("mhla", 12, 0) + QByteArray(20, 'x');
    QByteArray smart = Record("mhsd", 96, 96);
    PutU32(smart, 12, 5);
    sample.ExtraSections = {albums, smart};
    TiTunesDB db("E:", false);
    ASSERT_TRUE(Parse(db, WriteTrackDb(sample)));
    ExpectSample(db);
}

TEST_F(TrackDbTest, ArtworkLinkIsTakenOnlyAboveTotalLength352) {
    FixtureDb d;
    FixtureTrack t;
    t.HasArtwork = true;
    t.DbId = 9;
    t.ArtworkLink = 1234;
    t.HeaderLength = 352; // no strings: the total length equals the header length
    d.Tracks = {t, t};
    d.Tracks[1].HeaderLength = 353;
    d.WritePlaylists = false;
    TiTunesDB db("E:", false);
    ASSERT_TRUE(Parse(db, WriteTrackDb(d)));
    EXPECT_EQ(db.Tracks.GetItem(0).ArtworkLink, 0u);
    EXPECT_EQ(db.Tracks.GetItem(0).DbId, 9u);
    EXPECT_EQ(db.Tracks.GetItem(1).ArtworkLink, 1234u);
}

TEST_F(TrackDbTest, PlaylistWithoutStringRecordsStillReadsItsItems) {
    FixtureDb d = SampleDb();
    d.Playlists[1].Name.clear();
    d.Playlists[1].ColumnInfo = false; // the header is followed directly by an mhip
    TiTunesDB db("E:", false);
    ASSERT_TRUE(Parse(db, WriteTrackDb(d)));
    EXPECT_TRUE(db.Playlists.GetItem(1).Name.isEmpty());
    EXPECT_EQ(db.Playlists.GetItem(1).Smart, 0);
    EXPECT_EQ(db.Playlists.GetItem(1).TrackIds, (std::vector<uint32_t>{103, 101, 999}));
}

TEST_F(TrackDbTest, PlaylistItemOfAnotherTagIsSkipped) {
    TrackDbLayout at;
    QByteArray bytes = WriteTrackDb(SampleDb(), &at);
    PutTag(bytes, at.PlaylistItems[1][1], "mhix");
    TiTunesDB db("E:", false);
    ASSERT_TRUE(Parse(db, bytes));
    EXPECT_EQ(db.Playlists.GetItem(1).TrackIds, (std::vector<uint32_t>{103, 999}));
    EXPECT_EQ(db.Playlists.GetItem(1).Count, 2);
}

TEST_F(TrackDbTest, FormatErrorsSetTheirCodesAndKeepWhatWasRead) {
    TrackDbLayout at;
    const QByteArray good = WriteTrackDb(SampleDb(), &at);
    struct Case {
        qint64 Pos;
        int32_t Code;
        int Tracks;
    };
    for (const Case& c : {Case{0, ecNotMhbd, 0}, Case{at.TrackList, ecNotMhlt, 0}, Case{at.PlaylistList, ecNotMhlp, 5}}) {
        QByteArray bytes = good;
        PutTag(bytes, c.Pos, "xxxx");
        TiTunesDB db("E:", false);
        EXPECT_FALSE(Parse(db, bytes));
        EXPECT_EQ(db.ErrorCode, c.Code);
        EXPECT_EQ(db.Tracks.Count(), c.Tracks);
        EXPECT_EQ(db.Playlists.Count(), 0);
    }
}

TEST_F(TrackDbTest, StringRecordsThatEndTheWalk) {
    TrackDbLayout at;
    QByteArray bytes = WriteTrackDb(SampleDb(), &at);
    // Track 0: a zero-length first record ends its strings; the next track is untouched.
    PutU32(bytes, at.TrackStrings[0][0] + 8, 0);
    // Track 1: a record that is not an "mhod" ends its strings after the title.
    PutTag(bytes, at.TrackStrings[1][1], "mhoX");
    // Track 2: a text length far beyond its record reads only its own record.
    PutU32(bytes, at.TrackStrings[2][0] + 28, 0xFFFFFFFF);
    TiTunesDB db("E:", false);
    ASSERT_TRUE(Parse(db, bytes));
    EXPECT_TRUE(db.Tracks.GetItem(0).Title.isEmpty());
    EXPECT_TRUE(db.Tracks.GetItem(0).Artist.isEmpty());
    EXPECT_FALSE(db.Tracks.GetItem(1).Title.isEmpty());
    EXPECT_TRUE(db.Tracks.GetItem(1).Location.isEmpty());
    EXPECT_EQ(db.Tracks.GetItem(2).Title, QStringLiteral("A Film"));
    EXPECT_EQ(db.Tracks.GetItem(3).Title, QStringLiteral("No Album"));

    // A playlist string record of length 0 with a type ends the walk instead of spinning on it;
    // the items cannot be found behind it: damage, but nothing was cut off.
    QByteArray p = WriteTrackDb(SampleDb(), &at);
    PutU32(p, at.Playlists[1] + 108 + 8, 0);
    TiTunesDB pdb("E:", false);
    EXPECT_TRUE(Parse(pdb, p));
    EXPECT_TRUE(pdb.Damaged());
    EXPECT_EQ(pdb.Playlists.GetItem(1).Count, 0);
    EXPECT_EQ(pdb.Playlists.GetItem(2).Count, 1);
    EXPECT_EQ(pdb.Tracks.Count(), 5);
}

TEST_F(TrackDbTest, HugeCountsEndAtTheEndOfTheirRecords) {
    TrackDbLayout at;
    QByteArray bytes = WriteTrackDb(SampleDb(), &at);
    PutU32(bytes, at.Tracks[0] + 12, 0x7FFFFFFF);     // strings of track 0
    PutU32(bytes, at.Playlists[1] + 16, 0x7FFFFFFF);  // items of playlist 1
    TiTunesDB db("E:", false);
    ASSERT_TRUE(Parse(db, bytes));
    EXPECT_EQ(db.Tracks.GetItem(0).Title, QStringLiteral("Blue Monday"));
    EXPECT_EQ(db.Tracks.GetItem(1).Title, QString::fromUtf8("Ça plane pour moi – 日本"));
    EXPECT_EQ(db.Playlists.GetItem(1).Count, 3);

    // A track count beyond the data walks on to the end of the data, then reports the damage.
    QByteArray tracks = WriteTrackDb(SampleDb(), &at);
    PutU32(tracks, at.TrackList + 8, 0x7FFFFFFF);
    TiTunesDB tdb("E:", false);
    EXPECT_FALSE(Parse(tdb, tracks));
    EXPECT_EQ(tdb.ErrorCode, ecDataPastEnd);
    EXPECT_GE(tdb.Tracks.Count(), 5);
    EXPECT_LE(tdb.Tracks.Count(), 10);
    EXPECT_EQ(tdb.Tracks.GetItem(4).Title, QStringLiteral("Old Record"));

    QByteArray sections = WriteTrackDb(SampleDb());
    PutU32(sections, 20, 0x7FFFFFFF); // sections that are not there, after both lists
    TiTunesDB sdb("E:", false);
    EXPECT_TRUE(Parse(sdb, sections));
    EXPECT_FALSE(sdb.Damaged());
    EXPECT_EQ(sdb.Playlists.Count(), 3);
}

TEST_F(TrackDbTest, RecordsRunningPastTheEndEndTheirListAndFailTheLoad) {
    TrackDbLayout at;
    const QByteArray good = WriteTrackDb(SampleDb(), &at);
    {
        QByteArray bytes = good;
        PutU32(bytes, at.Tracks[3] + 8, 0xFFFFFFF0);
        TiTunesDB db("E:", false);
        EXPECT_FALSE(Parse(db, bytes));
        EXPECT_EQ(db.ErrorCode, ecDataPastEnd);
        EXPECT_EQ(db.Tracks.Count(), 3);
        EXPECT_EQ(db.TotalSize, 4123456ll + 1000 + 150000000);
    }
    {
        // A section of total length 0 cannot be stepped over: read once, then the walk ends.
        QByteArray bytes = good;
        PutU32(bytes, at.TrackSection + 8, 0);
        TiTunesDB db("E:", false);
        EXPECT_TRUE(Parse(db, bytes));
        EXPECT_TRUE(db.Damaged());
        EXPECT_EQ(db.Tracks.Count(), 5);
        EXPECT_EQ(db.Playlists.Count(), 0);
    }
    {
        QByteArray bytes = good;
        PutU32(bytes, at.PlaylistItems[0][2] + 8, 0); // an mhip of length 0
        TiTunesDB db("E:", false);
        EXPECT_TRUE(Parse(db, bytes));
        EXPECT_TRUE(db.Damaged());
        EXPECT_EQ(db.Playlists.GetItem(0).Count, 2);
        EXPECT_EQ(db.Playlists.Count(), 3);
    }
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
        for (size_t i = 0; i < at.Tracks.size(); ++i) {
            const qint64 end = i + 1 < at.Tracks.size() ? at.Tracks[i + 1] : at.PlaylistSection;
            if (end <= cut)
                ++complete;
        }
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
    TPlayLists lists;
    EXPECT_THROW(lists.GetItem(0), std::out_of_range);

    struct Case {
        const char* Location;
        bool Video;
    };
    for (const Case& c : {Case{":iPod_Control:Music:F00:CLIP.M4V", true}, Case{":a:b.mp4", true},
                          Case{":a:b.MoV", true}, Case{":a:b.mp3", false}, Case{":a:noext", false},
                          Case{":a.mp4:noext", false}, Case{"C:\\x.mov\\file", false}, Case{"", false},
                          Case{":a:b.mp4x", false}}) {
        TTrackItem t;
        t.Location = QString::fromLatin1(c.Location);
        EXPECT_EQ(t.IsVideo(), c.Video) << c.Location;
    }
    TTrackItem t;
    t.Size = 1048576;
    t.Length = 3723000;
    EXPECT_EQ(t.SizeText(), QByteArray("1.00 MB"));
    EXPECT_EQ(t.LengthText(), QByteArray("1:02:03"));
}

TEST_F(TrackDbTest, StringsAreReadOnlyInsideTheirOwnTrackAndAnOddLastByteIsACharacter) {
    TrackDbLayout at;
    QByteArray bytes = WriteTrackDb(SampleDb(), &at);
    // Track 0's header length points into track 1's string records: they are not track 0's.
    PutU32(bytes, at.Tracks[0] + 4, uint32_t(at.TrackStrings[1][0] - at.Tracks[0]));
    // "Blue Monday" is 22 bytes; 21 leave the 'y' as the odd last byte.
    QByteArray odd = WriteTrackDb(SampleDb(), &at);
    PutU32(odd, at.TrackStrings[0][0] + 28, 21);
    PutU32(odd, at.TrackStrings[1][0] + 28, 19);
    {
        TiTunesDB db("E:", false);
        ASSERT_TRUE(Parse(db, bytes));
        EXPECT_TRUE(db.Tracks.GetItem(0).Title.isEmpty());
        EXPECT_TRUE(db.Tracks.GetItem(0).Artist.isEmpty());
        EXPECT_EQ(db.Tracks.GetItem(1).Artist, QStringLiteral("Plastic Bertrand"));
    }
    {
        TiTunesDB db("E:", false);
        ASSERT_TRUE(Parse(db, odd));
        EXPECT_EQ(db.Tracks.GetItem(0).Title, QStringLiteral("Blue Monday"));
        // "Ça plane pour moi" cut after 9 whole characters, then the low byte of 'p'.
        EXPECT_EQ(db.Tracks.GetItem(1).Title, QString::fromUtf8("Ça plane p"));
    }
}

TEST_F(TrackDbTest, TotalsDescribeTheLastTrackListAndListsAreNotReadTwice) {
    // A second, separate track section replaces the first; the totals follow it.
    FixtureDb first;
    FixtureTrack t;
    t.TrackId = 7;
    t.Size = 1000000;
    t.Length = 99000;
    first.Tracks = {t};
    first.WritePlaylists = false;
    const QByteArray single = WriteTrackDb(first);
    const QByteArray section = single.mid(188); // the one track section, as written
    FixtureDb two = SampleDb();
    two.ExtraSections = {section};
    TiTunesDB db("E:", false);
    ASSERT_TRUE(Parse(db, WriteTrackDb(two)));
    ExpectSample(db);

    // Many sections that all point at the same track list: the list is not parsed again and
    // again (a small file would otherwise cost time by the square of its size).
    constexpr int kRepeats = 200;
    std::vector<QByteArray> repeats;
    for (int k = 0; k < kRepeats; ++k) {
        QByteArray s = Record("mhsd", 96, 96);
        PutU32(s, 4, uint32_t((kRepeats - k + 1) * 96)); // header length: up to the track list
        PutU32(s, 12, 1);
        repeats.push_back(s);
    }
    FixtureDb looped = SampleDb();
    looped.ExtraSections = repeats;
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
