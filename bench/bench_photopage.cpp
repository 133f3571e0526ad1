// The photo grid: building one page of 500 tiles (small format 1036) from a disk-mode iPod's
// container, with the window's events run after each tile, on a shown and on a hidden window.
#include "widgets/PhotoControl.h"
#include "app/ZozoDodiMain.h"
#include "device/PhotoDb.h"
#include "platform/Desktop.h"
#include "platform/Drives.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <benchmark/benchmark.h>

namespace {

constexpr int kPhotos = 500;

struct Device {
    QTemporaryDir Temp;
    Device() {
        fixtures::DeviceTree tree(Temp.filePath(QStringLiteral("ipod")));
        tree.MakeITunesFolder();
        tree.WriteTrackDb(fixtures::WriteTrackDb(fixtures::LargeDb(10, 1)));
        fixtures::WritePhotoSet(tree, fixtures::MakePhotoSet(1066, 1036, kPhotos, false, kPhotos), false);
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

void BM_BuildPhotoPage(benchmark::State& state) {
    TheDevice();
    TZozoDodiFrm w;
    if (state.range(0))
        w.show();
    QTreeWidgetItem* root = nullptr;
    for (int i = 0; i < w.PlayLstList->topLevelItemCount(); ++i)
        if (w.ImageIndexOf(w.PlayLstList->topLevelItem(i)) == 5)
            root = w.PlayLstList->topLevelItem(i);
    if (!root || w.Tile.PerPage != kPhotos) {
        state.SkipWithError("the device's photos did not load");
        return;
    }
    w.PlayLstList->setCurrentItem(root); // the photo view, as a click on the node shows it
    for (auto _ : state) {
        const int tiles = w.ShowPhotoPage(0, 1);
        if (tiles != kPhotos)
            state.SkipWithError("the page is not full");
    }
    state.SetItemsProcessed(state.iterations() * kPhotos);
    state.counters["us_per_tile"] =
        benchmark::Counter(double(state.iterations() * kPhotos),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
    w.close();
}
BENCHMARK(BM_BuildPhotoPage)->ArgName("shown")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

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
