// Copying tracks as a whole process, `ipod-dump copy ROOT OUT --layout 1`, beside `cp -r` of the
// same track files in the same run, on the same file system. Each round runs both from the
// same state (outputs removed, everything written back); the figure is the ratio of the two
// times, reported as the median with the smallest and largest of the rounds.
// Each round then runs the copy again into the folder it has just filled, as a user does who
// copies the same device twice: every track is present, so the re-run reads only what tells a
// present file from another and writes nothing (it fails when it wrote a file). It runs twice:
// with the files still in the page cache, and once they were dropped from it, as on a later day.
// Also the cost of one blocking display call, one of which each track makes.
// Usage: bench_copy [--runs N] [--bytes B (default 2.1 GB)] [--file-size B (default 7 MB)]
//                   [--dir DIR (default the temporary folder)] [--ipod-dump PATH] [--keep 1]
// --keep leaves the device tree behind and prints its folder, for profiling by hand.
#include "transfer/HeadlessCopyDisplay.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Times {
    double Wall = -1, Cpu = -1; // seconds; CPU is user + system of the process
};

Times Run(const QString& program, const QStringList& args) {
    std::vector<QByteArray> bytes{QFile::encodeName(program)};
    for (const QString& a : args)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (spawned != 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        return {};
    }
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {timer.nsecsElapsed() / 1e9, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

// Both outputs go, and every dirty page is written back, so that each process starts alike.
void Fresh(const QString& base) {
    QDir(base + "/out").removeRecursively();
    QDir(base + "/cp").removeRecursively();
    QDir().mkpath(base + "/out");
    ::sync();
}

int FileCount(const QString& folder) {
    int n = 0;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext(); it.next())
        ++n;
    return n;
}

// Drops the (written back, so clean) pages of every file below `folder` from the page cache.
void Evict(const QString& folder) {
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const int fd = ::open(QFile::encodeName(it.next()).constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
}

struct Spread {
    double Median, Min, Max;
};
Spread SpreadOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.front(), v.back()};
}

