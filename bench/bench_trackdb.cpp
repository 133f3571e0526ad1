// The track database load and the compressed database's inflate, measured as a user meets them.
// - Load: whole-process wall time and peak memory of `ipod-dump tracks ROOT --summary` on a
//   100,000-track database written by the fixture writer.
// - Inflate: InflateTrackDb against one zlib uncompress() of the same bytes into a buffer of
//   known size, alternated in the same run, as a ratio (so a noisy machine still compares fairly).
// Each figure is the median of several runs with its lowest and highest.
// Usage: bench_trackdb [--runs N] [--ipod-dump PATH] [--write DIR (write the device and stop)]
#include "device/ByteView.h"
#include "device/Inflate.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/TrackDbWriter.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>
#include <zlib.h>

extern char** environ;

namespace {

constexpr int kTracks = 100000;
constexpr int kPlaylists = 20;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Spread {
    double Median, Low, High;
};

Spread Of(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.front(), v.back()};
}

// Runs `argv` as its own process: wall seconds and peak resident bytes; false when it did not
// end well. A child started by posix_spawn shares this process's memory until it runs its
// program, and the kernel counts the larger peak, so this process stays small while it runs.
bool Run(const std::vector<QByteArray>& args, double& seconds, double& peak) {
    std::vector<char*> argv;
    for (const QByteArray& a : args)
        argv.push_back(const_cast<char*>(a.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return false;
    seconds = Seconds(start);
    peak = double(usage.ru_maxrss) * 1024;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Pairs of (ours, uncompress) timings; each side inflates `batch` times per pair.
Spread InflateRatio(const QByteArray& plain, const QByteArray& cdb, int pairs, int batch) {
    const qsizetype header = qMin<qsizetype>(device::ByteView(plain).U32(4), plain.size());
    const uLong known = uLong(plain.size() - header);
    std::vector<double> ratios;
    for (int p = 0; p < pairs; ++p) {
        auto start = Clock::now();
        for (int b = 0; b < batch; ++b) {
            const QByteArray out = device::InflateTrackDb(cdb);
            if (out.size() != plain.size())
                std::fprintf(stderr, "inflate gave %lld bytes\n", qint64(out.size()));
        }
        const double ours = Seconds(start);
        start = Clock::now();
        for (int b = 0; b < batch; ++b) {
            std::unique_ptr<Bytef[]> buffer(new Bytef[known]);
            uLongf length = known;
            if (uncompress(buffer.get(), &length, reinterpret_cast<const Bytef*>(cdb.constData()) + header,
                           uLong(cdb.size() - header)) != Z_OK)
                std::fprintf(stderr, "uncompress failed\n");
        }
        ratios.push_back(ours / Seconds(start));
    }
    return Of(ratios);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int runs = 9;
    QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/ipod-dump");
    QString writeTo;
    for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--runs"))
            runs = qMax(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--ipod-dump"))
            tool = args[i + 1];
        else if (args[i] == QLatin1String("--write"))
            writeTo = args[i + 1];
    }

    if (!writeTo.isEmpty()) {
        const QByteArray plain = fixtures::WriteTrackDb(fixtures::LargeDb(kTracks, kPlaylists));
        fixtures::DeviceTree tree(writeTo);
        tree.WriteTrackDb(plain);
        tree.WriteCompressedTrackDb(plain);
        return 0;
    }

    // The device is written by a child, so that this process stays small (see Run).
    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/ipod");
    double seconds = 0, peak = 0;
    if (!Run({QCoreApplication::applicationFilePath().toLocal8Bit(), "--write", root.toLocal8Bit()}, seconds, peak)) {
        std::fprintf(stderr, "the device was not written\n");
        return 1;
    }
    std::vector<double> times, peaks;
    for (int r = 0; r < runs + 1; ++r) {
        if (!Run({tool.toLocal8Bit(), "tracks", root.toLocal8Bit(), "--summary"}, seconds, peak)) {
            std::fprintf(stderr, "%s did not run\n", qPrintable(tool));
            return 1;
        }
        if (r > 0) { // the first run warms the page cache
            times.push_back(seconds * 1e3);
            peaks.push_back(peak / (1 << 20));
        }
    }

    const QByteArray plain = ReadFile(root + QStringLiteral("/iPod_Control/iTunes/iTunesDB"));
    const QByteArray cdb = ReadFile(root + QStringLiteral("/iPod_Control/iTunes/iTunesCDB"));
    std::printf("database: %d tracks, %.1f MB plain, %.1f MB compressed\n", kTracks, plain.size() / 1e6,
                cdb.size() / 1e6);
    const Spread t = Of(times), m = Of(peaks);
    std::printf("load, ipod-dump tracks --summary: %.1f ms (%.1f .. %.1f), peak %.1f MiB (%.1f .. %.1f), %d runs\n",
                t.Median, t.Low, t.High, m.Median, m.Low, m.High, runs);

    const Spread large = InflateRatio(plain, cdb, qMax(3, runs / 2), 1);
    std::printf("inflate %.1f MB: %.3f x uncompress (%.3f .. %.3f)\n", plain.size() / 1e6, large.Median, large.Low,
                large.High);
    // A small library, about the size of a few hundred tracks.
    const QByteArray small = fixtures::WriteTrackDb(fixtures::LargeDb(500, 3));
    const Spread little = InflateRatio(small, fixtures::CompressTrackDb(small), runs * 3, 50);
    std::printf("inflate %.2f MB: %.3f x uncompress (%.3f .. %.3f)\n", small.size() / 1e6, little.Median, little.Low,
                little.High);
    return 0;
}
