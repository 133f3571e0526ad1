#include "device/ByteView.h"

#include <gtest/gtest.h>
#include <limits>

using device::ByteView;

TEST(ByteView, ReadsLittleEndianAndRefusesEverythingOutside) {
    const QByteArray bytes("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
    ByteView v(bytes);
    EXPECT_EQ(v.U32(0), 0x04030201u);
    EXPECT_EQ(v.U64(0), 0x0807060504030201ull);
    EXPECT_EQ(v.U16BE(0), 0x0102);
    EXPECT_EQ(v.U32(5), 0u); // straddles the end
    EXPECT_EQ(v.U8(8), 0u);
    EXPECT_EQ(v.U8(-1), 0u);
    EXPECT_TRUE(v.Fits(8, 0));
    EXPECT_FALSE(v.Fits(4, std::numeric_limits<qint64>::max()));
    EXPECT_FALSE(v.Fits(std::numeric_limits<qint64>::max(), 1));
    EXPECT_EQ(v.Bytes(6, 100), QByteArray("\x07\x08", 2));
}

TEST(ByteView, TagsIgnoreCaseAndTextStopsAtNul) {
    const QByteArray bytes("MHod" "a\0b\0\0\0c\0", 12);
    ByteView v(bytes);
    EXPECT_TRUE(v.TagIs(0, "mhod"));
    EXPECT_FALSE(v.TagIs(0, "mhit"));
    EXPECT_FALSE(v.TagIs(10, "mhod"));
    EXPECT_EQ(v.Utf16Le(4, 8), QStringLiteral("ab"));
    EXPECT_EQ(v.Utf16Le(4, 100), QStringLiteral("ab"));
}

TEST(ByteView, Utf16TextEndsAtTheFirstNulInAnyPlaceAndKeepsAnOddLastByte) {
    // A NUL at every unit of two four-unit words, and none.
    const QString full = QStringLiteral("abcdefgh");
    for (int nul = 0; nul <= 8; ++nul) {
        QByteArray bytes;
        for (int i = 0; i < 8; ++i)
            bytes += i == nul ? QByteArray(2, '\0') : QByteArray(1, char(full[i].unicode())) + '\0';
        EXPECT_EQ(ByteView(bytes).Utf16Le(0, 100), full.left(nul)) << nul;
    }
    // An odd last byte is a character as if zero-padded, whether the length or the data ends there.
    EXPECT_EQ(ByteView(QByteArray("a\0b\0c", 5)).Utf16Le(0, 100), QStringLiteral("abc"));
    EXPECT_EQ(ByteView(QByteArray("a\0b\0c\0", 6)).Utf16Le(0, 5), QStringLiteral("abc"));
    EXPECT_EQ(ByteView(QByteArray("a\0\0", 3)).Utf16Le(0, 3), QStringLiteral("a"));
}
