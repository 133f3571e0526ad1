// The track database reader on arbitrary bytes, both as a plain database and as the handheld's
// compressed one (through Load and the inflate step). The plain bytes are also read from a file
// through the small windows of a disk-mode load, once at their size and once from a file that
// gives fewer bytes than its size said; both must give what the bytes in memory give.
#include "device/Inflate.h"
#include "device/TrackDb.h"
#include "platform/Errors.h"
#include "fuzz/FuzzSeeds.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdlib>
#include <tuple>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using fuzzseeds::WriteSeed;

QByteArray gInput;
int gFile = -1; // a file in memory that holds the input

// What a load gives, in short.
std::tuple<bool, int32_t, bool, int, int, uint32_t, int64_t> Outcome(const device::TiTunesDB& db, bool loaded) {
    return {loaded, db.ErrorCode, db.Damaged(), db.Tracks.Count(), db.Playlists.Count(), db.TotalTime, db.TotalSize};
}

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
    gFile = memfd_create("itunesdb", 0);
    if (gFile < 0)
        std::abort();
    device::SetHandheldFileReader([](const QByteArray& path, QByteArray& out, QString&) {
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
        const auto outcome = Outcome(db, db.LoadFromData(gInput));
        if (ftruncate(gFile, 0) != 0 || pwrite(gFile, data, size, 0) != ssize_t(size))
            std::abort();
        const qint64 claims[][2] = {{qint64(size), 64}, {qint64(size) + 1 + qint64(size % 97), 4096}};
        for (const auto& [claimed, chunk] : claims) {
            device::TiTunesDB file("E:", false);
            if (Outcome(file, file.LoadFromFile(gFile, claimed, chunk)) != outcome)
                std::abort();
        }
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
