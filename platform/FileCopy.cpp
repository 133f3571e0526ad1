#include "platform/FileCopy.h"

#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/FileSample.h"
#include "platform/OpenBeneath.h"
#include "platform/SafeWrite.h"

#include <QFile>
#include <atomic>
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

CopyOutcome Failure(int code, int err) {
    return {code, SystemErrorText(err)};
}

// Maps the errno of a failed step onto the classes the copy loops know.
CopyOutcome MapErrno(int err) {
    switch (err) {
    case EEXIST: return Failure(ErrFileExists, err);
    case ENOENT:
    case ENOTDIR: return Failure(ErrPathNotFound, err);
    case EINVAL:
    case ENAMETOOLONG:
    case EILSEQ: return Failure(ErrInvalidParameter, err);
    default: return Failure(err, err);
    }
}

struct Fd {
    int Value = -1;
    ~Fd() {
        if (Value >= 0)
            ::close(Value);
    }
};

// Copies exactly `size` bytes. A source that ends early is a read fault (errno 0): a short
// file must never pass for a whole one. The kernel copies within the page cache (or shares
// extents) where it can; a read/write loop is the fall-back for file systems without it.
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
            break; // early end, or a file system that copies nothing this way: read() decides
        if (errno == EINTR)
            continue;
        if (done == 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL ||
                          errno == EBADF || errno == EPERM))
            useRange = false;
        else
            return false;
    }
    if (done == size)
        return true;
    constexpr size_t BufferSize = 1 << 20;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[BufferSize]);
    if (!buffer) {
        errno = ENOMEM;
        return false;
    }
    while (done < size) {
        const ssize_t got = ::read(in, buffer.get(), size_t(std::min<off_t>(BufferSize, size - done)));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0) {
            errno = 0;
            return false;
        }
        if (!WriteAll(out, buffer.get(), got))
            return false;
        done += got;
    }
    return true;
}

CopyOutcome DataFailure(int err) {
    if (err == 0)
        return {ErrReadFault, QStringLiteral("Read error: the file ended before its size")};
    return Failure(err == EINVAL ? EIO : err, err == EINVAL ? EIO : err);
}

// An unnamed file in the folder, linked into place only when complete, so that nothing is
// ever seen under the final name before its last byte. Linking needs /proc for the file's
// name; where either is missing, the temporary-name way below is used.
std::atomic<bool> gNoUnnamedFiles{false};

int OpenUnnamed(int dir) {
    if (gNoUnnamedFiles)
        return -1;
    static const bool procMounted = ::access("/proc/self/fd", X_OK) == 0;
    if (!procMounted)
        return -1;
    // The mode passes through the umask (or the folder's default ACL) like any new file's.
    const int fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL || errno == ENOSYS))
        gNoUnnamedFiles = true; // the file system has no unnamed files: ask no more
    return fd;
}

bool LinkUnnamed(int fd, int dir, const QByteArray& name) {
    char proc[40];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    // linkat never replaces: a name that appeared meanwhile fails with EEXIST.
    return ::linkat(AT_FDCWD, proc, dir, name.constData(), AT_SYMLINK_FOLLOW) == 0;
}

} // namespace

bool EntryExists(const QString& native) {
    struct stat st {};
    return ::lstat(QFile::encodeName(native).constData(), &st) == 0;
}

QString SystemErrorText(int errnoValue) {
    return QString::fromLocal8Bit(std::strerror(errnoValue));
}

namespace {

// The copy once the source is open as `in` with the status `st`.
CopyOutcome CopyOpenSource(int in, const struct stat& st, const QString& dest) {
    ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);

    const QByteArray destBytes = QFile::encodeName(dest);
    const qsizetype slash = destBytes.lastIndexOf('/');
    const QByteArray name = destBytes.mid(slash + 1);
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : destBytes.left(slash);
    Fd dir{::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
    if (dir.Value < 0)
        return Failure(ErrPathNotFound, ENOENT);
    if (name.size() > NAME_MAX)
        return Failure(ErrInvalidParameter, ENAMETOOLONG);
    struct stat present {};
    if (::fstatat(dir.Value, name.constData(), &present, AT_SYMLINK_NOFOLLOW) == 0)
        return Failure(ErrFileExists, EEXIST);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};

    Fd unnamed{OpenUnnamed(dir.Value)};
    if (unnamed.Value >= 0) {
        if (!CopyData(in, unnamed.Value, st.st_size))
            return DataFailure(errno);
        ::futimens(unnamed.Value, times);
        if (LinkUnnamed(unnamed.Value, dir.Value, name))
            return {};
        if (errno == EEXIST || errno == ENOSPC || errno == EDQUOT || errno == EMLINK)
            return MapErrno(errno);
        // This system cannot name an unnamed file: the temporary-name way from the start.
        gNoUnnamedFiles = true;
        if (::lseek(in, 0, SEEK_SET) != 0)
            return MapErrno(errno);
    }

    std::unique_ptr<SafeWrite> out;
    try {
        out = std::make_unique<SafeWrite>(QFile::decodeName(folder));
    } catch (const Error& e) {
        const int err = errno ? errno : EACCES;
        return {err == ENOENT || err == ENOTDIR ? int(ErrPathNotFound) : err, e.Message()};
    }
    if (!CopyData(in, out->Handle(), st.st_size)) {
        const int err = errno;
        out->Discard();
        return DataFailure(err);
    }
    ::futimens(out->Handle(), times);
    // Like cp, the bytes are left to the page cache: waiting for the disk after every track
    // would cap the transfer at the disk's speed. A file cut short by a crash is not taken for
    // a copy later, since a present file only stands for a track when its size and its first
    // and last 64 KiB agree with the source's.
    if (!out->Commit(dest, false, false))
        return MapErrno(errno);
    return {};
}

// A device source beneath its drive's root, or beneath the drive table's when no handle is given.
int OpenSource(const QString& source, int rootFd, struct stat& st) {
    const bool onDrive = source.size() >= 2 && source[1] == u':';
    return rootFd >= 0 && onDrive ? OpenBeneathAt(rootFd, source.mid(2), O_RDONLY, &st)
                                  : OpenDeviceFile(source, O_RDONLY, &st);
}

} // namespace

CopyOutcome CopyFileNoReplace(const QString& source, const QString& dest, int rootFd) {
    struct stat st {};
    Fd in{OpenSource(source, rootFd, st)};
    if (in.Value < 0) {
        const int err = errno;
        const QString native = ResolvePath(source);
        if (native.isEmpty())
            return Failure(ErrPathNotFound, ENOENT); // the drive is no longer in the table
        if (err == ENOENT)
            return Failure(IsFolder(FolderOf(native)) ? ErrFileNotFound : ErrPathNotFound, err);
        return MapErrno(err);
    }
    CopyOutcome outcome = CopyOpenSource(in.Value, st, dest);
    outcome.SourceSize = st.st_size;
    return outcome;
}

std::optional<QByteArray> SourceSample(const QString& source, qint64 size, int rootFd) {
    struct stat st {};
    Fd in{OpenSource(source, rootFd, st)};
    if (in.Value < 0 || st.st_size != size)
        return std::nullopt;
    return ReadSample(in.Value, size);
}

} // namespace platform