// One blocking display call from a worker thread into this thread's event loop, as the copy
// loops make one per track: what the display costs beside the bytes, in microseconds. The
// display thread sleeps between calls, as it does while a track is copied, so each call pays
// for waking it.
double BlockingCallMicroseconds() {
    app::THeadlessCopyDisplay display;
    constexpr int Calls = 300;
    int steps = 0; // only touched on this thread, inside the calls
    qint64 inCalls = 0;
    std::thread worker([&] {
        QElapsedTimer timer;
        for (int i = 0; i < Calls; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            timer.start();
            display.RunBlocking([&steps] { ++steps; });
            inCalls += timer.nsecsElapsed();
        }
    });
    while (steps < Calls)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    worker.join();
    return inCalls / 1e3 / Calls;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int runs = 5;
    qint64 bytes = 2100000000, fileSize = 7000000;
    bool keep = false;
    QString dir = QDir::tempPath(), tool = QCoreApplication::applicationDirPath() + "/ipod-dump";
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--runs")
            runs = std::max(1, args[i + 1].toInt());
        else if (args[i] == "--bytes")
            bytes = args[i + 1].toLongLong();
        else if (args[i] == "--file-size")
            fileSize = std::max<qint64>(1, args[i + 1].toLongLong());
        else if (args[i] == "--dir")
            dir = args[i + 1];
        else if (args[i] == "--ipod-dump")
            tool = args[i + 1];
        else if (args[i] == "--keep")
            keep = args[i + 1] == "1";
    }
    QTemporaryDir temp(dir + "/mg-bench-copy-XXXXXX");
    temp.setAutoRemove(!keep);
    const QString base = temp.path();
    if (keep)
        std::printf("device tree kept in %s\n", qPrintable(base));
    const int files = int(std::max<qint64>(1, bytes / fileSize));

    fixtures::DeviceTree tree(base + "/ipod");
    fixtures::FixtureDb db;
    QByteArray content(fileSize, '\0');
    for (qint64 i = 0; i < fileSize; ++i)
        content[i] = char((i * 131 + (i >> 12)) & 0xFF);
    for (int f = 0; f < files; ++f) {
        fixtures::FixtureTrack t;
        t.TrackId = uint32_t(f + 1);
        t.Title = QStringLiteral("Track %1").arg(f);
        t.Location = QStringLiteral(":iPod_Control:Music:F%1:T%2.mp3").arg(f % 20, 2, 10, QChar('0')).arg(f);
        t.Size = uint32_t(fileSize);
        content[0] = char(f);
        content[1] = char(f >> 8);
        tree.WriteFile(fixtures::DeviceTree::LocationPath(t.Location), content);
        db.Tracks.push_back(t);
    }
    tree.MakeITunesFolder();
    tree.WriteTrackDb(fixtures::WriteTrackDb(db));

    std::vector<double> ratios, cpuRatios, ours, theirs, reruns, rerunRatios, coldReruns, coldRatios;
    const QStringList copyArgs{"copy", base + "/ipod", base + "/out", "--layout", "1"};
    for (int r = 0; r < runs; ++r) {
        // Turn about, so that neither always runs second.
        Times cp, copy, rerun, cold;
        for (int turn = 0; turn < 2; ++turn) {
            Fresh(base);
            if ((turn == 0) == (r % 2 == 0)) {
                cp = Run("cp", {"-r", base + "/ipod/iPod_Control/Music", base + "/cp"});
                continue;
            }
            copy = Run(tool, copyArgs);
            ::sync();
            rerun = Run(tool, copyArgs);
            Evict(base + "/ipod");
            Evict(base + "/out");
            cold = Run(tool, copyArgs);
            if (FileCount(base + "/out") != files) {
                std::fprintf(stderr, "the re-run wrote %d files\n", FileCount(base + "/out") - files);
                return 1;
            }
        }
        if (cp.Wall <= 0 || copy.Wall <= 0 || rerun.Wall <= 0 || cold.Wall <= 0)
            return 1;
        coldReruns.push_back(cold.Wall);
        coldRatios.push_back(cold.Wall / copy.Wall);
        ours.push_back(copy.Wall);
        theirs.push_back(cp.Wall);
        reruns.push_back(rerun.Wall);
        ratios.push_back(copy.Wall / cp.Wall);
        rerunRatios.push_back(rerun.Wall / copy.Wall);
        cpuRatios.push_back(copy.Cpu / std::max(cp.Cpu, 1e-6));
    }
    const Spread ratio = SpreadOf(ratios), a = SpreadOf(ours), b = SpreadOf(theirs), cpu = SpreadOf(cpuRatios),
                 again = SpreadOf(reruns), againRatio = SpreadOf(rerunRatios), cold = SpreadOf(coldReruns),
                 coldRatio = SpreadOf(coldRatios);
    std::printf("copy of %d tracks of %lld bytes (%.2f GB), %d runs\n", files, fileSize, files * double(fileSize) / 1e9,
                runs);
    std::printf("ipod-dump copy --layout 1: %.3f s (%.3f .. %.3f)\n", a.Median, a.Min, a.Max);
    std::printf("cp -r:                     %.3f s (%.3f .. %.3f)\n", b.Median, b.Min, b.Max);
    std::printf("ratio to cp: %.3f x (%.3f .. %.3f)\n", ratio.Median, ratio.Min, ratio.Max);
    std::printf("ratio of CPU time (user + system) to cp's: %.3f x (%.3f .. %.3f)\n", cpu.Median, cpu.Min, cpu.Max);
    std::printf("re-run into the same folder: %.3f s (%.3f .. %.3f), %.3f x the first run (%.3f .. %.3f)\n",
                again.Median, again.Min, again.Max, againRatio.Median, againRatio.Min, againRatio.Max);
    std::printf("the same, out of the page cache: %.3f s (%.3f .. %.3f), %.3f x the first run (%.3f .. %.3f)\n",
                cold.Median, cold.Min, cold.Max, coldRatio.Median, coldRatio.Min, coldRatio.Max);
    std::vector<double> calls;
    for (int r = 0; r < 5; ++r)
        calls.push_back(BlockingCallMicroseconds());
    const Spread call = SpreadOf(calls);
    std::printf("one blocking display call: %.1f us (%.1f .. %.1f)\n", call.Median, call.Min, call.Max);
    return 0;
}
