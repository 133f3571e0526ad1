#include "platform/FileCompare.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

constexpr qint64 ChunkBytes = 256 * 1024;

int OpenRegularAt(int dir, const char* name, struct stat& st) {
    struct stat seen {};
    if (::fstatat(dir, name, &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode))
        return -1;
    const int fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_ino != seen.st_ino || st.st_dev != seen.st_dev) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool ReadExactly(const ReadAtFn& read, qint64 offset, char* dest, qint64 count) {
    for (qint64 done = 0; done < count;) {
        const qint64 n = read(offset + done, dest + done, count - done);
        if (n <= 0 || n > count - done)
            return false;
        done += n;
    }
    return true;
}

ReadAtFn ReadFromFd(int fd) {
    return [fd](qint64 offset, char* dest, qint64 count) -> qint64 {
        for (;;) {
            const ssize_t n = ::pread(fd, dest, size_t(count), off_t(offset));
            if (n >= 0 || errno != EINTR)
                return n;
        }
    };
}

bool FileHoldsAt(int dir, const QByteArray& name, const ReadAtFn& source, qint64 sourceSize) {
    struct stat st {};
    const int fd = OpenRegularAt(dir, name.constData(), st);
    if (fd < 0)
        return false;
    struct Closer {
        int Fd;
        ~Closer() { ::close(Fd); }
    } closer{fd};
    const qint64 size = st.st_size;
    if (sourceSize >= 0 && sourceSize != size)
        return false;
    const ReadAtFn local = ReadFromFd(fd);
    const qint64 chunk = std::min(ChunkBytes, std::max<qint64>(size, 1));
    std::unique_ptr<char[]> mine(new char[size_t(chunk)]), theirs(new char[size_t(chunk)]);
    for (qint64 offset = 0; offset < size; offset += chunk) {
        const qint64 n = std::min(chunk, size - offset);
        if (!ReadExactly(local, offset, mine.get(), n) || !ReadExactly(source, offset, theirs.get(), n) ||
            std::memcmp(mine.get(), theirs.get(), size_t(n)) != 0)
            return false;
    }
    // A source that goes on past the file's end is a longer item.
    char extra = 0;
    return source(size, &extra, 1) == 0;
}

bool FileHolds(const QString& native, const ReadAtFn& source, qint64 sourceSize) {
    return FileHoldsAt(AT_FDCWD, QFile::encodeName(native), source, sourceSize);
}

bool FileHolds(const QString& native, const QByteArray& bytes) {
    const ReadAtFn read = [&bytes](qint64 offset, char* dest, qint64 count) -> qint64 {
        const qint64 n = std::clamp<qint64>(bytes.size() - offset, 0, count);
        if (n > 0)
            std::memcpy(dest, bytes.constData() + offset, size_t(n));
        return n;
    };
    return FileHolds(native, read, bytes.size());
}

} // namespace platform
