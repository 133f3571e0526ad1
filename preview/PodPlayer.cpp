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
#include <cstdlib>
#include <fcntl.h>
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
// ours alone and nobody else may enter it. Opened without following a link, so that a link
// planted at the name is refused rather than looked through.
bool IsPrivateFolder(QByteArray path) {
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    const bool mine = ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
    ::close(fd);
    return mine;
}

// A folder of the user's own: in the runtime folder, which is the user's alone, else under a
// name with the user id in the shared temporary folder. A name there that is taken by someone
// else, or that is not private, gives way to a fresh folder, so nobody can take the preview
// away. Empty when no folder can be had.
QByteArray MakeLibraryFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    QByteArray temp = QFile::encodeName(QDir::tempPath());
    if (temp.isEmpty()) // TMPDIR names no folder
        temp = "/tmp";
    const QByteArray shared = runtime.startsWith('/') && IsPrivateFolder(runtime)
                                  ? runtime + "/~vrqplay"
                                  : temp + "/~vrqplay-" + QByteArray::number(::geteuid());
    if ((::mkdir(shared.constData(), 0700) == 0 || errno == EEXIST) && IsPrivateFolder(shared))
        return shared + '/';
    QByteArray fresh = shared + "-XXXXXX";
    return ::mkdtemp(fresh.data()) ? fresh + '/' : QByteArray();
}

} // namespace

TBsPodPlayer::TBsPodPlayer(platform::WindowHandle window, bool extract) {
    gPreviewWnd = window;
    // Without a folder of our own nothing is loaded: a bare name would leave the choice of
    // file to the loader's search, which may include the working folder.
    if (!extract || !ExtractLibraries())
        FDir.clear();
    if (FDir.isEmpty() || !LoadBass(FDir + "bass.dll"))
        return;
    FInit = Bass.BASS_Init(-1, 44100, 0, reinterpret_cast<void*>(window), nullptr) != 0;
    if (!FInit)
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
    // Whether or not its file is still there (another copy of the program may have removed
    // it), the library is freed, so that its thread does not outlive the player.
    if (FInit)
        Bass.BASS_Free();
    UnloadBass();
    DeleteLibraries();
}

bool TBsPodPlayer::ExtractLibraries() {
    FDir = MakeLibraryFolder();
    if (FDir.isEmpty())
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
