// Device files through the simulated library: whole-file reads and writes, reads at offsets,
// the buffered copy and the prefs flag with their failure texts; the track database, photos
// and album art of a phone, read as the window and the copy thread read them.
#include <QFileInfo>
#include <sys/stat.h>

#include <thread>

#include "SimLink.h"
#include "device/ArtworkDb.h"
#include "device/PhotoDb.h"
#include "device/TrackDb.h"
#include "platform/Errors.h"
#include "tests/fixtures/ArtworkDbWriter.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "tests/fixtures/ThumbWriter.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QImage>

using namespace simtest;
using namespace fixtures;
using handheld::IphoneLastError;

namespace {

const QString kMedia = "/var/mobile/Media";
constexpr qsizetype kChunk = 0x300000;

class ThroughLink : public SimLink {
protected:
    DeviceTree Tree{Device.path()};
    QTemporaryDir OutDir;
    int Progress = 0;

    void SetUp() override { StartConnected(); }
    // The call fails and leaves this text.
    template <typename F> void ExpectFailure(const char* sim, const char* text, F call) {
        if (*sim) Sim(sim);
        EXPECT_FALSE(call()) << text;
        EXPECT_EQ(IphoneLastError(), text);
        Sim("reset");
    }
    // Loads the set's database with every photo selected for export into OutDir.
    std::unique_ptr<device::TPhotoDb> LoadPhotos(const PhotoSet& set) {
        WritePhotoSet(Tree, set, true);
        auto db = std::make_unique<device::TPhotoDb>("iPhone", true);
        EXPECT_TRUE(db->Load(false));
        for (int i = 0; i < db->Photos.Count(); ++i)
            db->Photos.GetItem(i)->Selected = 1;
        ClearOut();
        db->OutputFolder = OutDir.path() + "/";
        db->OnProgress = [this] { ++Progress; };
        return db;
    }
    void ClearOut() {
        QDir(OutDir.path()).removeRecursively();
        QDir().mkpath(OutDir.path());
        Progress = 0;
    }
    QStringList Files() const {
        return QDir(OutDir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

// The centre of each quadrant has the fixture's colour for it.
void ExpectQuadrants(const QImage& image, int seed, int tolerance) {
    ASSERT_FALSE(image.isNull());
    for (int q = 0; q < 4; ++q) {
        const QColor want = QuadrantColour(seed, q);
        const QRgb got =
            image.pixel((q % 2 * 2 + 1) * image.width() / 4, (q / 2 * 2 + 1) * image.height() / 4);
        for (const auto& [a, b] :
             {std::pair{qRed(got), want.red()}, {qGreen(got), want.green()}, {qBlue(got), want.blue()}})
            EXPECT_NEAR(a, b, tolerance) << q;
    }
}

TEST_F(ThroughLink, WholeFileReadsWritesAndThePrefsFlag) {
    // A read appends at the stream's position; a write sends the whole content in one call.
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    stream.write("xy");
    Put(kMedia + "/a", "abc");
    ASSERT_TRUE(handheld::DeviceReadFile("/a", stream));
    EXPECT_EQ(stream.data(), "xyabc");
    stream.seek(1);
    ASSERT_TRUE(handheld::DeviceWriteFile("/new.bin", stream));
    EXPECT_EQ(ReadFile(Device.path() + kMedia + "/new.bin"), "xyabc");
    EXPECT_EQ(stream.pos(), 5);
    EXPECT_EQ(Sim("count AFCFileRefWrite"), 1);

    auto read = [&] { return handheld::DeviceReadFile("/f", stream); };
    ExpectFailure("", "Not found", read);
    Put(kMedia + "/f", Pattern(kChunk + 10));
    ExpectFailure("fail AFCFileRefOpen 3892314131", "Open error: 3892314131", read);
    Sim("fail AFCFileRefRead 10 1");
    const qint64 before = stream.size();
    EXPECT_FALSE(read());
    EXPECT_EQ(IphoneLastError(), "Read error: 10");
    EXPECT_EQ(stream.size() - before, kChunk); // chunks read so far stay
    EXPECT_EQ(Sim("count AFCFileRefClose"), 1);
    // The prefs flag: other values and short files are left alone (flag 1 is cleared in the fake
    // usbmuxd case); a missing file fails.
    Sim("reset");
    const QString path = kMedia + "/iTunes_Control/iTunes/iTunesPrefs";
    for (const QByteArray& prefs : {QByteArray(20, '\2'), QByteArray(10, '\1')}) {
        Put(path, prefs);
        EXPECT_TRUE(handheld::ClearDevicePrefsFlag());
        EXPECT_EQ(ReadFile(Device.path() + path), prefs);
    }
    EXPECT_EQ(Sim("count AFCFileRefWrite"), 0);
    QFile::remove(Device.path() + path);
    ExpectFailure("", "Not found", handheld::ClearDevicePrefsFlag);
    // Without a connection every existence test fails.
    ASSERT_TRUE(handheld::CloseDevice());
    ExpectFailure("", "Not found", read);
    EXPECT_FALSE(handheld::DeviceFileExists("/var/mobile/Media/f"));
}

TEST_F(ThroughLink, ReadsAtOffsetsOfOneOpenFile) {
    const QByteArray bytes = Pattern(100);
    Put(kMedia + "/Photos/Thumbs/F1019_1.ithmb", bytes);
    ASSERT_TRUE(handheld::DeviceOpenFile("/Photos/Thumbs/F1019_1.ithmb"));
    char buffer[20];
    auto readAt = [&](char fill, quint64 offset) {
        memset(buffer, fill, sizeof buffer);
        return handheld::DeviceReadAt(20, buffer, offset);
    };
    // Another thread cannot replace our open reference before we close.
    Put(kMedia + "/two", "22222222");
    QByteArray otherRead;
    std::thread other([&] {
        char b[8] = {};
        if (handheld::DeviceOpenFile("/two") && handheld::DeviceReadAt(8, b, 0)) otherRead = QByteArray(b, 8);
        handheld::DeviceCloseFile();
    });
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(readAt(0, 40));
        ASSERT_EQ(QByteArray(buffer, 20), bytes.mid(40, 20));
    }
    // Near the end: a short read is still a success and the rest keeps its former content.
    ASSERT_TRUE(readAt('Z', 95));
    EXPECT_EQ(QByteArray(buffer, 20), bytes.mid(95, 5) + QByteArray(15, 'Z'));
    EXPECT_TRUE(handheld::DeviceCloseFile());
    other.join();
    EXPECT_EQ(otherRead, "22222222");
    ASSERT_TRUE(handheld::DeviceOpenFile("/Photos/Thumbs/F1019_1.ithmb"));
    // The library may deliver fewer bytes than asked anywhere.
    Sim("maxread 3");
    ASSERT_TRUE(readAt('X', 0));
    EXPECT_EQ(QByteArray(buffer, 4), bytes.left(3) + 'X');
    Sim("fail AFCFileRefSeek 22");
    EXPECT_FALSE(readAt(0, 0));
    EXPECT_EQ(IphoneLastError(), "Seek Err: 22");
    Sim("fail AFCFileRefSeek 0");
    Sim("fail AFCFileRefRead 3892314112");
    EXPECT_FALSE(readAt(0, 0));
    EXPECT_EQ(IphoneLastError(), "Read Err: 3892314112");
    EXPECT_TRUE(handheld::DeviceCloseFile());
    ExpectFailure("", "Not found", [] { return handheld::DeviceOpenFile("/missing"); });
    // The failure text stays with the thread that caused it; the record holds the latest.
    Sim("fail AFCFileRefOpen 77");
    QByteArray otherText;
    std::thread([&] {
        handheld::DeviceOpenFile("/Photos/Thumbs/F1019_1.ithmb");
        otherText = handheld::DeviceLastError();
    }).join();
    EXPECT_EQ(otherText, "Open err: 77");
    EXPECT_EQ(IphoneLastError(), "Open err: 77");
    EXPECT_EQ(handheld::DeviceLastError(), "Not found");
}

TEST_F(ThroughLink, CopiesWholeFilesOrLeavesNone) {
    const QString local = OutDir.filePath("t.m4a");
    std::vector<char> buffer(4096);
    auto copyTo = [&](const QByteArray& path, const QString& to) {
        return handheld::DeviceCopyFileBuffered(path, to, buffer.data(), quint32(buffer.size()));
    };
    for (qsizetype size : {0, 4096, 4097, 100000, 2}) {
        Put(kMedia + "/iTunes_Control/Music/F00/t.m4a", Pattern(size));
        ASSERT_TRUE(copyTo("/iTunes_Control/Music/F00/t.m4a", local)) << size;
        EXPECT_EQ(ReadFile(local), Pattern(size)) << size; // the last one empties a longer file
    }
    // With a buffer of its own, larger than its first fill.
    Put(kMedia + "/big", Pattern(9 * 1024 * 1024));
    ASSERT_TRUE(handheld::DeviceCopyFile("/big", local.toUtf8()));
    EXPECT_EQ(ReadFile(local), Pattern(9 * 1024 * 1024));

    const QString fresh = OutDir.filePath("fresh.m4a");
    ExpectFailure("", "Not found", [&] { return copyTo("/missing", fresh); });
    Put(kMedia + "/t", Pattern(20000));
    // A read failing in the middle: no truncated file is left under the final name.
    Sim("fail AFCFileRefRead 10 2");
    EXPECT_FALSE(copyTo("/t", fresh));
    EXPECT_EQ(IphoneLastError(), "Read error: 10");
    EXPECT_FALSE(QFileInfo::exists(fresh));
    EXPECT_EQ(Sim("count AFCFileRefClose"), 1);
    // A local file that cannot be created reaches the caller; the device file is closed.
    Sim("reset");
    EXPECT_THROW(copyTo("/t", OutDir.filePath("no/such/folder/t.m4a")), platform::EFOpenError);
    EXPECT_EQ(Sim("count AFCFileRefClose"), 1);
    // /dev/full refuses every write with "no space", reached through a link of our own; the
    // link is no regular file and stays.
    const QString full = OutDir.filePath("full");
    ASSERT_TRUE(QFile::link("/dev/full", full));
    ExpectFailure("", "Write error: No space left on device", [&] { return copyTo("/t", full); });
    struct stat st;
    EXPECT_EQ(lstat(QFile::encodeName(full).constData(), &st), 0);
}

} // namespace

// The compressed database first, the plain one when that cannot be read (here one of several
// chunks); one that does not inflate raises; neither readable is false with the link's text.
TEST_F(ThroughLink, TrackDatabaseCompressedFirstThenPlain) {
    FixtureDb sample = SampleDb();
    sample.Tracks[0].Title = "From CDB";
    const QByteArray plain = WriteTrackDb(LargeDb(6000, 1));
    Tree.WriteHandheldTrackDb(WriteTrackDb(sample), true);
    Tree.WriteHandheldTrackDb(plain, false);
    device::TiTunesDB cdb("iPhone", true);
    ASSERT_TRUE(cdb.Load());
    EXPECT_EQ(cdb.Tracks.GetItem(0).Title, "From CDB");
    QFile::remove(Tree.MediaPath("/iTunes_Control/iTunes/iTunesCDB"));
    device::TiTunesDB db("iPhone", true);
    ASSERT_TRUE(db.Load());
    EXPECT_EQ(db.Tracks.Count(), 6000);
    EXPECT_EQ(db.Tracks.GetItem(5999).TrackId, 1000u + 5999u);
    const quint32 header = quint32(quint8(plain[4])) | quint32(quint8(plain[5])) << 8;
    Tree.WriteFile("var/mobile/Media/iTunes_Control/iTunes/iTunesCDB",
                   plain.left(header) + "not zlib at all");
    EXPECT_THROW(device::TiTunesDB("iPhone", true).Load(), platform::EDecompressionError);
    Sim("fail AFCFileRefOpen 5");
    device::TiTunesDB none("iPhone", true);
    none.ErrorCode = 99;
    EXPECT_FALSE(none.Load());
    EXPECT_EQ(none.ErrorCode, 99);
    EXPECT_EQ(handheld::IphoneLastError(), "Open error: 5");
}

// Photos arrive whole also in small pieces; a failed read writes nothing and the next photo
// stands alone; an image the container file ends inside is a failed read; a container that
// cannot be opened is one line with the link's reason and no progress. Grid tiles come from the open
// device file; a failing read and an image the container ends inside leave the tile as it was.
TEST_F(ThroughLink, FailedReadsOpensAndGridTiles) {
    auto db = LoadPhotos(MakePhotoSet(1024, 1036, 3, true, 3));
    Sim("maxread 4000");
    EXPECT_FALSE(db->ExportThumbs(true));
    Sim("maxread 0");
    EXPECT_TRUE(db->Log.isEmpty()) << db->Log.constData();
    EXPECT_EQ(Files(), (QStringList{"100.jpg", "101.jpg", "102.jpg"}));
    ExpectQuadrants(QImage(OutDir.path() + "/102.jpg"), 2, 12);
    ClearOut();
    db->Photos.GetItem(0)->Selected = 0;
    // Learn how many reads one photo takes, then let only the first selected photo's succeed.
    const int before = Sim("count AFCFileRefRead");
    ASSERT_FALSE(db->ExportThumbs(true));
    ClearOut();
    const int readsPerPhoto = (Sim("count AFCFileRefRead") - before) / 2;
    ASSERT_GT(readsPerPhoto, 0);
    Sim("fail AFCFileRefRead 10 " + QByteArray::number(readsPerPhoto));
    EXPECT_FALSE(db->ExportThumbs(true));
    EXPECT_EQ(Progress, 2);
    EXPECT_EQ(Files(), QStringList{"101.jpg"});
    ExpectQuadrants(QImage(OutDir.path() + "/101.jpg"), 1, 12);
    EXPECT_EQ(db->Photos.GetItem(2)->Selected, 1);
    EXPECT_TRUE(db->WorkStream.isEmpty());

    Sim("reset");
    QFile(Tree.Root() + "/var/mobile/Media/Photos/Thumbs/F1036_1.ithmb").resize(db->Small.Size + 10);
    db->BuildBitmapHeader(true);
    ASSERT_TRUE(db->OpenDeviceThumbFile("F1036_1.ithmb"));
    QByteArray buffer(db->Small.Size, '\0');
    QImage tile;
    db->LoadSmallThumbFromDevice(buffer, 0, tile);
    EXPECT_EQ(tile.size(), QSize(50, 41));
    ExpectQuadrants(tile, 0, 14);
    QImage kept(3, 3, QImage::Format_RGB888);
    kept.fill(Qt::red);
    db->LoadSmallThumbFromDevice(buffer, 1, kept); // short
    Sim("fail AFCFileRefRead 10");
    db->LoadSmallThumbFromDevice(buffer, 0, kept);
    EXPECT_EQ(kept.size(), QSize(3, 3));
    EXPECT_EQ(kept.pixelColor(1, 1), QColor(Qt::red));
    EXPECT_TRUE(db->CloseDeviceThumbFile());

    Sim("reset");
    auto three = LoadPhotos(MakePhotoSet(1024, 1036, 3, true, 1)); // three containers
    QFile container(Tree.Root() + "/var/mobile/Media/Photos/Thumbs/F1024_3.ithmb");
    ASSERT_TRUE(container.resize(container.size() - 2));
    EXPECT_FALSE(three->ExportThumbs(true));
    EXPECT_EQ(Progress, 3);
    EXPECT_EQ(Files(), (QStringList{"100.jpg", "101.jpg"}));
    ClearOut();
    Sim("fail AFCFileRefOpen 77");
    EXPECT_TRUE(three->ExportThumbs(true));
    EXPECT_TRUE(three->Log.startsWith("1024_1 :ip-")) << three->Log.constData();
    EXPECT_TRUE(three->Log.contains("77"));
    EXPECT_EQ(three->Log.count("\r\n"), 3);
    EXPECT_EQ(Progress, 0);
    EXPECT_TRUE(Files().isEmpty());
}

// Art has a fixed small format; a container that cannot be opened is skipped without progress.
TEST_F(ThroughLink, ArtworkThroughTheLink) {
    WriteArtSet(Tree, MakeArtSet(1060, 3006, 3, true, 2), true);
    device::TArtworkDb db("D", true);
    ASSERT_TRUE(db.Load());
    ASSERT_EQ(db.Arts.Count(), 3);
    QImage picture;
    ASSERT_TRUE(db.LoadSmallArt(2, picture));
    EXPECT_EQ(picture.size(), QSize(56, 56));
    ExpectQuadrants(picture.copy(0, 0, 56, 54), 2, 10);
    db.OutputFolder = OutDir.path() + "/";
    db.OnProgress = [&] { ++Progress; };
    auto exportArt = [&] {
        ClearOut();
        for (int i = 0; i < 3; ++i)
            db.Arts.GetItem(i)->Selected = 1;
        return db.ExportArt();
    };
    EXPECT_EQ(exportArt(), 3);
    EXPECT_EQ(Progress, 3);
    const QImage big(OutDir.path() + "/2.bmp");
    EXPECT_EQ(big.size(), QSize(320, 320));
    ExpectQuadrants(big, 2, 10);

    Sim("fail AFCFileRefOpen 5");
    EXPECT_EQ(exportArt(), 0);
    EXPECT_EQ(Progress, 0);
    EXPECT_FALSE(db.LoadSmallArt(0, picture));
}
