#pragma once
// Copying one file the way the transfer needs it: the destination is never replaced, a
// failure never leaves a file under the final name, and failures come back as the four error
// classes the copy loops sort by (2 not found, 3 path not found, 80 exists, 87 invalid name)
// or as the system's own errno and text.
#include <QByteArray>
#include <QString>
#include <optional>

namespace platform {

enum CopyErrorCode : int {
    CopyOk = 0,
    ErrFileNotFound = 2,
    ErrPathNotFound = 3,
    ErrFileExists = 80,
    ErrInvalidParameter = 87,
    // The source delivered fewer bytes than its size at open; apart from every errno.
    ErrReadFault = 1030,
};

struct CopyOutcome {
    int Code = CopyOk;      // one of the classes above, or an errno for anything else
    QString Reason;         // the system's text for the failure
    qint64 SourceSize = -1; // the source's size as opened (what a copy writes); -1 when not opened
    bool Ok() const { return Code == CopyOk; }
};

// Copies source (a device path like "E:/iPod_Control/..." or a native path) to the native path
// dest through a temporary file in dest's folder, and fails with ErrFileExists when dest
// exists at the start or appears before the move. Keeps the source's modification time.
// A device source is opened beneath its drive's root (`rootFd`, a handle on the drive's root
// when given, else the drive table's) without following links; a link or anything but a
// regular file is ErrFileNotFound.
CopyOutcome CopyFileNoReplace(const QString& source, const QString& dest, int rootFd = -1);

// The first and last 64 KiB (FileSample.h) of a source opened as CopyFileNoReplace opens it;
// nullopt when it cannot be read or is no longer `size` bytes long.
std::optional<QByteArray> SourceSample(const QString& source, qint64 size, int rootFd = -1);

// True when a native path names any entry, a dangling link included.
bool EntryExists(const QString& native);

// The system's text for an errno.
QString SystemErrorText(int errnoValue);

} // namespace platform
