// Loading a 50,000-track database with 20 playlists: time per load and memory per track.
#include "device/Inflate.h"
#include "device/TrackDb.h"
#include "platform/Drives.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstring>
#include <malloc.h>

namespace {

constexpr int kTracks = 50000;
constexpr int kPlaylists = 20;

struct Device {
    QTemporaryDir Dir;
    QByteArray Plain;
    QByteArray Compressed;
    Device() {
        Plain = fixtures::WriteTrackDb(fixtures::LargeDb(kTracks, kPlaylists));
        Compressed = fixtures::CompressTrackDb(Plain);
        fixtures::DeviceTree tree(Dir.path());
        tree.WriteTrackDb(Plain);
        platform::SetDriveTableForTesting(std::vector<platform::Drive>{tree.AsDrive('E')});
    }
};

Device& TheDevice() {
    static Device device;
    return device;
}

size_t HeapInUse() { return mallinfo2().uordblks; }

// Resident-set figures from /proc in bytes: "VmHWM" (the peak) or "VmRSS".
qint64 ProcStatus(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(std::strlen(key)) + 1).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

// Resets the peak to the current size (Linux 4.0 and later), so that the fixture's own
// building does not hide the load's peak. The heap left free by that building is handed back
// first; otherwise the load would reuse pages that are already resident and the peak would
// not grow with it.
bool ResetPeak() {
    malloc_trim(0);
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

void BM_LoadFromDisk(benchmark::State& state) {
    Device& d = TheDevice();
    double retained = 0, peak = -1;
    {
        const bool reset = ResetPeak();
        const qint64 rssBefore = ProcStatus("VmRSS:");
        const size_t heapBefore = HeapInUse();
        device::TiTunesDB db("E:", false);
        if (!db.Load() || db.Tracks.Count() != kTracks)
            state.SkipWithError("the database did not load");
        retained = double(HeapInUse() - heapBefore);
        if (reset)
            peak = double(ProcStatus("VmHWM:") - rssBefore);
    }
    for (auto _ : state) {
        device::TiTunesDB db("E:", false);
        benchmark::DoNotOptimize(db.Load());
    }
    state.counters["file_MB"] = double(d.Plain.size()) / 1e6;
    state.counters["kept_bytes_per_track"] = retained / kTracks;
    state.counters["peak_bytes_per_track"] = peak / kTracks;
}
BENCHMARK(BM_LoadFromDisk)->Unit(benchmark::kMillisecond);

void BM_LoadCompressed(benchmark::State& state) {
    Device& d = TheDevice();
    for (auto _ : state) {
        device::TiTunesDB db("D", true);
        benchmark::DoNotOptimize(db.LoadFromData(device::InflateTrackDb(d.Compressed)));
    }
    state.counters["cdb_MB"] = double(d.Compressed.size()) / 1e6;
}
BENCHMARK(BM_LoadCompressed)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
