// Device file operations through the simulated library: whole-file reads and writes, reads
// at offsets, the buffered copy and the prefs flag, with every failure text.
#include <QBuffer>
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
    void SetUp() override { StartConnected(); }
};

TEST_F(Files, WholeFileReadsAtChunkBoundaries) {
    struct Case {
        qsizetype size;
        int reads;
    } cases[] = {{0, 1}, {1, 1}, {kChunk - 1, 1}, {kChunk, 2}, {kChunk + 1, 2}, {2 * kChunk + 5, 3}};
    for (const Case& c : cases) {
        const QByteArray bytes = Pattern(c.size);
        Put(kMedia + "/f.bin", bytes);
        Sim("reset");
        QByteArray got;
        ASSERT_TRUE(Read("/f.bin", got)) << c.size;
        EXPECT_EQ(got, bytes) << c.size;
        EXPECT_EQ(Sim("count AFCFileRefRead"), c.reads) << c.size;
        EXPECT_EQ(Sim("count AFCFileRefClose"), 1);
    }
}

TEST_F(Files, ReadAppendsAtTheStreamPosition) {
    Put(kMedia + "/a", "abc");
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    stream.write("xy");
    ASSERT_TRUE(handheld::DeviceReadFile("/a", stream));
    EXPECT_EQ(stream.data(), "xyabc");
    EXPECT_EQ(stream.pos(), 5);
}

TEST_F(Files, ReadFailureTexts) {
    QByteArray got;
    EXPECT_FALSE(Read("/missing", got));
    EXPECT_EQ(IphoneLastError(), "Not found");

    Put(kMedia + "/f", Pattern(kChunk + 10));
    Sim("fail AFCFileRefOpen 3892314131");
    EXPECT_FALSE(Read("/f", got));
    EXPECT_EQ(IphoneLastError(), "Open error: 3892314131");

    Sim("reset");
    Sim("fail AFCFileRefRead 10 1");
    EXPECT_FALSE(Read("/f", got));
    EXPECT_EQ(IphoneLastError(), "Read error: 10");
    EXPECT_EQ(got.size(), kChunk); // chunks read so far stay
    EXPECT_EQ(Sim("count AFCFileRefClose"), 1);
}

TEST_F(Files, StreamFailuresAreReportedAsExceptions) {
    Put(kMedia + "/f", Pattern(100));
    Sim("reset");
    QBuffer closed; // not open: nothing can be appended
    EXPECT_FALSE(handheld::DeviceReadFile("/f", closed));
    EXPECT_EQ(IphoneLastError(), "Exception: 0");
    EXPECT_EQ(Sim("count AFCFileRefClose"), 1);

    QBuffer writeOnly; // its content cannot be read back for the write
    writeOnly.open(QIODevice::WriteOnly);
    writeOnly.write("abc");
    EXPECT_FALSE(handheld::DeviceWriteFile("/g", writeOnly));
    EXPECT_EQ(IphoneLastError(), "Exception: 0");
    EXPECT_EQ(Sim("count AFCFileRefWrite"), 0);
    EXPECT_EQ(Sim("count AFCFileRefClose"), 2);
}

TEST_F(Files, WriteFileAndItsFailures) {
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    stream.write(Pattern(1000));
    stream.seek(10);
    ASSERT_TRUE(handheld::DeviceWriteFile("/new.bin", stream));
    EXPECT_EQ(Get(kMedia + "/new.bin"), Pattern(1000));
    EXPECT_EQ(stream.pos(), 1000);
    EXPECT_EQ(Sim("count AFCFileRefWrite"), 1); // one call for the whole content

    Sim("fail AFCFileRefOpen 4");
    EXPECT_FALSE(handheld::DeviceWriteFile("/new.bin", stream));
    EXPECT_EQ(IphoneLastError(), "Open write error: 4");
    Sim("reset");
    Sim("fail AFCFileRefWrite 3892314116");
    EXPECT_FALSE(handheld::DeviceWriteFile("/new.bin", stream));
    EXPECT_EQ(IphoneLastError(), "Write error: 3892314116");
}

