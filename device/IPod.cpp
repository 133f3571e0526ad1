#include "device/IPod.h"

#include "platform/Drives.h"
#include "platform/Files.h"

#include <exception>

namespace device {
namespace {

QString Under(const QByteArray& root, const char* path) {
    return QString::fromUtf8(root) + QLatin1String(path);
}

} // namespace

int32_t TIPod::ProbeDrive(char letter) {
    Root = QByteArray(1, letter) + ':';
    try {
        if (platform::GetDriveType(Root + '/') != platform::DriveRemovable)
            return prNone;
        if (!platform::DirectoryExists(Under(Root, "/iPod_Control/iTunes/")))
            return prNone;
        if (IsLocked())
            return prLocked;
        return HasTrackDb() ? prFound : prNoDatabase;
    } catch (const std::exception&) {
        return prNone;
    }
}

int32_t TIPod::Find(bool scanAll, char letter, bool checkPhoto) {
    int32_t result = prNone;
    if (scanAll) {
        for (char c = 'A'; c <= 'Z' && result == prNone; ++c)
            result = ProbeDrive(c);
    } else {
        result = ProbeDrive(letter);
    }
    if (result == prFound && checkPhoto && !platform::FileExists(Under(Root, "/Photos/Photo Database")))
        return prNoPhotoDatabase;
    return result;
}

bool TIPod::HasTrackDb() const {
    return platform::FileExists(Under(Root, "/iPod_Control/iTunes/iTunesDB"));
}

bool TIPod::IsLocked() const {
    return platform::FileExists(Under(Root, "/iPod_Control/iTunes/iTunesLock"));
}

bool TIPod::RemoveLock() {
    const QString lock = Under(Root, "/iPod_Control/iTunes/iTunesLock");
    if (!platform::FileExists(lock))
        return true;
    return platform::DeleteFile(lock);
}

bool TIPod::ClearPrefsFlag() {
    const QString prefs = Under(Root, "/iPod_Control/iTunes/iTunesPrefs");
    if (!platform::FileExists(prefs))
        return false;
    // Opened for reading and writing without truncation: only byte 10 may ever change.
    const auto file = platform::OpenReadWrite(prefs);
    char flag = 0;
    if (!file->seek(10) || file->read(&flag, 1) != 1)
        return false;
    if (flag != 1)
        return true;
    const char cleared = 0;
    if (!file->seek(10) || file->write(&cleared, 1) != 1)
        return false;
    return file->flush() && file->error() == QFileDevice::NoError;
}

} // namespace device
