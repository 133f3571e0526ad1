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

TEST(DriveFile, ParsesLettersTypesAndPathsWithBlanks) {
    const auto drives = ParseDriveFile("# demo\nE: /tmp/my ipod/ removable\n"
                                       "f: /srv fixed\nG: /mnt/cd cdrom\nbad line\n1: /x removable\n");
    EXPECT_EQ(Letters(drives), "Er Ff Gc");
    EXPECT_EQ(drives.at(0).MountPoint, QStringLiteral("/tmp/my ipod"));
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
    EXPECT_EQ(rows[5].Source, QStringLiteral("/dev/loop2"));
    EXPECT_EQ(rows[5].FsType, QStringLiteral("vfat"));
    EXPECT_EQ(rows[5].DevNumber, QStringLiteral("7:32"));
    const auto drives = DrivesFromMountInfo(text);
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[1].MountPoint, QStringLiteral("/run/media/u/LOOPED"));
    EXPECT_EQ(drives[2].MountPoint, QStringLiteral("/media/u/IPOD X"));
    EXPECT_EQ(drives[2].Device, QStringLiteral("/dev/loop2"));
    DrivesFromMountInfo(QByteArray()); // forget them
}

TEST(DriveTable, TypesResolutionAndMask) {
    SetDriveTableForTesting({{{'C', "/", DriveFixed, {}}, {'E', "/tmp/ipod", DriveRemovable, {}}}});
    for (const char* root : {"E:", "e:\\"})
        EXPECT_EQ(GetDriveType(root), DriveRemovable);
    EXPECT_EQ(GetDriveType("C:"), DriveFixed);
    EXPECT_EQ(GetDriveType("Q:"), DriveNoRootDir);
    EXPECT_EQ(GetDriveType(""), DriveNoRootDir);
    EXPECT_EQ(LogicalDriveMask(), (1u << 2) | (1u << 4));
    const std::pair<const char*, const char*> paths[] = {
        {"E:\\iPod_Control\\iTunes\\iTunesDB", "/tmp/ipod/iPod_Control/iTunes/iTunesDB"},
        {"E:", "/tmp/ipod"},
        {"C:/etc", "/etc"},
        {"Q:/x", ""},
        {"/home/a", "/home/a"}};
    for (const auto& [path, resolved] : paths)
        EXPECT_EQ(ResolvePath(path), QString::fromLatin1(resolved)) << path;
}

// Reading and writing through letters is exercised by the iPod's lock and prefs tests; what
// they do not reach: a folder is no file, and an unknown letter opens nothing.
TEST(Files, FoldersAndUnknownLetters) {
    QTemporaryDir dir;
    SetDriveTableForTesting({{{'E', dir.path(), DriveRemovable, {}}}});
    QDir(dir.path()).mkpath("iPod_Control/iTunes");
    EXPECT_TRUE(DirectoryExists("E:/iPod_Control/iTunes/"));
    EXPECT_FALSE(FileExists("E:/iPod_Control/iTunes"));
    // The message names the file by its real path; a letter not in the table stays as given.
    for (const auto& [path, named] : {std::pair{"E:/missing", dir.filePath("missing")}, {"F:/x", QString("F:/x")}}) {
        try {
            OpenReadOnly(path);
            ADD_FAILURE() << path;
        } catch (const EFOpenError& e) {
            EXPECT_EQ(QString::fromUtf8(e.what()).section(u'"', 1, 1), named);
        }
    }
    EXPECT_FALSE(DeleteFile("F:/x"));
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
    auto first = DrivesFromMountInfo(root + home + ipod + stick + cd);
    EXPECT_EQ(Letters(first), "Cf Dr Er Fc"); // /home is not a drive; C: is always "/"
    EXPECT_EQ(first[1].MountPoint, QStringLiteral("/media/u/IPOD"));
    EXPECT_EQ(first[3].MountPoint, QStringLiteral("/mnt/cdrom"));
    // The iPod leaves: the stick and the CD keep E: and F:, a new card takes the free D:.
    auto second = DrivesFromMountInfo(root + stick + cd + card);
    EXPECT_EQ(Letters(second), "Cf Er Fc Dr");
    EXPECT_EQ(second[3].MountPoint, QStringLiteral("/media/u/CARD"));
    // Back again, the iPod takes the lowest free letter, not necessarily its old one.
    auto third = DrivesFromMountInfo(root + ipod + stick + cd + card);
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
