// The photo database reader on arbitrary bytes, as a disk-mode iPod's and as a phone's.
#include "device/PhotoDb.h"
#include "fuzz/FuzzSeeds.h"
#include "tests/fixtures/PhotoDbWriter.h"

#include <QDir>
#include <QFile>
#include <cstdint>

namespace {

using fuzzseeds::WriteSeed;

void WriteSeeds(const QString& dir) {
    using namespace fixtures;
    PhotoSet full = MakePhotoSet(1024, 1036, 3, false, 2);
    full.Db.Photos[1].FullResPath = QStringLiteral(":2008:IMG_1.JPG");
    full.Db.Photos[2].TypeOneChild = true;
    WriteSeed(dir, QStringLiteral("seed-1019"), WritePhotoDb(MakePhotoSet(1019, 1009, 4, false, 3).Db));
    WriteSeed(dir, QStringLiteral("seed-1024"), WritePhotoDb(full.Db));
    WriteSeed(dir, QStringLiteral("seed-1081"), WritePhotoDb(MakePhotoSet(1081, 1066, 2, true, 1).Db));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzseeds::WriteSeedsIfAsked(WriteSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const bool handheld : {false, true}) {
        device::TPhotoDb db("E:", handheld);
        db.LoadFromData(bytes, handheld);
        for (int i = 0; i < db.Albums.Count(); ++i) {
            const device::TPhotoAlbumItem& a = *db.Albums.GetItem(i);
            for (int k = 0; k < a.Count; ++k)
                (void)a.GetImageId(k);
        }
        db.BuildBitmapHeader(true);
        db.BuildBitmapHeader(false);
    }
    return 0;
}
