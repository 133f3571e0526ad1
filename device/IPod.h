#pragma once
// The disk-mode locator: finds an iPod among the drives of the drive table and answers what the
// window asks about it (database present, locked by iTunes) and the one change it makes there.
#include <QByteArray>
#include <cstdint>

namespace device {

// Probe results.
enum : int32_t {
    prNone = 0,             // not removable, no marker folder, or an error during the probe
    prFound = 1,            // the track database is present
    prLocked = 2,           // the lock file is present (tested before the database)
    prNoDatabase = 3,       // marker folder, but neither lock file nor track database
    prNoPhotoDatabase = 16, // Find only: photo test asked for, drive gave 1, no photo database
};

class TIPod {
public:
    // Root of the drive last probed, such as "E:"; "Z:" after a full scan that found nothing.
    QByteArray Root;

    int32_t ProbeDrive(char letter);
    // ScanAll: 'A' to 'Z', stopping at the first non-zero result; else `letter` alone.
    int32_t Find(bool scanAll, char letter, bool checkPhoto);

    bool HasTrackDb() const;
    bool IsLocked() const;
    // Deletes the lock file when there is one; false when the deletion was refused.
    bool RemoveLock();
    // Byte 10 of iTunesPrefs from 1 to 0, in place. False for a missing or short file;
    // EFOpenError when it cannot be opened for writing.
    bool ClearPrefsFlag();
};

} // namespace device
