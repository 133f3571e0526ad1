#include "device/Inflate.h"

#include "device/ByteView.h"
#include "platform/Errors.h"

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

QByteArray InflateTrackDb(const QByteArray& compressed, qint64 maxSize) {
    const ByteView view(compressed);
    const qint64 header = qMin<qint64>(view.U32(4), compressed.size());
    QByteArray out = compressed.left(qsizetype(header));

    z_stream zs{};
    if (inflateInit2(&zs, 15) != Z_OK) // zlib wrapper, 15-bit window
        Fail(zs.msg);
    InflateGuard guard{&zs};

    const auto* next = reinterpret_cast<const Bytef*>(compressed.constData()) + header;
    qint64 left = compressed.size() - header;
    char step[4096];
    for (;;) {
        if (zs.avail_in == 0 && left > 0) {
            // zlib counts input in 32-bit units; feed a huge buffer in slices.
            const uInt slice = uInt(qMin<qint64>(left, 1 << 30));
            zs.next_in = const_cast<Bytef*>(next);
            zs.avail_in = slice;
            next += slice;
            left -= slice;
        }
        zs.next_out = reinterpret_cast<Bytef*>(step);
        zs.avail_out = sizeof step;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        const qint64 produced = qint64(sizeof step) - zs.avail_out;
        if (produced > maxSize - out.size())
            Fail("the inflated data is too large");
        out.append(step, qsizetype(produced));
        if (rc == Z_STREAM_END)
            break; // bytes after the stream's end are not part of the database
        if (rc == Z_BUF_ERROR && zs.avail_in == 0 && left == 0)
            Fail("the compressed data ends early");
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            Fail(zs.msg);
    }
    return out;
}

} // namespace device
