#include "platform/Files.h"

#include "platform/Drives.h"
#include "platform/Errors.h"

#include <QFileInfo>

namespace platform {
namespace {

std::unique_ptr<QFile> Open(const QString& path, QIODevice::OpenMode mode) {
    const QString native = ResolvePath(path);
    auto file = std::make_unique<QFile>(native);
    if (native.isEmpty())
        throw EFOpenError(QStringLiteral("Cannot open file \"%1\". The system cannot find the path specified").arg(path));
    // The message names the file where the user finds it, not by its drive letter. An
    // unbuffered QFile keeps seek and small reads cheap and writes immediate.
    if (QFileInfo(native).isDir() || !file->open(mode | QIODevice::Unbuffered))
        throw EFOpenError(QStringLiteral("Cannot open file \"%1\". %2").arg(native, file->errorString()));
    return file;
}

} // namespace

bool FileExists(const QString& path) {
    const QString native = ResolvePath(path);
    if (native.isEmpty())
        return false;
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

std::unique_ptr<QFile> OpenReadOnly(const QString& path) { return Open(path, QIODevice::ReadOnly); }

std::unique_ptr<QFile> OpenReadWrite(const QString& path) { return Open(path, QIODevice::ReadWrite); }

} // namespace platform
