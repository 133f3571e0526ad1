// The main window with a 40,000-track disk-mode iPod: loading until the list shows, sorting
// a column and searching.
#include "app/TrackListModel.h"
#include "app/ZozoDodiMain.h"
#include "device/TrackDb.h"
#include "platform/Desktop.h"
#include "platform/Drives.h"
#include "tests/fixtures/ArtworkDbWriter.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr int kTracks = 40000;
constexpr int kArts = 4000;

struct Device {
    QTemporaryDir Temp;
    Device() {
        fixtures::FixtureDb db = fixtures::LargeDb(kTracks, 40);
        for (int i = 0; i < kArts; ++i) {
            db.Tracks[size_t(i * 10)].HasArtwork = true;
            db.Tracks[size_t(i * 10)].DbId = 0x1000000000ull + uint64_t(i);
        }
        fixtures::DeviceTree tree(Temp.filePath(QStringLiteral("ipod")));
        tree.MakeITunesFolder();
        tree.WriteTrackDb(fixtures::WriteTrackDb(db));
        fixtures::WriteArtSet(tree, fixtures::MakeArtSet(1060, 1055, kArts, false, 500), false);
        platform::SetDriveTableForTesting(std::vector<platform::Drive>{tree.AsDrive('E')});
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, Temp.filePath(QStringLiteral("config")));
        MessageBoxHook = [](MsgKind, const QString&, MsgButtons) { return MsgResult::No; };
        platform::SetOpenUrlHookForTesting([](const QUrl&) { return true; });
    }
};

Device& TheDevice() {
    static Device d;
    return d;
}

void BM_LoadDeviceIntoWindow(benchmark::State& state) {
    TheDevice();
    for (auto _ : state) {
        TZozoDodiFrm w; // start-up scans, loads the three databases and fills the list
        benchmark::DoNotOptimize(w.MusicModel->Count());
        if (w.MusicModel->Count() != kTracks)
            state.SkipWithError("the list does not show every track");
        state.PauseTiming();
        w.close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LoadDeviceIntoWindow)->Unit(benchmark::kMillisecond);

void BM_LargestPlaylistView(benchmark::State& state) {
    TheDevice();
    TZozoDodiFrm w;
    for (auto _ : state) {
        w.RefreshTrackList(3);
        benchmark::DoNotOptimize(w.MusicModel->Count());
    }
    w.close();
}
BENCHMARK(BM_LargestPlaylistView)->Unit(benchmark::kMillisecond);

void BM_SortByColumn(benchmark::State& state) {
    TheDevice();
    TZozoDodiFrm w;
    const int column = int(state.range(0));
    for (auto _ : state)
        w.MusicListHeaderClick(column, Qt::LeftButton);
    w.close();
}
BENCHMARK(BM_SortByColumn)->Arg(1)->Arg(2)->Arg(3)->Arg(6)->Unit(benchmark::kMillisecond);

void BM_Search(benchmark::State& state) {
    TheDevice();
    TZozoDodiFrm w;
    for (auto _ : state) {
        w.SearchTracks(QStringLiteral("number 12"));
        benchmark::DoNotOptimize(w.MusicModel->Count());
    }
    w.close();
}
BENCHMARK(BM_Search)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(marrowgate);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
