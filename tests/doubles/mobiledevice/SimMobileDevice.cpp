// The simulated "iTunesMobileDevice.dll". Built twice: the older generation (file version
// 238.8, inline service-name objects) and the newer one (constant strings of its
// CoreFoundation). Plain C++ without Qt, like the library it stands for.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/mobiledevice/MobileDeviceApi.h"
#include "platform/mobiledevice/ServiceName.h"

#define MG_EXPORT extern "C" __attribute__((visibility("default")))

// The file version that platform::FileVersion reads (major << 48 | minor << 32).
#ifdef MG_SIM_OLD_GENERATION
constexpr bool kNewGeneration = false;
extern "C" __attribute__((used, section(".mg_file_version"))) const unsigned long long mg_file_version =
    (238ull << 48) | (8ull << 32);
#else
constexpr bool kNewGeneration = true;
extern "C" __attribute__((used, section(".mg_file_version"))) const unsigned long long mg_file_version =
    (238ull << 48) | (9ull << 32);
#endif

namespace {

// Results in the style of the real library: device errors with the top bit set, AFC errors small.
constexpr uint32_t kErrNoDevice = 0xE8000084;
constexpr uint32_t kErrInvalidArgument = 0xE8000022;
constexpr uint32_t kErrNotPaired = 0xE8000025;
constexpr uint32_t kErrInvalidPairRecord = 0xE800001A;
constexpr uint32_t kErrServiceNotFound = 0xE8000022 + 1;
constexpr uint32_t kErrNotConnected = 0xE8000010;
constexpr uint32_t kAfcBadHandle = 7;
constexpr uint32_t kAfcNotFound = 8;
constexpr uint32_t kAfcIoError = 10;
constexpr uint32_t kAfcPermission = 11;

struct Device {
    bool Present = true;
    bool Connected = false;
    bool Session = false;
};

struct Service {
    Device* Owner;
    bool Full;
};

struct Connection {
    Device* Owner;
    std::string Root;
    std::map<uint64_t, int> Files;
};

struct Failure {
    uint32_t Result = 0;
    unsigned After = 0;
};

struct State {
    std::mutex Lock;
    std::condition_variable Changed;
    std::string Root;
    std::vector<std::unique_ptr<Device>> Devices; // kept until reset, so old references stay valid
    Device* Current = nullptr;
    enum { PairNone, PairValid, PairInvalid } Pairing = PairValid;
    bool Afc2 = true;
    uint32_t MaxRead = 0;
    std::map<uint32_t, Service> Services;
    uint32_t NextService = 1;
    std::map<Connection*, std::unique_ptr<Connection>> Connections;
    uint64_t NextFile = 1;
    std::map<std::string, Failure> Failures;
    std::map<std::string, unsigned> Counts;
    std::deque<std::string> Calls;

    // Notifications.
    AMDeviceNotificationCallback Callback = nullptr;
    void* Cookie = nullptr;
    std::deque<AMDeviceNotificationInfo> Queue;
    bool Delivering = false;
    bool Stop = false;
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
    if (it == s.Failures.end() || it->second.Result == 0) return false;
    if (it->second.After > 0) {
        --it->second.After;
        return false;
    }
    result = it->second.Result;
    return true;
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
    std::string p = path ? path : "";
    std::stringstream parts(p);
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
        AMDeviceNotificationCallback callback = s.Callback;
        void* cookie = s.Cookie;
        lock.unlock();
        if (callback) callback(&info, cookie);
        lock.lock();
        s.Delivering = false;
        s.Changed.notify_all();
    }
}

void Notify(uint32_t message) {
    State& s = S();
    if (!s.Current) return;
    s.Queue.push_back(AMDeviceNotificationInfo{s.Current, message});
    s.Changed.notify_all();
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
    if (thread.joinable()) {
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
    std::lock_guard<std::mutex> lock(s.Lock);
    s.Callback = nullptr;
    s.Queue.clear();
    s.Stop = false;
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
    std::lock_guard<std::mutex> lock(S().Lock);
    uint32_t result;
    if (Failing(name, result)) return result;
    Device* d = FindDevice(device);
    if (!d) return kErrInvalidArgument;
    if (!d->Present) return kErrNoDevice;
    return body(*d);
}

} // namespace

