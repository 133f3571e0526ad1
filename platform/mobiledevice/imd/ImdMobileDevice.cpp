// "iTunesMobileDevice.dll" for real devices, over libimobiledevice and usbmuxd. Newer
// generation: service names come as constant strings of our CoreFoundation.
#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <plist/plist.h>
#include <pthread.h>
#include <usbmuxd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mobiledevice/MobileDeviceApi.h"
#include "platform/mobiledevice/ServiceName.h"

#define MG_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr uint32_t kErrInvalidArgument = 0xE8000022;
constexpr uint32_t kErrNoDevice = 0xE8000084;
constexpr uint32_t kAfcBadHandle = 7;

const char kLabel[] = "Marrowgate";

struct Device {
    std::string Udid;
    bool Present = true;
    idevice_t Handle = nullptr; // kept while a file service connection may use it
    lockdownd_client_t Lockdown = nullptr;
    std::string SessionId;
};

struct Connection {
    afc_client_t Client = nullptr;
};

std::mutex gLock;
std::vector<std::unique_ptr<Device>> gDevices; // references handed out stay valid
std::map<uint32_t, std::pair<Device*, lockdownd_service_descriptor_t>> gServices;
uint32_t gNextService = 1;
std::map<Connection*, std::unique_ptr<Connection>> gConnections;
AMDeviceNotificationCallback gCallback = nullptr;
void* gCookie = nullptr;
bool gSubscribed = false;

uint32_t Result(int code) {
    return uint32_t(code); // negative library errors become large unsigned numbers
}

Device* Find(void* device) {
    for (auto& d : gDevices)
        if (d.get() == device) return d.get();
    return nullptr;
}

Connection* FindConnection(void* connection) {
    auto it = gConnections.find(static_cast<Connection*>(connection));
    return it == gConnections.end() ? nullptr : it->second.get();
}

void DropLockdown(Device& d) {
    if (d.Lockdown) {
        lockdownd_client_free(d.Lockdown);
        d.Lockdown = nullptr;
    }
    d.SessionId.clear();
}

// Runs on libimobiledevice's event thread.
void OnEvent(const idevice_event_t* event, void*) {
    if (!event || !event->udid || event->conn_type != CONNECTION_USBMUXD) return;
    AMDeviceNotificationInfo info{nullptr, 0};
    AMDeviceNotificationCallback callback;
    void* cookie;
    {
        std::lock_guard<std::mutex> lock(gLock);
        if (event->event == IDEVICE_DEVICE_ADD) {
            gDevices.push_back(std::make_unique<Device>());
            gDevices.back()->Udid = event->udid;
            info = {gDevices.back().get(), 1};
        } else if (event->event == IDEVICE_DEVICE_REMOVE) {
            for (auto it = gDevices.rbegin(); it != gDevices.rend(); ++it) {
                if ((*it)->Present && (*it)->Udid == event->udid) {
                    (*it)->Present = false;
                    info = {it->get(), 2};
                    break;
                }
            }
        }
        callback = gCallback;
        cookie = gCookie;
    }
    if (!info.Device || !callback) return;
    // The unsubscribe cancels this thread; a cancel inside the link's connect sequence would
    // unwind through its locks. Deferred, it ends the thread after the callback instead.
    int cancelState = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancelState);
    callback(&info, cookie);
    pthread_setcancelstate(cancelState, nullptr);
}

template <typename Body> uint32_t WithDevice(void* device, Body body) {
    std::lock_guard<std::mutex> lock(gLock);
    Device* d = Find(device);
    if (!d) return kErrInvalidArgument;
    if (!d->Present) return kErrNoDevice;
    return body(*d);
}

} // namespace

