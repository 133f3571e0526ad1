// "iTunesMobileDevice.dll" for real devices, over libimobiledevice and usbmuxd. Newer
// generation: service names come as constant strings of our CoreFoundation.
//
// Locking: one short registry lock guards the tables below and is never held across a call
// into libimobiledevice. Each device has its own lock for its lockdown client and each file
// service connection its own for its AFC client, so a stalled read on one connection holds up
// neither device events nor other devices. The references handed out are numbers, not
// addresses: a device or connection that is gone is simply no longer in its table, and a later
// call with its reference answers "no device". So does every call on a file connection after
// one lost its way (the device stopped answering, or the answer came too late to match): the
// link takes that as a lost connection, not as a missing file.
#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <plist/plist.h>
#include <pthread.h>
#include <usbmuxd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/mobiledevice/FileInfo.h"
#include "platform/mobiledevice/MobileDeviceApi.h"
#include "platform/mobiledevice/ServiceName.h"

#define MG_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr uint32_t kErrInvalidArgument = 0xE8000022;
constexpr uint32_t kErrNoDevice = mobiledevice::ErrNoDevice;
constexpr uint32_t kAfcBadHandle = 7;

const char kLabel[] = "Marrowgate";
const char kLockdownType[] = "com.apple.mobile.lockdown";

// libimobiledevice writes to its sockets without MSG_NOSIGNAL: a device pulled in the middle
// of a TLS session would otherwise end the whole process. A handler the program set stays.
__attribute__((constructor)) void IgnoreBrokenPipes() {
    struct sigaction old {};
    if (sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL)
        std::signal(SIGPIPE, SIG_IGN);
}

uint32_t Result(int code) {
    return uint32_t(code); // negative library errors become large unsigned numbers
}

// The usbmuxd handle of a device, shared by the device and its file service connections.
struct Handle {
    idevice_t Device = nullptr;
    ~Handle() {
        if (Device)
            idevice_free(Device);
    }
};

struct Device {
    std::string Udid;
    // Set from the event thread, which never waits for a device's lock.
    std::atomic<bool> Present{true};
    std::atomic<bool> PairingFailed{false}; // the last connect ended at the pairing step
    std::mutex Lock;                        // guards everything below
    uint32_t RecordFailure = 0;             // why this connect could not read the stored record
    bool VersionKnown = false;              // the handle carries the product version (see Handshake)
    std::shared_ptr<Handle> Mux;
    lockdownd_client_t Lockdown = nullptr;
    std::string SessionId;

    void DropLockdown() {
        if (!Lockdown)
            return;
        if (!SessionId.empty())
            lockdownd_stop_session(Lockdown, SessionId.c_str());
        lockdownd_client_free(Lockdown);
        Lockdown = nullptr;
        SessionId.clear();
    }
    ~Device() { DropLockdown(); }
};

struct Connection {
    std::mutex Lock;
    bool Dead = false; // guarded by Lock
    uintptr_t DeviceRef = 0;
    std::shared_ptr<Handle> Mux; // the AFC client's socket came from it
    afc_client_t Client = nullptr;
    ~Connection() {
        if (Client)
            afc_client_free(Client);
    }
};

struct Service {
    uintptr_t DeviceRef = 0;
    std::shared_ptr<Handle> Mux;
    lockdownd_service_descriptor_t Descriptor = nullptr;
};

// Device references end in 1, connection references in 2; each kind counts up from 1, so a
// reference below the next one to hand out was handed out once.
constexpr uintptr_t kDeviceTag = 1, kConnectionTag = 2;

std::mutex gLock;
std::map<uintptr_t, std::shared_ptr<Device>> gDevices;
std::map<uintptr_t, std::shared_ptr<Connection>> gConnections;
std::map<uint32_t, Service> gServices;
uintptr_t gNextDevice = 1, gNextConnection = 1;
uint32_t gNextService = 1;
AMDeviceNotificationCallback gCallback = nullptr;
void* gCookie = nullptr;
bool gSubscribed = false;

void* ToPointer(uintptr_t ref) {
    return reinterpret_cast<void*>(ref);
}

bool WasHandedOut(void* pointer, uintptr_t tag, uintptr_t next) {
    const auto ref = reinterpret_cast<uintptr_t>(pointer);
    return (ref & 0xF) == tag && (ref >> 4) >= 1 && (ref >> 4) < next;
}

