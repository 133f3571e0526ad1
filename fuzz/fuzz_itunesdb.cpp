// The track database reader on arbitrary bytes, both as a plain database and as the handheld's
// compressed one (through Load and the inflate step).
#include "device/Inflate.h"
#include "device/TrackDb.h"
#include "platform/Errors.h"
#include "fuzz/FuzzSeeds.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdlib>

namespace {

using fuzzseeds::WriteSeed;

QByteArray gInput;

void WriteSeeds(const QString& dir) {
    using namespace fixtures;
    FixtureDb upper = SampleDb();
    upper.UpperCaseTags = true;
    FixtureDb noPlaylists = SampleDb();
    noPlaylists.WritePlaylists = false;
    const std::pair<const char*, QByteArray> plain[] = {
        {"sample", WriteTrackDb(SampleDb())},
        {"upper", WriteTrackDb(upper)},
        {"noplaylists", WriteTrackDb(noPlaylists)},
        {"large", WriteTrackDb(LargeDb(30, 4))},
    };
    for (const auto& [name, bytes] : plain) {
        WriteSeed(dir, QLatin1String("seed-") + QLatin1String(name), bytes);
        WriteSeed(dir, QLatin1String("seed-") + QLatin1String(name) + QLatin1String("-cdb"), CompressTrackDb(bytes));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzseeds::WriteSeedsIfAsked(WriteSeeds);
    device::SetHandheldFileReader([](const QByteArray& path, QByteArray& out) {
        if (!path.endsWith("iTunesCDB"))
            return false;
        out = gInput;
        return true;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    gInput = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        device::TiTunesDB db("E:", false);
        db.LoadFromData(gInput);
        // Touch what the window reads, so that a bad value shows up here.
        for (int i = 0; i < db.Tracks.Count(); ++i)
            (void)db.Tracks.GetItem(i).IsVideo();
        for (int i = 0; i < db.Playlists.Count(); ++i) {
            const device::TPlayListItem& p = db.Playlists.GetItem(i);
            for (int k = 0; k < p.Count; ++k)
                (void)p.GetTrackId(k);
        }
    }
    {
        device::TiTunesDB db("D", true);
        try {
            db.Load();
        } catch (const platform::EDecompressionError&) {
        }
    }
    return 0;
}
