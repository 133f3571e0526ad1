// Device file operations through the simulated library: whole-file reads and writes, reads
// at offsets, the buffered copy and the prefs flag, with every failure text.
#include <QFileInfo>
#include <sys/stat.h>

#include <thread>

#include "SimLink.h"
#include "platform/Errors.h"

using namespace simtest;
using handheld::IphoneLastError;

namespace {

const QString kMedia = "/var/mobile/Media";
constexpr qsizetype kChunk = 0x300000;

class Files : public SimLink {
protected:
    QTemporaryDir Out;
    const QString Local = Out.filePath("t.m4a");
    std::vector<char> Buffer = std::vector<char>(4096);

    void SetUp() override { StartConnected(); }
    // The call fails and leaves this text.
    template <typename F> void ExpectFailure(const char* sim, const char* text, F call) {
        if (*sim) Sim(sim);
        EXPECT_FALSE(call()) << text;
        EXPECT_EQ(IphoneLastError(), text);
        Sim("reset");
    }
    bool CopyTo(const QByteArray& path, const QString& local) {
        return handheld::DeviceCopyFileBuffered(path, local, Buffer.data(), quint32(Buffer.size()));
    }
};

TEST_F(Files, WholeFilesReadInChunksAndWrittenAtOnceWithTheirFailures) {
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
    ExpectFailure("fail AFCFileRefWrite 3892314116", "Write error: 3892314116",
                  [&] { return handheld::DeviceWriteFile("/new.bin", stream); });

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
    // Without a connection every existence test fails.
    ASSERT_TRUE(handheld::CloseDevice());
    ExpectFailure("", "Not found", read);
    EXPECT_FALSE(handheld::DeviceFileExists("/var/mobile/Media/f"));
}

TEST_F(Files, ReadsAtOffsetsOfOneOpenFile) {
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

TEST_F(Files, CopiesWholeFilesOrLeavesNone) {
    for (qsizetype size : {0, 4096, 4097, 100000, 2}) {
        Put(kMedia + "/iTunes_Control/Music/F00/t.m4a", Pattern(size));
        ASSERT_TRUE(CopyTo("/iTunes_Control/Music/F00/t.m4a", Local)) << size;
        EXPECT_EQ(ReadFile(Local), Pattern(size)) << size; // the last one empties a longer file
    }
    // With its own buffer: 8 MiB, then the rest.
    Put(kMedia + "/big", Pattern(9 * 1024 * 1024));
    Sim("reset");
    ASSERT_TRUE(handheld::DeviceCopyFile("/big", Local.toUtf8()));
    EXPECT_EQ(ReadFile(Local), Pattern(9 * 1024 * 1024));
    EXPECT_EQ(Sim("count AFCFileRefRead"), 2);

    const QString fresh = Out.filePath("fresh.m4a");
    ExpectFailure("", "Not found", [&] { return CopyTo("/missing", fresh); });
    Put(kMedia + "/t", Pattern(20000));
    // A read failing in the middle: no truncated file is left under the final name.
    Sim("fail AFCFileRefRead 10 2");
    EXPECT_FALSE(CopyTo("/t", fresh));
    EXPECT_EQ(IphoneLastError(), "Read error: 10");
    EXPECT_FALSE(QFileInfo::exists(fresh));
    EXPECT_EQ(Sim("count AFCFileRefClose"), 1);
    // A local file that cannot be created reaches the caller; the device file is closed.
    Sim("reset");
    EXPECT_THROW(CopyTo("/t", Out.filePath("no/such/folder/t.m4a")), platform::EFOpenError);
    EXPECT_EQ(Sim("count AFCFileRefClose"), 1);
    // /dev/full refuses every write with "no space", reached through a link of our own; the
    // link is no regular file and stays.
    const QString full = Out.filePath("full");
    ASSERT_TRUE(QFile::link("/dev/full", full));
    ExpectFailure("", "Write error: No space left on device", [&] { return CopyTo("/t", full); });
    struct stat st;
    EXPECT_EQ(lstat(QFile::encodeName(full).constData(), &st), 0);
}

// Flag 1 is cleared and the file written back whole; other values and short files are left
// alone; a missing or unwritable file fails.
TEST_F(Files, PrefsFlag) {
    const QString path = kMedia + "/iTunes_Control/iTunes/iTunesPrefs";
    QByteArray prefs = Pattern(300);
    prefs[10] = 1;
    QByteArray cleared = prefs;
    cleared[10] = 0;
    for (const auto& [before, after] : {std::pair{prefs, cleared},
                                        {QByteArray(20, '\2'), QByteArray(20, '\2')},
                                        {QByteArray(10, '\1'), QByteArray(10, '\1')}}) {
        Put(path, before);
        Sim("reset");
        EXPECT_TRUE(handheld::ClearDevicePrefsFlag());
        EXPECT_EQ(ReadFile(Device.path() + path), after);
        EXPECT_EQ(Sim("count AFCFileRefWrite"), before == after ? 0 : 1);
    }
    QFile::remove(Device.path() + path);
    ExpectFailure("", "Not found", handheld::ClearDevicePrefsFlag);
}

} // namespace