MG_EXPORT uint32_t AMDeviceNotificationSubscribe(AMDeviceNotificationCallback callback, uint32_t, uint32_t,
                                                 void* cookie, void** notification) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.Lock);
    uint32_t result;
    if (Failing("AMDeviceNotificationSubscribe", result)) return result;
    if (!callback || s.Thread.joinable()) return kErrInvalidArgument;
    s.Callback = callback;
    s.Cookie = cookie;
    s.Stop = false;
    // A device already attached is reported as an arrival, as the real library does.
    if (s.Current && s.Current->Present) Notify(1);
    s.Thread = std::thread(Deliver);
    if (notification) *notification = &s;
    return 0;
}

MG_EXPORT uint32_t AMDeviceNotificationUnsubscribe(void* notification) {
    if (notification != &S()) return kErrInvalidArgument;
    StopThread();
    return 0;
}

MG_EXPORT uint32_t AMDeviceConnect(void* device) {
    return DeviceCall("AMDeviceConnect", device, [](Device& d) {
        d.Connected = true;
        return 0u;
    });
}

MG_EXPORT uint32_t AMDeviceIsPaired(void* device) {
    return DeviceCall("AMDeviceIsPaired", device,
                      [](Device&) { return S().Pairing == State::PairNone ? 0u : 1u; });
}

MG_EXPORT uint32_t AMDeviceValidatePairing(void* device) {
    return DeviceCall("AMDeviceValidatePairing", device, [](Device& d) -> uint32_t {
        if (!d.Connected) return kErrNotConnected;
        return S().Pairing == State::PairValid ? 0 : kErrInvalidPairRecord;
    });
}

MG_EXPORT uint32_t AMDevicePair(void* device) {
    return DeviceCall("AMDevicePair", device, [](Device& d) -> uint32_t {
        if (!d.Connected) return kErrNotConnected;
        S().Pairing = State::PairValid;
        return 0;
    });
}

MG_EXPORT uint32_t AMDeviceStartSession(void* device) {
    return DeviceCall("AMDeviceStartSession", device, [](Device& d) -> uint32_t {
        if (!d.Connected) return kErrNotConnected;
        if (S().Pairing != State::PairValid) return kErrNotPaired;
        d.Session = true;
        return 0;
    });
}

MG_EXPORT uint32_t AMDeviceStopSession(void* device) {
    return DeviceCall("AMDeviceStopSession", device, [](Device& d) {
        d.Session = false;
        return 0u;
    });
}

MG_EXPORT uint32_t AMDeviceDisconnect(void* device) {
    return DeviceCall("AMDeviceDisconnect", device, [](Device& d) {
        d.Connected = false;
        return 0u;
    });
}

MG_EXPORT uint32_t AMDeviceStartService(void* device, const void* serviceName, uint32_t* handle, uint32_t*) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.Lock);
    std::string name;
    if (!mobiledevice::ReadServiceName(serviceName, kNewGeneration, name)) name = "?";
    uint32_t result;
    if (Failing("AMDeviceStartService", result, name.c_str())) return result;
    Device* d = FindDevice(device);
    if (!d || !handle || name == "?") return kErrInvalidArgument;
    if (!d->Present) return kErrNoDevice;
    if (!d->Session) return kErrNotConnected;
    const bool full = name == "com.apple.afc2";
    if (!(full && s.Afc2) && name != "com.apple.afc") return kErrServiceNotFound;
    *handle = s.NextService++;
    s.Services[*handle] = Service{d, full};
    return 0;
}

