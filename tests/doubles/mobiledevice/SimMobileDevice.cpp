// The simulated "iTunesMobileDevice.dll". Built twice: the older generation (file version
// 238.8, inline service-name objects) and the newer one (constant strings of its
// CoreFoundation). Plain C++ without Qt, like the library it stands for.
#include "platform/mobiledevice/FileInfo.h"
#include "platform/mobiledevice/MobileDeviceApi.h"
#include "platform/mobiledevice/ServiceName.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <list>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#define MG_EXPORT extern "C" __attribute__((visibility("default")))

// The file version that platform::FileVersion reads (major << 48 | minor << 32).
extern "C" __attribute__((used, section(".mg_file_version"))) const unsigned long long mg_file_version =
    (238ull << 48) | ((MG_SIM_NEW_GENERATION ? 9ull : 8ull) << 32);

namespace {

// Results in the style of the real library: device errors with the top bit set, AFC errors small.
constexpr uint32_t kErrNoDevice = mobiledevice::ErrNoDevice, kErrInvalidArgument = 0xE8000022,
                   kErrNotPaired = 0xE8000025, kErrServiceNotFound = 0xE8000023, kErrNotConnected = 0xE8000010,
                   kAfcBadHandle = 7, kAfcNotFound = 8, kAfcIoError = 10, kAfcPermission = 11;

struct Device {
    std::string Root; // the folder served as its file system
    bool Present = true, Connected = false, Session = false;
};
struct Connection {
    Device* Owner;
    std::string Root;
    std::map<uint64_t, int> Files; // closed with the connection
    ~Connection() {
        std::for_each(Files.begin(), Files.end(), [](auto& f) { ::close(f.second); });
    }
};

// What "reset" puts back.
struct Script {
    std::string Pairing = "valid";
    bool Afc2 = true;
    uint32_t MaxRead = 0;
    long long SizeDelta = 0;                                       // added to every size the file information gives
    std::map<std::string, std::pair<uint32_t, unsigned>> Failures; // result, successful calls before it
    std::map<std::string, unsigned> Counts;
    std::string Hold; // the next call of this entry point stays inside (see "hold")
};

struct State : Script {
    std::mutex Lock;
    std::condition_variable Changed;
    std::string Root;
    std::list<Device> Devices; // never dropped, so old references stay valid
    Device* Current = nullptr;
    std::map<uint32_t, Connection> Services; // started, not yet opened
    std::list<Connection> Connections;
    uint64_t NextService = 1, NextFile = 1;
    std::pair<AMDeviceNotificationCallback, void*> Subscriber{}; // callback, cookie
    std::list<AMDeviceNotificationInfo> Queue;                   // delivered on the library's own thread
    bool Delivering = false;
    std::thread Thread;
    int Held = 0;                                // calls staying inside the library
    bool Released = false, Unsubscribed = false; // since the last "hold"

