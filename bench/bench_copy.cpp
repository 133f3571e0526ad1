// Copying tracks from a device folder into the music folder through the transfer, beside `cp`
// of the same files in the same run. MG_BENCH_COPY_BYTES sets the amount (default 2 GiB, in
// files of 8 MiB); MG_BENCH_DIR the folder to work in (default the temporary folder).
#include "app/CopyThread.h"
#include "app/HeadlessCopyDisplay.h"
#include "device/TrackDb.h"
#include "platform/Drives.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>
#include <unistd.h>

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

QString FreshFolder(const Device& dev, const char* name) {
    const QString folder = dev.Dir->path() + "/" + name + "/";
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    ::sync();
    return folder;
}

void BM_TransferCopy(benchmark::State& state) {
    Device& dev = TheDevice();
    device::TiTunesDB db("E:", false);
    for (int f = 0; f < dev.Files; ++f) {
        device::TTrackItem& t = db.Tracks.Add();
        t.Selected = 1;
        t.Title = QStringLiteral("Track %1").arg(f);
        t.Location = QStringLiteral(":iPod_Control:Music:F00:T%1.mp3").arg(f);
    }
    for (auto _ : state) {
        state.PauseTiming();
        db.OutputFolder = FreshFolder(dev, "music");
        app::THeadlessCopyDisplay display;
        state.ResumeTiming();
        display.Thread = new app::TCopyThread(dev.Files, 0, 0, false, false, false, false, false, false,
                                              {&db, nullptr, nullptr, &display});
        display.WaitForEnd();
        state.PauseTiming();
        if (!app::DetailLog.Text().contains(QStringLiteral("Music: %1/%1").arg(dev.Files)))
            state.SkipWithError("not every track was copied");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * dev.Bytes);
}

void BM_Cp(benchmark::State& state) {
    Device& dev = TheDevice();
    for (auto _ : state) {
        state.PauseTiming();
        const QString dest = FreshFolder(dev, "cp");
        QStringList args;
        for (int f = 0; f < dev.Files; ++f)
            args << dev.Folder + QStringLiteral("/T%1.mp3").arg(f);
        args << dest;
        state.ResumeTiming();
        if (QProcess::execute(QStringLiteral("cp"), args) != 0)
            state.SkipWithError("cp failed");
    }
    state.SetBytesProcessed(state.iterations() * dev.Bytes);
}

BENCHMARK(BM_Cp)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TransferCopy)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
