// Exporting 1,000 photos of the UYVY format 1019 (decode, resample to 640 x 480, JPEG) and
// 1,000 of the 16-bit format 1024 (320 x 240), each beside a baseline in the same run that
// only encodes the same pixels with libjpeg-turbo. BM_ExportRatios gives both ratios from
// rounds that time the three side by side:
//   decode_x   the export in memory (reads, decoding, encoding; no files) / the encoder alone
//   disk_x     the whole export, every file safely in place / the encoder alone
//   create_x   only creating as many files of the same size / the encoder alone: the floor
//              that this machine's file system puts under disk_x
#include "device/JpegWriter.h"
#include "device/PhotoDb.h"
#include "device/PixelDecode.h"
#include "device/ThumbExport.h"
#include "platform/Drives.h"
#include "tests/fixtures/DeviceTree.h"
#include "tests/fixtures/PhotoDbWriter.h"
#include "tests/fixtures/ThumbWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <algorithm>
#include <chrono>
#include <functional>
#include <unistd.h>
#include <cstring>

namespace {

constexpr int kPhotos = 1000;
constexpr int kDistinct = 8; // distinct pictures; the photos cycle through them

struct Device {
    QTemporaryDir Dir;
    std::unique_ptr<fixtures::DeviceTree> Tree;
    std::vector<QByteArray> Stored; // each distinct image as stored
    std::vector<QImage> Decoded;    // the same pixels, decoded (what the encoder is given)
};

// A disk-mode device with kPhotos photos of format `id` whose large images cycle through
// kDistinct stored pictures in one container.
Device& DeviceFor(int32_t id) {
    static std::map<int32_t, std::unique_ptr<Device>> devices;
    auto& slot = devices[id];
    if (slot)
        return *slot;
    slot = std::make_unique<Device>();
    Device& d = *slot;
    d.Tree = std::make_unique<fixtures::DeviceTree>(d.Dir.path() + "/ipod");
    const fixtures::FormatGeometry g = fixtures::GeometryOf(id);
    QByteArray container;
    for (int i = 0; i < kDistinct; ++i) {
        const QImage picture = fixtures::QuadrantPicture(g.Width, g.Height, i);
        d.Stored.push_back(fixtures::EncodeForFormat(id, picture, false, g.Size));
        container += d.Stored.back();
    }
    fixtures::FixturePhotoDb db;
    for (int i = 0; i < kPhotos; ++i) {
        fixtures::FixturePhoto p;
        p.ImageId = uint32_t(1000 + i);
        fixtures::FixtureThumbRef large;
        large.FormatId = id;
        large.Offset = uint32_t((i % kDistinct) * g.Size);
        large.Size = uint32_t(g.Size);
        large.Width = uint16_t(g.Width);
        large.Height = uint16_t(g.Height);
        large.FileName = QStringLiteral(":Thumbs:F%1_1.ithmb").arg(id);
        fixtures::FixtureThumbRef small = large;
        small.FormatId = 1036;
        small.Width = 50;
        small.Height = 41;
        small.FileName = QStringLiteral(":Thumbs:F1036_1.ithmb");
        p.Refs = {small, large};
        db.Photos.push_back(p);
    }
    d.Tree->WriteFile(QStringLiteral("Photos/Photo Database"), fixtures::WritePhotoDb(db));
    d.Tree->WriteFile(QStringLiteral("Photos/Thumbs/F%1_1.ithmb").arg(id), container);
    d.Tree->WriteFile(QStringLiteral("Photos/Thumbs/F1036_1.ithmb"), QByteArray(4100, '\0'));
    return d;
}

// Decodes one stored image the way the exporter does (into the picture the encoder gets).
QImage Decode(int32_t id, const QByteArray& stored, QImage& resized, const device::TBitmapHeader& header) {
    if (id == device::FormatUyvy) {
        device::DecodeUyvyResampled(reinterpret_cast<const uint8_t*>(stored.constData()), resized);
        return resized;
    }
    QByteArray file(reinterpret_cast<const char*>(header.data()), device::BitmapHeaderSize);
    file += stored;
    return device::DecodeBitfieldBitmap(file);
}

device::TBitmapHeader HeaderFor(int32_t id) {
    const fixtures::FormatGeometry g = fixtures::GeometryOf(id);
    return device::BuildBitmapHeader(device::TThumbFormat{id, g.Size, g.Width, g.Height, 1}, false);
}

// The device's pictures decoded once, as the encoder-only baseline takes them.
const std::vector<QImage>& DecodedFor(int32_t id) {
    Device& d = DeviceFor(id);
    if (d.Decoded.empty()) {
        QImage resized(640, 480, QImage::Format_RGB888);
        for (const QByteArray& stored : d.Stored)
            d.Decoded.push_back(Decode(id, stored, resized, HeaderFor(id)).copy());
    }
    return d.Decoded;
}

void BM_Encode(benchmark::State& state, int32_t id) {
    Device& d = DeviceFor(id);
    DecodedFor(id);
    device::JpegWriter jpeg;
    for (auto _ : state)
        for (int i = 0; i < kPhotos; ++i)
            benchmark::DoNotOptimize(jpeg.Encode(d.Decoded[size_t(i % kDistinct)]));
    state.SetItemsProcessed(state.iterations() * kPhotos);
}

// Discards the files: the export's reading, decoding and encoding without the disk.
class NoFiles : public device::ExportSink {
public:
    void Put(const QString&, const QByteArray& bytes, QString&) override {
        benchmark::DoNotOptimize(bytes.constData());
    }
    void Finish() override {}
};

double Seconds(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Both ratios of the export against the encoder alone on the same pixels, each round timing
// the three side by side: "decode" is the export in memory (read, decode, encode, no files),
// "disk" the whole export with every file safely in place. Median, lowest and highest of the
// rounds.
void BM_ExportRatios(benchmark::State& state, int32_t id) {
    Device& d = DeviceFor(id);
    const std::vector<QImage>& decoded = DecodedFor(id);
    platform::SetDriveTableForTesting(std::vector<platform::Drive>{d.Tree->AsDrive('E')});
    device::TPhotoDb db("E:", false);
    if (!db.Load(false) || db.Photos.Count() != kPhotos) {
        state.SkipWithError("photo database did not load");
        return;
    }
    for (int i = 0; i < db.Photos.Count(); ++i)
        db.Photos.GetItem(i)->Selected = 1;
    const QString out = d.Dir.path() + "/out/";
    device::JpegWriter jpeg;
    std::vector<double> inMemory, onDisk, plainFiles;
    for (auto _ : state) {
        for (int round = 0; round < int(state.range(0)); ++round) {
            state.PauseTiming();
            QDir(out).removeRecursively();
            QDir().mkpath(out);
            ::sync(); // the previous round's files are not this round's to write back
            state.ResumeTiming();
            const double encode = Seconds([&] {
                for (int i = 0; i < kPhotos; ++i)
                    benchmark::DoNotOptimize(jpeg.Encode(decoded[size_t(i % kDistinct)]));
            });
            db.OutputFolder = out;
            NoFiles none;
            const double memory = Seconds([&] { db.ExportThumbs(true, &none); });
            const double disk = Seconds([&] { db.ExportThumbs(true); });
            // The machine's own cost of creating as many files of the same size, nothing more.
            const QString plain = d.Dir.path() + "/plain/";
            QDir(plain).removeRecursively();
            QDir().mkpath(plain);
            const QByteArray bytes(qsizetype(QFileInfo(out + "1000.jpg").size()), 'x');
            const double create = Seconds([&] {
                for (int i = 0; i < kPhotos; ++i) {
                    QFile f(plain + QString::number(i));
                    if (f.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                        f.write(bytes);
                }
            });
            inMemory.push_back(memory / encode);
            onDisk.push_back(disk / encode);
            plainFiles.push_back(create / encode);
        }
    }
    if (QDir(out).entryList(QDir::Files).size() != kPhotos)
        state.SkipWithError("the export did not write every photo");
    auto report = [&](const char* name, std::vector<double> ratios) {
        std::sort(ratios.begin(), ratios.end());
        state.counters[std::string(name) + "_median"] = ratios[ratios.size() / 2];
        state.counters[std::string(name) + "_min"] = ratios.front();
        state.counters[std::string(name) + "_max"] = ratios.back();
    };
    report("decode_x", inMemory);
    report("disk_x", onDisk);
    report("create_x", plainFiles);
    state.SetItemsProcessed(int64_t(inMemory.size()) * kPhotos);
    platform::SetDriveTableForTesting(std::nullopt);
}

// The two steps of the 1019 decoding on their own, per picture.
// The fixture's pictures are flat quadrants; noise stands for a photo's detail, where more
// pixels come near a rounding boundary and take the exact path.
void BM_UyvyFields(benchmark::State& state) {
    Device& d = DeviceFor(device::FormatUyvy);
    QByteArray noise(device::UyvyImageBytes, '\0');
    uint32_t seed = 7;
    for (char& c : noise)
        c = char((seed = seed * 1103515245u + 12345u) >> 24);
    const QByteArray& stored = state.range(0) ? noise : d.Stored[0];
    QImage uyvy(device::UyvyWidth, device::UyvyHeight, QImage::Format_RGB888);
    for (auto _ : state) {
        const uint8_t* at = reinterpret_cast<const uint8_t*>(stored.constData());
        const device::UyvyLineReader next = [&](uint8_t* line) {
            std::memcpy(line, at, device::UyvyLineBytes);
            at += device::UyvyLineBytes;
            return true;
        };
        device::ReadUyuvField(next, 0, uyvy);
        device::ReadUyuvField(next, 1, uyvy);
        benchmark::DoNotOptimize(uyvy.constBits());
    }
}

void BM_Resample(benchmark::State& state) {
    QImage source(device::UyvyWidth, device::UyvyHeight, QImage::Format_RGB888);
    uint32_t seed = 1;
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width() * 3; ++x)
            source.scanLine(y)[x] = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
    QImage dest(640, 480, QImage::Format_RGB888);
    for (auto _ : state) {
        device::ResampleBitmap(source, dest);
        benchmark::DoNotOptimize(dest.constBits());
    }
}

// Both steps as the exporter takes them, a row at a time, on the fixture picture or noise.
void BM_UyvyResampled(benchmark::State& state) {
    Device& d = DeviceFor(device::FormatUyvy);
    QByteArray noise(device::UyvyImageBytes, '\0');
    uint32_t seed = 7;
    for (char& c : noise)
        c = char((seed = seed * 1103515245u + 12345u) >> 24);
    const QByteArray& stored = state.range(0) ? noise : d.Stored[0];
    QImage dest(640, 480, QImage::Format_RGB888);
    for (auto _ : state) {
        device::DecodeUyvyResampled(reinterpret_cast<const uint8_t*>(stored.constData()), dest);
        benchmark::DoNotOptimize(dest.constBits());
    }
}

BENCHMARK(BM_UyvyResampled)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UyvyFields)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Resample)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Encode, uyvy1019, 1019)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_ExportRatios, uyvy1019, 1019)->Arg(7)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_Encode, rgb1024, 1024)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_ExportRatios, rgb1024, 1024)->Arg(7)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