MG_EXPORT uint32_t AFCConnectionOpen(uint32_t handle, uint32_t, void** connection) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.Lock);
    uint32_t result;
    if (Failing("AFCConnectionOpen", result)) return result;
    auto it = s.Services.find(handle);
    if (it == s.Services.end() || !connection) return kErrInvalidArgument;
    auto c = std::make_unique<Connection>();
    c->Owner = it->second.Owner;
    c->Root = it->second.Full ? s.Root : s.Root + "/var/mobile/Media";
    s.Services.erase(it);
    Connection* raw = c.get();
    s.Connections[raw] = std::move(c);
    *connection = raw;
    return 0;
}

MG_EXPORT uint32_t AFCConnectionClose(void* connection) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.Lock);
    uint32_t result;
    if (Failing("AFCConnectionClose", result)) return result;
    Connection* c = FindConnection(connection);
    if (!c) return kAfcBadHandle;
    CloseFiles(*c);
    s.Connections.erase(c);
    return 0;
}

namespace {
// Looks up a live connection for a file call; answers an AFC error otherwise.
uint32_t Usable(void* connection, Connection*& c) {
    c = FindConnection(connection);
    if (!c) return kAfcBadHandle;
    if (!c->Owner->Present) return kAfcIoError;
    return 0;
}
} // namespace

MG_EXPORT uint32_t AFCFileInfoOpen(void* connection, const char* path, void** info) {
    std::lock_guard<std::mutex> lock(S().Lock);
    uint32_t result;
    if (Failing("AFCFileInfoOpen", result, path)) return result;
    Connection* c;
    if ((result = Usable(connection, c)) != 0) return result;
    const std::string host = HostPath(*c, path);
    struct stat st;
    if (host.empty() || ::stat(host.c_str(), &st) != 0) return kAfcNotFound;
    static int infoObject;
    if (info) *info = &infoObject;
    return 0;
}

MG_EXPORT uint32_t AFCFileRefOpen(void* connection, const char* path, uint64_t mode, uint64_t* ref) {
    std::lock_guard<std::mutex> lock(S().Lock);
    uint32_t result;
    if (Failing("AFCFileRefOpen", result, path)) return result;
    Connection* c;
    if ((result = Usable(connection, c)) != 0) return result;
    const std::string host = HostPath(*c, path);
    if (host.empty() || !ref || (mode != mobiledevice::OpenRead && mode != mobiledevice::OpenWriteNew))
        return kErrInvalidArgument;
    const int flags = mode == mobiledevice::OpenRead ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
    const int fd = ::open(host.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) return errno == ENOENT ? kAfcNotFound : kAfcPermission;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return kAfcPermission;
    }
    *ref = S().NextFile++;
    c->Files[*ref] = fd;
    return 0;
}

