#pragma once
// The audio library "bass.dll", loaded at run time with the twelve entry points that the
// preview uses. One copy per process; loaded and unloaded on the window's thread only.
#include "platform/audio/BassApi.h"

#include <QByteArray>

namespace preview {

struct BassEntryPoints {
    bass::InitFn* BASS_Init;
    bass::FreeFn* BASS_Free;
    bass::PluginLoadFn* BASS_PluginLoad;
    bass::PluginFreeFn* BASS_PluginFree;
    bass::StreamCreateFileFn* BASS_StreamCreateFile;
    bass::StreamFreeFn* BASS_StreamFree;
    bass::ChannelIsActiveFn* BASS_ChannelIsActive;
    bass::ChannelPlayFn* BASS_ChannelPlay;
    bass::ChannelStopFn* BASS_ChannelStop;
    bass::ChannelPauseFn* BASS_ChannelPause;
    bass::ChannelSetSyncFn* BASS_ChannelSetSync;
    bass::ChannelRemoveSyncFn* BASS_ChannelRemoveSync;
};

// Meaningful only while BassLoaded(); written before any stream exists.
extern BassEntryPoints Bass;

// UTF-8 path. Already loaded: true, the path is not looked at. Anything but an absolute path
// is refused (false): the library is never searched for.
bool LoadBass(const QByteArray& path);
void UnloadBass();
bool BassLoaded();
// The loaded library's own handle, for look-ups beyond the twelve (tests, benchmarks).
void* BassModule();

} // namespace preview
