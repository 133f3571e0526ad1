// A hostile device tree: links out of the device, pipes where files should be and files that
// deliver fewer bytes than their size.
#include "tests/transfer/transfer_helpers.h"
#include "device/ThumbExport.h"

#include <QTimer>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace transfer_test;

namespace {

void Link(const QString& target, const QString& at) {
    QDir().mkpath(QFileInfo(at).absolutePath());
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0);
}

TEST_F(TransferTest, LinksOutOfTheDeviceAreNotFoundAndNothingOfTheComputerIsCopied) {
    const QString home = Temp.path() + "/home", music = DeviceRoot + "/iPod_Control/Music/";
    WriteBytes(home + "/secret.mp3", "a file of the computer");
    AddTrack("Plain", "Plain.mp3", "song");
    Link(home + "/secret.mp3", music + "F00/Linked.mp3");
    AddTrack("Linked", "Linked.mp3", QByteArray());
    Link(home, music + "F01");
    AddTrack("ThroughFolder", "x", QByteArray()).Location = ":iPod_Control:Music:F01:secret.mp3";
    Link(home + "/secret.mp3", DeviceRoot + "/Photos/Full Resolution/p.jpg");
    AddPhoto(":Full Resolution:p.jpg", QByteArray());
    Link(home + "/secret.mp3", DeviceRoot + "/Photos/Thumbs/F1019_1.ithmb");
    WriteBytes(DeviceRoot + "/Photos/Thumbs/F1020_1.ithmb", "pixels");
    EXPECT_EQ(device::OpenDiskContainer("E:/Photos/Thumbs/F1019_1.ithmb"), nullptr);
    EXPECT_NE(device::OpenDiskContainer("E:/Photos/Thumbs/F1020_1.ithmb"), nullptr);
    const auto run = Run({.MusicCount = 3, .PhotoCount = 1}, Photos.get());
    EXPECT_EQ(run.MusicCopied, 1);
    EXPECT_EQ(run.PhotosFailed, 1);
    EXPECT_EQ(AllFiles(Music), QStringList({"Plain.mp3"}));
    EXPECT_TRUE(AllFiles(Pictures).isEmpty());
    for (const char* line : {"Linked.mp3 :not found\r\n", "ThroughFolder.mp3 :not found\r\n", "p.jpg :not found\r\n"})
        EXPECT_TRUE(app::DetailLog.Text().contains(line)) << line;
}

TEST_F(TransferTest, PipeAtATrackLocationDoesNotHoldTheTransfer) {
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
    EXPECT_EQ(Run({.MusicCount = 2}).MusicCopied, 1);
    EXPECT_FALSE(rescued);
    EXPECT_EQ(AllFiles(Music), QStringList({"After.mp3"}));
}

TEST_F(TransferTest, SourceShorterThanItsSizeIsAReadErrorAndLeavesNoFile) {
    // A sysfs file: its size is a page, its content a few bytes.
    QString name;
    for (const char* candidate : {"address_bits", "cpu_byteorder", "profiling", "rcu_normal"}) {
        QFile f(QStringLiteral("/sys/kernel/") + candidate);
        if (QFileInfo(f).isFile() && f.open(QIODevice::ReadOnly) && f.readAll().size() < QFileInfo(f).size())
            name = candidate;
    }
    if (name.isEmpty())
        GTEST_SKIP() << "no sysfs file that is shorter than its size";
    platform::SetDriveTableForTesting(
        std::vector<platform::Drive>{{'E', QStringLiteral("/sys/kernel"), platform::DriveRemovable, {}}});
    AddTrack("Short", "x", QByteArray()).Location = ":" + name;
    EXPECT_EQ(Run({.MusicCount = 1}).MusicCopied, 0);
    EXPECT_TRUE(AllFiles(Music).isEmpty());
    EXPECT_TRUE(app::DetailLog.Text().contains("Short :read error (fewer bytes than its size)\r\n:" + name))
        << app::DetailLog.Text().toStdString();
}

} // namespace
