#pragma once
// Plays one audio file at a time for the track preview. The audio library files that the
// program carries are written to a folder private to the user, loaded, and removed again when
// the player goes.
#include "platform/PostMessage.h"
#include "platform/audio/BassApi.h"

#include <QByteArray>
#include <QString>

namespace preview {

// Posted to the player's window, both parameters 0, when a stream played to its end and has
// been released. Never delivered after a Stop or Play that followed that end.
constexpr quint32 WM_PREVIEW_END = 0x400 + 0x46C;

enum TPlayerState { stStopped = 0, stPlaying = 1, stPaused = 2, stOther = 3 };

class TBsPodPlayer {
public:
    // Status values.
    static constexpr quint8 kReady = 0, kNoLibrary = 1, kNoPlugin = 2, kEmptyName = 4;

    // Raises platform::EFOpenError when a library file cannot be written.
    TBsPodPlayer(platform::WindowHandle window, bool extract);
    ~TBsPodPlayer();
    TBsPodPlayer(const TBsPodPlayer&) = delete;
    TBsPodPlayer& operator=(const TBsPodPlayer&) = delete;

    bool Play(const QString& fileName);
    void Stop();
    void Pause();
    void Resume();
    int GetState() const;

    quint8 Status() const { return FStatus; }
    // The folder of the written library files, ending in "/"; empty when nothing was written.
    QByteArray Dir() const { return FDir; }

private:
    bool ExtractLibraries();
    void ExtractOne(const char* resource, const char* file);
    void DeleteLibraries();
    bool LoadPlugin(const QByteArray& fileName, bass::HPLUGIN& slot);
    void FreePlugins();
    bass::DWORD ChannelActivity() const;
    void StopAndFree();

    QByteArray FDir;
    bass::HSYNC FSyncHandle = 0;
    quint8 FStatus = kNoLibrary;
    bass::HSTREAM FStream = 0;
    bass::HPLUGIN FAacPlugin = 0;
    bass::HPLUGIN FAlacPlugin = 0;
    bool FInit = false; // the output opened, so the library must be freed
};

} // namespace preview
