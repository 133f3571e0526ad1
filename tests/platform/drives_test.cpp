#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;

TEST(DriveFile, ParsesLettersTypesAndPathsWithBlanks) {
    const auto drives = ParseDriveFile("# demo\nE: /tmp/my ipod/ removable\n"
                                       "f: /srv fixed\nG: /mnt/cd cdrom\nbad line\n1: /x removable\n");
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[0].Letter, 'E');
    EXPECT_EQ(drives[0].MountPoint, QStringLiteral("/tmp/my ipod"));
    EXPECT_EQ(drives[0].Type, DriveRemovable);
    EXPECT_EQ(drives[1].Letter, 'F');
    EXPECT_EQ(drives[1].Type, DriveFixed);
    EXPECT_EQ(drives[2].Type, DriveCdRom);
}

TEST(MountInfo, ParsesEscapedMountPointsAndOptionalFields) {
    const QByteArray text =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "99 22 8:33 / /media/user/IPOD\\040NANO rw,nosuid shared:5 master:2 - vfat /dev/sdc1 rw\n"
        "garbage\n";
    const auto rows = ParseMountInfo(text);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].MountPoint, QStringLiteral("/media/user/IPOD NANO"));
    EXPECT_EQ(rows[1].Source, QStringLiteral("/dev/sdc1"));
    EXPECT_EQ(rows[1].FsType, QStringLiteral("vfat"));
    EXPECT_EQ(rows[1].DevNumber, QStringLiteral("8:33"));
}

TEST(DriveTable, TypesResolutionAndMask) {
    SetDriveTableForTesting({{{'C', "/", DriveFixed, {}}, {'E', "/tmp/ipod", DriveRemovable, {}}}});
    EXPECT_EQ(GetDriveType("E:"), DriveRemovable);
    EXPECT_EQ(GetDriveType("e:\\"), DriveRemovable);
    EXPECT_EQ(GetDriveType("C:"), DriveFixed);
    EXPECT_EQ(GetDriveType("Q:"), DriveNoRootDir);
    EXPECT_EQ(GetDriveType(""), DriveNoRootDir);
    EXPECT_EQ(LogicalDriveMask(), (1u << 2) | (1u << 4));
    EXPECT_EQ(ResolvePath("E:\\iPod_Control\\iTunes\\iTunesDB"), QStringLiteral("/tmp/ipod/iPod_Control/iTunes/iTunesDB"));
    EXPECT_EQ(ResolvePath("E:"), QStringLiteral("/tmp/ipod"));
    EXPECT_EQ(ResolvePath("C:/etc"), QStringLiteral("/etc"));
    EXPECT_EQ(ResolvePath("Q:/x"), QString());
    EXPECT_EQ(ResolvePath("/home/a"), QStringLiteral("/home/a"));
}

