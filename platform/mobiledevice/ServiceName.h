#pragma once
// Reads the service-name object handed to AMDeviceStartService: our constant string (newer
// generation) or the inline object (older generation). Each generation accepts only its own.
#include <cstring>
#include <string>

#include "platform/mobiledevice/MobileDeviceApi.h"

namespace mobiledevice {

inline bool ReadServiceName(const void* object, bool newGeneration, std::string& name) {
    if (!object)
        return false;
    if (newGeneration) {
        const auto* s = static_cast<const ConstantString*>(object);
        if (s->Magic != ConstantStringMagic)
            return false;
        name.assign(s->Text, s->Length);
        return true;
    }
    const auto* bytes = static_cast<const unsigned char*>(object);
    static const unsigned char noClass[4] = {0, 0, 0, 0};
    if (std::memcmp(bytes, noClass, 4) != 0 || std::memcmp(bytes + 4, InlineStringMarker, 4) != 0)
        return false;
    const unsigned length = bytes[8];
    if (bytes[9 + length] != 0)
        return false;
    name.assign(reinterpret_cast<const char*>(bytes + 9), length);
    return true;
}

} // namespace mobiledevice
