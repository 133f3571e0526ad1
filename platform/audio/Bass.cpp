// "bass.dll" over GStreamer: each stream is a pipeline of filesrc ! decodebin ! audioconvert !
// audioresample ! the output sink. Pipelines report through bus handlers on their streaming
// threads; those only queue what happened, and one thread of the library acts on the queue, so
// that end syncs run on a thread of ours that may free the very stream they are called for.
#include "platform/audio/BassApi.h"

#include <gst/gst.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <dlfcn.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace bass;

#define BASS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Preparing a stream decodes its first buffer; a file that has not got that far by then is
// taken for one that cannot be played rather than left to block the caller.
constexpr gint64 kPrepareTimeoutUs = 10 * G_TIME_SPAN_SECOND;

struct Sync {
    HSYNC handle;
    SYNCPROC* proc;
    void* user;
};

struct Stream {
    DWORD handle = 0;
    GstElement* pipeline = nullptr;
    GstElement* convert = nullptr;
    // The streaming threads get the stream through GStreamer's own queues, which a race
    // checker cannot see into; they read this first, so the hand-over is visible to it.
    std::atomic<bool> published{false};
    void Receive() const { (void)published.load(std::memory_order_acquire); }
    // Written by streaming threads while the stream is prepared.
    std::mutex prepLock;
    std::condition_variable prepDone;
    enum { Pending, Ready, Failed } prep = Pending;
    bool linked = false;
    // Under gLock.
    enum { Stopped, Playing, Paused } want = Stopped;
    bool ended = false;
    bool stalled = false;
    std::vector<Sync> syncs;
};

struct Plugin {
    void* module;
    GstCaps* formats;
};

struct Event {
    DWORD stream;
    enum { End, Stall, Flow } kind;
};

std::mutex gLock; // never held while a pipeline changes state
bool gInit = false;
std::string gSinkDescription; // from MARROWGATE_AUDIO_SINK, else empty
std::string gSinkFactory;     // the audio sink that opened at BASS_Init
std::map<DWORD, std::shared_ptr<Stream>> gStreams;
std::map<HPLUGIN, Plugin> gPlugins;
DWORD gNextHandle = 0; // handles are never reused within a process

std::mutex gQueueLock;
std::condition_variable gQueueWake;
std::deque<Event> gQueue;
bool gQuit = false;
std::thread gThread;

// Formats that only a plug-in decodes; anything else that GStreamer decodes plays without one.
const char* const kPluginOnlyFormats[] = {"audio/mpeg, mpegversion=(int){2,4}", "audio/x-alac"};

DWORD NewHandle() {
    if (++gNextHandle == 0)
        ++gNextHandle;
    return gNextHandle;
}

std::shared_ptr<Stream> Find(DWORD handle) {
    std::lock_guard lock(gLock);
    const auto it = gStreams.find(handle);
    return it == gStreams.end() ? nullptr : it->second;
}

void Queue(DWORD stream, decltype(Event::kind) kind) {
    {
        std::lock_guard lock(gQueueLock);
        gQueue.push_back({stream, kind});
    }
    gQueueWake.notify_one();
}

void RunLibraryThread() {
    for (;;) {
        Event event;
        {
            std::unique_lock lock(gQueueLock);
            gQueueWake.wait(lock, [] { return gQuit || !gQueue.empty(); });
            if (gQuit)
                return;
            event = gQueue.front();
            gQueue.pop_front();
        }
        std::vector<Sync> calls;
        {
            std::lock_guard lock(gLock);
            const auto it = gStreams.find(event.stream);
            if (it == gStreams.end())
                continue;
            Stream& s = *it->second;
            if (event.kind == Event::Stall || event.kind == Event::Flow) {
                s.stalled = event.kind == Event::Stall;
                continue;
            }
            if (s.ended)
                continue;
            s.ended = true;
            calls = s.syncs;
        }
        // Without the lock: a sync procedure may free the stream.
        for (const Sync& sync : calls)
            sync.proc(sync.handle, event.stream, 0, sync.user);
    }
}

void SetPrep(Stream& s, decltype(Stream::prep) prep) {
    {
        std::lock_guard lock(s.prepLock);
        if (s.prep != Stream::Pending)
            return;
        s.prep = prep;
    }
    s.prepDone.notify_all();
}

GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    Stream& s = *static_cast<Stream*>(data);
    s.Receive();
    bool prepared;
    {
        std::lock_guard lock(s.prepLock);
        prepared = s.prep == Stream::Ready;
    }
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ASYNC_DONE:
        if (GST_MESSAGE_SRC(message) == GST_OBJECT(s.pipeline))
            SetPrep(s, Stream::Ready);
        break;
    case GST_MESSAGE_ERROR:
        // An error once the stream plays ends it where it is, as its end would.
        if (prepared)
            Queue(s.handle, Event::End);
        else
            SetPrep(s, Stream::Failed);
        break;
    case GST_MESSAGE_EOS: Queue(s.handle, Event::End); break;
    case GST_MESSAGE_BUFFERING: {
        gint percent = 100;
        gst_message_parse_buffering(message, &percent);
        Queue(s.handle, percent < 100 ? Event::Stall : Event::Flow);
        break;
    }
    default: break;
    }
    return GST_BUS_DROP;
}

bool PluginLoadedFor(GstCaps* caps) {
    std::lock_guard lock(gLock);
    for (const auto& [handle, plugin] : gPlugins)
        if (gst_caps_can_intersect(caps, plugin.formats))
            return true;
    return false;
}

gboolean OnAutoplugContinue(GstElement*, GstPad*, GstCaps* caps, gpointer) {
    for (const char* format : kPluginOnlyFormats) {
        GstCaps* gated = gst_caps_from_string(format);
        const bool needsPlugin = gst_caps_can_intersect(caps, gated);
        gst_caps_unref(gated);
        // Stopping here exposes the undecoded pad, which OnPadAdded turns down.
        if (needsPlugin)
            return PluginLoadedFor(caps);
    }
    return TRUE;
}

void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    Stream& s = *static_cast<Stream*>(data);
    s.Receive();
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps)
        caps = gst_pad_query_caps(pad, nullptr);
    const bool raw = caps && gst_caps_get_size(caps) > 0 &&
                     g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/x-raw");
    if (caps)
        gst_caps_unref(caps);
    std::lock_guard lock(s.prepLock);
    if (!raw || s.linked)
        return;
    GstPad* sinkPad = gst_element_get_static_pad(s.convert, "sink");
    s.linked = gst_pad_link(pad, sinkPad) == GST_PAD_LINK_OK;
    gst_object_unref(sinkPad);
}

void OnNoMorePads(GstElement*, gpointer data) {
    Stream& s = *static_cast<Stream*>(data);
    s.Receive();
    bool linked;
    {
        std::lock_guard lock(s.prepLock);
        linked = s.linked;
    }
    if (!linked)
        SetPrep(s, Stream::Failed);
}

GstElement* MakeSink(const std::string& description, const std::string& factory) {
    if (!description.empty()) {
        GError* error = nullptr;
        GstElement* sink = gst_parse_bin_from_description(description.c_str(), TRUE, &error);
        if (error)
            g_error_free(error);
        return sink;
    }
    return factory.empty() ? nullptr : gst_element_factory_make(factory.c_str(), nullptr);
}

bool Opens(GstElement* sink) {
    if (!sink)
        return false;
    gst_object_ref_sink(sink);
    const bool ok = gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
    gst_element_set_state(sink, GST_STATE_NULL);
    gst_object_unref(sink);
    return ok;
}

// The first real audio output that opens, by rank, as the desktop's default device. Unlike
// autoaudiosink this never falls back to a sink that plays into nothing.
std::string FindOutput() {
    GList* factories = gst_element_factory_list_get_elements(
        GST_ELEMENT_FACTORY_TYPE_SINK | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO, GST_RANK_MARGINAL);
    factories = g_list_sort(factories, gst_plugin_feature_rank_compare_func);
    std::string found;
    for (GList* item = factories; item && found.empty(); item = item->next) {
        GstElementFactory* factory = GST_ELEMENT_FACTORY(item->data);
        const std::string name = GST_OBJECT_NAME(factory);
        if (name.find("auto") != std::string::npos || name == "fakesink")
            continue;
        if (Opens(gst_element_factory_create(factory, nullptr)))
            found = name;
    }
    gst_plugin_feature_list_free(factories);
    return found;
}

