#include "device/Inflate.h"
#include "platform/Errors.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <gtest/gtest.h>
#include <zlib.h>

using device::InflateTrackDb;
using namespace fixtures;

TEST(Inflate, GivesBackTheHeaderAndTheInflatedRest) {
    // The large one spans many 4096-byte steps.
    for (const QByteArray& plain : {WriteTrackDb(SampleDb()), WriteTrackDb(LargeDb(300, 3))}) {
        for (int level : {0, 1, 9}) {
            const QByteArray cdb = CompressTrackDb(plain, level);
            EXPECT_EQ(cdb.left(188), plain.left(188)); // the header is stored as is
            EXPECT_EQ(InflateTrackDb(cdb), plain) << level;
        }
    }
}

TEST(Inflate, BytesAfterTheStreamAreIgnored) {
    const QByteArray plain = WriteTrackDb(SampleDb());
    EXPECT_EQ(InflateTrackDb(CompressTrackDb(plain) + QByteArray("trailing junk")), plain);
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

TEST(Inflate, OutputBeyondTheLimitIsRefused) {
    QByteArray zeros(200000, '\0');
    QByteArray fake = Record("mhbd", 24, 0);
    fake += zeros;
    const QByteArray cdb = CompressTrackDb(fake, 9);
    EXPECT_LT(cdb.size(), 1000); // a small file that claims a lot
    EXPECT_EQ(InflateTrackDb(cdb, 300000).size(), fake.size());
    EXPECT_THROW(InflateTrackDb(cdb, 100000), platform::EDecompressionError);
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
}
