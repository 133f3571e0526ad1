#include "platform/Drives.h"

#include <gtest/gtest.h>

using namespace platform;

// Only a whole block volume under /media or /run/media becomes a drive; what else is mounted
// there (a bind mount of a system-disk folder, a tmpfs, a sub-folder of a stick) stays out.
TEST(MountInfo, OnlyBlockVolumesMountedAtTheirRootBecomeDrives) {
    const QByteArray text = "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                            "30 22 8:1 /home/u/music /media/u/bound rw - ext4 /dev/sda1 rw\n"
                            "31 22 0:45 / /media/u/ram rw - tmpfs tmpfs rw\n"
                            "32 22 7:0 / /run/media/u/LOOPED rw - vfat /dev/loop0 rw\n"
                            "33 22 7:16 /sub /media/u/part rw - vfat /dev/loop1 rw\n"
                            "34 22 7:32 / /media/u/IPOD\\040X rw - vfat /dev/loop2 rw\n";
    EXPECT_EQ(ParseMountInfo(text)[1].Root, QStringLiteral("/home/u/music"));
    const auto drives = DrivesFromMountInfo(text);
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[1].MountPoint, QStringLiteral("/run/media/u/LOOPED"));
    EXPECT_EQ(drives[2].MountPoint, QStringLiteral("/media/u/IPOD X"));
    EXPECT_EQ(drives[2].Device, QStringLiteral("/dev/loop2"));
}
