// Device files through the simulated library: whole-file reads and writes, reads at offsets,
// the buffered copy and the prefs flag with their failure texts; the track database and photos
// of a phone, read as the window and the copy thread read them.

#include <cstring>
#include <thread>

#include "SimLink.h"
#include "device/PhotoDb.h"
#include "device/TrackDb.h"
#include "platform/Errors.h"
#include "tests/fixtures/PhotoDbWriter.h"

using namespace simtest;
using namespace fixtures;
using handheld::IphoneLastError;

namespace {

const QString kMedia = "/var/mobile/Media";

class ThroughLink : public SimLink {
protected:
    DeviceTree Tree{Device.path()};
    QTemporaryDir OutDir;

    void SetUp() override { StartConnected(); }
    // The call fails and leaves this text.
    template <typename F>
    void ExpectFailure(const char* sim, const char* text, F call) {
        Sim(sim);
        EXPECT_FALSE(call()) << text;
        EXPECT_EQ(IphoneLastError(), text);
        Sim("reset");
    }
};

TEST_F(ThroughLink, WholeFileReadsWritesAndThePrefsFlag) {
    // A read appends at the stream's position; a write sends the whole content in one call.
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    stream.write("xy");
    Put(kMedia + "/a", "abc");
    ASSERT_TRUE(handheld::DeviceReadFile("/a", stream));
    stream.seek(1);
    ASSERT_TRUE(handheld::DeviceWriteFile("/new.bin", stream));
    EXPECT_EQ(ReadFile(Device.path() + kMedia + "/new.bin"), "xyabc");
    EXPECT_EQ(Sim("count AFCFileRefWrite"), 1);
    auto read = [&] { return handheld::DeviceReadFile("/f", stream); };
    ExpectFailure("", "Not found", read);
    Put(kMedia + "/f", Pattern(0x300000 + 10));
    ExpectFailure("fail AFCFileRefRead 10 1", "Read error: 10", read);
    EXPECT_EQ(stream.size(), 5 + 0x300000); // chunks read so far stay
    // Other flag values and short files are left alone.
    const QString path = kMedia + "/iTunes_Control/iTunes/iTunesPrefs";
    for (const QByteArray& prefs : {QByteArray(20, '\2'), QByteArray(10, '\1')}) {
        Put(path, prefs);
        EXPECT_TRUE(handheld::ClearDevicePrefsFlag());
        EXPECT_EQ(ReadFile(Device.path() + path), prefs);
    }
    EXPECT_EQ(Sim("count AFCFileRefWrite"), 0);
}

TEST_F(ThroughLink, ReadsAtOffsetsOfOneOpenFile) {
    const QByteArray bytes = Pattern(100);
    Put(kMedia + "/thumbs", bytes);
    Put(kMedia + "/two", "22222222");
    ASSERT_TRUE(handheld::DeviceOpenFile("/thumbs"));
    char buffer[20];
    auto readAt = [&](char fill, quint64 offset) {
        memset(buffer, fill, sizeof buffer);
        return handheld::DeviceReadAt(20, buffer, offset);
    };
    // Another thread cannot replace our open reference before we close.
    std::thread other([] {
        char b[8] = {};
        EXPECT_TRUE(handheld::DeviceOpenFile("/two") && handheld::DeviceReadAt(8, b, 0) &&
                    QByteArray(b, 8) == "22222222");
        handheld::DeviceCloseFile();
    });
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(readAt(0, 40) && QByteArray(buffer, 20) == bytes.mid(40, 20));
    // Near the end a short read is still a success and the rest keeps its former content.
    ASSERT_TRUE(readAt('Z', 95));
    EXPECT_EQ(QByteArray(buffer, 20), bytes.mid(95, 5) + QByteArray(15, 'Z'));
    EXPECT_TRUE(handheld::DeviceCloseFile());
    other.join();
    ASSERT_TRUE(handheld::DeviceOpenFile("/thumbs"));
    Sim("maxread 3"); // the library may deliver fewer bytes than asked anywhere
    ASSERT_TRUE(readAt('X', 0));
    EXPECT_EQ(QByteArray(buffer, 4), bytes.left(3) + 'X');
    ExpectFailure("fail AFCFileRefSeek 22", "Seek Err: 22", [&] { return readAt(0, 0); });
    EXPECT_TRUE(handheld::DeviceCloseFile());
    // The size that the file service gives, and the first and last 64 KiB read within the
    // file, in pieces too; none from a file that ends before the size asked.
    const QByteArray large = Pattern(200000);
    Put(kMedia + "/large", large);
    qint64 size = -1;
    QByteArray sample;
    Sim("maxread 5000");
    EXPECT_TRUE(handheld::DeviceFileSize("/large", size) && size == 200000);
    EXPECT_TRUE(handheld::DeviceFileSample("/large", size, sample) && sample == large.left(65536) + large.right(65536));
    EXPECT_FALSE(handheld::DeviceFileSample("/large", size + 1, sample));
    // The failure text stays with the thread that caused it; the record holds the latest.
    ExpectFailure("", "Not found", [] { return handheld::DeviceOpenFile("/missing"); });
    Sim("fail AFCFileRefOpen 77");
    std::thread([] {
        EXPECT_TRUE(!handheld::DeviceOpenFile("/thumbs") && handheld::DeviceLastError() == "Open err: 77");
    }).join();
    EXPECT_EQ(handheld::DeviceLastError(), "Not found");
}

TEST_F(ThroughLink, CopiesWholeFilesOrLeavesNone) {
    const QString local = OutDir.filePath("t.m4a");
    std::vector<char> buffer(4096);
    auto copyTo = [&](const QByteArray& path, const QString& to) {
        return handheld::DeviceCopyFileBuffered(path, to, buffer.data(), quint32(buffer.size()));
    };
    for (qsizetype size : {4097, 2}) { // the last one empties a longer file
        Put(kMedia + "/t", Pattern(size));
        ASSERT_TRUE(copyTo("/t", local)) << size;
        EXPECT_EQ(ReadFile(local), Pattern(size)) << size;
    }
    Put(kMedia + "/big", Pattern(9 * 1024 * 1024)); // a buffer of its own, larger than its first fill
    ASSERT_TRUE(handheld::DeviceCopyFile("/big", local.toUtf8()));
    EXPECT_EQ(ReadFile(local), Pattern(9 * 1024 * 1024));
    // A read failing in the middle: no truncated file is left under the final name.
    const QString fresh = OutDir.filePath("fresh.m4a");
    Put(kMedia + "/t", Pattern(20000));
    ExpectFailure("fail AFCFileRefRead 10 2", "Read error: 10", [&] { return copyTo("/t", fresh); });
    EXPECT_FALSE(QFileInfo::exists(fresh));
    // Read to the size that the file's information gives, in as many pieces as the library
    // delivers; a file that ends before it (it shrank) or runs past it is not kept.
    Sim("maxread 1000");
    EXPECT_TRUE(copyTo("/t", local) && ReadFile(local) == Pattern(20000));
    for (const auto& [delta, text] : {std::pair{"sizedelta 10", "Read error: the file ended before its size"},
                                      {"sizedelta -10", "Read error: the file is longer than its size"}}) {
        ExpectFailure(delta, text, [&] { return copyTo("/t", fresh); });
        EXPECT_FALSE(QFileInfo::exists(fresh));
    }
    // A local file that cannot be created reaches the caller; the device file is closed.
    EXPECT_THROW(copyTo("/t", OutDir.filePath("no/such/folder/t.m4a")), platform::EFOpenError);
    EXPECT_EQ(Sim("count AFCFileRefClose"), 1);
    // /dev/full refuses every write, reached through a link of our own, which stays; the
    // failure gives the system's reason.
    ASSERT_TRUE(QFile::link("/dev/full", fresh));
    EXPECT_FALSE(copyTo("/t", fresh));
    EXPECT_EQ(handheld::DeviceLastError(), "Write error: " + QByteArray(std::strerror(ENOSPC)));
    EXPECT_TRUE(QFileInfo(fresh).isSymLink());
}

// The compressed database first, the plain one when that cannot be read (here one of several
// chunks); a read that fails part-way keeps what it read, with the link's text, and is no
// complete load; neither openable is false with the link's text.
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
    EXPECT_EQ(db.Tracks.GetItem(5999).TrackId, 1000u + 5999u);
    device::TiTunesDB cut("iPhone", true);
    ExpectFailure("fail AFCFileRefRead 10 1", "Read error: 10", [&] { return cut.Load(); });
    EXPECT_EQ(std::pair(cut.ErrorCode, cut.ReadError),
              std::pair(int32_t(device::ecReadError), QString("Read error: 10")));
    EXPECT_TRUE(cut.Tracks.Count() > 0 && cut.Tracks.Count() < 6000) << cut.Tracks.Count();
    ExpectFailure("fail AFCFileRefOpen 5", "Open error: 5", [] { return device::TiTunesDB("iPhone", true).Load(); });
}