TEST_F(Files, ReadsAtOffsetsOfOneOpenFile) {
    const QByteArray bytes = Pattern(100);
    Put(kMedia + "/Photos/Thumbs/F1019_1.ithmb", bytes);
    ASSERT_TRUE(handheld::DeviceOpenFile("/Photos/Thumbs/F1019_1.ithmb"));
    char buffer[20];
    ASSERT_TRUE(handheld::DeviceReadAt(20, buffer, 40));
    EXPECT_EQ(QByteArray(buffer, 20), bytes.mid(40, 20));

    // Near the end: a short read is still a success and the rest keeps its former content.
    memset(buffer, 'Z', sizeof buffer);
    ASSERT_TRUE(handheld::DeviceReadAt(20, buffer, 95));
    EXPECT_EQ(QByteArray(buffer, 5), bytes.mid(95, 5));
    EXPECT_EQ(QByteArray(buffer + 5, 15), QByteArray(15, 'Z'));
    memset(buffer, 'Y', sizeof buffer);
    ASSERT_TRUE(handheld::DeviceReadAt(20, buffer, 500));
    EXPECT_EQ(QByteArray(buffer, 20), QByteArray(20, 'Y'));

    // The library may deliver fewer bytes than asked anywhere.
    Sim("maxread 3");
    memset(buffer, 'X', sizeof buffer);
    ASSERT_TRUE(handheld::DeviceReadAt(20, buffer, 0));
    EXPECT_EQ(QByteArray(buffer, 3), bytes.left(3));
    EXPECT_EQ(buffer[3], 'X');

    Sim("fail AFCFileRefSeek 22");
    EXPECT_FALSE(handheld::DeviceReadAt(20, buffer, 0));
    EXPECT_EQ(IphoneLastError(), "Seek Err: 22");
    Sim("fail AFCFileRefSeek 0");
    Sim("fail AFCFileRefRead 3892314112");
    EXPECT_FALSE(handheld::DeviceReadAt(20, buffer, 0));
    EXPECT_EQ(IphoneLastError(), "Read Err: 3892314112");
    EXPECT_TRUE(handheld::DeviceCloseFile());
    // Closing again: the library refuses the reference; no text.
    EXPECT_FALSE(handheld::DeviceCloseFile());
    EXPECT_EQ(IphoneLastError(), "Read Err: 3892314112");
}

TEST_F(Files, OpenFailuresLeaveTheOpenReferenceAlone) {
    Put(kMedia + "/c", "data");
    ASSERT_TRUE(handheld::DeviceOpenFile("/c"));
    ASSERT_TRUE(handheld::DeviceCloseFile());
    const quint64 before = handheld::OpenFileRef;
    EXPECT_FALSE(handheld::DeviceOpenFile("/missing"));
    EXPECT_EQ(IphoneLastError(), "Not found");
    Sim("fail AFCFileRefOpen 12");
    EXPECT_FALSE(handheld::DeviceOpenFile("/c"));
    EXPECT_EQ(IphoneLastError(), "Open err: 12");
    EXPECT_EQ(handheld::OpenFileRef, before);
}

TEST_F(Files, OneOpenReadCloseSequenceAtATime) {
    Put(kMedia + "/one", "11111111");
    Put(kMedia + "/two", "22222222");
    ASSERT_TRUE(handheld::DeviceOpenFile("/one"));
    bool otherDone = false;
    QByteArray otherRead;
    std::thread other([&] {
        char b[8] = {};
        if (handheld::DeviceOpenFile("/two") && handheld::DeviceReadAt(8, b, 0)) otherRead = QByteArray(b, 8);
        handheld::DeviceCloseFile();
        otherDone = true;
    });
    // The other thread cannot replace our open reference before we close.
    char b[8] = {};
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(handheld::DeviceReadAt(8, b, 0));
        ASSERT_EQ(QByteArray(b, 8), "11111111");
    }
    EXPECT_TRUE(handheld::DeviceCloseFile());
    other.join();
    EXPECT_TRUE(otherDone);
    EXPECT_EQ(otherRead, "22222222");
}

TEST_F(Files, FailureTextStaysWithTheThreadThatCausedIt) {
    EXPECT_FALSE(handheld::DeviceOpenFile("/missing"));
    Put(kMedia + "/c", "x");
    Sim("fail AFCFileRefOpen 77");
    QByteArray otherText;
    std::thread other([&] {
        handheld::DeviceOpenFile("/c");
        otherText = handheld::DeviceLastError();
    });
    other.join();
    EXPECT_EQ(otherText, "Open err: 77");
    EXPECT_EQ(IphoneLastError(), "Open err: 77");        // the record holds the latest
    EXPECT_EQ(handheld::DeviceLastError(), "Not found"); // this thread keeps its own
}