MG_EXPORT uint32_t AFCFileRefRead(void* connection, uint64_t ref, void* buffer, uint32_t* count) {
    std::lock_guard<std::mutex> lock(S().Lock);
    uint32_t result;
    if (Failing("AFCFileRefRead", result)) return result;
    Connection* c;
    if ((result = Usable(connection, c)) != 0) return result;
    auto it = c->Files.find(ref);
    if (it == c->Files.end() || !count || (!buffer && *count)) return kAfcBadHandle;
    uint32_t wanted = *count;
    if (S().MaxRead && wanted > S().MaxRead) wanted = S().MaxRead;
    uint32_t done = 0;
    while (done < wanted) {
        const ssize_t n = ::read(it->second, static_cast<char*>(buffer) + done, wanted - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return kAfcIoError;
        if (n == 0) break;
        done += uint32_t(n);
    }
    *count = done;
    return 0;
}

MG_EXPORT uint32_t AFCFileRefWrite(void* connection, uint64_t ref, const void* buffer, uint32_t count) {
    std::lock_guard<std::mutex> lock(S().Lock);
    uint32_t result;
    if (Failing("AFCFileRefWrite", result)) return result;
    Connection* c;
    if ((result = Usable(connection, c)) != 0) return result;
    auto it = c->Files.find(ref);
    if (it == c->Files.end() || (!buffer && count)) return kAfcBadHandle;
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(it->second, static_cast<const char*>(buffer) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return kAfcIoError;
        done += uint32_t(n);
    }
    return 0;
}

MG_EXPORT uint32_t AFCFileRefSeek(void* connection, uint64_t ref, int64_t offset, uint64_t origin) {
    std::lock_guard<std::mutex> lock(S().Lock);
    uint32_t result;
    if (Failing("AFCFileRefSeek", result)) return result;
    Connection* c;
    if ((result = Usable(connection, c)) != 0) return result;
    auto it = c->Files.find(ref);
    if (it == c->Files.end() || origin > 2) return kAfcBadHandle;
    const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
    return ::lseek(it->second, off_t(offset), whence) < 0 ? kErrInvalidArgument : 0;
}

MG_EXPORT uint32_t AFCFileRefClose(void* connection, uint64_t ref) {
    std::lock_guard<std::mutex> lock(S().Lock);
    uint32_t result;
    if (Failing("AFCFileRefClose", result)) return result;
    Connection* c = FindConnection(connection);
    if (!c) return kAfcBadHandle;
    auto it = c->Files.find(ref);
    if (it == c->Files.end()) return kAfcBadHandle;
    ::close(it->second);
    c->Files.erase(it);
    return 0;
}

MG_EXPORT int MobileDeviceSimControl(const char* command, char* out, uint32_t outSize) {
    if (!command) return -1;
    std::istringstream in(command);
    std::string verb;
    in >> verb;
    State& s = S();
    auto answer = [&](const std::string& text) {
        if (out && outSize) {
            const size_t n = std::min<size_t>(text.size(), outSize - 1);
            std::memcpy(out, text.data(), n);
            out[n] = 0;
        }
    };
    if (verb == "wait") {
        std::unique_lock<std::mutex> lock(s.Lock);
        s.Changed.wait(lock, [&] { return s.Queue.empty() && !s.Delivering; });
        return 0;
    }
    std::lock_guard<std::mutex> lock(s.Lock);
    if (verb == "reset") {
        s.Current = nullptr;
        s.Pairing = State::PairValid;
        s.Afc2 = true;
        s.MaxRead = 0;
        s.Failures.clear();
        s.Counts.clear();
        s.Calls.clear();
        return 0;
    }
    if (verb == "root") {
        std::string rest;
        std::getline(in >> std::ws, rest);
        while (rest.size() > 1 && rest.back() == '/')
            rest.pop_back();
        s.Root = rest;
        return 0;
    }
    if (verb == "arrive") {
        s.Devices.push_back(std::make_unique<Device>());
        s.Current = s.Devices.back().get();
        if (s.Callback) Notify(1);
        return 0;
    }
    if (verb == "leave") {
        if (!s.Current) return -1;
        s.Current->Present = false;
        Notify(2);
        s.Current = nullptr;
        return 0;
    }
    if (verb == "message") {
        uint32_t code = 0;
        if (!(in >> code) || !s.Current) return -1;
        Notify(code);
        return 0;
    }
    if (verb == "pairing") {
        std::string how;
        in >> how;
        if (how == "none")
            s.Pairing = State::PairNone;
        else if (how == "valid")
            s.Pairing = State::PairValid;
        else if (how == "invalid")
            s.Pairing = State::PairInvalid;
        else
            return -1;
        return 0;
    }
    if (verb == "afc2") {
        int on = 1;
        in >> on;
        s.Afc2 = on != 0;
        return 0;
    }
    if (verb == "fail") {
        std::string name;
        uint32_t result = 0;
        unsigned after = 0;
        if (!(in >> name >> result)) return -1;
        in >> after;
        s.Failures[name] = Failure{result, after};
        return 0;
    }
    if (verb == "maxread") {
        in >> s.MaxRead;
        return 0;
    }
    if (verb == "count") {
        std::string name;
        in >> name;
        return int(s.Counts[name]);
    }
    if (verb == "calls") {
        std::string text;
        for (const std::string& call : s.Calls)
            text += call + "\n";
        answer(text);
        return int(s.Calls.size());
    }
    return -1;
}
