// The preview player: time from Play to the first audio buffer reaching the sink, for a 5 MB
// MP3, an AAC and an Apple Lossless track, and the memory that one playing stream adds.
// The sink is a fakesink-like element of this program that notes when its first buffer came.
#include "preview/PodPlayer.h"
#include "tests/preview/TestAudio.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <gst/base/gstbasesink.h>
#include <gst/gst.h>
#include <malloc.h>
#include <memory>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<Clock::rep> gFirstBuffer{0}; // when the first buffer reached a sink, 0 until then
std::atomic<Clock::rep> gFirstRender{0}; // when the first buffer was played out

void Note(std::atomic<Clock::rep>& at) {
    Clock::rep none = 0;
    at.compare_exchange_strong(none, Clock::now().time_since_epoch().count());
}

// A sink that keeps real time like fakesink sync=true and notes its first buffer.
struct BenchSink {
    GstBaseSink parent;
};
struct BenchSinkClass {
    GstBaseSinkClass parent;
};
G_DEFINE_TYPE(BenchSink, bench_sink, GST_TYPE_BASE_SINK)
GstFlowReturn BenchPreroll(GstBaseSink*, GstBuffer*) {
    Note(gFirstBuffer);
    return GST_FLOW_OK;
}
GstFlowReturn BenchRender(GstBaseSink*, GstBuffer*) {
    Note(gFirstBuffer);
    Note(gFirstRender);
    return GST_FLOW_OK;
}
void bench_sink_class_init(BenchSinkClass* klass) {
    static GstStaticPadTemplate sinkTemplate =
        GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
    gst_element_class_add_static_pad_template(GST_ELEMENT_CLASS(klass), &sinkTemplate);
    gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Bench sink", "Sink/Audio",
                                          "Notes the first buffer", "-");
    GST_BASE_SINK_CLASS(klass)->preroll = BenchPreroll;
    GST_BASE_SINK_CLASS(klass)->render = BenchRender;
}
void bench_sink_init(BenchSink* sink) {
    gst_base_sink_set_sync(GST_BASE_SINK(sink), TRUE);
}

long ResidentBytes();

struct Setup {
    QTemporaryDir Temp;
    QString Mp3, Aac, Alac;
    std::unique_ptr<preview::TBsPodPlayer> Player;
    long FirstStreamRss = 0;
    Setup() {
        qputenv("TMPDIR", QFile::encodeName(Temp.path()));
        qputenv("MARROWGATE_AUDIO_SINK", "mgbenchsink");
        gst_init(nullptr, nullptr);
        gst_element_register(nullptr, "mgbenchsink", GST_RANK_NONE, bench_sink_get_type());
        Mp3 = Temp.path() + "/five.mp3";
        Aac = Temp.path() + "/track.m4a";
        Alac = Temp.path() + "/lossless.m4a";
        // 320 kbit/s for 131 s is 5 MB.
        if (!WriteTestTrack(Mp3, TestFormat::Mp3, 131, 320) || !WriteTestTrack(Aac, TestFormat::Aac, 60) ||
            !WriteTestTrack(Alac, TestFormat::Alac, 30))
            qFatal("cannot encode the tracks");
        Player = std::make_unique<preview::TBsPodPlayer>(0, true);
        if (Player->Status() != preview::TBsPodPlayer::kReady)
            qFatal("player status %d", Player->Status());
        const long idle = ResidentBytes();
        Player->Play(Mp3);
        QThread::msleep(1000);
        FirstStreamRss = ResidentBytes() - idle;
        Player->Stop();
    }
    const QString& Track(int format) const { return format == 0 ? Mp3 : format == 1 ? Aac : Alac; }
};

Setup& TheSetup() {
    static Setup setup;
    return setup;
}

double Ms(Clock::rep from, Clock::rep to) {
    return std::chrono::duration<double, std::milli>(Clock::duration(to - from)).count();
}

void WaitFor(const std::atomic<Clock::rep>& at) {
    while (at.load() == 0)
        QThread::usleep(100);
}

// Play to the first buffer at the sink (the decoded start, while the stream is prepared), with
// the first buffer played out beside it.
void BM_PlayToFirstBuffer(benchmark::State& state) {
    Setup& s = TheSetup();
    const QString& track = s.Track(int(state.range(0)));
    state.SetLabel(QFileInfo(track).fileName().toStdString() + " " + std::to_string(QFileInfo(track).size() / 1024) +
                   " KiB");
    double rendered = 0;
    for (auto _ : state) {
        gFirstBuffer = 0;
        gFirstRender = 0;
        const Clock::rep start = Clock::now().time_since_epoch().count();
        if (!s.Player->Play(track))
            state.SkipWithError("does not play");
        WaitFor(gFirstBuffer);
        WaitFor(gFirstRender);
        state.SetIterationTime(Ms(start, gFirstBuffer) / 1000);
        rendered += Ms(start, gFirstRender);
        s.Player->Stop();
    }
    state.counters["to_render_ms"] = rendered / double(state.iterations());
}

long ResidentBytes() {
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * sysconf(_SC_PAGESIZE) : 0;
}

double HeapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd);
}

// The heap that a stream holds a second into playing, beside the same process after its
// release; and the resident set that the first stream of the process added (code of the
// decoders paged in, thread stacks: an upper bound).
void BM_StreamMemory(benchmark::State& state) {
    Setup& s = TheSetup();
    const QString& track = s.Track(int(state.range(0)));
    double heap = 0;
    for (auto _ : state) {
        s.Player->Play(track);
        QThread::msleep(1000);
        const double playing = HeapBytes();
        s.Player->Stop();
        QThread::msleep(100);
        heap += playing - HeapBytes();
    }
    state.counters["stream_heap_MB"] = heap / double(state.iterations()) / (1024 * 1024);
    state.counters["first_stream_rss_MB"] = double(s.FirstStreamRss) / (1024 * 1024);
}

} // namespace

BENCHMARK(BM_PlayToFirstBuffer)->Arg(0)->Arg(1)->Arg(2)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StreamMemory)->Arg(0)->Arg(1)->Arg(2)->Iterations(3)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    TheSetup().Player.reset();
    benchmark::Shutdown();
    return 0;
}