void FreeService(Service& s) {
    if (s.Descriptor)
        lockdownd_service_descriptor_free(s.Descriptor);
    s.Descriptor = nullptr;
}

// Takes a removed device and everything opened through it out of the tables (under gLock).
// What the caller gets back is released after the lock, once no call still uses it.
struct Released {
    std::vector<std::shared_ptr<Device>> Devices;
    std::vector<std::shared_ptr<Connection>> Connections;
};

void Retire(uintptr_t ref, Released& out) {
    auto it = gDevices.find(ref);
    if (it == gDevices.end())
        return;
    out.Devices.push_back(it->second);
    gDevices.erase(it);
    for (auto c = gConnections.begin(); c != gConnections.end();) {
        if (c->second->DeviceRef == ref) {
            out.Connections.push_back(c->second);
            c = gConnections.erase(c);
        } else {
            ++c;
        }
    }
    for (auto s = gServices.begin(); s != gServices.end();) {
        if (s->second.DeviceRef == ref) {
            FreeService(s->second);
            s = gServices.erase(s);
        } else {
            ++s;
        }
    }
}

uintptr_t FindPresent(const char* udid) {
    for (auto& [ref, d] : gDevices)
        if (d->Udid == udid)
            return ref;
    return 0;
}

// Runs on libimobiledevice's event thread.
void OnEvent(const idevice_event_t* event, void*) {
    if (!event || !event->udid || event->conn_type != CONNECTION_USBMUXD)
        return;
    AMDeviceNotificationInfo info{nullptr, 0};
    AMDeviceNotificationCallback callback;
    void* cookie;
    Released released;
    std::shared_ptr<Device> paired;
    {
        std::lock_guard<std::mutex> lock(gLock);
        if (event->event == IDEVICE_DEVICE_ADD) {
            if (FindPresent(event->udid))
                return;
            const uintptr_t ref = (gNextDevice++ << 4) | kDeviceTag;
            auto d = std::make_shared<Device>();
            d->Udid = event->udid;
            gDevices[ref] = d;
            info = {ToPointer(ref), 1};
        } else if (event->event == IDEVICE_DEVICE_REMOVE) {
            if (const uintptr_t ref = FindPresent(event->udid)) {
                Retire(ref, released);
                info = {ToPointer(ref), 2};
            }
        } else if (event->event == IDEVICE_DEVICE_PAIRED) {
            if (const uintptr_t ref = FindPresent(event->udid)) {
                paired = gDevices[ref];
                info = {ToPointer(ref), 1};
            }
        }
        callback = gCallback;
        cookie = gCookie;
    }
    for (auto& d : released.Devices)
        d->Present = false; // calls already past the table see it once they hold the device
    released = {};          // the last user of each releases it
    // The user answered "Trust" after a connect failed for want of it: that connect is retried
    // as an arrival, once. A paired event of a working device changes nothing.
    if (paired && !paired->PairingFailed.exchange(false))
        return;
    if (!info.Device || !callback)
        return;
    // The unsubscribe cancels this thread; a cancel inside the link's connect sequence would
    // unwind through its locks. Deferred, it ends the thread after the callback instead.
    int cancelState = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState);
    callback(&info, cookie);
    pthread_setcancelstate(cancelState, nullptr);
}

std::shared_ptr<Device> LookUp(void* device, uint32_t& error) {
    std::lock_guard<std::mutex> lock(gLock);
    auto it = gDevices.find(reinterpret_cast<uintptr_t>(device));
    if (it != gDevices.end())
        return it->second;
    error = WasHandedOut(device, kDeviceTag, gNextDevice) ? kErrNoDevice : kErrInvalidArgument;
    return nullptr;
}

template <typename Body>
uint32_t WithDevice(void* device, Body body) {
    uint32_t error = 0;
    const std::shared_ptr<Device> d = LookUp(device, error);
    if (!d)
        return error;
    std::lock_guard<std::mutex> lock(d->Lock);
    if (!d->Present)
        return kErrNoDevice;
    return body(*d);
}

