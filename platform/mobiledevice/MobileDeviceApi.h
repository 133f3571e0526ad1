#pragma once
// The calling interface of the mobile-device library pair ("iTunesMobileDevice.dll" and
// "CoreFoundation.dll") as the link calls it. Both substitutes export exactly these names;
// the link resolves them at run time and never links against either library.
#include <cstdint>

extern "C" {

// The record the library hands to the notification callback: a device, then the message
// (1 arrived, 2 removed, anything else another state change).
struct AMDeviceNotificationInfo {
    void* Device;
    uint32_t Message;
};

typedef void (*AMDeviceNotificationCallback)(const AMDeviceNotificationInfo* info, void* cookie);

typedef const void* (*PFN_CFStringMakeConstantString)(const char* text, uint32_t length);
typedef uint32_t (*PFN_AMDeviceNotificationSubscribe)(AMDeviceNotificationCallback callback, uint32_t unused1,
                                                      uint32_t unused2, void* cookie, void** notification);
// Ends a subscription, so that no notification arrives once the libraries are released;
// exported by our substitutes.
typedef uint32_t (*PFN_AMDeviceNotificationUnsubscribe)(void* notification);
typedef uint32_t (*PFN_AMDeviceCall)(void* device); // Connect, Pair, IsPaired, Validate, Start/StopSession, Disconnect
typedef uint32_t (*PFN_AMDeviceStartService)(void* device, const void* serviceName, uint32_t* handle,
                                             uint32_t* unknown);
typedef uint32_t (*PFN_AFCConnectionOpen)(uint32_t handle, uint32_t ioTimeout, void** connection);
typedef uint32_t (*PFN_AFCConnectionClose)(void* connection);
// With `info` not null, a file that exists hands out its information (see below); null only
// tests that the path exists.
typedef uint32_t (*PFN_AFCFileInfoOpen)(void* connection, const char* path, void** info);
// The information of one file as the device gives it: pairs of texts read in turn, a null key
// after the last. "st_size" holds the file's size in decimal. AFCKeyValueClose releases it.
typedef uint32_t (*PFN_AFCKeyValueRead)(void* info, const char** key, const char** value);
typedef uint32_t (*PFN_AFCKeyValueClose)(void* info);
typedef uint32_t (*PFN_AFCFileRefOpen)(void* connection, const char* path, uint64_t mode, uint64_t* ref);
typedef uint32_t (*PFN_AFCFileRefRead)(void* connection, uint64_t ref, void* buffer, uint32_t* count);
typedef uint32_t (*PFN_AFCFileRefWrite)(void* connection, uint64_t ref, const void* buffer, uint32_t count);
typedef uint32_t (*PFN_AFCFileRefSeek)(void* connection, uint64_t ref, int64_t offset, uint64_t origin);
typedef uint32_t (*PFN_AFCFileRefClose)(void* connection, uint64_t ref);

// The test control of the simulated pair: one command line in, a number back, and text in
// out (when given). See tests/doubles/mobiledevice/SimDevice.h for the commands.
typedef int (*PFN_MobileDeviceSimControl)(const char* command, char* out, uint32_t outSize);

} // extern "C"

namespace mobiledevice {

// Open modes of AFCFileRefOpen.
constexpr uint64_t OpenRead = 2;
constexpr uint64_t OpenWriteNew = 3;

// Results that the link tells apart. Every call on a device or file connection that is gone
// (removed, or dead after the device stopped answering) answers ErrNoDevice; a pairing check
// that finds the host unknown to the device answers ErrInvalidHostId or ErrMissingPairRecord.
constexpr uint32_t ErrNoDevice = 0xE8000084;
constexpr uint32_t ErrInvalidHostId = 0xE8000013;
constexpr uint32_t ErrMissingPairRecord = 0xE8000019;

// The constant-string object that our CoreFoundation substitute makes (newer generation).
struct ConstantString {
    uint32_t Magic; // ConstantStringMagic
    uint32_t Length;
    char Text[1]; // Length bytes, then NUL
};
constexpr uint32_t ConstantStringMagic = 0x43465354; // "CFST"

// The inline constant-string object of the older generation: 4 bytes 0, 8C 07 01 00,
// a length byte, the text, NUL.
constexpr unsigned char InlineStringMarker[4] = {0x8C, 0x07, 0x01, 0x00};

} // namespace mobiledevice
