#pragma once
// The drive table: Linux volumes seen through drive letters, the way the rest of the program
// expects them. "C:" is "/"; every mounted removable volume gets a letter from "D:" on, in order
// of appearance, and keeps it while it stays mounted. MARROWGATE_DRIVES names a file of lines
// "E: /some/folder removable" that replaces the scan (tests and demos).
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace platform {

// Values as the rest of the program knows them from the drive-type query.
enum DriveType : int {
    DriveUnknown = 0,
    DriveNoRootDir = 1,
    DriveRemovable = 2,
    DriveFixed = 3,
    DriveRemote = 4,
    DriveCdRom = 5,
    DriveRamDisk = 6,
};

struct Drive {
    char Letter = 0;    // 'C' .. 'Z'
    QString MountPoint; // absolute, without a trailing '/' (except "/")
    DriveType Type = DriveUnknown;
    QString Device; // block device or "" for drive-file entries
};

// The current table: the drive file when MARROWGATE_DRIVES is set, else the mount table.
std::vector<Drive> Drives();

// Bit n set when letter 'A'+n is in the table (the unit mask of volume events).
quint32 LogicalDriveMask();

// The type of the drive whose root is "E:", "E:/" or "E:\"; DriveNoRootDir for a letter
// that is not in the table.
DriveType GetDriveType(const QByteArray& root);

// "E:/iPod_Control/x" (or with backslashes) -> "<mount point>/iPod_Control/x". A path without
// a drive letter comes back unchanged; a letter that is not in the table gives "".
QString ResolvePath(const QString& path);

// The mount point of a letter, or "" when the letter is not in the table.
QString MountPointOf(char letter);

// Tests can replace the table outright; std::nullopt returns to the real one.
void SetDriveTableForTesting(std::optional<std::vector<Drive>> table);

// Parses the drive file's text (exposed for tests).
std::vector<Drive> ParseDriveFile(const QByteArray& text);

// Parses /proc/self/mountinfo text into (mount point, source, fstype, major:minor, root) rows
// (exposed for tests). Root is the folder of the file system that is mounted: "/" for a whole
// volume, a sub-folder for a bind mount.
struct MountRow {
    QString MountPoint;
    QString Source;
    QString FsType;
    QString DevNumber;
    QString Root;
};
std::vector<MountRow> ParseMountInfo(const QByteArray& text);

// The table that a scan of this mountinfo text gives, with the letters of earlier scans kept
// (exposed for tests; the scan itself reads /proc/self/mountinfo).
std::vector<Drive> DrivesFromMountInfo(const QByteArray& text);

// The mount points at which the block device major:minor, or a partition of it, is mounted now.
QStringList MountsOfDevice(const QString& devNumber);
// Tests can give the mount table that MountsOfDevice reads; std::nullopt returns to the real one.
void SetMountInfoForTesting(std::optional<QByteArray> text);

} // namespace platform