template <typename Body>
uint32_t WithConnection(void* connection, Body body) {
    std::shared_ptr<Connection> c;
    {
        std::lock_guard<std::mutex> lock(gLock);
        auto it = gConnections.find(reinterpret_cast<uintptr_t>(connection));
        if (it == gConnections.end())
            return WasHandedOut(connection, kConnectionTag, gNextConnection) ? kErrNoDevice : kAfcBadHandle;
        c = it->second;
    }
    std::lock_guard<std::mutex> lock(c->Lock);
    if (c->Dead)
        return kErrNoDevice;
    const uint32_t r = body(*c);
    // The transport failed: what the device sends next, if anything, belongs to no request.
    if (r == Result(AFC_E_MUX_ERROR) || r == Result(AFC_E_NOT_ENOUGH_DATA) || r == Result(AFC_E_OP_HEADER_INVALID)) {
        c->Dead = true;
        return kErrNoDevice;
    }
    return r;
}

// The pair record that usbmuxd keeps for a device: 0 with the record (the caller frees it),
// ErrMissingPairRecord, or the failure. Only usbmuxd's answer that there is none counts as
// none: a request it dropped or left unanswered (a daemon restarting) is a failure, and pairing
// anew on it would replace a record that the device still trusts.
uint32_t ReadPairRecord(const std::string& udid, plist_t& pair) {
    pair = nullptr;
    char* record = nullptr;
    uint32_t size = 0;
    const int r = usbmuxd_read_pair_record(udid.c_str(), &record, &size);
    if (r == -ENOENT)
        return mobiledevice::ErrMissingPairRecord;
    if (r == 0 && record)
        plist_from_memory(record, size, &pair);
    std::free(record);
    return pair ? 0 : r < 0 ? Result(r) : Result(LOCKDOWN_E_INVALID_CONF);
}

// A text of the record (string or data), "" when it has none.
std::string RecordText(plist_t pair, const char* key) {
    const plist_t node = plist_dict_get_item(pair, key);
    const plist_type type = node ? plist_get_node_type(node) : PLIST_NONE;
    uint64_t length = 0;
    const char* text = type == PLIST_STRING ? plist_get_string_ptr(node, &length)
                       : type == PLIST_DATA ? plist_get_data_ptr(node, &length)
                                            : nullptr;
    return text ? std::string(text, length) : std::string();
}

uint32_t ReadHostId(const std::string& udid, std::string& hostId) {
    plist_t pair = nullptr;
    const uint32_t r = ReadPairRecord(udid, pair);
    if (r != 0)
        return r;
    hostId = RecordText(pair, "HostID");
    plist_free(pair);
    return hostId.empty() ? Result(LOCKDOWN_E_INVALID_CONF) : 0;
}

// ValidatePair with the stored record as read here, so that the library does not read it again
// and take a failed read for a host the device does not know.
lockdownd_error_t ValidateStoredPairing(lockdownd_client_t client, plist_t pair) {
    std::string texts[5] = {RecordText(pair, "DeviceCertificate"), RecordText(pair, "HostCertificate"),
                            RecordText(pair, "RootCertificate"), RecordText(pair, "HostID"),
                            RecordText(pair, "SystemBUID")};
    struct lockdownd_pair_record record = {texts[0].data(), texts[1].data(), texts[2].data(), texts[3].data(),
                                           texts[4].data()};
    return lockdownd_validate_pair(client, &record);
}

// The major number of the device's ProductVersion, 0 when it cannot be read. Needs no session.
int MajorVersion(lockdownd_client_t client) {
    plist_t node = nullptr;
    if (lockdownd_get_value(client, nullptr, "ProductVersion", &node) != LOCKDOWN_E_SUCCESS || !node)
        return 0;
    char* text = nullptr;
    if (plist_get_node_type(node) == PLIST_STRING)
        plist_get_string_val(node, &text);
    plist_free(node);
    const int major = text ? std::atoi(text) : 0;
    std::free(text);
    return major;
}

MG_EXPORT uint32_t AMDeviceNotificationSubscribe(AMDeviceNotificationCallback callback, uint32_t, uint32_t,
                                                 void* cookie, void** notification) {
    {
        std::lock_guard<std::mutex> lock(gLock);
        if (!callback || gSubscribed)
            return kErrInvalidArgument;
        gCallback = callback;
        gCookie = cookie;
    }
    const idevice_error_t r = idevice_event_subscribe(OnEvent, nullptr);
    std::lock_guard<std::mutex> lock(gLock);
    if (r != IDEVICE_E_SUCCESS) {
        gCallback = nullptr;
        return Result(r);
    }
    gSubscribed = true;
    if (notification)
        *notification = &gSubscribed;
    return 0;
}

