// The simulated "iTunesMobileDevice.dll". Built twice: the older generation (file version
// 238.8, inline service-name objects) and the newer one (constant strings of its
// CoreFoundation). Plain C++ without Qt, like the library it stands for.
#include "platform/mobiledevice/MobileDeviceApi.h"
#include "platform/mobiledevice/ServiceName.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#define MG_EXPORT extern "C" __attribute__((visibility("default")))

// The file version that platform::FileVersion reads (major << 48 | minor << 32).
#ifdef MG_SIM_OLD_GENERATION
constexpr bool kNewGeneration = false;
#else
constexpr bool kNewGeneration = true;
#endif
extern "C" __attribute__((used, section(".mg_file_version"))) const unsigned long long mg_file_version =
    (238ull << 48) | ((kNewGeneration ? 9ull : 8ull) << 32);

namespace {

// Results in the style of the real library: device errors with the top bit set, AFC errors small.
constexpr uint32_t kErrNoDevice = 0xE8000084, kErrInvalidArgument = 0xE8000022, kErrNotPaired = 0xE8000025,
                   kErrInvalidPairRecord = 0xE800001A, kErrServiceNotFound = 0xE8000022 + 1,
                   kErrNotConnected = 0xE8000010;
constexpr uint32_t kAfcBadHandle = 7, kAfcNotFound = 8, kAfcIoError = 10, kAfcPermission = 11;

struct Device {
    bool Present = true, Connected = false, Session = false;
};
struct Connection {
    Device* Owner;
    std::string Root;
    std::map<uint64_t, int> Files;
};

// What "reset" puts back.
struct Script {
    enum { PairNone, PairValid, PairInvalid } Pairing = PairValid;
    bool Afc2 = true;
    uint32_t MaxRead = 0;
    std::map<std::string, std::pair<uint32_t, unsigned>> Failures; // result, successful calls before it
    std::map<std::string, unsigned> Counts;
    std::deque<std::string> Calls;
};

struct State : Script {
    std::mutex Lock;
    std::condition_variable Changed;
    std::string Root;
    std::vector<std::unique_ptr<Device>> Devices; // kept until reset, so old references stay valid
    Device* Current = nullptr;
    uint32_t NextService = 1;
    std::map<uint32_t, std::pair<Device*, bool>> Services; // owner, full access
    std::map<Connection*, std::unique_ptr<Connection>> Connections;
    uint64_t NextFile = 1;
    // Notifications, delivered on the library's own thread.
    AMDeviceNotificationCallback Callback = nullptr;
    void* Cookie = nullptr;
    std::deque<AMDeviceNotificationInfo> Queue;
    bool Delivering = false, Stop = false;
    std::thread Thread;
};

State& S() {
    static State* state = new State; // outlives every caller; the thread is ended at unload
    return *state;
}

// Records a call and answers an injected failure. Called with the lock held.
bool Failing(const char* name, uint32_t& result, const char* path = nullptr) {
    State& s = S();
    ++s.Counts[name];
    if (s.Calls.size() < 100000) s.Calls.push_back(path ? std::string(name) + " " + path : std::string(name));
    auto it = s.Failures.find(name);
    if (it == s.Failures.end() || it->second.first == 0) return false;
    if (it->second.second > 0) return --it->second.second, false;
    result = it->second.first;
    return true;
}

// Every entry point: the lock, the record of the call, an injected failure, then `body`.
template <class F> uint32_t Entry(const char* name, const char* path, F body) {
    std::lock_guard<std::mutex> lock(S().Lock);
    uint32_t result;
    return Failing(name, result, path) ? result : body();
}

Device* FindDevice(void* device) {
    for (auto& d : S().Devices)
        if (d.get() == device) return d.get();
    return nullptr;
}

Connection* FindConnection(void* connection) {
    auto it = S().Connections.find(static_cast<Connection*>(connection));
    return it == S().Connections.end() ? nullptr : it->second.get();
}

// The host path of a device path, or "" when the path leaves the service's root.
std::string HostPath(const Connection& c, const char* path) {
    std::stringstream parts(path ? path : "");
    std::string part, out = c.Root;
    while (std::getline(parts, part, '/')) {
        if (part.empty() || part == ".") continue;
        if (part == "..") return std::string();
        out += "/" + part;
    }
    return out;
}

void Deliver() {
    State& s = S();
    std::unique_lock<std::mutex> lock(s.Lock);
    for (;;) {
        s.Changed.wait(lock, [&] { return s.Stop || !s.Queue.empty(); });
        if (s.Stop) return;
        const AMDeviceNotificationInfo info = s.Queue.front();
        s.Queue.pop_front();
        s.Delivering = true;
        const auto callback = s.Callback;
        void* cookie = s.Cookie;
        lock.unlock();
        if (callback) callback(&info, cookie);
        lock.lock();
        s.Delivering = false;
        s.Changed.notify_all();
    }
}

void Notify(uint32_t message) {
    if (!S().Current) return;
    S().Queue.push_back(AMDeviceNotificationInfo{S().Current, message});
    S().Changed.notify_all();
}

void StopThread() {
    State& s = S();
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(s.Lock);
        s.Stop = true;
        s.Changed.notify_all();
        thread = std::move(s.Thread);
    }
    if (thread.joinable()) thread.get_id() == std::this_thread::get_id() ? thread.detach() : thread.join();
    std::lock_guard<std::mutex> lock(s.Lock);
    s.Callback = nullptr, s.Stop = false;
    s.Queue.clear();
}

