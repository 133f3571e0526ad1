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
    // A bare name is searched for by dlopen itself (LD_LIBRARY_PATH, the program's run path,
    // the system folders), never in the current folder. Windows' SetErrorMode, which keeps
    // the loader's error boxes away, has no counterpart: dlopen shows nothing.
    const QByteArray name = path.isEmpty() ? QByteArrayLiteral("bass.dll") : path;
    gModule = dlopen(name.constData(), RTLD_NOW | RTLD_LOCAL);
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
