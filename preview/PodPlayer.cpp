#include "preview/PodPlayer.h"

#include "platform/Errors.h"
#include "platform/SafeWrite.h"
#include "preview/BassBinding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace preview {

namespace {

std::atomic<platform::WindowHandle> gPreviewWnd{0};
// The claim on releasing the current stream: the handle of the stream that is alive, 0 when
// none. Taking it is one compare-and-exchange against a given stream, so the end procedure
// of a stream released long ago can never take the claim of a newer one.
std::atomic<bass::HSTREAM> gAliveStream{0};
// Held by the end procedure from its claim to its post, and by the window's thread while it
// gives up a stream, so that an end message already posted for that stream can be withdrawn.
std::mutex gEndLock;

bool TakeClaim(bass::HSTREAM stream) {
    bass::HSTREAM expected = stream;
    return stream != 0 && gAliveStream.compare_exchange_strong(expected, 0);
}

void PreviewEndSync(bass::HSYNC handle, bass::DWORD channel, bass::DWORD, void*) {
    std::lock_guard lock(gEndLock);
    if (!TakeClaim(channel))
        return;
    Bass.BASS_ChannelRemoveSync(channel, handle);
    Bass.BASS_ChannelStop(channel);
    Bass.BASS_StreamFree(channel);
    platform::PostMessage(gPreviewWnd, WM_PREVIEW_END, 0, 0);
}

// Another account must not be able to plant a library that we would load: the folder is
// ours alone, a real directory that nobody else may write to.
bool IsPrivateFolder(const QByteArray& path) {
    struct stat info;
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

TBsPodPlayer::TBsPodPlayer(platform::WindowHandle window, bool extract) {
    gPreviewWnd = window;
    if (!extract || !ExtractLibraries())
        FDir.clear();
    if (!LoadBass(FDir + "bass.dll"))
        return;
    if (!Bass.BASS_Init(-1, 44100, 0, reinterpret_cast<void*>(window), nullptr))
        return;
    FStatus = kReady;
    const bool aac = LoadPlugin(FDir + "aac.dll", FAacPlugin);
    const bool alac = LoadPlugin(FDir + "alac.dll", FAlacPlugin);
    if (!aac || !alac)
        FStatus = kNoPlugin;
}

TBsPodPlayer::~TBsPodPlayer() {
    Stop();
    FreePlugins();
    if (BassLoaded() && QFileInfo::exists(QFile::decodeName(FDir + "bass.dll")))
        Bass.BASS_Free();
    UnloadBass();
    DeleteLibraries();
}

bool TBsPodPlayer::ExtractLibraries() {
    QByteArray temp = QFile::encodeName(QDir::tempPath());
    if (!temp.endsWith('/'))
        temp += '/';
    FDir = temp + "~vrqplay/";
    QDir().mkpath(QDir::tempPath());
    if (::mkdir(FDir.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    if (!IsPrivateFolder(FDir))
        return false;
    ExtractOne("BSDL", "bass.dll");
    ExtractOne("BAADL", "aac.dll");
    ExtractOne("BALDL", "alac.dll");
    return true;
}

void TBsPodPlayer::ExtractOne(const char* resource, const char* file) {
    const QString target = QFile::decodeName(FDir + file);
    if (QFileInfo::exists(target))
        return;
    QFile source(QStringLiteral(":/") + QLatin1String(resource));
    if (!source.open(QIODevice::ReadOnly))
        throw platform::EFOpenError(QStringLiteral("Cannot open resource %1").arg(QLatin1String(resource)));
    // Written under a temporary name, so that a run that dies half-way leaves no broken library.
    platform::SafeWrite out(QFile::decodeName(FDir));
    if (!out.Write(source.readAll()) || (!out.Commit(target, false, false) && errno != EEXIST))
        throw platform::EFOpenError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(target, QString::fromLocal8Bit(std::strerror(errno))));
}

void TBsPodPlayer::DeleteLibraries() {
    if (FDir.isEmpty())
        return;
    for (const char* file : {"aac.dll", "alac.dll", "bass.dll"})
        ::unlink((FDir + file).constData());
    ::rmdir(FDir.constData());
}

bool TBsPodPlayer::LoadPlugin(const QByteArray& fileName, bass::HPLUGIN& slot) {
    slot = Bass.BASS_PluginLoad(fileName.constData(), 0);
    return slot != 0;
}

void TBsPodPlayer::FreePlugins() {
    for (bass::HPLUGIN plugin : {FAacPlugin, FAlacPlugin})
        if (plugin)
            Bass.BASS_PluginFree(plugin);
    FAacPlugin = FAlacPlugin = 0;
}

bass::DWORD TBsPodPlayer::ChannelActivity() const {
    return FStream == 0 ? bass::kActiveStopped : Bass.BASS_ChannelIsActive(FStream);
}

int TBsPodPlayer::GetState() const {
    switch (ChannelActivity()) {
    case bass::kActiveStopped: return stStopped;
    case bass::kActivePlaying:
    case bass::kActiveStalled: return stPlaying;
    case bass::kActivePaused: return stPaused;
    default: return stOther;
    }
}

void TBsPodPlayer::StopAndFree() {
    std::lock_guard lock(gEndLock);
    if (TakeClaim(FStream)) {
        Bass.BASS_ChannelRemoveSync(FStream, FSyncHandle);
        Bass.BASS_ChannelStop(FStream);
        Bass.BASS_StreamFree(FStream);
    } else if (FStream != 0) {
        // The end procedure released it first; its message is about a stream given up now.
        platform::RemovePostedMessages(gPreviewWnd, WM_PREVIEW_END);
    }
}

void TBsPodPlayer::Stop() {
    // Whether still playing or ended with its end procedure not yet run, a stream whose claim
    // is still open is released here; one released by its end procedure is not touched again.
    if (FStream != 0 && BassLoaded())
        StopAndFree();
    FStream = 0;
}

bool TBsPodPlayer::Play(const QString& fileName) {
    // Also a stream that ended but whose end procedure has not run yet: it would otherwise
    // stay allocated, since that procedure can no longer take the claim once a newer stream
    // holds it.
    Stop();
    if (fileName.isEmpty()) {
        FStatus = kEmptyName;
        return false;
    }
    if (!BassLoaded() || FStatus == kNoLibrary)
        return false;
    FStream = Bass.BASS_StreamCreateFile(0, fileName.utf16(), 0, 0, bass::kUnicode);
    if (FStream == 0)
        return false;
    FSyncHandle = Bass.BASS_ChannelSetSync(FStream, bass::kSyncEnd, 0, PreviewEndSync, nullptr);
    // Alive before it starts: a track shorter than this call must still find its claim.
    gAliveStream = FStream;
    if (Bass.BASS_ChannelPlay(FStream, 0))
        return true;
    {
        std::lock_guard lock(gEndLock);
        if (TakeClaim(FStream))
            Bass.BASS_StreamFree(FStream);
    }
    FStream = 0;
    return false;
}

void TBsPodPlayer::Pause() {
    if (ChannelActivity() == bass::kActivePlaying)
        Bass.BASS_ChannelPause(FStream);
}

void TBsPodPlayer::Resume() {
    if (ChannelActivity() == bass::kActivePaused)
        Bass.BASS_ChannelPlay(FStream, 0);
}

} // namespace preview
