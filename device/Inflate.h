#pragma once
#include <QByteArray>

namespace device {

// The compressed track database of a handheld: the root record's header (its length at offset
// 4) stored as is, then one zlib stream with the rest. Returns the header followed by the
// inflated rest; EDecompressionError when the stream is not valid zlib data, ends early, or
// would inflate beyond maxSize bytes. With `cut` (the bytes end where a read of the device
// failed) a stream that ends early gives what it inflated so far.
// Far above any real database (50,000 tracks take about 60 MB), low enough to refuse a bomb.
inline constexpr qint64 kMaxInflatedSize = qint64(1) << 30;
QByteArray InflateTrackDb(const QByteArray& compressed, qint64 maxSize = kMaxInflatedSize, bool cut = false);

} // namespace device
