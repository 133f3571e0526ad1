#pragma once
// The entry-point slots of the mobile-device library pair and the link's internal helpers.
// Written only by LoadDeviceLibraries, before the subscription starts the library's thread.
#include <QByteArray>

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

} // namespace handheld::entry

namespace handheld::detail {

// What a call through an unresolved slot answers instead of crashing.
constexpr quint32 NoEntryPoint = 0xFFFFFFFF;

// Writes to IphoneMgr go through these, under the record's lock, while the caller holds
// IphoneLock(); code that holds IphoneLock() may read IphoneMgr directly.
template <typename F>
void WriteRecord(F change);
void SetLastError(const QByteArray& text);
QByteArray Number(quint32 result);
// Gives up the open-read-close sequence that the calling thread holds, if any.
void ReleaseSequenceOfThisThread();

template <typename Fn, typename... Args>
quint32 Call(Fn slot, Args... args) {
    return slot ? slot(args...) : NoEntryPoint;
}

} // namespace handheld::detail

#include <QMutex>
#include <mutex>
namespace handheld::detail {
std::mutex& RecordLock();
template <typename F>
void WriteRecord(F change) {
    QMutexLocker lock(&RecordLock());
    change(IphoneMgr);
}
} // namespace handheld::detail
