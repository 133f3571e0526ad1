// A hostile device tree: links out of the device, pipes where files should be, files that
// deliver fewer bytes than their size, and a handheld whose copies fail half-way.
#include "tests/transfer/transfer_helpers.h"
#include "tests/handheld/SimLink.h"
#include "transfer/TrackCopy.h"
#include "device/ThumbExport.h"

#include <QTimer>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace transfer_test;

namespace {

const QByteArray Secret = "a file of the computer";

class CopySafetyTest : public TransferTest {
protected:
    // A file outside the device, and a folder that holds it.
    QString Outside() {
        WriteBytes(Temp.path() + "/home/secret.mp3", Secret);
        return Temp.path() + "/home";
    }
    static void Link(const QString& target, const QString& at) {
        QDir().mkpath(QFileInfo(at).absolutePath());
        ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0);
    }
    // A source on a sysfs file: its size is a page, its content a few bytes.
    QString ShortSysfsFile() {
        for (const char* name : {"address_bits", "cpu_byteorder", "profiling", "rcu_normal"}) {
            const QByteArray path = QByteArray("/sys/kernel/") + name;
            struct stat st {};
            QFile f(QString::fromLatin1(path));
            if (::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && f.open(QIODevice::ReadOnly) &&
                f.readAll().size() < st.st_size)
                return QString::fromLatin1(name);
        }
        return {};
    }
};

TEST_F(CopySafetyTest, LinksOutOfTheDeviceAreNotFoundAndNothingOfTheComputerIsCopied) {
    const QString home = Outside();
    const QString music = DeviceRoot + "/iPod_Control/Music/";
    AddTrack("Plain", "Plain.mp3", "song");
    Link(home + "/secret.mp3", music + "F00/Linked.mp3");
    AddTrack("Linked", "Linked.mp3", QByteArray());
    Link(home, music + "F01");
    AddTrack("ThroughFolder", "x", QByteArray()).Location = ":iPod_Control:Music:F01:secret.mp3";
    Link(home + "/secret.mp3", DeviceRoot + "/Photos/Full Resolution/p.jpg");
    AddPhoto(":Full Resolution:p.jpg", QByteArray());
    TransferRun run;
    Run(run, 3, 1, false, false, false, false, 0, false, Photos.get());
    EXPECT_EQ(run.MusicCopied, 1);
    EXPECT_EQ(run.PhotosFailed, 1);
    EXPECT_EQ(AllFiles(Music), QStringList({"Plain.mp3"}));
    EXPECT_TRUE(AllFiles(Pictures).isEmpty());
    const QString log = app::DetailLog.Text();
    for (const char* line : {"Linked.mp3 :not found\r\n", "ThroughFolder.mp3 :not found\r\n", "p.jpg :not found\r\n"})
        EXPECT_TRUE(log.contains(line)) << line << "\n" << log.toStdString();
}

TEST_F(CopySafetyTest, LinkedThumbnailContainerIsNotOpened) {
    Link(Outside() + "/secret.mp3", DeviceRoot + "/Photos/Thumbs/F1019_1.ithmb");
    WriteBytes(DeviceRoot + "/Photos/Thumbs/F1020_1.ithmb", "pixels");
    EXPECT_EQ(device::OpenDiskContainer("E:/Photos/Thumbs/F1019_1.ithmb"), nullptr);
    EXPECT_NE(device::OpenDiskContainer("E:/Photos/Thumbs/F1020_1.ithmb"), nullptr);
}

TEST_F(CopySafetyTest, PipeAtATrackLocationDoesNotHoldTheTransfer) {
    const QString fifo = DeviceRoot + "/iPod_Control/Music/F00/Pipe.mp3";
    QDir().mkpath(QFileInfo(fifo).absolutePath());
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
    AddTrack("Pipe", "Pipe.mp3", QByteArray());
    AddTrack("After", "After.mp3", "song");
    // Should the open block, a writer comes after a while so that the test fails, not hangs.
    bool rescued = false;
    QTimer::singleShot(10000, [&] {
        rescued = true;
        ::close(::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK));
    });
    TransferRun run;
    Run(run, 2);
    EXPECT_FALSE(rescued);
    EXPECT_EQ(run.MusicCopied, 1);
    EXPECT_EQ(AllFiles(Music), QStringList({"After.mp3"}));
    EXPECT_TRUE(app::DetailLog.Text().contains("Pipe.mp3 :not found\r\n"));
}