void Release(const std::shared_ptr<Stream>& s) {
    if (!s->pipeline)
        return;
    gst_element_set_state(s->pipeline, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(s->pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(s->pipeline);
    s->pipeline = nullptr;
}

std::string FileName(const void* file, DWORD flags) {
    if (!(flags & kUnicode))
        return static_cast<const char*>(file);
    gchar* utf8 = g_utf16_to_utf8(static_cast<const gunichar2*>(file), -1, nullptr, nullptr, nullptr);
    std::string name = utf8 ? utf8 : "";
    g_free(utf8);
    return name;
}

} // namespace

BASS_EXPORT BOOL BASS_Init(int device, DWORD, DWORD, void*, const void*) {
    if (device != -1 && device != 1)
        return 0;
    {
        std::lock_guard lock(gLock);
        if (gInit)
            return 0;
    }
    if (!gst_init_check(nullptr, nullptr, nullptr))
        return 0;
    const char* description = std::getenv("MARROWGATE_AUDIO_SINK");
    std::string sinkDescription = description ? description : "";
    std::string sinkFactory;
    if (!sinkDescription.empty()) {
        if (!Opens(MakeSink(sinkDescription, {})))
            return 0;
    } else {
        sinkFactory = FindOutput();
        if (sinkFactory.empty())
            return 0;
    }
    std::lock_guard lock(gLock);
    gSinkDescription = sinkDescription;
    gSinkFactory = sinkFactory;
    {
        std::lock_guard queueLock(gQueueLock);
        gQueue.clear();
        gQuit = false;
    }
    gThread = std::thread(RunLibraryThread);
    gInit = true;
    return 1;
}

BASS_EXPORT BOOL BASS_Free() {
    std::map<DWORD, std::shared_ptr<Stream>> streams;
    std::map<HPLUGIN, Plugin> plugins;
    {
        std::lock_guard lock(gLock);
        if (!gInit)
            return 0;
        gInit = false;
        streams.swap(gStreams);
        plugins.swap(gPlugins);
    }
    for (auto& [handle, stream] : streams)
        Release(stream);
    for (auto& [handle, plugin] : plugins) {
        gst_caps_unref(plugin.formats);
        dlclose(plugin.module);
    }
    {
        std::lock_guard lock(gQueueLock);
        gQuit = true;
    }
    gQueueWake.notify_one();
    if (gThread.get_id() == std::this_thread::get_id())
        gThread.detach();
    else
        gThread.join();
    return 1;
}

BASS_EXPORT HPLUGIN BASS_PluginLoad(const char* file, DWORD) {
    // A bare name would be searched for, possibly in the working folder.
    if (!file || *file != '/')
        return 0;
    void* module = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (!module)
        return 0;
    auto formatsOf = reinterpret_cast<PluginFormatsFn*>(dlsym(module, kPluginFormatsName));
    const char* formats = formatsOf ? formatsOf() : nullptr;
    GstCaps* caps = formats ? gst_caps_from_string(formats) : nullptr;
    if (!caps) {
        dlclose(module);
        return 0;
    }
    std::lock_guard lock(gLock);
    const HPLUGIN handle = NewHandle();
    gPlugins[handle] = {module, caps};
    return handle;
}

BASS_EXPORT BOOL BASS_PluginFree(HPLUGIN handle) {
    Plugin plugin;
    {
        std::lock_guard lock(gLock);
        const auto it = gPlugins.find(handle);
        if (it == gPlugins.end())
            return 0;
        plugin = it->second;
        gPlugins.erase(it);
    }
    gst_caps_unref(plugin.formats);
    dlclose(plugin.module);
    return 1;
}

BASS_EXPORT HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    std::string sinkDescription, sinkFactory;
    auto s = std::make_shared<Stream>();
    {
        std::lock_guard lock(gLock);
        if (!gInit)
            return 0;
        sinkDescription = gSinkDescription;
        sinkFactory = gSinkFactory;
        s->handle = NewHandle();
    }
    if (mem || !file || offset != 0 || length != 0)
        return 0;
    const std::string name = FileName(file, flags);
    // filesrc would block on a pipe or read a device for ever.
    struct stat info;
    if (name.empty() || stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;

    GstElement* sink = MakeSink(sinkDescription, sinkFactory);
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* decode = gst_element_factory_make("decodebin", nullptr);
    GstElement* convert = gst_element_factory_make("audioconvert", nullptr);
    GstElement* resample = gst_element_factory_make("audioresample", nullptr);
    if (!sink || !source || !decode || !convert || !resample) {
        for (GstElement* e : {sink, source, decode, convert, resample})
            if (e)
                gst_object_unref(gst_object_ref_sink(e));
        return 0;
    }
    s->pipeline = gst_pipeline_new(nullptr);
    s->convert = convert;
    g_object_set(source, "location", name.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(s->pipeline), source, decode, convert, resample, sink, nullptr);
    GstBus* bus = gst_element_get_bus(s->pipeline);
    gst_bus_set_sync_handler(bus, OnBusMessage, s.get(), nullptr);
    gst_object_unref(bus);
    if (!gst_element_link(source, decode) || !gst_element_link_many(convert, resample, sink, nullptr)) {
        Release(s);
        return 0;
    }
    g_signal_connect(decode, "autoplug-continue", G_CALLBACK(OnAutoplugContinue), nullptr);
    g_signal_connect(decode, "pad-added", G_CALLBACK(OnPadAdded), s.get());
    g_signal_connect(decode, "no-more-pads", G_CALLBACK(OnNoMorePads), s.get());

    // In the table from here on, so that an end or error right after the first buffer is not
    // lost; nobody else knows the handle before it is returned.
    {
        std::lock_guard lock(gLock);
        gStreams[s->handle] = s;
    }
    s->published.store(true, std::memory_order_release);
    bool ready = gst_element_set_state(s->pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
    if (ready) {
        std::unique_lock lock(s->prepLock);
        ready = s->prepDone.wait_for(lock, std::chrono::microseconds(kPrepareTimeoutUs), [&] {
            return s->prep != Stream::Pending;
        }) && s->prep == Stream::Ready;
    }
    {
        std::lock_guard lock(gLock);
        // BASS_Free may have run meanwhile.
        ready = ready && gInit && gStreams.count(s->handle);
        if (!ready)
            gStreams.erase(s->handle);
    }
    if (!ready) {
        Release(s);
        return 0;
    }
    return s->handle;
}

BASS_EXPORT BOOL BASS_StreamFree(HSTREAM handle) {
    std::shared_ptr<Stream> s;
    {
        std::lock_guard lock(gLock);
        const auto it = gStreams.find(handle);
        if (it == gStreams.end())
            return 0;
        s = it->second;
        gStreams.erase(it);
    }
    Release(s);
    return 1;
}

BASS_EXPORT DWORD BASS_ChannelIsActive(DWORD handle) {
    std::lock_guard lock(gLock);
    const auto it = gStreams.find(handle);
    if (it == gStreams.end())
        return kActiveStopped;
    const Stream& s = *it->second;
    if (s.ended)
        return kActiveStopped;
    switch (s.want) {
    case Stream::Playing: return s.stalled ? kActiveStalled : kActivePlaying;
    case Stream::Paused: return kActivePaused;
    default: return kActiveStopped;
    }
}

BASS_EXPORT BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
    const auto s = Find(handle);
    if (!s)
        return 0;
    if (restart) {
        if (!gst_element_seek_simple(s->pipeline, GST_FORMAT_TIME,
                                     GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), 0))
            return 0;
    }
    {
        std::lock_guard lock(gLock);
        if (s->ended && !restart)
            return 0;
        s->ended = false;
        s->want = Stream::Playing;
    }
    return gst_element_set_state(s->pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

BASS_EXPORT BOOL BASS_ChannelPause(DWORD handle) {
    const auto s = Find(handle);
    if (!s)
        return 0;
    {
        std::lock_guard lock(gLock);
        if (s->ended || s->want != Stream::Playing)
            return 0;
        s->want = Stream::Paused;
    }
    return gst_element_set_state(s->pipeline, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
}

BASS_EXPORT BOOL BASS_ChannelStop(DWORD handle) {
    const auto s = Find(handle);
    if (!s)
        return 0;
    {
        std::lock_guard lock(gLock);
        s->want = Stream::Stopped;
    }
    // Paused rather than reset, so that a later play continues where it stopped.
    gst_element_set_state(s->pipeline, GST_STATE_PAUSED);
    return 1;
}

BASS_EXPORT HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD, SYNCPROC* proc, void* user) {
    if (type != kSyncEnd || !proc)
        return 0;
    std::lock_guard lock(gLock);
    const auto it = gStreams.find(handle);
    if (it == gStreams.end())
        return 0;
    const HSYNC sync = NewHandle();
    it->second->syncs.push_back({sync, proc, user});
    return sync;
}

BASS_EXPORT BOOL BASS_ChannelRemoveSync(DWORD handle, HSYNC sync) {
    std::lock_guard lock(gLock);
    const auto it = gStreams.find(handle);
    if (it == gStreams.end())
        return 0;
    auto& syncs = it->second->syncs;
    for (auto i = syncs.begin(); i != syncs.end(); ++i)
        if (i->handle == sync) {
            syncs.erase(i);
            return 1;
        }
    return 0;
}

BASS_EXPORT DWORD MgAudioStreamCount() {
    std::lock_guard lock(gLock);
    return DWORD(gStreams.size());
}

namespace {
// A program that ends without freeing the library (exit() on a broken display connection) must
// not find the library's thread still joinable, which aborts the process. Defined last, so it
// goes before everything it uses.
struct FreeAtExit {
    ~FreeAtExit() { BASS_Free(); }
} gFreeAtExit;
} // namespace