MG_EXPORT uint32_t AMDeviceNotificationUnsubscribe(void* notification) {
    if (notification != &gSubscribed)
        return kErrInvalidArgument;
    {
        // Ending the subscription reports every known device as removed; none of that may
        // reach the link once it asked to stop.
        std::lock_guard<std::mutex> lock(gLock);
        gCallback = nullptr;
    }
    // Waits for the event thread, so no callback runs once this returns.
    idevice_event_unsubscribe();
    Released released;
    std::lock_guard<std::mutex> lock(gLock);
    gSubscribed = false;
    while (!gDevices.empty())
        Retire(gDevices.begin()->first, released);
    return 0;
}

MG_EXPORT uint32_t AMDeviceConnect(void* device) {
    return WithDevice(device, [](Device& d) -> uint32_t {
        d.PairingFailed = false;
        d.RecordFailure = 0;
        if (!d.Mux) {
            auto mux = std::make_shared<Handle>();
            const idevice_error_t r = idevice_new_with_options(&mux->Device, d.Udid.c_str(), IDEVICE_LOOKUP_USBMUX);
            if (r != IDEVICE_E_SUCCESS)
                return Result(r);
            d.Mux = std::move(mux);
        }
        d.DropLockdown();
        lockdownd_error_t r = lockdownd_client_new(d.Mux->Device, &d.Lockdown, kLabel);
        if (r != LOCKDOWN_E_SUCCESS) {
            d.Lockdown = nullptr;
            return Result(r);
        }
        // A device in recovery or restore mode answers with another service type.
        char* type = nullptr;
        r = lockdownd_query_type(d.Lockdown, &type);
        const bool normal = r == LOCKDOWN_E_SUCCESS && type && std::strcmp(type, kLockdownType) == 0;
        std::free(type);
        if (normal)
            return 0;
        d.DropLockdown();
        return Result(r != LOCKDOWN_E_SUCCESS ? r : LOCKDOWN_E_INVALID_SERVICE);
    });
}

// A record that could not be read is not taken for none: the device counts as paired, and the
// validation that follows reports the failure.
MG_EXPORT uint32_t AMDeviceIsPaired(void* device) {
    const uint32_t r = WithDevice(device, [](Device& d) -> uint32_t {
        std::string hostId;
        const uint32_t read = ReadHostId(d.Udid, hostId);
        d.RecordFailure = read == mobiledevice::ErrMissingPairRecord ? 0 : read;
        return read == mobiledevice::ErrMissingPairRecord ? 0 : 1;
    });
    return r == 1 ? 1 : 0; // an unknown or removed device is not paired
}

// The library's own handshake on a throwaway client: it reads the product version into the
// device handle, finds the stored record and starts a session with it; freeing the client stops
// that session. Only the handshake records the version, and without it every session of the
// handle offers nothing but TLS 1.0, which current devices refuse. Before iOS 7 it would send
// ValidatePair and pair anew on a refusal, so it is used from iOS 7 on, and only with a stored
// record (without one it would pair).
lockdownd_error_t Handshake(Device& d) {
    lockdownd_client_t probe = nullptr;
    const lockdownd_error_t r = lockdownd_client_new_with_handshake(d.Mux->Device, &probe, kLabel);
    if (probe)
        lockdownd_client_free(probe);
    d.VersionKnown = d.VersionKnown || r == LOCKDOWN_E_SUCCESS;
    return r;
}

} // namespace

