#include "device/Inflate.h"
#include "platform/Errors.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <gtest/gtest.h>

using device::InflateTrackDb;
using namespace fixtures;

// The header and the inflated rest come back whatever total length the header states; data
// that does not inflate or passes the limit raises the decompression error.
TEST(Inflate, GivesBackTheHeaderAndTheInflatedRestAndRefusesWhatDoesNotInflate) {
    // The large one spans many 4096-byte steps.
    for (const QByteArray& plain : {WriteTrackDb(SampleDb()), WriteTrackDb(LargeDb(300, 3))})
        for (int level : {0, 9})
            EXPECT_EQ(InflateTrackDb(CompressTrackDb(plain, level) + "trailing junk"), plain) << level;
    // The root record's total length sizes the output: wrong claims cost growth, never bytes.
    QByteArray plain = WriteTrackDb(LargeDb(200, 2));
    for (const uint32_t claim : {0u, uint32_t(plain.size() - 1), uint32_t(plain.size() + 1), 0xFFFFFFFFu}) {
        PutU32(plain, 8, claim);
        EXPECT_EQ(InflateTrackDb(CompressTrackDb(plain)), plain) << claim;
    }
    const QByteArray cdb = CompressTrackDb(WriteTrackDb(SampleDb()));
    QByteArray notZlib = cdb, badSum = cdb, headerTooLong = cdb;
    notZlib[188] = 0x12;                              // not a zlib header
    badSum[badSum.size() - 1] = char(cdb.back() ^ 1); // the Adler-32 at the end
    PutU32(headerTooLong, 4, 0x7FFFFFFF);             // everything is "header", nothing left to inflate
    for (const QByteArray& bad :
         {notZlib, badSum, cdb.left(cdb.size() - 10), cdb.left(188), headerTooLong, QByteArray()})
        EXPECT_THROW(InflateTrackDb(bad), platform::EDecompressionError) << bad.size();
    // A small file that inflates to much more than the limit; the limit is exact.
    const QByteArray bomb = CompressTrackDb(Record("mhbd", 24, 0, QByteArray(200000, '\0')), 9);
    EXPECT_EQ(InflateTrackDb(bomb, 200024).size(), 200024);
    EXPECT_THROW(InflateTrackDb(bomb, 200023), platform::EDecompressionError);
}
