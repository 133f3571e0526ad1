#pragma once
// One bounds-checked view over a database's bytes. Every read of the three database readers
// goes through it: a read that would leave the data answers 0 (or nothing) instead, and Fits()
// tells a walk when a record runs past the end so that the walk can stop there.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstring>

namespace device {

class ByteView {
public:
    ByteView() = default;
    ByteView(const char* data, qint64 size) : Data(reinterpret_cast<const uint8_t*>(data)), Len(size < 0 ? 0 : size) {}
    explicit ByteView(const QByteArray& bytes) : ByteView(bytes.constData(), bytes.size()) {}

    qint64 Size() const { return Len; }

    // The same data up to `end`, positions unchanged: reads at or past `end` answer as past the
    // end of the data. A record's walk reads through it to stay inside the record.
    ByteView Left(qint64 end) const {
        ByteView view = *this;
        view.Len = end < 0 ? 0 : qMin(end, Len);
        return view;
    }

    // True when [pos, pos + count) lies inside the data; checked by subtraction, so large
    // or negative values cannot overflow.
    bool Fits(qint64 pos, qint64 count) const { return pos >= 0 && count >= 0 && pos <= Len && count <= Len - pos; }

    uint8_t U8(qint64 pos) const { return Fits(pos, 1) ? Data[pos] : 0; }
    uint16_t U16(qint64 pos) const { return uint16_t(Get<2>(pos)); }
    uint32_t U32(qint64 pos) const { return uint32_t(Get<4>(pos)); }
    int32_t I32(qint64 pos) const { return int32_t(U32(pos)); }
    uint64_t U64(qint64 pos) const { return Get<8>(pos); }
    uint16_t U16BE(qint64 pos) const { return Fits(pos, 2) ? uint16_t(Data[pos] << 8 | Data[pos + 1]) : 0; }

    // The 4-letter tag at pos equals `tag`, ASCII case ignored.
    bool TagIs(qint64 pos, const char* tag) const {
        if (!Fits(pos, 4))
            return false;
        for (int i = 0; i < 4; ++i) {
            uint8_t a = Data[pos + i], b = uint8_t(tag[i]);
            if (a >= 'A' && a <= 'Z')
                a = uint8_t(a + 32);
            if (b >= 'A' && b <= 'Z')
                b = uint8_t(b + 32);
            if (a != b)
                return false;
        }
        return true;
    }

    // Up to `count` bytes from pos, clipped to the data.
    QByteArray Bytes(qint64 pos, qint64 count) const {
        if (pos < 0 || pos >= Len || count <= 0)
            return {};
        if (count > Len - pos)
            count = Len - pos;
        return QByteArray(reinterpret_cast<const char*>(Data + pos), qsizetype(count));
    }

    // Decodes the UTF-16LE text of `byteCount` bytes at pos (clipped to the data) up to the first
    // U+0000 into `out`, which has room for (byteCount + 1) / 2 units; returns the units written.
    // An odd last byte is a character of its own, as if a zero byte followed it.
    qsizetype DecodeUtf16Le(qint64 pos, qint64 byteCount, char16_t* out) const {
        if (pos < 0 || pos >= Len || byteCount <= 0)
            return 0;
        if (byteCount > Len - pos)
            byteCount = Len - pos;
        const uint8_t* src = Data + pos;
        const qsizetype units = qsizetype(byteCount / 2);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        std::memcpy(out, src, size_t(units) * 2);
#else
        for (qsizetype i = 0; i < units; ++i)
            out[i] = char16_t(src[2 * i] | src[2 * i + 1] << 8);
#endif
        // Four units at a time: a word with a zero unit has a high bit left after the borrow.
        qsizetype i = 0;
        for (; i + 4 <= units; i += 4) {
            uint64_t v;
            std::memcpy(&v, out + i, 8);
            if ((v - 0x0001000100010001ull) & ~v & 0x8000800080008000ull)
                break;
        }
        for (; i < units; ++i)
            if (out[i] == 0)
                return i;
        if (byteCount % 2 == 1 && src[byteCount - 1] != 0) {
            out[units] = char16_t(src[byteCount - 1]);
            return units + 1;
        }
        return units;
    }

    // The text of DecodeUtf16Le as a string.
    QString Utf16Le(qint64 pos, qint64 byteCount) const {
        if (pos < 0 || pos >= Len || byteCount <= 0)
            return {};
        QString text(qsizetype((qMin(byteCount, Len - pos) + 1) / 2), Qt::Uninitialized);
        text.resize(DecodeUtf16Le(pos, byteCount, reinterpret_cast<char16_t*>(text.data())));
        return text;
    }

    // UTF-8 text of `byteCount` bytes at pos (clipped), up to the first NUL.
    QString Utf8(qint64 pos, qint64 byteCount) const {
        QByteArray raw = Bytes(pos, byteCount);
        const qsizetype nul = raw.indexOf('\0');
        if (nul >= 0)
            raw.truncate(nul);
        return QString::fromUtf8(raw);
    }

    const uint8_t* Raw() const {
        return Data;
    }

private:
    template <int N>
    uint64_t Get(qint64 pos) const {
        if (!Fits(pos, N))
            return 0;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        uint64_t v = 0;
        std::memcpy(&v, Data + pos, N);
#else
        uint64_t v = 0;
        for (int i = N - 1; i >= 0; --i)
            v = v << 8 | Data[pos + i];
#endif
        return v;
    }

    const uint8_t* Data = nullptr;
    qint64 Len = 0;
};

} // namespace device