void CloseFiles(Connection& c) {
    for (auto& f : c.Files)
        ::close(f.second);
    c.Files.clear();
}

struct Unload {
    ~Unload() {
        StopThread();
        std::lock_guard<std::mutex> lock(S().Lock);
        for (auto& c : S().Connections)
            CloseFiles(*c.second);
    }
} gUnload;

uint32_t DeviceCall(const char* name, void* device, uint32_t (*body)(Device&)) {
    return Entry(name, nullptr, [&]() -> uint32_t {
        Device* d = FindDevice(device);
        return !d ? kErrInvalidArgument : !d->Present ? kErrNoDevice : body(*d);
    });
}

// A file call on a live connection of a present device; `body` gets the connection.
template <class F> uint32_t FileCall(const char* name, void* connection, const char* path, F body) {
    return Entry(name, path, [&]() -> uint32_t {
        Connection* c = FindConnection(connection);
        return !c ? kAfcBadHandle : !c->Owner->Present ? kAfcIoError : body(*c);
    });
}

// The open file `ref` of `c`, or -1.
int FileOf(Connection& c, uint64_t ref) {
    auto it = c.Files.find(ref);
    return it == c.Files.end() ? -1 : it->second;
}

} // namespace

MG_EXPORT uint32_t AMDeviceNotificationSubscribe(AMDeviceNotificationCallback callback, uint32_t, uint32_t,
                                                 void* cookie, void** notification) {
    return Entry("AMDeviceNotificationSubscribe", nullptr, [&]() -> uint32_t {
        State& s = S();
        if (!callback || s.Thread.joinable()) return kErrInvalidArgument;
        s.Callback = callback;
        s.Cookie = cookie;
        // A device already attached is reported as an arrival, as the real library does.
        if (s.Current && s.Current->Present) Notify(1);
        s.Thread = std::thread(Deliver);
        if (notification) *notification = &s;
        return 0;
    });
}

MG_EXPORT uint32_t AMDeviceNotificationUnsubscribe(void* notification) {
    if (notification != &S()) return kErrInvalidArgument;
    StopThread();
    return 0;
}

MG_EXPORT uint32_t AMDeviceConnect(void* device) {
    return DeviceCall("AMDeviceConnect", device, [](Device& d) { return d.Connected = true, 0u; });
}

MG_EXPORT uint32_t AMDeviceIsPaired(void* device) {
    return DeviceCall("AMDeviceIsPaired", device,
                      [](Device&) { return S().Pairing == State::PairNone ? 0u : 1u; });
}

MG_EXPORT uint32_t AMDeviceValidatePairing(void* device) {
    return DeviceCall("AMDeviceValidatePairing", device, [](Device& d) -> uint32_t {
        return !d.Connected ? kErrNotConnected : S().Pairing == State::PairValid ? 0 : kErrInvalidPairRecord;
    });
}