    void Notify(Device* d, uint32_t message) { Queue.push_back({d, message}), Changed.notify_all(); }
};

State& St = *new State; // outlives every caller; the thread is ended at unload

// How long a test waits for the library's threads, and a held call for its unload.
constexpr auto kWaitLimit = std::chrono::seconds(30);
constexpr auto kHoldAfterUnsubscribe = std::chrono::milliseconds(500);

// A held call stays inside until "release", or until the notifications have ended and then half
// a second more, in which an unload that does not wait for it releases the library under it:
// the library's destructor then finds it still inside.
void StayInside(std::unique_lock<std::mutex>& lock) {
    ++St.Held, St.Changed.notify_all();
    St.Changed.wait_for(lock, kWaitLimit, [] { return St.Released; });
    if (St.Unsubscribed)
        St.Changed.wait_for(lock, kHoldAfterUnsubscribe, [] { return false; });
    --St.Held, St.Changed.notify_all();
}

// Every entry point: the lock, the count of the call, a hold, an injected failure, then `body`.
template <class F>
uint32_t Entry(const char* name, F body) {
    std::unique_lock<std::mutex> lock(St.Lock);
    ++St.Counts[name];
    if (St.Hold == name)
        St.Hold.clear(), StayInside(lock);
    auto& [result, after] = St.Failures[name];
    return !result ? body() : after ? (--after, body()) : result;
}

template <class C>
auto Find(C& all, void* object) -> decltype(&all.front()) {
    const auto it = std::find_if(all.begin(), all.end(), [&](auto& x) { return &x == object; });
    return it == all.end() ? nullptr : &*it;
}

template <class F>
uint32_t OnDevice(const char* name, void* device, F body) {
    return Entry(name, [&]() -> uint32_t {
        Device* d = Find(St.Devices, device);
        return !d ? kErrInvalidArgument : !d->Present ? kErrNoDevice : body(*d);
    });
}

template <class F>
uint32_t OnConnection(const char* name, void* connection, F body) {
    return Entry(name, [&]() -> uint32_t {
        Connection* c = Find(St.Connections, connection);
        return !c ? kAfcBadHandle : !c->Owner->Present ? kErrNoDevice : body(*c);
    });
}

// On the descriptor of an open file.
template <class F>
uint32_t OnFile(const char* name, void* connection, uint64_t ref, F body) {
    return OnConnection(name, connection,
                        [&](Connection& c) { return c.Files.count(ref) ? body(c.Files[ref]) : kAfcBadHandle; });
}

// The host path of a device path, or "" when the path leaves the service's root.
std::string HostPath(const Connection& c, const char* path) {
    std::stringstream parts(path ? path : "");
    std::string part, out = c.Root;
    while (std::getline(parts, part, '/') && part != "..")
        out += part.empty() || part == "." ? "" : "/" + part;
    return part == ".." ? "" : out;
}

void Deliver() {
    std::unique_lock<std::mutex> lock(St.Lock);
    // Until the subscriber is gone.
    while (St.Changed.wait(lock, [] { return !St.Subscriber.first || !St.Queue.empty(); }), St.Subscriber.first) {
        const AMDeviceNotificationInfo info = St.Queue.front();
        const auto [callback, cookie] = St.Subscriber;
        St.Queue.pop_front(), St.Delivering = true;
        lock.unlock();
        callback(&info, cookie);
        lock.lock();
        St.Delivering = false, St.Changed.notify_all();
    }
}

void StopThread() {
    std::unique_lock<std::mutex> lock(St.Lock);
    St.Subscriber = {}, St.Queue.clear(), St.Released = St.Unsubscribed = true, St.Changed.notify_all();
    std::thread thread = std::move(St.Thread);
    lock.unlock();
    if (thread.joinable())
        thread.get_id() == std::this_thread::get_id() ? thread.detach() : thread.join();
}

__attribute__((destructor)) void Unload() {
    if (std::lock_guard<std::mutex> lock(St.Lock); St.Held) {
        // Returning would unmap the code that the held call is still running.
        std::fputs("simulated mobile-device library released while a call was inside it\n", stderr);
        std::abort();
    }
    StopThread();
    St.Connections.clear(); // no caller is left
}

} // namespace

MG_EXPORT uint32_t AMDeviceNotificationSubscribe(AMDeviceNotificationCallback callback, uint32_t, uint32_t,
                                                 void* cookie, void** notification) {
    return Entry(__func__, [&]() -> uint32_t {
        if (!callback || St.Thread.joinable())
            return kErrInvalidArgument;
        St.Subscriber = {callback, cookie}, St.Thread = std::thread(Deliver);
        // A device already attached is reported as an arrival, as the real library does.
        if (St.Current)
            St.Notify(St.Current, 1);
        if (notification)
            *notification = &St;
        return 0;
    });
}

MG_EXPORT uint32_t AMDeviceNotificationUnsubscribe(void* notification) {
    // An injected failure leaves the notifications running.
    const uint32_t refused = Entry(__func__, [] { return 0u; });
    return notification != &St ? kErrInvalidArgument : refused ? refused : (StopThread(), 0);
}

