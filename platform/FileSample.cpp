#include "platform/FileSample.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::array<TByteRange, 2> SampleRanges(qint64 size) {
    size = std::max<qint64>(size, 0);
    const qint64 head = std::min(size, SampleBlockSize);
    const qint64 tailStart = std::max(head, size - SampleBlockSize);
    return {TByteRange{0, head}, TByteRange{tailStart, size - tailStart}};
}

std::optional<QByteArray> ReadSample(int fd, qint64 size) {
    const auto ranges = SampleRanges(size);
    QByteArray sample(ranges[0].Length + ranges[1].Length, Qt::Uninitialized);
    qint64 at = 0;
    for (const TByteRange& range : ranges) {
        for (qint64 done = 0; done < range.Length;) {
            const ssize_t got = ::pread(fd, sample.data() + at, size_t(range.Length - done), range.Offset + done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return std::nullopt;
            done += got;
            at += got;
        }
    }
    return sample;
}

std::optional<QByteArray> LocalFileSample(const QString& native, qint64 size) {
    // Non-blocking, so that a pipe put in the file's place cannot stall the open.
    const int fd = ::open(QFile::encodeName(native).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<QByteArray> sample;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == size)
        sample = ReadSample(fd, size);
    ::close(fd);
    return sample;
}

} // namespace platform
