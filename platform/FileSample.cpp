#include "platform/FileSample.h"

#include "platform/FileCompare.h"

#include <QFile>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

std::array<TByteRange, 2> SampleRanges(qint64 size) {
    size = std::max<qint64>(size, 0);
    const qint64 head = std::min(size, SampleBlockSize);
    const qint64 tailStart = std::max(head, size - SampleBlockSize);
    return {TByteRange{0, head}, TByteRange{tailStart, size - tailStart}};
}

std::optional<QByteArray> ReadSample(int fd, qint64 size) {
    const auto [head, tail] = SampleRanges(size);
    QByteArray sample(head.Length + tail.Length, Qt::Uninitialized);
    const ReadAtFn read = ReadFromFd(fd);
    if (!ReadExactly(read, head.Offset, sample.data(), head.Length) ||
        !ReadExactly(read, tail.Offset, sample.data() + head.Length, tail.Length))
        return std::nullopt;
    return sample;
}

std::optional<QByteArray> LocalFileSample(const QString& native, qint64 size) {
    struct stat st {};
    const int fd = OpenRegularAt(AT_FDCWD, QFile::encodeName(native).constData(), st);
    if (fd < 0)
        return std::nullopt;
    const std::optional<QByteArray> sample = st.st_size == size ? ReadSample(fd, size) : std::nullopt;
    ::close(fd);
    return sample;
}

} // namespace platform
