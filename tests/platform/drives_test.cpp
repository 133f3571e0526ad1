#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/Files.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;

namespace {

// "Er Fc ..." : letter and type (fixed, cdrom, removable) of each drive.
QByteArray Letters(const std::vector<Drive>& drives) {
    QByteArray out;
    for (const Drive& d : drives)
        out += QByteArray(1, d.Letter) +
               (d.Type == DriveFixed   ? "f"
                : d.Type == DriveCdRom ? "c"
                                       : "r") +
               ' ';
    return out.trimmed();
}

} // namespace

TEST(DriveTable, DriveFileLettersPathsAndFiles) {
    const auto drives = ParseDriveFile("# demo\nE: /tmp/my ipod/ removable\n"
                                       "f: /srv fixed\nG: /mnt/cd cdrom\nbad line\n1: /x removable\n");
    EXPECT_EQ(Letters(drives), "Er Ff Gc");
    EXPECT_EQ(drives.at(0).MountPoint, QStringLiteral("/tmp/my ipod"));
    QTemporaryDir dir;
    SetDriveTableForTesting({{{'C', "/", DriveFixed, {}}, {'E', dir.path(), DriveRemovable, {}}}});
    EXPECT_EQ(GetDriveType("e:\\"), DriveRemovable);
    EXPECT_EQ(GetDriveType("C:"), DriveFixed);
    EXPECT_EQ(GetDriveType("Q:"), DriveNoRootDir);
    EXPECT_EQ(LogicalDriveMask(), (1u << 2) | (1u << 4));
    const QString e = dir.path();
    for (const auto& [path, resolved] : {std::pair{"E:\\iPod_Control\\iTunes", e + "/iPod_Control/iTunes"},
                                         {"E:", e},
                                         {"Q:/x", QString()},
                                         {"/home/a", QString("/home/a")}})
        EXPECT_EQ(ResolvePath(path), resolved) << path;
    // A folder is no file, and an unknown letter opens nothing.
    QDir(dir.path()).mkpath("iPod_Control/iTunes");
    EXPECT_TRUE(DirectoryExists("E:/iPod_Control/iTunes/"));
    EXPECT_FALSE(FileExists("E:/iPod_Control/iTunes"));
    EXPECT_THROW(OpenReadOnly("E:/missing"), EFOpenError);
    EXPECT_THROW(OpenReadOnly("F:/x"), EFOpenError);
}

// Only a whole block volume under /media or /run/media becomes a drive; what else is mounted
// there (a bind mount of a system-disk folder, a tmpfs, a sub-folder of a stick) stays out.
TEST(MountInfo, OnlyBlockVolumesMountedAtTheirRootBecomeDrives) {
    const QByteArray text = "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                            "30 22 8:1 /home/u/music /media/u/bound rw - ext4 /dev/sda1 rw\n"
                            "31 22 0:45 / /media/u/ram rw - tmpfs tmpfs rw\n"
                            "32 22 7:0 / /run/media/u/LOOPED rw shared:5 master:2 - vfat /dev/loop0 rw\n"
                            "33 22 7:16 /sub /media/u/part rw - vfat /dev/loop1 rw\n"
                            "34 22 7:32 / /media/u/IPOD\\040X rw - vfat /dev/loop2 rw\n"
                            "garbage\n";
    const auto rows = ParseMountInfo(text);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[1].Root, QStringLiteral("/home/u/music"));
    EXPECT_EQ(rows[5].DevNumber, QStringLiteral("7:32"));
    const auto drives = DrivesFromMountInfo(text);
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[1].MountPoint, QStringLiteral("/run/media/u/LOOPED"));
    EXPECT_EQ(drives[2].MountPoint, QStringLiteral("/media/u/IPOD X"));
    EXPECT_EQ(drives[2].Device, QStringLiteral("/dev/loop2"));
    DrivesFromMountInfo(QByteArray()); // forget them
}

TEST(MountInfo, RemovableVolumesTakeLettersFromDAndKeepThemWhileMounted) {
    // Device numbers of no block device (major 0), so the mount points decide.
    auto row = [](int id, const QByteArray& mount, const char* fs = "vfat") {
        return QByteArray::number(id) + " 1 0:" + QByteArray::number(900 + id) + " / " + mount + " rw - " +
               fs + " /dev/fake" + QByteArray::number(id) + " rw\n";
    };
    const QByteArray root = row(1, "/", "ext4"), home = row(2, "/home", "ext4"),
                     ipod = row(3, "/media/u/IPOD"), stick = row(4, "/run/media/u/STICK"),
                     cd = row(5, "/mnt/cdrom", "iso9660"), card = row(6, "/media/u/CARD", "exfat");
    EXPECT_EQ(Letters(DrivesFromMountInfo(root + home + ipod + stick + cd)), "Cf Dr Er Fc");
    // The iPod leaves: the stick and the CD keep E: and F:, a new card takes the free D:.
    EXPECT_EQ(Letters(DrivesFromMountInfo(root + stick + cd + card)), "Cf Er Fc Dr");
    // Back again, the iPod takes the lowest free letter, not necessarily its old one.
    const auto third = DrivesFromMountInfo(root + ipod + stick + cd + card);
    EXPECT_EQ(Letters(third), "Cf Er Fc Dr Gr");
    EXPECT_EQ(third[4].MountPoint, QStringLiteral("/media/u/IPOD"));
    // More volumes than letters: the rest stay out of the table.
    QByteArray many = root;
    for (int i = 0; i < 30; ++i)
        many += row(10 + i, "/media/u/V" + QByteArray::number(i));
    const auto full = DrivesFromMountInfo(many);
    ASSERT_EQ(full.size(), 24u); // C: and D: to Z:
    EXPECT_EQ(full.back().Letter, 'Z');
    DrivesFromMountInfo(QByteArray()); // forget them
}
