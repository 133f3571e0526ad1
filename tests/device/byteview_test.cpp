#include "device/ByteView.h"

#include <gtest/gtest.h>
#include <limits>

using device::ByteView;

// Little-endian numbers and tags in any case, nothing outside the bytes; UTF-16 text ends at
// the first NUL in any place (a NUL at every unit of two four-unit words, and none), and an odd
// last byte where the data ends is a character as if zero-padded (the track tests cut a text
// length to an odd one).
TEST(ByteView, ReadsLittleEndianTagsAndUtf16TextAndRefusesEverythingOutside) {
    const QByteArray bytes("MHod\x05\x06\x07\x08", 8);
    const ByteView v(bytes);
    EXPECT_EQ(std::tuple(v.U32(4), v.U64(0), v.U16BE(4)), std::tuple(0x08070605u, 0x080706'05646F484Dull, 0x0506));
    EXPECT_EQ(v.U32(5) + v.U8(8) + v.U8(-1), 0u); // straddles the end, past it, before it
    constexpr qint64 huge = std::numeric_limits<qint64>::max();
    EXPECT_TRUE(v.Fits(8, 0) && !v.Fits(4, huge) && !v.Fits(huge, 1));
    EXPECT_EQ(v.Bytes(6, 100), QByteArray("\x07\x08", 2));
    EXPECT_TRUE(v.TagIs(0, "mhod") && !v.TagIs(0, "mhit") && !v.TagIs(6, "mhod"));
    const QString full = QStringLiteral("abcdefgh");
    for (int nul = 0; nul <= 8; ++nul) {
        QByteArray text;
        for (int i = 0; i < 8; ++i)
            text += i == nul ? QByteArray(2, '\0') : QByteArray(1, char(full[i].unicode())) + '\0';
        EXPECT_EQ(ByteView(text).Utf16Le(0, 100), full.left(nul)) << nul;
        EXPECT_EQ(ByteView(text).Utf16Le(0, 8), full.left(std::min(nul, 4))) << nul;
    }
    EXPECT_EQ(ByteView(QByteArray("a\0b\0c", 5)).Utf16Le(0, 100), QStringLiteral("abc"));
}
