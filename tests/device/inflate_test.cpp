#include "device/Inflate.h"
#include "platform/Errors.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <gtest/gtest.h>

using device::InflateTrackDb;
using namespace fixtures;

TEST(Inflate, GivesBackTheHeaderAndTheInflatedRestAndIgnoresWhatFollows) {
    // The large one spans many 4096-byte steps.
    for (const QByteArray& plain : {WriteTrackDb(SampleDb()), WriteTrackDb(LargeDb(300, 3))}) {
        for (int level : {0, 1, 9}) {
            const QByteArray cdb = CompressTrackDb(plain, level);
            EXPECT_EQ(cdb.left(188), plain.left(188)); // the header is stored as is
            EXPECT_EQ(InflateTrackDb(cdb), plain) << level;
        }
        EXPECT_EQ(InflateTrackDb(CompressTrackDb(plain) + QByteArray("trailing junk")), plain); // ignored
    }
}

TEST(Inflate, DataThatDoesNotInflateRaisesTheDecompressionError) {
    const QByteArray plain = WriteTrackDb(SampleDb());
    const QByteArray cdb = CompressTrackDb(plain);
    QByteArray notZlib = cdb;
    notZlib[188] = 0x12; // not a zlib header
    QByteArray badSum = cdb;
    badSum[badSum.size() - 1] = char(badSum[badSum.size() - 1] ^ 1); // the Adler-32 at the end
    QByteArray headerTooLong = cdb;
    PutU32(headerTooLong, 4, 0x7FFFFFFF); // everything is "header", nothing left to inflate
    for (const QByteArray& bad : {notZlib, badSum, cdb.left(cdb.size() - 10), cdb.left(188), headerTooLong,
                                  QByteArray(), QByteArray("mhbd")}) {
        EXPECT_THROW(InflateTrackDb(bad), platform::EDecompressionError) << bad.size();
    }
}

TEST(Inflate, AnyStatedTotalLengthGivesTheSameBytesAndTheLimitIsExact) {
    // The root record's total length sizes the output: wrong claims cost growth, never bytes.
    QByteArray plain = WriteTrackDb(LargeDb(200, 2));
    for (const uint32_t claim : {0u, 30u, uint32_t(plain.size() - 1), uint32_t(plain.size() + 1), 0xFFFFFFFFu}) {
        PutU32(plain, 8, claim);
        EXPECT_EQ(InflateTrackDb(CompressTrackDb(plain)), plain) << claim;
    }
    const QByteArray cdb = CompressTrackDb(plain);
    EXPECT_EQ(InflateTrackDb(cdb, plain.size()), plain);
    EXPECT_THROW(InflateTrackDb(cdb, plain.size() - 1), platform::EDecompressionError);
    // A small file that inflates to much more than the limit.
    const QByteArray bomb = CompressTrackDb(Record("mhbd", 24, 0, QByteArray(200000, '\0')), 9);
    ASSERT_LT(bomb.size(), 1000);
    EXPECT_EQ(InflateTrackDb(bomb, 300000).size(), 200024);
    EXPECT_THROW(InflateTrackDb(bomb, 100000), platform::EDecompressionError);
}
