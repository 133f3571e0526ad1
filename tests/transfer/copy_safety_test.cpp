// A hostile device tree: links out of the device, pipes and sockets where files should be, locations
// that climb out of it and files that deliver fewer bytes than their size.
#include "tests/transfer/transfer_helpers.h"
#include "device/ThumbExport.h"

#include <QTimer>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace transfer_test;

static void Link(const QString& target, const QString& at) {
    QDir().mkpath(QFileInfo(at).absolutePath());
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0);
}

// Links out of the device, pipes, sockets, locations that climb out of it: none stops a
// stage, nothing of the computer is copied or read for a photo's comparison with a file
// already in the folder.
TEST_F(TransferTest, HostileDeviceTreeIsRefusedAndTheLoopGoesOn) {
    const QString home = Temp.path() + "/home", music = DeviceRoot + "/iPod_Control/Music/";
    WriteFile(home + "/secret.mp3", "a file of the computer");
    // Refusals come first: they must leave the not-found lines to the missing files.
    for (const char* escape : {":iPod_Control:..:..:..:etc:hostname", ":iPod_Control:Music/../../x.mp3"})
        AddTrack("Escape", "x.mp3", QByteArray()).Location = escape;
    Link(home + "/secret.mp3", music + "F00/Linked.mp3");
    AddTrack("Linked", "Linked.mp3", QByteArray());
    Link(home, music + "F01");
    AddTrack("ThroughFolder", "x", QByteArray()).Location = ":iPod_Control:Music:F01:secret.mp3";
    ASSERT_EQ(::mkfifo(QFile::encodeName(music + "F00/Pipe.mp3").constData(), 0644), 0);
    AddTrack("Pipe", "Pipe.mp3", QByteArray());
    ASSERT_TRUE(fixtures::MakeSocket(music + "F00/Sock.mp3"));
    AddTrack("Sock", "Sock.mp3", QByteArray());
    AddTrack("Here", "H..B.mp3", "here");
    Link(home + "/secret.mp3", DeviceRoot + "/Photos/Full Resolution/p.jpg");
    AddPhoto(":Full Resolution:p.jpg", QByteArray());
    ASSERT_TRUE(fixtures::MakeSocket(DeviceRoot + "/Photos/Full Resolution/s.jpg"));
    AddPhoto(":Full Resolution:s.jpg", QByteArray());
    AddPhoto(":Full Resolution:ok.jpg", "ok");
    const QString photoPipe = DeviceRoot + "/Photos/Full Resolution/f.jpg";
    ASSERT_EQ(::mkfifo(QFile::encodeName(photoPipe).constData(), 0644), 0);
    AddPhoto(":Full Resolution:f.jpg", QByteArray());
    for (const char* name : {"p.jpg", "f.jpg"})
        WriteFile(Pictures + name, "a file of the computer");
    Link(home + "/secret.mp3", DeviceRoot + "/Photos/Thumbs/F1019_1.ithmb");
    EXPECT_EQ(device::OpenDiskContainer("E:/Photos/Thumbs/F1019_1.ithmb"), nullptr);
    // Should a pipe's open block, a writer comes after a while so that the test fails, not hangs.
    bool rescued = false;
    QTimer::singleShot(10000, [&] {
        rescued = true;
        for (const QString& pipe : {music + "F00/Pipe.mp3", photoPipe})
            ::close(::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK));
    });
    Run({.MusicCount = 7, .PhotoCount = 4}, Photos.get());
    EXPECT_FALSE(rescued);
    EXPECT_EQ(AllFiles(Music) + AllFiles(Pictures), QStringList({"Here.mp3", "f.jpg", "ok.jpg", "p.jpg"}));
    const QString log = app::DetailLog.Text();
    EXPECT_EQ(log.count(" :not found (outside the device)\r\n:iPod_Control:"), 2);
    EXPECT_TRUE(log.contains("\r\nPhotos: 1/4\r\n") && !log.contains("[X]")) << log.toStdString();
    for (const char* name : {"ThroughFolder.mp3", "Pipe.mp3", "Sock.mp3", "p.jpg"})
        EXPECT_TRUE(log.contains(name + QString(" :not found\r\n"))) << name;
    EXPECT_TRUE(
        log.contains("Linked.mp3 :not found\r\n:iPod_Control:Music:F00:Linked.mp3\r\n" + Music + "Linked.mp3\r\n"));
    // The device gone: a lost-device entry rather than a missing file.
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{{'C', "/", platform::DriveFixed, {}}});
    EXPECT_EQ(Run({.MusicCount = 7}).MusicCopied, 0);
    EXPECT_TRUE(app::DetailLog.Text().contains("Linked.mp3 :path not found\r\n\r\nLose iPod, please check "
                                               "the connection between iPod with computer!\r\n"));
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