// An entry point on a known, present device `d`, answering `...`.
#define MG_DEVICE_CALL(NAME, ...)                                                                                      \
    MG_EXPORT uint32_t NAME(void* device) {                                                                            \
        return OnDevice(#NAME, device, []([[maybe_unused]] Device& d) -> uint32_t { return __VA_ARGS__; });            \
    }
MG_DEVICE_CALL(AMDeviceConnect, d.Connected = true, 0)
MG_DEVICE_CALL(AMDeviceIsPaired, St.Pairing != "none")
MG_DEVICE_CALL(AMDeviceValidatePairing, !d.Connected            ? kErrNotConnected
                                        : St.Pairing == "valid" ? 0
                                                                : mobiledevice::ErrInvalidHostId)
MG_DEVICE_CALL(AMDevicePair, !d.Connected ? kErrNotConnected : (St.Pairing = "valid", 0))
MG_DEVICE_CALL(AMDeviceStartSession, !d.Connected            ? kErrNotConnected
                                     : St.Pairing != "valid" ? kErrNotPaired
                                                             : (d.Session = true, 0))
MG_DEVICE_CALL(AMDeviceStopSession, d.Session = false, 0)
MG_DEVICE_CALL(AMDeviceDisconnect, d.Connected = false, 0)

MG_EXPORT uint32_t AMDeviceStartService(void* device, const void* serviceName, uint32_t* handle, uint32_t*) {
    std::string name;
    const bool known = mobiledevice::ReadServiceName(serviceName, MG_SIM_NEW_GENERATION, name);
    return OnDevice(__func__, device, [&](Device& d) -> uint32_t {
        const bool full = name == "com.apple.afc2", served = (full && St.Afc2) || name == "com.apple.afc";
        if (!handle || !known || !d.Session || !served)
            return !handle || !known ? kErrInvalidArgument : !d.Session ? kErrNotConnected : kErrServiceNotFound;
        St.Services[*handle = uint32_t(St.NextService++)] = {&d, d.Root + (full ? "" : "/var/mobile/Media"), {}};
        return 0;
    });
}

MG_EXPORT uint32_t AFCConnectionOpen(uint32_t handle, uint32_t, void** connection) {
    return Entry(__func__, [&]() -> uint32_t {
        auto service = St.Services.extract(handle);
        return service.empty() || !connection ? kErrInvalidArgument
                                              : (*connection = &St.Connections.emplace_back(service.mapped()), 0);
    });
}

MG_EXPORT uint32_t AFCConnectionClose(void* connection) {
    return Entry(__func__, [&]() -> uint32_t {
        return St.Connections.remove_if([&](Connection& x) { return &x == connection; }) ? 0 : kAfcBadHandle;
    });
}

MG_EXPORT uint32_t AFCFileInfoOpen(void* connection, const char* path, void** info) {
    return OnConnection(__func__, connection, [&](Connection& c) -> uint32_t {
        struct stat st;
        if (::stat(HostPath(c, path).c_str(), &st) != 0)
            return kAfcNotFound;
        if (info) {
            // Not std::to_string: its table would be a unique symbol, which keeps the library
            // loaded after its release.
            char size[24];
            std::snprintf(size, sizeof size, "%lld", (long long)st.st_size + St.SizeDelta);
            *info = new mobiledevice::FileInfo{
                {{"st_size", size}, {"st_ifmt", S_ISDIR(st.st_mode) ? "S_IFDIR" : "S_IFREG"}}};
        }
        return 0;
    });
}

MG_EXPORT uint32_t AFCKeyValueRead(void* info, const char** key, const char** value) {
    return Entry(__func__, [&] { return mobiledevice::ReadKeyValue(info, key, value); });
}

MG_EXPORT uint32_t AFCKeyValueClose(void* info) {
    return Entry(__func__, [&] { return mobiledevice::CloseKeyValue(info); });
}

MG_EXPORT uint32_t AFCFileRefOpen(void* connection, const char* path, uint64_t mode, uint64_t* ref) {
    return OnConnection(__func__, connection, [&](Connection& c) -> uint32_t {
        const std::string host = HostPath(c, path);
        const bool read = mode == mobiledevice::OpenRead;
        if (host.empty() || !ref || (!read && mode != mobiledevice::OpenWriteNew))
            return kErrInvalidArgument;
        struct stat st;
        if (::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return kAfcPermission;
        const int fd = ::open(host.c_str(), (read ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC) | O_CLOEXEC, 0644);
        return fd < 0 ? (errno == ENOENT ? kAfcNotFound : kAfcPermission) : (c.Files[*ref = St.NextFile++] = fd, 0);
    });
}

MG_EXPORT uint32_t AFCFileRefRead(void* connection, uint64_t ref, void* buffer, uint32_t* count) {
    return OnFile(__func__, connection, ref, [&](int fd) -> uint32_t {
        if (!count || (!buffer && *count))
            return kAfcBadHandle;
        const ssize_t n = ::read(fd, buffer, St.MaxRead ? std::min(*count, St.MaxRead) : *count);
        return n < 0 ? kAfcIoError : (*count = uint32_t(n), 0);
    });
}

MG_EXPORT uint32_t AFCFileRefWrite(void* connection, uint64_t ref, const void* buffer, uint32_t count) {
    return OnFile(__func__, connection, ref, [&](int fd) {
        return !buffer && count ? kAfcBadHandle : ::write(fd, buffer, count) != ssize_t(count) ? kAfcIoError : 0;
    });
}

MG_EXPORT uint32_t AFCFileRefSeek(void* connection, uint64_t ref, int64_t offset, uint64_t origin) {
    return OnFile(__func__, connection, ref, [&](int fd) {
        // The device's origins are lseek's: set, current, end.
        return origin > 2 ? kAfcBadHandle : ::lseek(fd, off_t(offset), int(origin)) < 0 ? kErrInvalidArgument : 0;
    });
}

MG_EXPORT uint32_t AFCFileRefClose(void* connection, uint64_t ref) {
    return Entry(__func__, [&]() -> uint32_t {
        Connection* c = Find(St.Connections, connection);
        return !c || !c->Files.count(ref) ? kAfcBadHandle : (::close(c->Files[ref]), c->Files.erase(ref), 0);
    });
}

MG_EXPORT int MobileDeviceSimControl(const char* command, char*, uint32_t) {
    std::istringstream in(command ? command : "");
    std::string verb, word;
    uint32_t number = 1, after = 0;
    in >> verb;
    std::unique_lock<std::mutex> lock(St.Lock);
    if (verb == "wait") {
        St.Changed.wait_for(lock, kWaitLimit, [] { return St.Queue.empty() && !St.Delivering; });
    } else if (verb == "reset") {
        St.Current = nullptr, static_cast<Script&>(St) = Script();
    } else if (verb == "root") {
        std::getline(in >> std::ws, St.Root);
    } else if (verb == "arrive") {
        std::getline(in >> std::ws, word);
        St.Current = &St.Devices.emplace_back(Device{word.empty() ? St.Root : word});
        if (St.Subscriber.first)
            St.Notify(St.Current, 1);
    } else if (verb == "leave") {
        std::getline(in >> std::ws, word);
        // The latest present device served from that folder, or the latest arrival.
        const auto it = std::find_if(St.Devices.rbegin(), St.Devices.rend(), [&](Device& d) {
            return d.Present && (word.empty() ? &d == St.Current : d.Root == word);
        });
        if (it == St.Devices.rend())
            return -1;
        it->Present = false, St.Notify(&*it, 2);
        St.Current = &*it == St.Current ? nullptr : St.Current;
    } else if (verb == "message" && in >> number && St.Current) {
        St.Notify(St.Current, number);
    } else if (verb == "hold" && in >> word) {
        St.Hold = word, St.Released = St.Unsubscribed = false;
    } else if (verb == "release") {
        St.Released = true, St.Changed.notify_all();
    } else if (verb == "held") {
        return St.Changed.wait_for(lock, kWaitLimit, [] { return St.Held > 0; }) ? 0 : -1;
    } else if (verb == "pairing" && in >> word && (word == "none" || word == "valid" || word == "invalid")) {
        St.Pairing = word;
    } else if (verb == "afc2") {
        St.Afc2 = (in >> number, number != 0);
    } else if (verb == "fail" && in >> word >> number) {
        St.Failures[word] = {number, (in >> after, after)};
    } else if (verb == "maxread") {
        in >> St.MaxRead;
    } else if (verb == "sizedelta") {
        in >> St.SizeDelta;
    } else if (verb == "count") {
        return in >> word, int(St.Counts[word]);
    } else {
        return -1;
    }
    return 0;
}
