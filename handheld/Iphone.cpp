// Loading the mobile-device library pair, the link's state record, device notifications and
// the connect sequence.
#include "handheld/Iphone.h"

#include <QFileInfo>
#include <memory>

#include "handheld/Slots.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/MachineSettings.h"

namespace handheld {

TIphoneMgr IphoneMgr;
quint64 OpenFileRef = 0;

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
} // namespace entry

namespace detail {

std::mutex& RecordLock() {
    static std::mutex lock;
    return lock;
}

namespace {
thread_local QByteArray tDeviceLastError;
}

void SetLastError(const QByteArray& text) {
    WriteRecord([&](TIphoneMgr& m) { m.LastError = text; });
    tDeviceLastError = text;
}

QByteArray Number(quint32 result) {
    return QByteArray::number(result);
}

} // namespace detail

using namespace detail;

namespace {

// Not kept by the original design; we keep it so that notifications can be ended before the
// libraries are released.
void* gNotification = nullptr;
bool gSubscribed = false;
PFN_AMDeviceNotificationUnsubscribe gUnsubscribe = nullptr;
platform::WindowHandle gNotifyWindow = 0;

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
                        (void**)&gUnsubscribe})
        *slot = nullptr;
}

extern "C" void NotificationTrampoline(const AMDeviceNotificationInfo* info, void* cookie) {
    DeviceNotificationCallback(info, cookie);
}

} // namespace

std::recursive_mutex& IphoneLock() {
    static std::recursive_mutex lock;
    return lock;
}

TIphoneMgr IphoneState() {
    QMutexLocker lock(&RecordLock());
    return IphoneMgr;
}

bool IphoneReady() {
    QMutexLocker lock(&RecordLock());
    return IphoneMgr.Ready;
}

QByteArray IphoneLastError() {
    QMutexLocker lock(&RecordLock());
    return IphoneMgr.LastError;
}

QByteArray IphoneMediaRoot() {
    QMutexLocker lock(&RecordLock());
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
    QMutexLocker link(&IphoneLock());
    OpenFileRef = 0;
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
        });
        // Nothing of an earlier, released library may stay callable.
        ClearSlots();
        QString mobileDevicePath, coreFoundationPath;
        if (!LocateDeviceLibraries(mobileDevicePath, coreFoundationPath))
            return false;

        const bool isNew = IphoneMgr.NewLibrary;
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
        gUnsubscribe = reinterpret_cast<PFN_AMDeviceNotificationUnsubscribe>(
            platform::GetProcAddress(md, "AMDeviceNotificationUnsubscribe"));
        return serviceSlot && all;
    } catch (...) {
        return false;
    }
}