// ValidatePair exists only before iOS 7 (later versions refuse it); from iOS 7 on the stored
// record is proven by the handshake's session, as the library itself does it. Only a device
// that does not know the host, or no stored record, answers "not paired"; any other failure
// (a record that could not be read, a dropped connection, a locked device) is its own result.
MG_EXPORT uint32_t AMDeviceValidatePairing(void* device) {
    return WithDevice(device, [](Device& d) -> uint32_t {
        if (!d.Lockdown)
            return kErrInvalidArgument;
        if (const uint32_t failed = std::exchange(d.RecordFailure, 0))
            return failed;
        plist_t pair = nullptr;
        if (const uint32_t read = ReadPairRecord(d.Udid, pair))
            return read;
        const int major = MajorVersion(d.Lockdown);
        const lockdownd_error_t r = major > 0 && major < 7 ? ValidateStoredPairing(d.Lockdown, pair) : Handshake(d);
        plist_free(pair);
        return r == LOCKDOWN_E_INVALID_HOST_ID ? mobiledevice::ErrInvalidHostId : Result(r);
    });
}

MG_EXPORT uint32_t AMDevicePair(void* device) {
    return WithDevice(device, [](Device& d) -> uint32_t {
        if (!d.Lockdown)
            return kErrInvalidArgument;
        const lockdownd_error_t r = lockdownd_pair(d.Lockdown, nullptr);
        d.PairingFailed = r != LOCKDOWN_E_SUCCESS;
        return Result(r);
    });
}

MG_EXPORT uint32_t AMDeviceStartSession(void* device) {
    return WithDevice(device, [](Device& d) -> uint32_t {
        if (!d.Lockdown)
            return kErrInvalidArgument;
        std::string hostId;
        if (const uint32_t read = ReadHostId(d.Udid, hostId))
            return read;
        if (!d.VersionKnown && MajorVersion(d.Lockdown) >= 7)
            Handshake(d); // its result: see below
        char* session = nullptr;
        const lockdownd_error_t r = lockdownd_start_session(d.Lockdown, hostId.c_str(), &session, nullptr);
        if (session) {
            d.SessionId = session;
            std::free(session);
        }
        return Result(r);
    });
}

MG_EXPORT uint32_t AMDeviceStopSession(void* device) {
    return WithDevice(device, [](Device& d) -> uint32_t {
        if (!d.Lockdown || d.SessionId.empty())
            return 0;
        const lockdownd_error_t r = lockdownd_stop_session(d.Lockdown, d.SessionId.c_str());
        d.SessionId.clear();
        return Result(r);
    });
}

MG_EXPORT uint32_t AMDeviceDisconnect(void* device) {
    return WithDevice(device, [](Device& d) -> uint32_t {
        d.DropLockdown();
        return 0;
    });
}

MG_EXPORT uint32_t AMDeviceStartService(void* device, const void* serviceName, uint32_t* handle, uint32_t*) {
    std::string name;
    if (!mobiledevice::ReadServiceName(serviceName, true, name) || !handle)
        return kErrInvalidArgument;
    const auto ref = reinterpret_cast<uintptr_t>(device);
    return WithDevice(device, [&](Device& d) -> uint32_t {
        if (!d.Lockdown)
            return kErrInvalidArgument;
        lockdownd_service_descriptor_t service = nullptr;
        const lockdownd_error_t r = lockdownd_start_service(d.Lockdown, name.c_str(), &service);
        if (r != LOCKDOWN_E_SUCCESS)
            return Result(r);
        std::lock_guard<std::mutex> lock(gLock);
        *handle = gNextService++;
        gServices[*handle] = Service{ref, d.Mux, service};
        return 0;
    });
}

MG_EXPORT uint32_t AFCConnectionOpen(uint32_t handle, uint32_t, void** connection) {
    Service service;
    {
        std::lock_guard<std::mutex> lock(gLock);
        auto it = gServices.find(handle);
        if (it == gServices.end() || !connection)
            return kErrInvalidArgument;
        service = it->second;
        gServices.erase(it);
    }
    auto c = std::make_shared<Connection>();
    const afc_error_t r = afc_client_new(service.Mux->Device, service.Descriptor, &c->Client);
    FreeService(service);
    if (r != AFC_E_SUCCESS) {
        c->Client = nullptr;
        return Result(r);
    }
    c->DeviceRef = service.DeviceRef;
    c->Mux = service.Mux;
    {
        std::lock_guard<std::mutex> lock(gLock);
        if (gDevices.count(service.DeviceRef)) {
            const uintptr_t ref = (gNextConnection++ << 4) | kConnectionTag;
            gConnections[ref] = std::move(c);
            *connection = ToPointer(ref);
            return 0;
        }
    }
    return kErrNoDevice; // removed meanwhile
}

