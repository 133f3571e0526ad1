#pragma once
// Copying one file the way the transfer needs it: the destination is never replaced, a
// failure never leaves a file under the final name, and failures come back as the four error
// classes the copy loops sort by (2 not found, 3 path not found, 80 exists, 87 invalid name)
// or as the system's own errno and text.
#include <QString>

namespace app {

enum CopyErrorCode : int {
    CopyOk = 0,
    ErrFileNotFound = 2,
    ErrPathNotFound = 3,
    ErrFileExists = 80,
    ErrInvalidParameter = 87,
};

struct CopyOutcome {
    int Code = CopyOk;  // one of the classes above, or an errno for anything else
    QString Reason;     // the system's text for the failure
    bool Ok() const { return Code == CopyOk; }
};

// Copies source (a device path like "E:/iPod_Control/..." or a native path) to the native path
// dest through a temporary file in dest's folder, and fails with ErrFileExists when dest
// exists at the start or appears before the move. Keeps the source's modification time.
CopyOutcome CopyFileNoReplace(const QString& source, const QString& dest);

// Size of a regular file (device paths resolved), -1 when there is none.
qint64 FileSizeOf(const QString& path);

// The system's text for an errno.
QString SystemErrorText(int errnoValue);

// "Song.mp3" -> the first free of "Song1.mp3", "Song2.mp3", ...
QString NumberedName(const QString& dest);

// The extension of the last name of a path, '.' included; "" when it has none.
QString FileExtension(const QString& path);

// The last name of a path (after the last '/', '\' or ':').
QString FileNamePart(const QString& path);

// False for a device location that would lead outside the device's root: a ".." part or an
// empty text. Separators are ':' as stored, and '/' or '\' that a damaged record may hold.
bool IsSafeDeviceLocation(const QString& location);

} // namespace app
