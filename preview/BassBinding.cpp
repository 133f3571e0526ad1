#include "preview/BassBinding.h"

#include <dlfcn.h>

namespace preview {

BassEntryPoints Bass{};

namespace {
void* gModule = nullptr;
}

bool LoadBass(const QByteArray& path) {
    if (gModule)
        return true;
    // Only a full path: a bare name is left to dlopen's search, which takes an empty entry
    // of LD_LIBRARY_PATH for the working folder. dlopen shows no error boxes, so nothing
    // needs to keep them away.
    if (!path.startsWith('/'))
        return false;
    gModule = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!gModule)
        return false;
    void** slot = reinterpret_cast<void**>(&Bass);
    static const char* const names[] = {"BASS_Init",
                                        "BASS_Free",
                                        "BASS_PluginLoad",
                                        "BASS_PluginFree",
                                        "BASS_StreamCreateFile",
                                        "BASS_StreamFree",
                                        "BASS_ChannelIsActive",
                                        "BASS_ChannelPlay",
                                        "BASS_ChannelStop",
                                        "BASS_ChannelPause",
                                        "BASS_ChannelSetSync",
                                        "BASS_ChannelRemoveSync"};
    static_assert(sizeof names / sizeof *names == sizeof(BassEntryPoints) / sizeof(void*));
    for (const char* entry : names) {
        *slot = dlsym(gModule, entry);
        if (!*slot++) {
            dlclose(gModule);
            gModule = nullptr;
            return false;
        }
    }
    return true;
}

void UnloadBass() {
    if (gModule)
        dlclose(gModule);
    gModule = nullptr;
}

bool BassLoaded() {
    return gModule != nullptr;
}

void* BassModule() {
    return gModule;
}

} // namespace preview
