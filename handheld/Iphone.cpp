// Loading the mobile-device library pair, the link's state record, device notifications and
// the connect sequence.
#include "handheld/Iphone.h"

#include <QFileInfo>
#include <algorithm>
#include <condition_variable>
#include <memory>

#include "handheld/Slots.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/MachineSettings.h"

namespace handheld {

TIphoneMgr IphoneMgr;
thread_local quint64 OpenFileRef = 0;

namespace entry {
PFN_CFStringMakeConstantString CFStringMakeConstantString = nullptr;
PFN_AMDeviceNotificationSubscribe AMDeviceNotificationSubscribe = nullptr;
PFN_AMDeviceCall AMDeviceConnect = nullptr;
PFN_AMDeviceCall AMDevicePair = nullptr;
PFN_AMDeviceCall AMDeviceIsPaired = nullptr;
PFN_AMDeviceCall AMDeviceValidatePairing = nullptr;
PFN_AMDeviceCall AMDeviceStartSession = nullptr;
PFN_AMDeviceStartService AMDeviceStartServiceOld = nullptr;
PFN_AMDeviceStartService AMDeviceStartServiceNew = nullptr;
PFN_AMDeviceCall AMDeviceStopSession = nullptr;
PFN_AMDeviceCall AMDeviceDisconnect = nullptr;
PFN_AFCConnectionOpen AFCConnectionOpen = nullptr;
PFN_AFCFileInfoOpen AFCFileInfoOpen = nullptr;
PFN_AFCFileRefOpen AFCFileRefOpen = nullptr;
PFN_AFCFileRefRead AFCFileRefRead = nullptr;
PFN_AFCFileRefWrite AFCFileRefWrite = nullptr;
PFN_AFCFileRefClose AFCFileRefClose = nullptr;
PFN_AFCFileRefSeek AFCFileRefSeek = nullptr;
PFN_AFCConnectionClose AFCConnectionClose = nullptr;
PFN_AFCKeyValueRead AFCKeyValueRead = nullptr;
PFN_AFCKeyValueClose AFCKeyValueClose = nullptr;
} // namespace entry

namespace detail {

std::mutex& RecordLock() {
    static std::mutex lock;
    return lock;
}

namespace {
thread_local QByteArray tDeviceLastError;

// Calls inside the library, and whether new ones may start (not while it is loaded or released).
std::mutex gUseLock;
std::condition_variable gUseEnded;
int gUsers = 0;
bool gLibraryOpen = false;

// Guarded by RecordLock(): the window told of the record, and the device whose lost connection
// the link reported itself and that nothing has been heard of since.
platform::WindowHandle gNotifyWindow = 0;
void* gLostDevice = nullptr;

// The device that TUseDevice put the calling thread's operations on.
thread_local const TDeviceLink* tUsing = nullptr;

// Stops new calls and waits for those inside the library; true when calls were allowed before.
bool CloseLibraryUse() {
    std::unique_lock<std::mutex> lock(gUseLock);
    const bool was = gLibraryOpen;
    gLibraryOpen = false;
    gUseEnded.wait(lock, [] { return gUsers == 0; });
    return was;
}

void OpenLibraryUse(bool open) {
    std::lock_guard<std::mutex> lock(gUseLock);
    gLibraryOpen = open;
}

} // namespace

LibraryUse::LibraryUse() {
    std::lock_guard<std::mutex> lock(gUseLock);
    FEntered = gLibraryOpen;
    gUsers += FEntered;
}

LibraryUse::~LibraryUse() {
    if (!FEntered)
        return;
    std::lock_guard<std::mutex> lock(gUseLock);
    if (--gUsers == 0)
        gUseEnded.notify_all();
}

TIphoneMgr ReadRecord() {
    std::lock_guard<std::mutex> lock(RecordLock());
    return IphoneMgr;
}

TDeviceLink DeviceInUse() {
    if (tUsing)
        return *tUsing;
    const TIphoneMgr m = ReadRecord();
    return {m.Arrival, m.Device, m.AfcOpen ? m.AfcConnection : nullptr, m.MediaRoot};
}

void SetLastError(const QByteArray& text) {
    WriteRecord([&](TIphoneMgr& m) { m.LastError = text; });
    tDeviceLastError = text;
}

QByteArray Number(quint32 result) {
    return QByteArray::number(result);
}

void NoteLostConnection(void* connection, quint32 result) {
    if (result != mobiledevice::ErrNoDevice || !connection)
        return;
    platform::WindowHandle window = 0;
    {
        std::lock_guard<std::mutex> lock(RecordLock());
        std::vector<TDeviceLink>& links = IphoneMgr.Links;
        const auto lost = std::find_if(links.begin(), links.end(), [&](auto& l) { return l.Connection == connection; });
        if (lost == links.end())
            return;
        gLostDevice = lost->Device;
        if (lost->Arrival == IphoneMgr.Arrival)
            IphoneMgr.Ready = false;
        links.erase(lost);
        window = gNotifyWindow;
    }
    platform::PostMessage(window, WM_IPHONE_NOTIFY);
}

void Fail(void* connection, const char* text, quint32 result) {
    SetLastError(text + Number(result));
    NoteLostConnection(connection, result);
}

} // namespace detail

using namespace detail;

namespace {

// Kept so that the subscription can be ended before the libraries are released.
void* gNotification = nullptr;
bool gSubscribed = false;
PFN_AMDeviceNotificationUnsubscribe gUnsubscribe = nullptr;

const char kCoreFoundationName[] = "CoreFoundation.dll";
const char kMobileDeviceUnderCommon[] = "/Apple/Mobile Device Support/bin/iTunesMobileDevice.dll";
const char kMobileDeviceKey[] = "SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared";
const char kMobileDeviceValue[] = "iTunesMobileDeviceDLL";
const char kMobileDeviceFallback[] = "C:/Program Files/Apple/Mobile Device Support/bin/iTunesMobileDevice.dll";
const char kCoreFoundationUnderCommon[] = "/Apple/Apple Application Support/CoreFoundation.dll";
const char kCoreFoundationKey[] = "SOFTWARE\\Apple Inc.\\Apple Application Support";
const char kCoreFoundationValue[] = "InstallDir";
const char kCoreFoundationFallback[] = "C:/Program Files/Apple/Apple Application Support/CoreFoundation.dll";
const char kOldCoreFoundationUnderCommon[] = "/Apple/Mobile Device Support/bin/CoreFoundation.dll";

constexpr quint32 kNewGenerationThreshold = 0x00EE0009; // 238.9

// A plain file test: a folder of the same name does not count, nor a relative path, which
// would name a file in whatever folder the program was started from.
bool IsFile(const QString& path) {
    return !path.isEmpty() && QFileInfo(platform::ResolvePath(path)).isAbsolute() && platform::FileExists(path);
}

bool IsNewGeneration(const QString& path) {
    const std::optional<quint64> version = platform::FileVersion(platform::ResolvePath(path));
    const quint32 high = version ? quint32(*version >> 32) : 0xFFFFFFFFu;
    return high >= kNewGenerationThreshold;
}

// Every slot empty: a call through one then answers NoEntryPoint instead of jumping into a
// library that is no longer mapped.
void ClearSlots() {
    using namespace entry;
    for (void** slot : {(void**)&CFStringMakeConstantString,
                        (void**)&AMDeviceNotificationSubscribe,
                        (void**)&AMDeviceConnect,
                        (void**)&AMDevicePair,
                        (void**)&AMDeviceIsPaired,
                        (void**)&AMDeviceValidatePairing,
                        (void**)&AMDeviceStartSession,
                        (void**)&AMDeviceStartServiceOld,
                        (void**)&AMDeviceStartServiceNew,
                        (void**)&AMDeviceStopSession,
                        (void**)&AMDeviceDisconnect,
                        (void**)&AFCConnectionOpen,
                        (void**)&AFCFileInfoOpen,
                        (void**)&AFCFileRefOpen,
                        (void**)&AFCFileRefRead,
                        (void**)&AFCFileRefWrite,
                        (void**)&AFCFileRefClose,
                        (void**)&AFCFileRefSeek,
                        (void**)&AFCConnectionClose,
                        (void**)&AFCKeyValueRead,
                        (void**)&AFCKeyValueClose,
                        (void**)&gUnsubscribe})
        *slot = nullptr;
}

extern "C" void NotificationTrampoline(const AMDeviceNotificationInfo* info, void* cookie) {
    DeviceNotificationCallback(info, cookie);
}

} // namespace

TIphoneMgr IphoneState() {
    return ReadRecord();
}

TDeviceLink ReadyDevice() {
    std::lock_guard<std::mutex> lock(RecordLock());
    for (const TDeviceLink& l : IphoneMgr.Links)
        if (l.Arrival == IphoneMgr.Arrival && IphoneMgr.Ready)
            return l;
    return {};
}

bool DevicePresent(const TDeviceLink& Link) {
    std::lock_guard<std::mutex> lock(RecordLock());
    return Link && std::any_of(IphoneMgr.Links.begin(), IphoneMgr.Links.end(),
                               [&](auto& l) { return l.Arrival == Link.Arrival; });
}

TUseDevice::TUseDevice(const TDeviceLink& Link) : FPrevious(tUsing), FLink(Link) {
    if (FLink)
        tUsing = &FLink;
}

TUseDevice::~TUseDevice() {
    tUsing = FPrevious;
}

bool IphoneReady() {
    std::lock_guard<std::mutex> lock(RecordLock());
    return IphoneMgr.Ready;
}

QByteArray IphoneLastError() {
    std::lock_guard<std::mutex> lock(RecordLock());
    return IphoneMgr.LastError;
}

QByteArray IphoneMediaRoot() {
    std::lock_guard<std::mutex> lock(RecordLock());
    return IphoneMgr.MediaRoot;
}

QByteArray DeviceLastError() {
    return tDeviceLastError;
}

QByteArray ReadMachineRegString(const QByteArray& Key, const QByteArray& Name) {
    const std::optional<platform::MachineValue> value = platform::ReadMachineValue(Key, Name);
    if (!value)
        return QByteArray();
    if (value->Type != platform::MachineValueType::String)
        throw platform::Error(QStringLiteral("Invalid data type for '%1'").arg(QString::fromUtf8(Name)));
    return value->Text;
}

// Never the current folder: a library of that name left in the folder the program was started
// from would run inside it.
bool LocateDeviceLibraries(QString& MobileDevicePath, QString& CoreFoundationPath) {
    const QString common = platform::CommonProgramFilesFolder();

    MobileDevicePath = common.isEmpty() ? QString() : common + QLatin1String(kMobileDeviceUnderCommon);
    if (!IsFile(MobileDevicePath)) {
        MobileDevicePath = QString::fromUtf8(ReadMachineRegString(kMobileDeviceKey, kMobileDeviceValue));
        if (!IsFile(MobileDevicePath)) {
            MobileDevicePath = QString::fromLatin1(kMobileDeviceFallback);
            if (!IsFile(MobileDevicePath))
                return false;
        }
    }
    const bool isNew = IsNewGeneration(MobileDevicePath);
    WriteRecord([&](TIphoneMgr& m) { m.NewLibrary = isNew; });

    if (isNew) {
        CoreFoundationPath = common.isEmpty() ? QString() : common + QLatin1String(kCoreFoundationUnderCommon);
        if (IsFile(CoreFoundationPath))
            return true;
        const QByteArray installDir = ReadMachineRegString(kCoreFoundationKey, kCoreFoundationValue);
        CoreFoundationPath = QString::fromUtf8(installDir) + QLatin1Char('/') + QLatin1String(kCoreFoundationName);
        if (!installDir.isEmpty() && IsFile(CoreFoundationPath))
            return true;
        CoreFoundationPath = QString::fromLatin1(kCoreFoundationFallback);
        return IsFile(CoreFoundationPath);
    }
    CoreFoundationPath = common + QLatin1String(kOldCoreFoundationUnderCommon);
    return true;
}

bool LoadDeviceLibraries() {
    // The slots are rewritten only once no call is inside the library; calls resume at the end,
    // through whatever was resolved.
    CloseLibraryUse();
    struct Reopen {
        ~Reopen() { OpenLibraryUse(true); }
    } reopen;
    WriteRecord([](TIphoneMgr& m) {
        m.MobileDeviceModule = nullptr;
        m.CoreFoundationModule = nullptr;
    });
    try {
        WriteRecord([](TIphoneMgr& m) {
            m.Ready = m.Connected = m.AfcOpen = m.FullAccess = false;
            m.Device = m.AfcConnection = nullptr;
            m.MediaRoot.clear();
            m.LastError.clear();
            m.Links.clear();
        });
        // Nothing of an earlier, released library may stay callable.
        ClearSlots();
        QString mobileDevicePath, coreFoundationPath;
        if (!LocateDeviceLibraries(mobileDevicePath, coreFoundationPath))
            return false;

        const bool isNew = ReadRecord().NewLibrary;
        platform::ModuleHandle md = platform::LoadLibrary(platform::ResolvePath(mobileDevicePath));
        platform::ModuleHandle cf = isNew ? platform::LoadLibrary(platform::ResolvePath(coreFoundationPath)) : nullptr;
        WriteRecord([&](TIphoneMgr& m) {
            m.MobileDeviceModule = md;
            m.CoreFoundationModule = cf;
        });
        if (!md || (isNew && !cf))
            return false;

        using namespace entry;
        auto resolve = [md](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(platform::GetProcAddress(md, name));
            return slot != nullptr;
        };
        bool serviceSlot;
        if (isNew) {
            CFStringMakeConstantString = reinterpret_cast<PFN_CFStringMakeConstantString>(
                platform::GetProcAddress(cf, "__CFStringMakeConstantString"));
            serviceSlot = resolve(AMDeviceStartServiceNew, "AMDeviceStartService") && CFStringMakeConstantString;
        } else {
            serviceSlot = resolve(AMDeviceStartServiceOld, "AMDeviceStartService");
        }
        bool all = true;
        all &= resolve(AMDeviceNotificationSubscribe, "AMDeviceNotificationSubscribe");
        all &= resolve(AMDeviceConnect, "AMDeviceConnect");
        all &= resolve(AMDevicePair, "AMDevicePair");
        all &= resolve(AMDeviceIsPaired, "AMDeviceIsPaired");
        all &= resolve(AMDeviceValidatePairing, "AMDeviceValidatePairing");
        all &= resolve(AMDeviceStartSession, "AMDeviceStartSession");
        all &= resolve(AMDeviceStopSession, "AMDeviceStopSession");
        all &= resolve(AFCConnectionOpen, "AFCConnectionOpen");
        all &= resolve(AFCFileInfoOpen, "AFCFileInfoOpen");
        all &= resolve(AFCFileRefOpen, "AFCFileRefOpen");
        all &= resolve(AFCFileRefRead, "AFCFileRefRead");
        all &= resolve(AFCFileRefWrite, "AFCFileRefWrite");
        all &= resolve(AFCFileRefSeek, "AFCFileRefSeek");
        all &= resolve(AFCFileRefClose, "AFCFileRefClose");
        all &= resolve(AFCConnectionClose, "AFCConnectionClose");
        all &= resolve(AMDeviceDisconnect, "AMDeviceDisconnect");
        // The size of a device file comes from its information: a copy is checked against it.
        all &= resolve(AFCKeyValueRead, "AFCKeyValueRead");
        all &= resolve(AFCKeyValueClose, "AFCKeyValueClose");
        gUnsubscribe = reinterpret_cast<PFN_AMDeviceNotificationUnsubscribe>(
            platform::GetProcAddress(md, "AMDeviceNotificationUnsubscribe"));
        return serviceSlot && all;
    } catch (...) {
        return false;
    }
}

const void* MakeCFStringConst(const QByteArray& Text) {
    const LibraryUse use;
    const PFN_CFStringMakeConstantString make = use ? entry::CFStringMakeConstantString : nullptr;
    if (!make)
        return nullptr;
    std::unique_ptr<char[]> copy(new char[size_t(Text.size()) + 1]());
    memcpy(copy.get(), Text.constData(), size_t(Text.size()));
    return make(copy.get(), quint32(Text.size()));
}

void MakeCFStringInline(const QByteArray& Text, TCFString& Obj) {
    // The length is one byte; the service names are 13 and 14 bytes long.
    const QByteArray text = Text.left(255);
    Obj = QByteArray(text.size() + 10, '\0');
    Obj[4] = char(0x8C);
    Obj[5] = char(0x07);
    Obj[6] = char(0x01);
    Obj[7] = 0;
    Obj[8] = char(quint8(text.size()));
    memcpy(Obj.data() + 9, text.constData(), size_t(text.size()));
}

// Called on the window's thread, as are the load and the subscription.
void UnloadDeviceLibraries() {
    // The unsubscribe waits for a notification that is running; it runs to its end. Only an
    // unsubscribe that the library accepted has ended them.
    bool ended = !gSubscribed;
    if (gSubscribed && gUnsubscribe) {
        const LibraryUse use;
        ended = use && gUnsubscribe(gNotification) == 0;
    }
    gSubscribed = !ended;
    gNotification = nullptr;
    // Calls that another thread has inside the library (a read the device does not answer)
    // end before the library goes.
    const bool wasOpen = CloseLibraryUse();
    const TIphoneMgr m = ReadRecord();
    // A library whose notifications cannot be ended stays mapped and callable until the process
    // ends, so that no notification ever runs in released code.
    if (ended) {
        // Later calls, as from a file sequence left open, answer NoEntryPoint.
        ClearSlots();
        if (m.MobileDeviceModule)
            platform::FreeLibrary(m.MobileDeviceModule);
        if (m.CoreFoundationModule)
            platform::FreeLibrary(m.CoreFoundationModule);
    } else {
        OpenLibraryUse(wasOpen);
    }
    WriteRecord([](TIphoneMgr& r) {
        r.MobileDeviceModule = nullptr;
        r.CoreFoundationModule = nullptr;
    });
}

bool SubscribeDeviceNotification(platform::WindowHandle Window) {
    WriteRecord([&](TIphoneMgr& m) {
        m.Ready = false;
        gNotifyWindow = Window;
    });
    // The library may deliver a first notification on its thread before it returns.
    void* notification = nullptr;
    const quint32 result =
        Call(entry::AMDeviceNotificationSubscribe, &NotificationTrampoline, 0u, 0u, nullptr, &notification);
    if (result != 0) {
        SetLastError("Subscribes error: " + Number(result));
        return false;
    }
    gNotification = notification;
    gSubscribed = true;
    return true;
}

// Runs without a lock of the link: file operations on other threads go on meanwhile.
void DeviceNotificationCallback(const void* Info, void* /*Cookie*/) {
    if (!Info)
        return;
    const auto* info = static_cast<const AMDeviceNotificationInfo*>(Info);
    const quint32 message = info->Message;
    void* const device = info->Device;
    bool post = true;
    if (message == 1) {
        WriteRecord([&](TIphoneMgr& m) {
            m.Device = device;
            ++m.Arrival;
            gLostDevice = nullptr;
        });
        // A failed connect is never ready, also after an earlier device connected. A device that
        // connects joins the links; ConnectDevice published its connection and root.
        const bool connected = ConnectDevice(device);
        WriteRecord([&](TIphoneMgr& m) {
            m.Ready = connected;
            if (connected)
                m.Links.push_back({m.Arrival, device, m.AfcConnection, m.MediaRoot});
            else
                m.FailedArrival = m.Arrival;
        });
    } else {
        SetLastError(message == 2 ? QByteArray("iPhone or iPod Touch is disconnected.")
                                  : "State of iPhone or iPod Touch is " + Number(message));
        WriteRecord([&](TIphoneMgr& m) {
            // The window already heard that this device's connection was lost.
            post = !(message == 2 && gLostDevice == device);
            // Another device's news leaves the latest arrival as it is.
            if (m.Device == device)
                m.Ready = false;
            std::erase_if(m.Links, [&](auto& l) { return l.Device == device; });
            gLostDevice = nullptr;
        });
    }
    platform::WindowHandle window;
    {
        std::lock_guard<std::mutex> lock(RecordLock());
        window = gNotifyWindow;
    }
    if (post)
        platform::PostMessage(window, WM_IPHONE_NOTIFY);
}

namespace {

// The media root of a file connection: that of the record's service, found with existence tests
// on the connection itself.
QByteArray MediaRootOf(void* connection, bool fullAccess) {
    if (!fullAccess)
        return QByteArray();
    const auto exists = [&](const char* path) {
        return connection && Call(entry::AFCFileInfoOpen, connection, path, static_cast<void**>(nullptr)) == 0;
    };
    const bool mobile = exists("/var/mobile/Media/iTunes_Control/iTunes/iTunesDB") ||
                        exists("/var/mobile/Media/iTunes_Control/iTunes/iTunesCDB");
    return mobile ? QByteArray("/var/mobile/Media") : QByteArray("/var/root/Media");
}

} // namespace

bool ConnectDevice(void* Device) {
    using namespace entry;
    quint32 r = Call(AMDeviceConnect, Device);
    if (r != 0) {
        SetLastError("Cannot connect to iPhone or it's in recovery mode: " + Number(r));
        return false;
    }
    if (Call(AMDeviceIsPaired, Device) == 0) {
        r = Call(AMDevicePair, Device);
        if (r != 0) {
            SetLastError("Pair failed: " + Number(r) + " (Please do a pair with iTunes first)");
            return false;
        }
    } else if ((r = Call(AMDeviceValidatePairing, Device)) != 0) {
        // Paired anew only when the device no longer knows this host: a new pairing replaces
        // the stored record, which a check that failed otherwise (the device dropped the
        // connection, or is locked) says nothing against.
        if (r != mobiledevice::ErrInvalidHostId && r != mobiledevice::ErrMissingPairRecord) {
            SetLastError("Validate pair error: " + Number(r));
            return false;
        }
        r = Call(AMDevicePair, Device);
        if (r != 0) {
            SetLastError("Invalid pair, failed: " + Number(r) + " (Please do a pair with iTunes first)");
            return false;
        }
    }
    WriteRecord([](TIphoneMgr& m) { m.Connected = true; });
    r = Call(AMDeviceStartSession, Device);
    if (r != 0) {
        SetLastError("Start session error: " + Number(r));
        return false;
    }

    const bool newLibrary = ReadRecord().NewLibrary;
    auto startService = [&](const QByteArray& name, quint32& handle) {
        quint32 unused = 0;
        if (newLibrary)
            return Call(AMDeviceStartServiceNew, Device, MakeCFStringConst(name), &handle, &unused);
        TCFString object; // kept until the call is over
        MakeCFStringInline(name, object);
        return Call(AMDeviceStartServiceOld, Device, static_cast<const void*>(object.constData()), &handle, &unused);
    };
    quint32 handle = 0;
    bool fullAccess;
    if (startService("com.apple.afc2", handle) == 0) {
        fullAccess = true;
    } else if (startService("com.apple.afc", handle) == 0) {
        fullAccess = false;
    } else {
        SetLastError("Cannot start AFC");
        return false;
    }
    WriteRecord([&](TIphoneMgr& m) { m.FullAccess = fullAccess; });
    EndDeviceSession(Device);

    void* connection = nullptr;
    r = Call(AFCConnectionOpen, handle, 0u, &connection);
    if (r != 0) {
        SetLastError("Open AFC error: " + Number(r));
        return false;
    }
    // The connection and its root are published together: another thread's file operation
    // never pairs the new connection with the old root.
    const QByteArray root = MediaRootOf(connection, fullAccess);
    WriteRecord([&](TIphoneMgr& m) {
        m.AfcConnection = connection;
        m.AfcOpen = true;
        m.MediaRoot = root;
    });
    return true;
}

bool EndDeviceSession(void* Device) {
    Call(entry::AMDeviceStopSession, Device);
    Call(entry::AMDeviceDisconnect, Device);
    // A device that arrived meanwhile keeps its own state.
    WriteRecord([&](TIphoneMgr& m) {
        if (m.Device == Device)
            m.Connected = false;
    });
    return true;
}

bool CloseDevice() {
    const TIphoneMgr m = ReadRecord();
    bool result = true;
    // Only what belongs to the device read here is cleared: one that arrived since keeps its own.
    if (m.Connected) {
        EndDeviceSession(m.Device);
        WriteRecord([&](TIphoneMgr& r) {
            if (r.Device == m.Device) {
                r.Connected = false;
                r.Device = nullptr;
            }
        });
    }
    if (m.AfcOpen) {
        const quint32 r = Call(entry::AFCConnectionClose, m.AfcConnection);
        if (r != 0) {
            SetLastError("Close AFC error: " + Number(r));
            result = false;
        } else {
            WriteRecord([&](TIphoneMgr& rec) {
                std::erase_if(rec.Links, [&](auto& l) { return l.Connection == m.AfcConnection; });
                if (rec.AfcConnection == m.AfcConnection) {
                    rec.AfcOpen = false;
                    rec.AfcConnection = nullptr;
                }
            });
        }
    }
    return result;
}

} // namespace handheld
