#include "device/Inflate.h"

#include "device/ByteView.h"
#include "platform/Errors.h"

#include <cstring>
#include <zlib.h>

namespace device {
namespace {

struct InflateGuard {
    z_stream* Stream;
    ~InflateGuard() { inflateEnd(Stream); }
};

[[noreturn]] void Fail(const char* reason) {
    throw platform::EDecompressionError(QStringLiteral("Error decompressing the track database: %1")
                                            .arg(QString::fromLatin1(reason ? reason : "invalid data")));
}

} // namespace

QByteArray InflateTrackDb(const QByteArray& compressed, qint64 maxSize, bool cut) {
    const ByteView view(compressed);
    const qint64 header = qMin<qint64>(view.U32(4), compressed.size());
    const qint64 rest = compressed.size() - header;
    if (header > maxSize)
        Fail("the inflated data is too large");

    // The output is sized once from the root record's total length (the whole database), which
    // the device states. A claim that the compressed bytes cannot plausibly hold (track
    // databases shrink about 5 to 40 times) is not believed; a wrong claim costs a few doublings,
    // never bytes. One byte beyond maxSize tells a database that is too large.
    const qint64 limit = maxSize + 1;
    const qint64 claimed = view.U32(8);
    const qint64 believable = header + rest * 64 + 4096;
    qint64 capacity = claimed > header && claimed <= believable ? claimed : header + rest * 8 + 4096;
    capacity = qBound<qint64>(header + 1, capacity, limit);
    QByteArray out;
    out.resize(qsizetype(capacity));
    std::memcpy(out.data(), compressed.constData(), size_t(header));
    qint64 used = header;

    z_stream zs{};
    if (inflateInit2(&zs, 15) != Z_OK) // zlib wrapper, 15-bit window
        Fail(zs.msg);
    InflateGuard guard{&zs};

    const auto* next = reinterpret_cast<const Bytef*>(compressed.constData()) + header;
    qint64 left = rest;
    for (;;) {
        if (zs.avail_in == 0 && left > 0) {
            // zlib counts input and output in 32-bit units; a huge buffer goes in slices.
            const uInt slice = uInt(qMin<qint64>(left, 1 << 30));
            zs.next_in = const_cast<Bytef*>(next);
            zs.avail_in = slice;
            next += slice;
            left -= slice;
        }
        if (used == capacity) {
            if (capacity >= limit)
                Fail("the inflated data is too large");
            capacity = qMin(capacity * 2, limit);
            out.resize(qsizetype(capacity));
        }
        const uInt room = uInt(qMin<qint64>(capacity - used, 1 << 30));
        zs.next_out = reinterpret_cast<Bytef*>(out.data()) + used;
        zs.avail_out = room;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        used += room - zs.avail_out;
        if (used > maxSize)
            Fail("the inflated data is too large");
        if (rc == Z_STREAM_END)
            break; // bytes after the stream's end are not part of the database
        if (rc == Z_BUF_ERROR && zs.avail_in == 0 && left == 0) {
            if (cut)
                break;
            Fail("the compressed data ends early");
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            Fail(zs.msg);
    }
    out.resize(qsizetype(used));
    if (capacity - used > used / 4)
        out.squeeze(); // a claim far above the real size would keep its memory otherwise
    return out;
}

} // namespace device
