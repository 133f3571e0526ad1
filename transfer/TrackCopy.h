#pragma once
// Names and sizes of the files the transfer copies; the copy itself is platform's.
#include "platform/FileCopy.h"

#include <QString>

namespace app {

using platform::CopyErrorCode;
using platform::CopyFileNoReplace;
using platform::CopyOk;
using platform::CopyOutcome;
using platform::ErrFileExists;
using platform::ErrFileNotFound;
using platform::ErrInvalidParameter;
using platform::ErrPathNotFound;
using platform::ErrReadFault;
using platform::SystemErrorText;

// "Song.mp3" -> the first free of "Song1.mp3", "Song2.mp3", ...
QString NumberedName(const QString& dest);

// The extension of the last name of a path, '.' included; "" when it has none. As
// FileNamePart, fit for a file name.
QString FileExtension(const QString& path);

// The last name of a path (after the last '/', '\' or ':'), fit for a file name: a device's
// location names the copy's extension and a full-size photo's name, so its control characters
// become '_'.
QString FileNamePart(const QString& path);

// A device location as stored (':' between its parts) with '/' instead.
QString SlashedLocation(QString location);

// Which folders of a copy that failed with ErrPathNotFound are missing: the destination's,
// the source's, and whether the source's drive is gone with it (the device was lost).
struct TMissingPaths {
    bool Dest = false;
    bool Source = false;
    bool Drive = false;
};
TMissingPaths MissingPaths(const QString& source, const QString& dest);

// Copies a file of the handheld through the link into a temporary file beside `dest`, moved
// into place when complete without replacing a file. Reason is the link's or the system's text;
// a file that does not deliver the size the device's file service gives fails with a read error.
CopyOutcome CopyDeviceFileToTemp(const QString& devicePath, const QString& dest, char* buffer, quint32 bufferSize);

// False for a device location that would lead outside the device's root: a ".." part or an
// empty text. Separators are ':' as stored, and '/' or '\' that a damaged record may hold.
bool IsSafeDeviceLocation(const QString& location);

} // namespace app