TEST_F(CopySafetyTest, SourceShorterThanItsSizeIsAReadErrorAndLeavesNoFile) {
    const QString name = ShortSysfsFile();
    if (name.isEmpty())
        GTEST_SKIP() << "no sysfs file that is shorter than its size";
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{
        {'E', QStringLiteral("/sys/kernel"), platform::DriveRemovable, {}}});
    const app::CopyOutcome direct = app::CopyFileNoReplace("E:/" + name, Music + "direct.mp3");
    EXPECT_EQ(direct.Code, app::ErrReadFault);
    AddTrack("Short", "x", QByteArray()).Location = ":" + name;
    TransferRun run;
    Run(run, 1);
    EXPECT_EQ(run.MusicCopied, 0);
    EXPECT_TRUE(AllFiles(Music).isEmpty());
    EXPECT_TRUE(app::DetailLog.Text().contains("Short :read error (fewer bytes than its size)\r\n:" + name))
        << app::DetailLog.Text().toStdString();
}

class HandheldCopyRulesTest : public simtest::SimLink {
protected:
    void SetUp() override {
        ASSERT_TRUE(Out.isValid());
        StartConnected();
        Db = std::make_unique<device::TiTunesDB>("D", true);
        Db->OutputFolder = Out.path() + "/";
        app::DetailLog.Clear();
    }
    void AddTrack(const QString& title, const QByteArray& content, uint32_t size) {
        Put("/var/mobile/Media/iTunes_Control/Music/F00/" + title + ".mp3", content);
        device::TTrackItem& t = Db->Tracks.Add();
        t.Selected = 1;
        t.TrackId = uint32_t(Db->Tracks.Count());
        t.Title = title;
        t.Size = size;
        t.Location = ":iTunes_Control:Music:F00:" + title + ".mp3";
    }
    int RunTransfer(bool hadFiles) {
        app::THeadlessCopyDisplay display;
        int copied = -1;
        display.Thread = new app::TCopyThread({Db->Tracks.Count(), 0, 0, true, false, false, false, hadFiles, false},
                                              {Db.get(), nullptr, nullptr, &display});
        display.OnEnded = [&] { copied = display.Thread->FMusicCopied; };
        display.WaitForEnd();
        return copied;
    }
    QTemporaryDir Out;
    std::unique_ptr<device::TiTunesDB> Db;
};

TEST_F(HandheldCopyRulesTest, PresentFileStandsForTheTrackOnlyWithTheTracksSize) {
    AddTrack("Same", "12345", 5);
    AddTrack("Other", "12345", 5);
    WriteBytes(Out.path() + "/Same.mp3", "abcde");
    WriteBytes(Out.path() + "/Other.mp3", "cut");
    EXPECT_EQ(RunTransfer(true), 2);
    EXPECT_EQ(AllFiles(Out.path()), QStringList({"Other.mp3", "Other1.mp3", "Same.mp3"}));
    EXPECT_EQ(ReadBytes(Out.path() + "/Other1.mp3"), "12345");
    EXPECT_EQ(Db->Tracks.GetItem(0).DestPath, Out.path() + "/Same.mp3");
}

TEST_F(HandheldCopyRulesTest, TrackShorterThanItsSizeIsNotKept) {
    AddTrack("Short", "123", 5);
    EXPECT_EQ(RunTransfer(false), 0);
    EXPECT_TRUE(AllFiles(Out.path()).isEmpty());
    EXPECT_TRUE(app::DetailLog.Text().contains("Short.mp3\r\nRead error: the file ended before its size\r\n"))
        << app::DetailLog.Text().toStdString();
}

TEST_F(HandheldCopyRulesTest, WriteFailureGivesTheSystemsReason) {
    Put("/var/mobile/Media/Song.mp3", "song");
    std::vector<char> buffer(1024);
    EXPECT_FALSE(handheld::DeviceCopyFileBuffered("/Song.mp3", "/dev/full", buffer.data(), quint32(buffer.size())));
    EXPECT_EQ(handheld::DeviceLastError(), "Write error: " + QByteArray(std::strerror(ENOSPC)));
}

} // namespace
