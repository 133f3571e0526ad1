#pragma once
// Plays one audio file at a time for the track preview. The audio library files that the
// program carries are written to a folder private to the user, loaded, and removed again when
// the player goes. The folder is held open from its check to the end, and every write, load and
// removal goes through that descriptor, so that nobody who can rename things in a folder above
// it can slip another folder in under its name.
#include "platform/PostMessage.h"
#include "platform/audio/BassApi.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

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
    // Where the folder of the library files was made, ending in "/"; empty when there is none.
    QByteArray Dir() const { return FDir; }

    // Tests: runs once the library folder has been checked, before anything is written to it.
    static std::function<void()> FolderCheckedHook;

private:
    bool OpenLibraryFolder();
    QByteArray LibraryPath(const char* file) const;
    bool ExtractLibraries();
    bool ExtractOne(const char* resource, const char* file);
    void DeleteLibraries();
    void ReleaseFolder(const std::vector<const char*>& files, bool removeFolder);
    bool LoadPlugin(const QByteArray& fileName, bass::HPLUGIN& slot);
    void FreePlugins();
    bass::DWORD ChannelActivity() const;
    void StopAndFree();

    QByteArray FDir;
    int FDirFd = -1;    // the library folder, held from its check to the end
    int FParentFd = -1; // the folder that holds it, where it is removed by name
    QByteArray FDirName;
    bool FFresh = false; // made by this player
    bass::HSYNC FSyncHandle = 0;
    quint8 FStatus = kNoLibrary;
    bass::HSTREAM FStream = 0;
    bass::HPLUGIN FAacPlugin = 0;
    bass::HPLUGIN FAlacPlugin = 0;
    bool FInit = false; // the output opened, so the library must be freed
};

} // namespace preview