MG_EXPORT uint32_t AMDeviceNotificationSubscribe(AMDeviceNotificationCallback callback, uint32_t, uint32_t,
                                                 void* cookie, void** notification) {
    {
        std::lock_guard<std::mutex> lock(gLock);
        if (!callback || gSubscribed) return kErrInvalidArgument;
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
    if (notification) *notification = &gSubscribed;
    return 0;
}

MG_EXPORT uint32_t AMDeviceNotificationUnsubscribe(void* notification) {
    if (notification != &gSubscribed) return kErrInvalidArgument;
    {
        // Ending the subscription reports every known device as removed; none of that may
        // reach the link once it asked to stop.
        std::lock_guard<std::mutex> lock(gLock);
        gCallback = nullptr;
    }
    // Waits for the event thread, so no callback runs once this returns.
    idevice_event_unsubscribe();
    std::lock_guard<std::mutex> lock(gLock);
    gSubscribed = false;
    return 0;
}

MG_EXPORT uint32_t AMDeviceConnect(void* device) {
    return WithDevice(device, [](Device& d) -> uint32_t {
        if (!d.Handle) {
            const idevice_error_t r =
                idevice_new_with_options(&d.Handle, d.Udid.c_str(), IDEVICE_LOOKUP_USBMUX);
            if (r != IDEVICE_E_SUCCESS) return Result(r);
        }
        DropLockdown(d);
        return Result(lockdownd_client_new(d.Handle, &d.Lockdown, kLabel));
    });
}

MG_EXPORT uint32_t AMDeviceIsPaired(void* device) {
    return WithDevice(device, [](Device& d) -> uint32_t {
        char* record = nullptr;
        uint32_t size = 0;
        if (usbmuxd_read_pair_record(d.Udid.c_str(), &record, &size) != 0) return 0;
        std::free(record);
        return 1;
    });
}

MG_EXPORT uint32_t AMDeviceValidatePairing(void* device) {
    return WithDevice(device, [](Device& d) -> uint32_t {
        return d.Lockdown ? Result(lockdownd_validate_pair(d.Lockdown, nullptr)) : kErrInvalidArgument;
    });
}

MG_EXPORT uint32_t AMDevicePair(void* device) {
    return WithDevice(device, [](Device& d) -> uint32_t {
        return d.Lockdown ? Result(lockdownd_pair(d.Lockdown, nullptr)) : kErrInvalidArgument;
    });
}

MG_EXPORT uint32_t AMDeviceStartSession(void* device) {
    return WithDevice(device, [](Device& d) -> uint32_t {
        if (!d.Lockdown) return kErrInvalidArgument;
        char* record = nullptr;
        uint32_t size = 0;
        if (usbmuxd_read_pair_record(d.Udid.c_str(), &record, &size) != 0)
            return Result(LOCKDOWN_E_INVALID_HOST_ID);
        plist_t pair = nullptr;
        plist_from_memory(record, size, &pair);
        std::free(record);
        char* hostId = nullptr;
        if (pair) {
            if (plist_t node = plist_dict_get_item(pair, "HostID")) plist_get_string_val(node, &hostId);
            plist_free(pair);
        }
        if (!hostId) return Result(LOCKDOWN_E_INVALID_HOST_ID);
        char* session = nullptr;
        const lockdownd_error_t r = lockdownd_start_session(d.Lockdown, hostId, &session, nullptr);
        std::free(hostId);
        if (session) {
            d.SessionId = session;
            std::free(session);
        }
        return Result(r);
    });
}

MG_EXPORT uint32_t AMDeviceStopSession(void* device) {
    return WithDevice(device, [](Device& d) -> uint32_t {
        if (!d.Lockdown || d.SessionId.empty()) return 0;
        const lockdownd_error_t r = lockdownd_stop_session(d.Lockdown, d.SessionId.c_str());
        d.SessionId.clear();
        return Result(r);
    });
}

MG_EXPORT uint32_t AMDeviceDisconnect(void* device) {
    return WithDevice(device, [](Device& d) -> uint32_t {
        DropLockdown(d);
        return 0;
    });
}

MG_EXPORT uint32_t AMDeviceStartService(void* device, const void* serviceName, uint32_t* handle, uint32_t*) {
    std::string name;
    if (!mobiledevice::ReadServiceName(serviceName, true, name) || !handle) return kErrInvalidArgument;
    return WithDevice(device, [&](Device& d) -> uint32_t {
        if (!d.Lockdown) return kErrInvalidArgument;
        lockdownd_service_descriptor_t service = nullptr;
        const lockdownd_error_t r = lockdownd_start_service(d.Lockdown, name.c_str(), &service);
        if (r != LOCKDOWN_E_SUCCESS) return Result(r);
        *handle = gNextService++;
        gServices[*handle] = {&d, service};
        return 0;
    });
}

MG_EXPORT uint32_t AFCConnectionOpen(uint32_t handle, uint32_t, void** connection) {
    std::lock_guard<std::mutex> lock(gLock);
    auto it = gServices.find(handle);
    if (it == gServices.end() || !connection) return kErrInvalidArgument;
    auto c = std::make_unique<Connection>();
    const afc_error_t r = afc_client_new(it->second.first->Handle, it->second.second, &c->Client);
    lockdownd_service_descriptor_free(it->second.second);
    gServices.erase(it);
    if (r != AFC_E_SUCCESS) return Result(r);
    Connection* raw = c.get();
    gConnections[raw] = std::move(c);
    *connection = raw;
    return 0;
}

MG_EXPORT uint32_t AFCConnectionClose(void* connection) {
    std::lock_guard<std::mutex> lock(gLock);
    Connection* c = FindConnection(connection);
    if (!c) return kAfcBadHandle;
    afc_client_free(c->Client);
    gConnections.erase(c);
    return 0;
}

MG_EXPORT uint32_t AFCFileInfoOpen(void* connection, const char* path, void** info) {
    std::lock_guard<std::mutex> lock(gLock);
    Connection* c = FindConnection(connection);
    if (!c || !path) return kAfcBadHandle;
    char** list = nullptr;
    const afc_error_t r = afc_get_file_info(c->Client, path, &list);
    if (list) afc_dictionary_free(list); // the caller never reads it
    static int infoObject;
    if (r == AFC_E_SUCCESS && info) *info = &infoObject;
    return Result(r);
}

MG_EXPORT uint32_t AFCFileRefOpen(void* connection, const char* path, uint64_t mode, uint64_t* ref) {
    std::lock_guard<std::mutex> lock(gLock);
    Connection* c = FindConnection(connection);
    if (!c || !path || !ref) return kAfcBadHandle;
    afc_file_mode_t afcMode;
    if (mode == mobiledevice::OpenRead)
        afcMode = AFC_FOPEN_RDONLY;
    else if (mode == mobiledevice::OpenWriteNew)
        afcMode = AFC_FOPEN_WRONLY;
    else
        return kErrInvalidArgument;
    return Result(afc_file_open(c->Client, path, afcMode, ref));
}

MG_EXPORT uint32_t AFCFileRefRead(void* connection, uint64_t ref, void* buffer, uint32_t* count) {
    std::lock_guard<std::mutex> lock(gLock);
    Connection* c = FindConnection(connection);
    if (!c || !count || (!buffer && *count)) return kAfcBadHandle;
    // The device answers in packets; fewer bytes than asked must mean the end of the file.
    uint32_t done = 0;
    while (done < *count) {
        uint32_t got = 0;
        const afc_error_t r =
            afc_file_read(c->Client, ref, static_cast<char*>(buffer) + done, *count - done, &got);
        if (r != AFC_E_SUCCESS) return Result(r);
        if (got == 0) break;
        done += got;
    }
    *count = done;
    return 0;
}

MG_EXPORT uint32_t AFCFileRefWrite(void* connection, uint64_t ref, const void* buffer, uint32_t count) {
    std::lock_guard<std::mutex> lock(gLock);
    Connection* c = FindConnection(connection);
    if (!c || (!buffer && count)) return kAfcBadHandle;
    uint32_t done = 0;
    while (done < count) {
        uint32_t written = 0;
        const afc_error_t r =
            afc_file_write(c->Client, ref, static_cast<const char*>(buffer) + done, count - done, &written);
        if (r != AFC_E_SUCCESS) return Result(r);
        if (written == 0) return Result(AFC_E_IO_ERROR);
        done += written;
    }
    return 0;
}

MG_EXPORT uint32_t AFCFileRefSeek(void* connection, uint64_t ref, int64_t offset, uint64_t origin) {
    std::lock_guard<std::mutex> lock(gLock);
    Connection* c = FindConnection(connection);
    if (!c || origin > 2) return kAfcBadHandle;
    const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
    return Result(afc_file_seek(c->Client, ref, offset, whence));
}

MG_EXPORT uint32_t AFCFileRefClose(void* connection, uint64_t ref) {
    std::lock_guard<std::mutex> lock(gLock);
    Connection* c = FindConnection(connection);
    if (!c) return kAfcBadHandle;
    return Result(afc_file_close(c->Client, ref));
}