TEST(DriveTable, EnvironmentFileReplacesTheScan) {
    QTemporaryDir dir;
    QFile f(dir.filePath("drives"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("H: " + dir.path().toUtf8() + " removable\n");
    f.close();
    qputenv("MARROWGATE_DRIVES", f.fileName().toUtf8());
    EXPECT_EQ(GetDriveType("H:"), DriveRemovable);
    EXPECT_EQ(MountPointOf('H'), dir.path());
    qunsetenv("MARROWGATE_DRIVES");
}

TEST(Files, ExistenceOpenAndDeleteThroughLetters) {
    QTemporaryDir dir;
    SetDriveTableForTesting({{{'E', dir.path(), DriveRemovable, {}}}});
    QDir(dir.path()).mkpath("iPod_Control/iTunes");
    QFile f(dir.filePath("iPod_Control/iTunes/iTunesPrefs"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("0123456789\x01xyz");
    f.close();

    EXPECT_TRUE(DirectoryExists("E:/iPod_Control/iTunes/"));
    EXPECT_FALSE(FileExists("E:/iPod_Control/iTunes"));
    EXPECT_TRUE(FileExists("E:/iPod_Control/iTunes/iTunesPrefs"));
    EXPECT_FALSE(FileExists("F:/iPod_Control/iTunes/iTunesPrefs"));

    auto rw = OpenReadWrite("E:/iPod_Control/iTunes/iTunesPrefs");
    ASSERT_TRUE(rw->seek(10));
    rw->write("\0", 1);
    rw.reset();
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("0123456789\0xyz", 14));
    f.close();

    // The message names the file by its real path; a letter not in the table stays as given.
    for (const auto& [path, named] : {std::pair{"E:/missing", dir.filePath("missing")}, {"F:/x", QString("F:/x")}}) {
        try {
            OpenReadOnly(path);
            ADD_FAILURE() << path;
        } catch (const EFOpenError& e) {
            EXPECT_EQ(QString::fromUtf8(e.what()).section(u'"', 1, 1), named);
        }
    }
    EXPECT_TRUE(DeleteFile("E:/iPod_Control/iTunes/iTunesPrefs"));
    EXPECT_FALSE(DeleteFile("E:/iPod_Control/iTunes/iTunesPrefs"));
}

TEST(MountInfo, RemovableVolumesTakeLettersFromDAndKeepThemWhileMounted) {
    // Device numbers of no block device (major 0), so the mount points decide.
    auto row = [](int id, const char* dev, const char* mount, const char* fs, const char* source) {
        return QByteArray::number(id) + " 1 " + dev + " / " + mount + " rw - " + fs + " " + source + " rw\n";
    };
    const QByteArray root = row(1, "0:901", "/", "ext4", "/dev/fake1");
    const QByteArray home = row(2, "0:902", "/home", "ext4", "/dev/fake2");
    const QByteArray ipod = row(3, "0:903", "/media/u/IPOD", "vfat", "/dev/fake3");
    const QByteArray stick = row(4, "0:904", "/run/media/u/STICK", "vfat", "/dev/fake4");
    const QByteArray cd = row(5, "0:905", "/mnt/cdrom", "iso9660", "/dev/fake5");
    const QByteArray card = row(6, "0:906", "/media/u/CARD", "exfat", "/dev/fake6");
    auto letters = [](const std::vector<Drive>& drives) {
        QByteArray out;
        for (const Drive& d : drives)
            out += QByteArray(1, d.Letter) + (d.Type == DriveFixed ? "f" : d.Type == DriveCdRom ? "c" : "r") + ' ';
        return out.trimmed();
    };

    auto first = DrivesFromMountInfo(root + home + ipod + stick + cd);
    EXPECT_EQ(letters(first), "Cf Dr Er Fc"); // /home is not a drive; C: is always "/"
    EXPECT_EQ(first[1].MountPoint, QStringLiteral("/media/u/IPOD"));
    EXPECT_EQ(first[3].MountPoint, QStringLiteral("/mnt/cdrom"));

    // The iPod leaves: the stick and the CD keep E: and F:, a new card takes the free D:.
    auto second = DrivesFromMountInfo(root + stick + cd + card);
    EXPECT_EQ(letters(second), "Cf Er Fc Dr");
    EXPECT_EQ(second[3].MountPoint, QStringLiteral("/media/u/CARD"));

    // Back again, the iPod takes the lowest free letter, not necessarily its old one.
    auto third = DrivesFromMountInfo(root + ipod + stick + cd + card);
    EXPECT_EQ(letters(third), "Cf Er Fc Dr Gr");
    EXPECT_EQ(third[4].MountPoint, QStringLiteral("/media/u/IPOD"));

    // More volumes than letters: the rest stay out of the table.
    QByteArray many = root;
    for (int i = 0; i < 30; ++i)
        many += row(10 + i, QByteArray("0:95" + QByteArray::number(i)).constData(),
                    QByteArray("/media/u/V" + QByteArray::number(i)).constData(), "vfat", "/dev/fakev");
    const auto full = DrivesFromMountInfo(many);
    ASSERT_EQ(full.size(), 24u); // C: and D: to Z:
    EXPECT_EQ(full.back().Letter, 'Z');
    DrivesFromMountInfo(QByteArray()); // forget them
}
