#include "platform/SafeWrite.h"

#include "platform/Errors.h"
#include "platform/FileCopy.h"

#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool RenameNoReplaceAt(int folderFd, const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(folderFd, from, folderFd, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
#endif
    if (::linkat(folderFd, from, folderFd, to, 0) != 0)
        return false;
    ::unlinkat(folderFd, from, 0);
    return true;
}

namespace {

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

bool RenameNoReplace(const QByteArray& from, const QByteArray& to) {
    return RenameNoReplaceAt(AT_FDCWD, from.constData(), to.constData());
}

} // namespace

SafeWrite::SafeWrite(const QString& folder) {
    QString base = folder.isEmpty() ? QStringLiteral(".") : folder;
    if (!base.endsWith(u'/'))
        base += u'/';
    QByteArray pattern = Native(base) + ".marrowgate-XXXXXX.part";
    Fd = ::mkostemps(pattern.data(), 5, O_CLOEXEC);
    if (Fd < 0)
        throw EFOpenError(QStringLiteral("Cannot create file in \"%1\". %2").arg(folder, LastErrorText()));
    Temp = QFile::decodeName(pattern);
}

SafeWrite::~SafeWrite() {
    Discard();
}

bool SafeWrite::Write(const char* data, qint64 size) {
    if (Fd < 0) {
        errno = EBADF;
        return false;
    }
    return WriteAll(Fd, data, size);
}

bool WriteAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

bool SafeWrite::Commit(const QString& finalPath, bool replace, bool sync) {
    if (Fd < 0) {
        errno = EBADF;
        return false;
    }
    // The file gets the permissions of an ordinary new file rather than mkstemp's 0600.
    // Read once. The kernel tells it in the status file; setting it to read it back would
    // leave other threads creating files without a mask for a moment.
    static const mode_t mask = [] {
        QFile status(QStringLiteral("/proc/self/status"));
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("Umask:")) {
                    bool ok = false;
                    const mode_t m = mode_t(line.mid(6).trimmed().toUInt(&ok, 8));
                    if (ok)
                        return m;
                }
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    ::fchmod(Fd, 0666 & ~mask);
    const int fd = Fd;
    Fd = -1;
    if (sync && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        const int saved = errno;
        ::close(fd);
        ::unlink(Native(Temp).constData());
        errno = saved;
        return false;
    }
    if (::close(fd) != 0) {
        const int saved = errno;
        ::unlink(Native(Temp).constData());
        errno = saved;
        return false;
    }
    const QByteArray from = Native(Temp), to = Native(finalPath);
    const bool moved = replace ? ::rename(from.constData(), to.constData()) == 0 : RenameNoReplace(from, to);
    if (!moved) {
        const int saved = errno;
        ::unlink(from.constData());
        errno = saved;
        return false;
    }
    Temp.clear();
    return true;
}

void SafeWrite::Discard() {
    const int saved = errno;
    if (Fd >= 0) {
        ::close(Fd);
        Fd = -1;
    }
    if (!Temp.isEmpty()) {
        ::unlink(Native(Temp).constData());
        Temp.clear();
    }
    errno = saved;
}

QString FolderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : path.left(slash);
}

bool MoveNoReplace(const QString& from, const QString& to) {
    return RenameNoReplace(Native(from), Native(to));
}

bool WriteFileSafely(const QString& path, const QByteArray& bytes, bool replace) {
    try {
        SafeWrite file(FolderOf(path));
        if (!file.Write(bytes))
            return false; // the destructor removes the temporary and keeps errno
        return file.Commit(path, replace);
    } catch (const EFOpenError&) {
        return false;
    }
}

bool WriteNewFileAt(int folderFd, const char* name, const QByteArray& bytes) {
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = ".marrowgate-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".part";
        fd = ::openat(folderFd, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool done = WriteAll(fd, bytes.constData(), bytes.size());
    done = ::close(fd) == 0 && done; // a close that succeeds keeps the write's errno
    done = done && RenameNoReplaceAt(folderFd, temp.constData(), name);
    if (!done) {
        const int saved = errno;
        ::unlinkat(folderFd, temp.constData(), 0);
        errno = saved;
    }
    return done;
}

QString LastErrorText() {
    return SystemErrorText(errno);
}

} // namespace platform
