// CoreFoundation's constant-string maker, the one entry point the link needs from it. The
// objects live until the library is released, as constant strings do; equal texts share one.
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/mobiledevice/MobileDeviceApi.h"

namespace {
std::mutex gLock;
std::map<std::string, mobiledevice::ConstantString*>* gStrings = nullptr;

struct Release {
    ~Release() {
        if (!gStrings)
            return;
        for (auto& entry : *gStrings)
            std::free(entry.second);
        delete gStrings;
    }
} gRelease;
} // namespace

extern "C" __attribute__((visibility("default"))) const void* __CFStringMakeConstantString(const char* text,
                                                                                           uint32_t length) {
    if (!text)
        return nullptr;
    const std::string key(text, strnlen(text, length));
    std::lock_guard<std::mutex> lock(gLock);
    if (!gStrings)
        gStrings = new std::map<std::string, mobiledevice::ConstantString*>;
    auto& slot = (*gStrings)[key];
    if (!slot) {
        slot = static_cast<mobiledevice::ConstantString*>(
            std::calloc(1, sizeof(mobiledevice::ConstantString) + key.size()));
        if (!slot)
            return nullptr;
        slot->Magic = mobiledevice::ConstantStringMagic;
        slot->Length = uint32_t(key.size());
        std::memcpy(slot->Text, key.data(), key.size());
    }
    return slot;
}