MG_EXPORT uint32_t AMDevicePair(void* device) {
    return DeviceCall("AMDevicePair", device, [](Device& d) -> uint32_t {
        return !d.Connected ? kErrNotConnected : (S().Pairing = State::PairValid, 0);
    });
}

MG_EXPORT uint32_t AMDeviceStartSession(void* device) {
    return DeviceCall("AMDeviceStartSession", device, [](Device& d) -> uint32_t {
        if (!d.Connected) return kErrNotConnected;
        return S().Pairing != State::PairValid ? kErrNotPaired : (d.Session = true, 0);
    });
}

MG_EXPORT uint32_t AMDeviceStopSession(void* device) {
    return DeviceCall("AMDeviceStopSession", device, [](Device& d) { return d.Session = false, 0u; });
}

MG_EXPORT uint32_t AMDeviceDisconnect(void* device) {
    return DeviceCall("AMDeviceDisconnect", device, [](Device& d) { return d.Connected = false, 0u; });
}

MG_EXPORT uint32_t AMDeviceStartService(void* device, const void* serviceName, uint32_t* handle, uint32_t*) {
    std::string name;
    if (!mobiledevice::ReadServiceName(serviceName, kNewGeneration, name)) name = "?";
    return Entry("AMDeviceStartService", name.c_str(), [&]() -> uint32_t {
        State& s = S();
        Device* d = FindDevice(device);
        if (!d || !handle || name == "?") return kErrInvalidArgument;
        if (!d->Present) return kErrNoDevice;
        if (!d->Session) return kErrNotConnected;
        const bool full = name == "com.apple.afc2";
        if (!(full && s.Afc2) && name != "com.apple.afc") return kErrServiceNotFound;
        s.Services[*handle = s.NextService++] = {d, full};
        return 0;
    });
}

MG_EXPORT uint32_t AFCConnectionOpen(uint32_t handle, uint32_t, void** connection) {
    return Entry("AFCConnectionOpen", nullptr, [&]() -> uint32_t {
        State& s = S();
        auto it = s.Services.find(handle);
        if (it == s.Services.end() || !connection) return kErrInvalidArgument;
        auto c = std::make_unique<Connection>(
            Connection{it->second.first, it->second.second ? s.Root : s.Root + "/var/mobile/Media", {}});
        s.Services.erase(it);
        *connection = c.get();
        s.Connections[c.get()] = std::move(c);
        return 0;
    });
}

MG_EXPORT uint32_t AFCConnectionClose(void* connection) {
    return Entry("AFCConnectionClose", nullptr, [&]() -> uint32_t {
        Connection* c = FindConnection(connection);
        return !c ? kAfcBadHandle : (CloseFiles(*c), S().Connections.erase(c), 0u);
    });
}

MG_EXPORT uint32_t AFCFileInfoOpen(void* connection, const char* path, void** info) {
    return FileCall("AFCFileInfoOpen", connection, path, [&](Connection& c) -> uint32_t {
        const std::string host = HostPath(c, path);
        struct stat st;
        static int infoObject;
        if (host.empty() || ::stat(host.c_str(), &st) != 0) return kAfcNotFound;
        return info ? (*info = &infoObject, 0u) : 0u;
    });
}

MG_EXPORT uint32_t AFCFileRefOpen(void* connection, const char* path, uint64_t mode, uint64_t* ref) {
    return FileCall("AFCFileRefOpen", connection, path, [&](Connection& c) -> uint32_t {
        const std::string host = HostPath(c, path);
        if (host.empty() || !ref || (mode != mobiledevice::OpenRead && mode != mobiledevice::OpenWriteNew))
            return kErrInvalidArgument;
        const int flags = mode == mobiledevice::OpenRead ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
        const int fd = ::open(host.c_str(), flags | O_CLOEXEC, 0644);
        if (fd < 0) return errno == ENOENT ? kAfcNotFound : kAfcPermission;
        struct stat st;
        if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return ::close(fd), kAfcPermission;
        c.Files[*ref = S().NextFile++] = fd;
        return 0;
    });
}