class Copy : public Files {
protected:
    QTemporaryDir Out;
    std::vector<char> Buffer = std::vector<char>(4096);
    bool CopyTo(const QByteArray& path, const QString& local) {
        return handheld::DeviceCopyFileBuffered(path, local, Buffer.data(), quint32(Buffer.size()));
    }
    static QByteArray Local(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
};

TEST_F(Copy, CopiesWholeFilesIncludingEmptyAndBufferMultiples) {
    for (qsizetype size :
         {qsizetype(0), qsizetype(4095), qsizetype(4096), qsizetype(4097), qsizetype(100000)}) {
        Put(kMedia + "/iTunes_Control/Music/F00/t.m4a", Pattern(size));
        const QString local = Out.filePath("t.m4a");
        ASSERT_TRUE(CopyTo("/iTunes_Control/Music/F00/t.m4a", local)) << size;
        EXPECT_EQ(Local(local), Pattern(size)) << size;
    }
    // An existing local file is emptied first.
    Put(kMedia + "/short", "ab");
    const QString local = Out.filePath("t.m4a");
    ASSERT_TRUE(CopyTo("/short", local));
    EXPECT_EQ(Local(local), "ab");
}

TEST_F(Copy, FailuresAndTheirTexts) {
    const QString local = Out.filePath("t.m4a");
    EXPECT_FALSE(CopyTo("/missing", local));
    EXPECT_EQ(IphoneLastError(), "Not found");
    EXPECT_FALSE(QFileInfo::exists(local));

    Put(kMedia + "/t", Pattern(20000));
    Sim("fail AFCFileRefOpen 3892314131");
    EXPECT_FALSE(CopyTo("/t", local));
    EXPECT_EQ(IphoneLastError(), "Open error: 3892314131");

    // A read failing in the middle: no truncated file is left under the final name.
    Sim("reset");
    Sim("fail AFCFileRefRead 10 2");
    EXPECT_FALSE(CopyTo("/t", local));
    EXPECT_EQ(IphoneLastError(), "Read error: 10");
    EXPECT_FALSE(QFileInfo::exists(local));
    EXPECT_EQ(Sim("count AFCFileRefClose"), 1);

    // A local file that cannot be created reaches the caller; the device file is closed.
    Sim("reset");
    EXPECT_THROW(CopyTo("/t", Out.filePath("no/such/folder/t.m4a")), platform::EFOpenError);
    EXPECT_EQ(Sim("count AFCFileRefClose"), 1);
}

TEST_F(Copy, AFullDiskFailsTheCopy) {
    // /dev/full refuses every write with "no space". Reached through a link of our own, so
    // that nothing outside the test's folder is at stake; the link is no regular file and
    // stays.
    Put(kMedia + "/t", Pattern(5000));
    const QString link = Out.filePath("full");
    ASSERT_TRUE(QFile::link("/dev/full", link));
    EXPECT_FALSE(CopyTo("/t", link));
    EXPECT_EQ(IphoneLastError(), "Write error: No space left on device");
    struct stat st;
    EXPECT_EQ(lstat(QFile::encodeName(link).constData(), &st), 0);
}

TEST_F(Copy, CopyWithItsOwnBuffer) {
    Put(kMedia + "/big", Pattern(9 * 1024 * 1024));
    const QString local = Out.filePath("preview.m4a");
    ASSERT_TRUE(handheld::DeviceCopyFile("/big", local.toUtf8()));
    EXPECT_EQ(Local(local), Pattern(9 * 1024 * 1024));
    EXPECT_EQ(Sim("count AFCFileRefRead"), 2); // 8 MiB, then the rest
}

class Prefs : public Files {
protected:
    const QString Path = kMedia + "/iTunes_Control/iTunes/iTunesPrefs";
};

TEST_F(Prefs, FlagOneIsClearedAndTheFileWrittenBackWhole) {
    QByteArray prefs = Pattern(300);
    prefs[10] = 1;
    Put(Path, prefs);
    ASSERT_TRUE(handheld::ClearDevicePrefsFlag());
    QByteArray expected = prefs;
    expected[10] = 0;
    EXPECT_EQ(Get(Path), expected);
    EXPECT_TRUE(Calls().contains("AFCFileRefOpen /var/mobile/Media/iTunes_Control/iTunes/iTunesPrefs\n"));
}

TEST_F(Prefs, OtherValuesAndShortFilesAreLeftAlone) {
    for (const QByteArray& prefs : {QByteArray(20, '\0'), QByteArray(20, '\2'), QByteArray(10, '\1')}) {
        Put(Path, prefs);
        Sim("reset");
        EXPECT_TRUE(handheld::ClearDevicePrefsFlag());
        EXPECT_EQ(Sim("count AFCFileRefWrite"), 0);
        EXPECT_EQ(Get(Path), prefs);
    }
}

TEST_F(Prefs, MissingOrUnwritable) {
    EXPECT_FALSE(handheld::ClearDevicePrefsFlag());
    EXPECT_EQ(IphoneLastError(), "Not found");
    QByteArray prefs(16, '\1');
    Put(Path, prefs);
    Sim("fail AFCFileRefWrite 5");
    EXPECT_FALSE(handheld::ClearDevicePrefsFlag());
    EXPECT_EQ(IphoneLastError(), "Write error: 5");
}

TEST_F(Files, WithoutAConnectionEveryExistenceTestFails) {
    Put(kMedia + "/f", "x");
    ASSERT_TRUE(handheld::CloseDevice());
    QByteArray got;
    EXPECT_FALSE(Read("/f", got));
    EXPECT_EQ(IphoneLastError(), "Not found");
    EXPECT_FALSE(handheld::DeviceFileExists("/var/mobile/Media/f"));
}

} // namespace
