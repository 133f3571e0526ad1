#pragma once
// The entry-point slots of the mobile-device library pair and the link's internal helpers.
// Written only by LoadDeviceLibraries and UnloadDeviceLibraries, while no call is inside the library.
#include <QByteArray>
#include <mutex>

#include "handheld/Iphone.h"
#include "platform/mobiledevice/MobileDeviceApi.h"

namespace handheld::entry {

extern PFN_CFStringMakeConstantString CFStringMakeConstantString;       // 1
extern PFN_AMDeviceNotificationSubscribe AMDeviceNotificationSubscribe; // 2
extern PFN_AMDeviceCall AMDeviceConnect;                                // 3
extern PFN_AMDeviceCall AMDevicePair;                                   // 4
extern PFN_AMDeviceCall AMDeviceIsPaired;                               // 5
extern PFN_AMDeviceCall AMDeviceValidatePairing;                        // 6
extern PFN_AMDeviceCall AMDeviceStartSession;                           // 7
extern PFN_AMDeviceStartService AMDeviceStartServiceOld;                // 8
extern PFN_AMDeviceStartService AMDeviceStartServiceNew;                // 9
extern PFN_AMDeviceCall AMDeviceStopSession;                            // 10
extern PFN_AMDeviceCall AMDeviceDisconnect;                             // 11
extern PFN_AFCConnectionOpen AFCConnectionOpen;                         // 12
extern PFN_AFCFileInfoOpen AFCFileInfoOpen;                             // 13
extern PFN_AFCFileRefOpen AFCFileRefOpen;                               // 14
extern PFN_AFCFileRefRead AFCFileRefRead;                               // 15
extern PFN_AFCFileRefWrite AFCFileRefWrite;                             // 16
extern PFN_AFCFileRefClose AFCFileRefClose;                             // 17
extern PFN_AFCFileRefSeek AFCFileRefSeek;                               // 18
extern PFN_AFCConnectionClose AFCConnectionClose;                       // 19
extern PFN_AFCKeyValueRead AFCKeyValueRead;                             // the file information's pairs
extern PFN_AFCKeyValueClose AFCKeyValueClose;

} // namespace handheld::entry

namespace handheld::detail {

// What a call through an unresolved slot answers instead of crashing.
constexpr quint32 NoEntryPoint = 0xFFFFFFFF;

// Writes to IphoneMgr go through WriteRecord, under the record's lock; ReadRecord copies it.
std::mutex& RecordLock();
template <typename F>
void WriteRecord(F change) {
    std::lock_guard<std::mutex> lock(RecordLock());
    change(IphoneMgr);
}
TIphoneMgr ReadRecord();
// The device that the calling thread's operations go to: the one TUseDevice named, else the
// latest arrival's (its connection null while none is open).
TDeviceLink DeviceInUse();
void SetLastError(const QByteArray& text);
QByteArray Number(quint32 result);
// After a call through `connection` answered `result`: when that says the connection is gone,
// its device leaves the links (the link is no longer ready when it was the latest arrival's)
// and the window is told.
void NoteLostConnection(void* connection, quint32 result);
// SetLastError(text + result), then NoteLostConnection.
void Fail(void* connection, const char* text, quint32 result);

// Holds the library loaded for one call: false once unloading has begun.
class LibraryUse {
public:
    LibraryUse();
    ~LibraryUse();
    explicit operator bool() const { return FEntered; }
    LibraryUse(const LibraryUse&) = delete;
    LibraryUse& operator=(const LibraryUse&) = delete;

private:
    bool FEntered;
};

// The slot is read inside the use, never while a load or unload rewrites it.
template <typename Fn, typename... Args>
quint32 Call(const Fn& slot, Args... args) {
    const LibraryUse use;
    const Fn fn = use ? slot : nullptr;
    return fn ? fn(args...) : NoEntryPoint;
}

} // namespace handheld::detail
