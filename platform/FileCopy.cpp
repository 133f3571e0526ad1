#include "platform/FileCopy.h"

#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/SafeWrite.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

bool IsFolder(const QString& native) {
    struct stat st {};
    return ::stat(QFile::encodeName(native).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

CopyOutcome Failure(int code, int err) { return {code, SystemErrorText(err)}; }

// Maps the errno of a failed step onto the classes the copy loops know.
CopyOutcome MapErrno(int err) {
    switch (err) {
    case EEXIST:
        return Failure(ErrFileExists, err);
    case ENOENT:
    case ENOTDIR:
        return Failure(ErrPathNotFound, err);
    case EINVAL:
    case ENAMETOOLONG:
    case EILSEQ:
        return Failure(ErrInvalidParameter, err);
    default:
        return Failure(err, err);
    }
}

// The kernel copies within the page cache (or shares extents) without the bytes passing
// through user space; a plain read/write loop is the fall-back for file systems without it.
bool CopyData(int in, int out, off_t size) {
    off_t done = 0;
    bool useRange = true;
    while (useRange && done < size) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, size_t(size - done), 0);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n == 0)
            return true; // the source became shorter: all there is was copied
        if (errno == EINTR)
            continue;
        if (done == 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL ||
                          errno == EBADF || errno == EPERM))
            useRange = false;
        else
            return false;
    }
    if (useRange)
        return true;
    constexpr size_t BufferSize = 1 << 20;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[BufferSize]);
    if (!buffer) {
        errno = ENOMEM;
        return false;
    }
    for (;;) {
        const ssize_t got = ::read(in, buffer.get(), BufferSize);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        if (!WriteAll(out, buffer.get(), got))
            return false;
    }
}

} // namespace

bool EntryExists(const QString& native) {
    struct stat st {};
    return ::lstat(QFile::encodeName(native).constData(), &st) == 0;
}

QString SystemErrorText(int errnoValue) { return QString::fromLocal8Bit(std::strerror(errnoValue)); }

CopyOutcome CopyFileNoReplace(const QString& source, const QString& dest) {
    const QString native = ResolvePath(source);
    if (native.isEmpty())
        return Failure(ErrPathNotFound, ENOENT); // the drive is no longer in the table

    const int in = ::open(QFile::encodeName(native).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        const int err = errno;
        if (err == ENOENT)
            return Failure(IsFolder(FolderOf(native)) ? ErrFileNotFound : ErrPathNotFound, err);
        return MapErrno(err);
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closeIn{in};
    struct stat st {};
    if (::fstat(in, &st) != 0)
        return MapErrno(errno);
    if (S_ISDIR(st.st_mode))
        return Failure(EISDIR, EISDIR);
    ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);

    const QString folder = FolderOf(dest);
    if (!IsFolder(folder))
        return Failure(ErrPathNotFound, ENOENT);
    if (QFile::encodeName(QFileInfo(dest).fileName()).size() > NAME_MAX)
        return Failure(ErrInvalidParameter, ENAMETOOLONG);
    if (EntryExists(dest))
        return Failure(ErrFileExists, EEXIST);

    std::unique_ptr<SafeWrite> out;
    try {
        out = std::make_unique<SafeWrite>(folder);
    } catch (const Error& e) {
        const int err = errno ? errno : EACCES;
        return {err == ENOENT || err == ENOTDIR ? int(ErrPathNotFound) : err, e.Message()};
    }
    if (!CopyData(in, out->Handle(), st.st_size)) {
        const int err = errno;
        out->Discard();
        return Failure(err == EINVAL ? EIO : err, err == EINVAL ? EIO : err);
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out->Handle(), times);
    // Like cp, the bytes are left to the page cache: waiting for the disk after every track
    // would cap the transfer at the disk's speed. A file cut short by a crash is not taken for
    // a copy later, since a present file only stands for a track when the sizes agree.
    if (!out->Commit(dest, false, false))
        return MapErrno(errno);
    return {};
}

} // namespace platform
