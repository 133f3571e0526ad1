// Copying tracks from a device folder into the music folder through the transfer, beside `cp`
// of the same files in the same run. MG_BENCH_COPY_BYTES sets the amount (default 2 GiB, in
// files of 8 MiB); MG_BENCH_DIR the folder to work in (default the temporary folder).
#include "transfer/CopyThread.h"
#include "transfer/HeadlessCopyDisplay.h"
#include "device/TrackDb.h"
#include "platform/Drives.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 FileSize = 8 << 20;

struct Device {
    std::unique_ptr<QTemporaryDir> Dir;
    QString Root;
    QString Folder; // the folder of the track files
    int Files = 0;
    qint64 Bytes = 0;
};

Device& TheDevice() {
    static Device d = [] {
        Device dev;
        const QByteArray base = qgetenv("MG_BENCH_DIR");
        dev.Dir = std::make_unique<QTemporaryDir>(base.isEmpty() ? QDir::tempPath() + "/mg-bench-XXXXXX"
                                                                 : QString::fromLocal8Bit(base) + "/mg-bench-XXXXXX");
        dev.Root = dev.Dir->path() + "/ipod";
        dev.Folder = dev.Root + "/iPod_Control/Music/F00";
        QDir().mkpath(dev.Folder);
        const QByteArray env = qgetenv("MG_BENCH_COPY_BYTES");
        const qint64 total = env.isEmpty() ? (qint64(2) << 30) : env.toLongLong();
        dev.Files = int(std::max<qint64>(1, total / FileSize));
        QByteArray content(FileSize, '\0');
        for (qint64 i = 0; i < FileSize; ++i)
            content[i] = char((i * 131 + (i >> 12)) & 0xFF);
        for (int f = 0; f < dev.Files; ++f) {
            content[0] = char(f);
            content[1] = char(f >> 8);
            QFile file(dev.Folder + QStringLiteral("/T%1.mp3").arg(f));
            if (file.open(QIODevice::WriteOnly))
                file.write(content);
        }
        dev.Bytes = qint64(dev.Files) * FileSize;
        platform::SetDriveTableForTesting(std::vector<platform::Drive>{
            {'C', "/", platform::DriveFixed, {}}, {'E', dev.Root, platform::DriveRemovable, {}}});
        ::sync();
        return dev;
    }();
    return d;
}

// An empty output folder; the other runs' output is removed too and everything is written
// back first, so each run starts from the same state of the page cache.
QString FreshFolder(const Device& dev, const char* name) {
    for (const char* other : {"music", "cp"})
        QDir(dev.Dir->path() + "/" + other).removeRecursively();
    const QString folder = dev.Dir->path() + "/" + name + "/";
    QDir().mkpath(folder);
    ::sync();
    return folder;
}

void FillDb(device::TiTunesDB& db, const Device& dev) {
    for (int f = 0; f < dev.Files; ++f) {
        device::TTrackItem& t = db.Tracks.Add();
        t.Selected = 1;
        t.Title = QStringLiteral("Track %1").arg(f);
        t.Location = QStringLiteral(":iPod_Control:Music:F00:T%1.mp3").arg(f);
    }
}

bool RunTransfer(device::TiTunesDB& db, const Device& dev) {
    app::THeadlessCopyDisplay display;
    display.Thread = new app::TCopyThread({dev.Files, 0, 0, false, false, false, false, false, false},
                                          {&db, nullptr, nullptr, &display});
    display.WaitForEnd();
    return app::DetailLog.Text().contains(QStringLiteral("Music: %1/%1").arg(dev.Files));
}

bool RunCp(const Device& dev, const QString& dest) {
    QStringList args;
    for (int f = 0; f < dev.Files; ++f)
        args << dev.Folder + QStringLiteral("/T%1.mp3").arg(f);
    args << dest;
    return QProcess::execute(QStringLiteral("cp"), args) == 0;
}

// Both copies in each iteration, one after the other from the same state; the time that
// counts is the transfer's, and the ratio of the two throughputs is reported beside it.
void BM_TransferBesideCp(benchmark::State& state) {
    Device& dev = TheDevice();
    device::TiTunesDB db("E:", false);
    FillDb(db, dev);
    double transferSeconds = 0, cpSeconds = 0;
    std::vector<double> ratios;
    for (auto _ : state) {
        const QString cpDest = FreshFolder(dev, "cp");
        QElapsedTimer timer;
        timer.start();
        if (!RunCp(dev, cpDest))
            state.SkipWithError("cp failed");
        const double cp = timer.nsecsElapsed() / 1e9;

        db.OutputFolder = FreshFolder(dev, "music");
        timer.restart();
        if (!RunTransfer(db, dev))
            state.SkipWithError("not every track was copied");
        const double transfer = timer.nsecsElapsed() / 1e9;
        state.SetIterationTime(transfer);
        transferSeconds += transfer;
        cpSeconds += cp;
        ratios.push_back(cp / transfer);
    }
    // The machine's other work moves single runs a lot; the median ratio of the pairs is the
    // steadier figure.
    std::sort(ratios.begin(), ratios.end());
    if (!ratios.empty())
        state.counters["ratio_median"] = ratios[ratios.size() / 2];
    state.SetBytesProcessed(state.iterations() * dev.Bytes);
    state.counters["cp_MBps"] = double(dev.Bytes) * state.iterations() / cpSeconds / 1e6;
    state.counters["transfer_MBps"] = double(dev.Bytes) * state.iterations() / transferSeconds / 1e6;
    state.counters["ratio_to_cp"] = cpSeconds / transferSeconds;
}

// One blocking display call from a worker thread into this thread's event loop, as the copy
// loops make two per track: what the display costs beside the bytes.
void BM_BlockingDisplayCall(benchmark::State& state) {
    app::THeadlessCopyDisplay display;
    for (auto _ : state) {
        constexpr int Calls = 1000;
        std::atomic<bool> done{false};
        int steps = 0;
        std::thread worker([&] {
            for (int i = 0; i < Calls; ++i)
                display.RunBlocking([&steps] { ++steps; });
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        worker.join();
        benchmark::DoNotOptimize(steps);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}

BENCHMARK(BM_BlockingDisplayCall)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransferBesideCp)->Iterations(7)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