MG_EXPORT uint32_t AFCConnectionClose(void* connection) {
    std::shared_ptr<Connection> c;
    {
        std::lock_guard<std::mutex> lock(gLock);
        auto it = gConnections.find(reinterpret_cast<uintptr_t>(connection));
        if (it == gConnections.end())
            return WasHandedOut(connection, kConnectionTag, gNextConnection) ? kErrNoDevice : kAfcBadHandle;
        c = it->second;
        gConnections.erase(it);
    }
    return 0; // freed by its last user
}

// The device's answer ("st_size", "st_ifmt", ...) is handed on as it came.
MG_EXPORT uint32_t AFCFileInfoOpen(void* connection, const char* path, void** info) {
    if (!path)
        return kAfcBadHandle;
    return WithConnection(connection, [&](Connection& c) -> uint32_t {
        char** list = nullptr;
        const afc_error_t r = afc_get_file_info(c.Client, path, &list);
        if (r == AFC_E_SUCCESS && info) {
            auto* out = new mobiledevice::FileInfo;
            for (char** p = list; p && p[0] && p[1]; p += 2)
                out->Pairs.emplace_back(p[0], p[1]);
            *info = out;
        }
        if (list)
            afc_dictionary_free(list);
        return Result(r);
    });
}

MG_EXPORT uint32_t AFCKeyValueRead(void* info, const char** key, const char** value) {
    return mobiledevice::ReadKeyValue(info, key, value);
}

MG_EXPORT uint32_t AFCKeyValueClose(void* info) {
    return mobiledevice::CloseKeyValue(info);
}

MG_EXPORT uint32_t AFCFileRefOpen(void* connection, const char* path, uint64_t mode, uint64_t* ref) {
    if (!path || !ref)
        return kAfcBadHandle;
    afc_file_mode_t afcMode;
    if (mode == mobiledevice::OpenRead)
        afcMode = AFC_FOPEN_RDONLY;
    else if (mode == mobiledevice::OpenWriteNew)
        afcMode = AFC_FOPEN_WRONLY;
    else
        return kErrInvalidArgument;
    return WithConnection(
        connection, [&](Connection& c) -> uint32_t { return Result(afc_file_open(c.Client, path, afcMode, ref)); });
}

MG_EXPORT uint32_t AFCFileRefRead(void* connection, uint64_t ref, void* buffer, uint32_t* count) {
    if (!count || (!buffer && *count))
        return kAfcBadHandle;
    return WithConnection(connection, [&](Connection& c) -> uint32_t {
        // The device answers in packets; fewer bytes than asked must mean the end of the file.
        uint32_t done = 0;
        while (done < *count) {
            uint32_t got = 0;
            const afc_error_t r = afc_file_read(c.Client, ref, static_cast<char*>(buffer) + done, *count - done, &got);
            if (r != AFC_E_SUCCESS)
                return Result(r);
            if (got == 0)
                break;
            done += got;
        }
        *count = done;
        return 0;
    });
}

MG_EXPORT uint32_t AFCFileRefWrite(void* connection, uint64_t ref, const void* buffer, uint32_t count) {
    if (!buffer && count)
        return kAfcBadHandle;
    return WithConnection(connection, [&](Connection& c) -> uint32_t {
        uint32_t done = 0;
        while (done < count) {
            uint32_t written = 0;
            const afc_error_t r =
                afc_file_write(c.Client, ref, static_cast<const char*>(buffer) + done, count - done, &written);
            if (r != AFC_E_SUCCESS)
                return Result(r);
            if (written == 0)
                return Result(AFC_E_IO_ERROR);
            done += written;
        }
        return 0;
    });
}

MG_EXPORT uint32_t AFCFileRefSeek(void* connection, uint64_t ref, int64_t offset, uint64_t origin) {
    if (origin > 2)
        return kAfcBadHandle;
    const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
    return WithConnection(
        connection, [&](Connection& c) -> uint32_t { return Result(afc_file_seek(c.Client, ref, offset, whence)); });
}

MG_EXPORT uint32_t AFCFileRefClose(void* connection, uint64_t ref) {
    return WithConnection(connection, [&](Connection& c) -> uint32_t { return Result(afc_file_close(c.Client, ref)); });
}
