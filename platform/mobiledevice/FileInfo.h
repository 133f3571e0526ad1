#pragma once
// The file information that AFCFileInfoOpen hands out, the same in both substitutes: the
// device's key and value texts, read in turn by AFCKeyValueRead and released by
// AFCKeyValueClose. Each call hands out an object of its own, so no two callers share one.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace mobiledevice {

struct FileInfo {
    std::vector<std::pair<std::string, std::string>> Pairs;
    size_t Next = 0;
};

constexpr uint32_t ErrBadInfo = 7; // as for a bad file reference

inline uint32_t ReadKeyValue(void* info, const char** key, const char** value) {
    if (!info || !key || !value)
        return ErrBadInfo;
    auto* i = static_cast<FileInfo*>(info);
    if (i->Next >= i->Pairs.size()) {
        *key = *value = nullptr;
        return 0;
    }
    const auto& [k, v] = i->Pairs[i->Next++];
    *key = k.c_str();
    *value = v.c_str();
    return 0;
}

inline uint32_t CloseKeyValue(void* info) {
    if (!info)
        return ErrBadInfo;
    delete static_cast<FileInfo*>(info);
    return 0;
}

} // namespace mobiledevice
