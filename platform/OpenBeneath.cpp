#include "platform/OpenBeneath.h"

#include "platform/Drives.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {
namespace {

std::atomic<bool> gWalkOnly{false};

struct Fd {
    int Value = -1;
    ~Fd() {
        if (Value >= 0) {
            const int saved = errno;
            ::close(Value);
            errno = saved;
        }
    }
    int Release() { return std::exchange(Value, -1); }
};

// One part at a time, each opened relative to the folder before it and never followed when
// it is a link. ".." is refused, so the walk stays beneath the start.
int Walk(int dir, const QByteArray& relative, int flags) {
    const QList<QByteArray> parts = relative.split('/');
    Fd current;
    int at = dir;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QByteArray& part = parts[i];
        const bool last = i == parts.size() - 1;
        if ((part.isEmpty() || part == ".") && !last)
            continue;
        if (part.isEmpty() || part == "." || part == "..") {
            errno = ENOENT;
            return -1;
        }
        const int f = last ? flags | O_NOFOLLOW : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        const int next = ::openat(at, part.constData(), f);
        if (next < 0) {
            struct stat st {};
            // A link where a folder was expected fails as "not a folder": it counts as absent.
            if (errno == ENOTDIR && ::fstatat(at, part.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode))
                errno = ENOENT;
            return -1;
        }
        if (last)
            return next;
        Fd previous{current.Release()};
        current.Value = next;
        at = next;
    }
    errno = ENOENT;
    return -1;
}

} // namespace

void UseOpenBeneathWalkForTesting(bool walk) {
    gWalkOnly = walk;
}

FolderHandle::FolderHandle(const QString& folder)
    : Handle(::open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}

FolderHandle::~FolderHandle() {
    if (Handle >= 0)
        ::close(Handle);
}

int OpenBeneath(const QString& root, const QString& relative, int flags, struct stat* st) {
    const FolderHandle dir(root);
    return dir.Fd() < 0 ? -1 : OpenBeneathAt(dir.Fd(), relative, flags, st);
}

int OpenBeneathAt(int rootFd, const QString& relative, int flags, struct stat* st) {
    QByteArray rel = QFile::encodeName(relative);
    while (rel.startsWith('/'))
        rel.remove(0, 1);
    if (rel.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    // Non-blocking, so that opening a pipe or a device node can never hang the caller.
    const bool pathOnly = flags & O_PATH; // a handle to look at, never read
    const int openFlags = pathOnly ? O_PATH | O_CLOEXEC : (flags & O_ACCMODE) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    Fd file;
    if (!gWalkOnly) {
        struct open_how how {};
        how.flags = unsigned(openFlags);
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        for (int attempt = 0; attempt < 4; ++attempt) {
            file.Value = int(::syscall(SYS_openat2, rootFd, rel.constData(), &how, sizeof how));
            if (file.Value >= 0 || errno != EAGAIN)
                break;
        }
        if (file.Value < 0 && errno == ENOSYS)
            gWalkOnly = true;
        else if (file.Value < 0 && (errno == ELOOP || errno == EXDEV || errno == EAGAIN))
            errno = ENOENT; // a link or a way out of the root: the file is not there
    }
    if (gWalkOnly && file.Value < 0) {
        file.Value = Walk(rootFd, rel, openFlags);
        if (file.Value < 0 && errno == ELOOP)
            errno = ENOENT;
    }
    if (file.Value < 0) {
        // A socket, a device node or a folder fails to open (ENXIO, ENODEV, EACCES on a nodev
        // mount, EISDIR, ...) before its type can be looked at: ask what is there without
        // opening it, and call anything but a regular file absent, as below.
        const int err = errno;
        if (!pathOnly && err != ENOENT) {
            const Fd probe{OpenBeneathAt(rootFd, relative, O_PATH)};
            errno = probe.Value < 0 && errno == ENOENT ? ENOENT : err;
        }
        return -1;
    }
    struct stat own {};
    struct stat& status = st ? *st : own;
    if (::fstat(file.Value, &status) != 0)
        return -1;
    if (!S_ISREG(status.st_mode)) {
        errno = ENOENT;
        return -1;
    }
    if (!pathOnly && ::fcntl(file.Value, F_SETFL, openFlags & ~(O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_ACCMODE)) != 0)
        return -1;
    return file.Release();
}

int OpenDeviceFile(const QString& path, int flags, struct stat* st) {
    if (path.size() >= 2 && path[1] == u':' && path[0].isLetter()) {
        const QString mount = MountPointOf(char(path[0].toUpper().toLatin1()));
        if (mount.isEmpty()) {
            errno = ENOENT;
            return -1;
        }
        QString rest = path.mid(2);
        rest.replace(u'\\', u'/');
        return OpenBeneath(mount, rest, flags, st);
    }
    const qsizetype slash = path.lastIndexOf(u'/');
    return OpenBeneath(slash < 0    ? QStringLiteral(".")
                       : slash == 0 ? QStringLiteral("/")
                                    : path.left(slash),
                       path.mid(slash + 1), flags, st);
}

} // namespace platform
