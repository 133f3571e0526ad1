#pragma once
// What tells a file already in an output folder from the copy the transfer would write without
// reading both whole: the same size, then the same first and last 64 KiB (the whole file up to
// 128 KiB). An audio file keeps its tags, header and index at its ends, and the sound next to
// them differs from song to song, so two songs of one size differ there; a re-run of a large
// library reads 128 KiB of each file on each side instead of the whole file.
#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

namespace platform {

constexpr qint64 SampleBlockSize = 64 * 1024;

struct TByteRange {
    qint64 Offset = 0;
    qint64 Length = 0;
};

// The head and the tail of a file of `size` bytes: within the file and never overlapping (the
// tail is empty for a file of up to two blocks, whose head is then all of it).
std::array<TByteRange, 2> SampleRanges(qint64 size);

// The head and tail of the open file `fd` taken as `size` bytes long; nullopt when a read
// fails or delivers fewer bytes (the file shrank).
std::optional<QByteArray> ReadSample(int fd, qint64 size);

// The sample of a local file when it is a regular file of `size` bytes (a link, a pipe or a
// file of another size gives nullopt without being read).
std::optional<QByteArray> LocalFileSample(const QString& native, qint64 size);

} // namespace platform
