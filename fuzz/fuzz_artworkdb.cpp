// The artwork database reader on arbitrary bytes, as a disk-mode iPod's and as a phone's.
#include "device/ArtworkDb.h"
#include "fuzz/FuzzSeeds.h"
#include "tests/fixtures/ArtworkDbWriter.h"

#include <QDir>
#include <QFile>
#include <cstdint>

namespace {

using fuzzseeds::WriteSeed;

void WriteSeeds(const QString& dir) {
    using namespace fixtures;
    WriteSeed(dir, QStringLiteral("seed-disk"), WriteArtworkDb(MakeArtSet(1028, 1017, 4, false, 2).Db));
    WriteSeed(dir, QStringLiteral("seed-phone"), WriteArtworkDb(MakeArtSet(3005, 3006, 3, true, 1).Db));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzseeds::WriteSeedsIfAsked(WriteSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const bool handheld : {false, true}) {
        device::TArtworkDb db(handheld ? "D" : "E:", handheld);
        db.LoadFromData(bytes);
        for (int i = 0; i < db.Arts.Count(); ++i)
            (void)db.Arts.GetItem(i)->SongDbId;
    }
    return 0;
}