const void* MakeCFStringConst(const QByteArray& Text) {
    if (!entry::CFStringMakeConstantString)
        return nullptr;
    std::unique_ptr<char[]> copy(new char[size_t(Text.size()) + 1]());
    memcpy(copy.get(), Text.constData(), size_t(Text.size()));
    return entry::CFStringMakeConstantString(copy.get(), quint32(Text.size()));
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

void UnloadDeviceLibraries() {
    // Ended outside the link's lock: the library's thread may be waiting for it inside a
    // notification, and the unsubscribe waits for that thread.
    // A sequence left open on this thread would keep the library's thread waiting for ever.
    ReleaseSequenceOfThisThread();
    void* notification = nullptr;
    bool subscribed;
    {
        QMutexLocker link(&IphoneLock());
        subscribed = gSubscribed;
        notification = gNotification;
    }
    bool ended = !subscribed;
    if (subscribed && gUnsubscribe) {
        gUnsubscribe(notification);
        ended = true;
    }
    QMutexLocker link(&IphoneLock());
    gSubscribed = !ended;
    gNotification = nullptr;
    platform::ModuleHandle md = IphoneMgr.MobileDeviceModule;
    platform::ModuleHandle cf = IphoneMgr.CoreFoundationModule;
    // A library whose notifications cannot be ended stays mapped until the process ends, so
    // that no notification ever runs in released code.
    if (ended) {
        // A file sequence that a window loop left open may still try to close its file.
        ClearSlots();
        if (md)
            platform::FreeLibrary(md);
        if (cf)
            platform::FreeLibrary(cf);
    }
    WriteRecord([](TIphoneMgr& m) {
        m.MobileDeviceModule = nullptr;
        m.CoreFoundationModule = nullptr;
    });
}

bool SubscribeDeviceNotification(platform::WindowHandle Window) {
    PFN_AMDeviceNotificationSubscribe subscribe;
    {
        QMutexLocker link(&IphoneLock());
        WriteRecord([](TIphoneMgr& m) { m.Ready = false; });
        gNotifyWindow = Window;
        subscribe = entry::AMDeviceNotificationSubscribe;
    }
    // Called without the lock: the library may deliver a first notification on its thread
    // before it returns.
    void* notification = nullptr;
    const quint32 result = subscribe ? subscribe(&NotificationTrampoline, 0, 0, nullptr, &notification) : NoEntryPoint;
    QMutexLocker link(&IphoneLock());
    if (result != 0) {
        SetLastError("Subscribes error: " + Number(result));
        return false;
    }
    gNotification = notification;
    gSubscribed = true;
    return true;
}

void DeviceNotificationCallback(const void* Info, void* /*Cookie*/) {
    if (!Info)
        return;
    const auto* info = static_cast<const AMDeviceNotificationInfo*>(Info);
    platform::WindowHandle window;
    {
        QMutexLocker link(&IphoneLock());
        const quint32 message = info->Message;
        if (message == 1) {
            void* device = info->Device;
            WriteRecord([&](TIphoneMgr& m) { m.Device = device; });
            if (ConnectDevice(device))
                WriteRecord([](TIphoneMgr& m) { m.Ready = true; });
        } else {
            WriteRecord([](TIphoneMgr& m) { m.Ready = false; });
            if (message == 2)
                SetLastError("iPhone or iPod Touch is disconnected.");
            else
                SetLastError("State of iPhone or iPod Touch is " + Number(message));
        }
        window = gNotifyWindow;
    }
    platform::PostMessage(window, WM_IPHONE_NOTIFY);
}

bool ConnectDevice(void* Device) {
    QMutexLocker link(&IphoneLock());
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
    } else if (Call(AMDeviceValidatePairing, Device) != 0) {
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

    auto startService = [&](const QByteArray& name, quint32& handle) {
        quint32 unused = 0;
        if (IphoneMgr.NewLibrary)
            return Call(AMDeviceStartServiceNew, Device, MakeCFStringConst(name), &handle, &unused);
        TCFString object; // kept until the call is over
        MakeCFStringInline(name, object);
        return Call(AMDeviceStartServiceOld, Device, static_cast<const void*>(object.constData()), &handle, &unused);
    };
    quint32 handle = 0;
    if (startService("com.apple.afc2", handle) == 0) {
        WriteRecord([](TIphoneMgr& m) { m.FullAccess = true; });
    } else if (startService("com.apple.afc", handle) == 0) {
        WriteRecord([](TIphoneMgr& m) { m.FullAccess = false; });
    } else {
        SetLastError("Cannot start AFC");
        return false;
    }
    EndDeviceSession(Device);

    void* connection = nullptr;
    r = Call(AFCConnectionOpen, handle, 0u, &connection);
    if (r != 0) {
        SetLastError("Open AFC error: " + Number(r));
        return false;
    }
    WriteRecord([&](TIphoneMgr& m) {
        m.AfcConnection = connection;
        m.AfcOpen = true;
    });
    DetectMediaRoot();
    return true;
}

bool EndDeviceSession(void* Device) {
    QMutexLocker link(&IphoneLock());
    Call(entry::AMDeviceStopSession, Device);
    Call(entry::AMDeviceDisconnect, Device);
    WriteRecord([](TIphoneMgr& m) { m.Connected = false; });
    return true;
}

void DetectMediaRoot() {
    QMutexLocker link(&IphoneLock());
    QByteArray root;
    if (IphoneMgr.FullAccess) {
        const bool mobile = DeviceFileExists("/var/mobile/Media/iTunes_Control/iTunes/iTunesDB") ||
                            DeviceFileExists("/var/mobile/Media/iTunes_Control/iTunes/iTunesCDB");
        root = mobile ? QByteArray("/var/mobile/Media") : QByteArray("/var/root/Media");
    }
    WriteRecord([&](TIphoneMgr& m) { m.MediaRoot = root; });
}

bool CloseDevice() {
    QMutexLocker link(&IphoneLock());
    bool result = true;
    if (IphoneMgr.Connected) {
        EndDeviceSession(IphoneMgr.Device);
        WriteRecord([](TIphoneMgr& m) {
            m.Connected = false;
            m.Device = nullptr;
        });
    }
    if (IphoneMgr.AfcOpen) {
        const quint32 r = Call(entry::AFCConnectionClose, IphoneMgr.AfcConnection);
        if (r != 0) {
            SetLastError("Close AFC error: " + Number(r));
            result = false;
        } else {
            WriteRecord([](TIphoneMgr& m) {
                m.AfcOpen = false;
                m.AfcConnection = nullptr;
            });
        }
    }
    return result;
}

} // namespace handheld
