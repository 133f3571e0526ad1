#include "platform/Files.h"

#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/FileCopy.h"
#include "platform/OpenBeneath.h"

#include <QFileInfo>
#include <cerrno>
#include <unistd.h>

namespace platform {
namespace {

// A device file whose handle this code closes, not Qt: a handle's whole life then stays
// within code that the thread checker sees, so a number reused by another thread is no race.
class DeviceFile : public QFile {
public:
    DeviceFile(const QString& name, int fd) : QFile(name), Fd(fd) {}
    ~DeviceFile() override {
        close();
        ::close(Fd);
    }

private:
    const int Fd;
};

std::unique_ptr<QFile> Open(const QString& path, QIODevice::OpenMode mode) {
    const QString native = ResolvePath(path);
    if (!native.isEmpty() && native != path) {
        // A file of a drive: only beneath its root, never through a link, a regular file only.
        const int fd = OpenDeviceFile(path, mode & QIODevice::WriteOnly ? O_RDWR : O_RDONLY);
        if (fd < 0)
            throw EFOpenError(QStringLiteral("Cannot open file \"%1\". %2").arg(native, SystemErrorText(errno)));
        auto file = std::make_unique<DeviceFile>(native, fd);
        if (!file->open(fd, mode | QIODevice::Unbuffered, QFileDevice::DontCloseHandle)) {
            const int err = errno;
            // The message names the file where the user finds it, not by its drive letter.
            throw EFOpenError(QStringLiteral("Cannot open file \"%1\". %2").arg(native, SystemErrorText(err)));
        }
        return file;
    }
    auto file = std::make_unique<QFile>(native);
    if (native.isEmpty())
        throw EFOpenError(
            QStringLiteral("Cannot open file \"%1\". The system cannot find the path specified").arg(path));
    // An unbuffered QFile keeps seek and small reads cheap and writes immediate.
    if (QFileInfo(native).isDir() || !file->open(mode | QIODevice::Unbuffered))
        throw EFOpenError(QStringLiteral("Cannot open file \"%1\". %2").arg(native, file->errorString()));
    return file;
}

} // namespace

bool FileExists(const QString& path) {
    const QString native = ResolvePath(path);
    if (native.isEmpty())
        return false;
    if (native != path) {
        // On a drive, what cannot be opened (a link, a pipe) is not there.
        const int fd = OpenDeviceFile(path, O_PATH);
        if (fd >= 0)
            ::close(fd);
        return fd >= 0;
    }
    const QFileInfo info(native);
    return info.exists() && !info.isDir();
}

bool DirectoryExists(const QString& path) {
    const QString native = ResolvePath(path);
    return !native.isEmpty() && QFileInfo(native).isDir();
}

bool DeleteFile(const QString& path) {
    const QString native = ResolvePath(path);
    return !native.isEmpty() && QFile::remove(native);
}

std::unique_ptr<QFile> OpenReadOnly(const QString& path) {
    return Open(path, QIODevice::ReadOnly);
}

std::unique_ptr<QFile> OpenReadWrite(const QString& path) {
    return Open(path, QIODevice::ReadWrite);
}

} // namespace platform