// A failed read leaves no file of its photo; a
// container that cannot be opened is one line with the link's reason.
TEST_F(ThroughLink, PhotosFailedReadsAndOpens) {
    WritePhotoSet(Tree, MakePhotoSet(1024, 1036, 3, true, 1), true);
    device::TPhotoDb db("iPhone", true);
    ASSERT_TRUE(db.Load(false));
    int progress = 0;
    db.OutputFolder = OutDir.path() + "/";
    db.OnProgress = [&] { ++progress; };
    auto exportAll = [&](const QByteArray& sim) {
        QDir(OutDir.path()).removeRecursively();
        QDir().mkpath(OutDir.path());
        progress = 0;
        for (int i = 0; i < db.Photos.Count(); ++i)
            db.Photos.GetItem(i)->Selected = 1;
        Sim("reset");
        Sim(sim);
        return db.ExportThumbs(true);
    };
    EXPECT_FALSE(exportAll(""));
    const int readsPerPhoto = Sim("count AFCFileRefRead") / 3;
    ASSERT_GT(readsPerPhoto, 0);
    EXPECT_FALSE(exportAll("fail AFCFileRefRead 10 " + QByteArray::number(readsPerPhoto)));
    EXPECT_EQ(progress, 3);
    EXPECT_EQ(QDir(OutDir.path()).entryList(QDir::Files), QStringList{"100.jpg"});
    EXPECT_TRUE(exportAll("fail AFCFileRefOpen 77"));
    EXPECT_TRUE(db.Log.startsWith("1024_1 :ip-") && db.Log.contains("77")) << db.Log.constData();
    EXPECT_EQ(progress, 0);
}

} // namespace
