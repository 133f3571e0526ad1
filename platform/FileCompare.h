#pragma once
// Whether a file already in an output folder holds exactly the bytes that the transfer would
// write for an item, read a piece at a time from wherever those bytes come from (a device
// file, the link, memory), so that neither side is ever read whole.
#include <QByteArray>
#include <QString>
#include <functional>
#include <sys/stat.h>

namespace platform {

// Reads up to `count` bytes at `offset` into `dest`: the number read, 0 at the end, -1 on failure.
using ReadAtFn = std::function<qint64(qint64 offset, char* dest, qint64 count)>;

// True when the entry `name` of the folder `dir` (AT_FDCWD for a path) is a regular file, its
// last part no link, that holds exactly what `source` gives from offset 0 to its end. A
// `sourceSize` that is not negative tells a file of another size apart without reading.
// Opening never blocks on a pipe or a device node, and the source is asked for no more than
// the file's size and one byte, so a source that never ends cannot keep us reading.
bool FileHoldsAt(int dir, const QByteArray& name, const ReadAtFn& source, qint64 sourceSize = -1);
bool FileHolds(const QString& native, const ReadAtFn& source, qint64 sourceSize = -1);
bool FileHolds(const QString& native, const QByteArray& bytes);

// A source reading the open file `fd` at offsets; its position is left alone.
ReadAtFn ReadFromFd(int fd);

// All `count` bytes at `offset`, however the source hands them over; false when it ends first.
bool ReadExactly(const ReadAtFn& read, qint64 offset, char* dest, qint64 count);

// The entry `name` of the folder `dir` opened when it is a regular file, without following a
// link or waiting on a pipe, with its status in `st`; -1 otherwise. A second look makes sure
// that what was opened is what was looked at.
int OpenRegularAt(int dir, const char* name, struct stat& st);

} // namespace platform