MG_EXPORT uint32_t AFCFileRefRead(void* connection, uint64_t ref, void* buffer, uint32_t* count) {
    return FileCall("AFCFileRefRead", connection, nullptr, [&](Connection& c) -> uint32_t {
        const int fd = FileOf(c, ref);
        if (fd < 0 || !count || (!buffer && *count)) return kAfcBadHandle;
        const uint32_t wanted = S().MaxRead && *count > S().MaxRead ? S().MaxRead : *count;
        uint32_t done = 0;
        while (done < wanted) {
            const ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, wanted - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return kAfcIoError;
            if (n == 0) break;
            done += uint32_t(n);
        }
        *count = done;
        return 0;
    });
}

MG_EXPORT uint32_t AFCFileRefWrite(void* connection, uint64_t ref, const void* buffer, uint32_t count) {
    return FileCall("AFCFileRefWrite", connection, nullptr, [&](Connection& c) -> uint32_t {
        const int fd = FileOf(c, ref);
        if (fd < 0 || (!buffer && count)) return kAfcBadHandle;
        for (uint32_t done = 0; done < count;) {
            const ssize_t n = ::write(fd, static_cast<const char*>(buffer) + done, count - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return kAfcIoError;
            done += uint32_t(n);
        }
        return 0;
    });
}

MG_EXPORT uint32_t AFCFileRefSeek(void* connection, uint64_t ref, int64_t offset, uint64_t origin) {
    return FileCall("AFCFileRefSeek", connection, nullptr, [&](Connection& c) -> uint32_t {
        const int fd = FileOf(c, ref);
        if (fd < 0 || origin > 2) return kAfcBadHandle;
        const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
        return ::lseek(fd, off_t(offset), whence) < 0 ? kErrInvalidArgument : 0;
    });
}

MG_EXPORT uint32_t AFCFileRefClose(void* connection, uint64_t ref) {
    return Entry("AFCFileRefClose", nullptr, [&]() -> uint32_t {
        Connection* c = FindConnection(connection);
        const int fd = c ? FileOf(*c, ref) : -1;
        return fd < 0 ? kAfcBadHandle : (::close(fd), c->Files.erase(ref), 0u);
    });
}

MG_EXPORT int MobileDeviceSimControl(const char* command, char* out, uint32_t outSize) {
    if (!command) return -1;
    std::istringstream in(command);
    std::string verb, word;
    in >> verb;
    State& s = S();
    if (verb == "wait") {
        std::unique_lock<std::mutex> lock(s.Lock);
        s.Changed.wait(lock, [&] { return s.Queue.empty() && !s.Delivering; });
        return 0;
    }
    std::lock_guard<std::mutex> lock(s.Lock);
    if (verb == "reset") {
        s.Current = nullptr;
        static_cast<Script&>(s) = Script();
    } else if (verb == "root") {
        std::getline(in >> std::ws, word);
        while (word.size() > 1 && word.back() == '/')
            word.pop_back();
        s.Root = word;
    } else if (verb == "arrive") {
        s.Devices.push_back(std::make_unique<Device>());
        s.Current = s.Devices.back().get();
        if (s.Callback) Notify(1);
    } else if (verb == "leave") {
        if (!s.Current) return -1;
        s.Current->Present = false;
        Notify(2);
        s.Current = nullptr;
    } else if (verb == "message") {
        uint32_t code = 0;
        if (!(in >> code) || !s.Current) return -1;
        Notify(code);
    } else if (verb == "pairing") {
        in >> word;
        if (word != "none" && word != "valid" && word != "invalid") return -1;
        s.Pairing = word == "none"    ? State::PairNone
                    : word == "valid" ? State::PairValid
                                      : State::PairInvalid;
    } else if (verb == "afc2") {
        int on = 1;
        s.Afc2 = (in >> on, on != 0);
    } else if (verb == "fail") {
        uint32_t result = 0;
        unsigned after = 0;
        if (!(in >> word >> result)) return -1;
        in >> after;
        s.Failures[word] = {result, after};
    } else if (verb == "maxread") {
        in >> s.MaxRead;
    } else if (verb == "count") {
        return in >> word, int(s.Counts[word]);
    } else if (verb == "calls") {
        std::string text;
        for (const std::string& call : s.Calls)
            text += call + "\n";
        if (out && outSize) {
            const size_t n = std::min<size_t>(text.size(), outSize - 1);
            std::memcpy(out, text.data(), n);
            out[n] = 0;
        }
        return int(s.Calls.size());
    } else {
        return -1;
    }
    return 0;
}
