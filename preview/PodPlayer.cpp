#include "preview/PodPlayer.h"

#include "platform/Errors.h"
#include "platform/SafeWrite.h"
#include "preview/BassBinding.h"

#include <QDir>
#include <QFile>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <tuple>
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
// ours alone and nobody else may enter it. Opened without following a link at its name, so
// that a link planted there is refused rather than looked through.
int OpenPrivateFolder(int at, const char* name) {
    const int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    if (fd >= 0 && (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

const char* const kLibraries[][2] = {{"BSDL", "bass.dll"}, {"BAADL", "aac.dll"}, {"BALDL", "alac.dll"}};

} // namespace

std::function<void()> TBsPodPlayer::FolderCheckedHook;

TBsPodPlayer::TBsPodPlayer(platform::WindowHandle window, bool extract) {
    gPreviewWnd = window;
    // Without a folder of our own nothing is loaded: a bare name would leave the choice of
    // file to the loader's search, which may include the working folder.
    if (!extract || !ExtractLibraries())
        FDir.clear();
    if (FDir.isEmpty() || !LoadBass(LibraryPath("bass.dll")))
        return;
    FInit = Bass.BASS_Init(-1, 44100, 0, reinterpret_cast<void*>(window), nullptr) != 0;
    if (!FInit)
        return;
    FStatus = kReady;
    const bool aac = LoadPlugin(LibraryPath("aac.dll"), FAacPlugin);
    const bool alac = LoadPlugin(LibraryPath("alac.dll"), FAlacPlugin);
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

// A folder of the user's own: in the runtime folder, which is the user's alone, else under a
// name with the user id in the shared temporary folder. A name there that is taken by someone
// else, or that is not private, gives way to a fresh folder, so nobody can take the preview
// away. From the first look on, the folders are held open and names are only looked up in them.
bool TBsPodPlayer::OpenLibraryFolder() {
    QByteArray base = qgetenv("XDG_RUNTIME_DIR");
    while (base.size() > 1 && base.endsWith('/')) // a closing "/" would look through a link
        base.chop(1);
    QByteArray name = "~vrqplay";
    int parent = base.startsWith('/') ? OpenPrivateFolder(AT_FDCWD, base.constData()) : -1;
    if (parent < 0) {
        base = QFile::encodeName(QDir::tempPath());
        if (base.isEmpty()) // TMPDIR names no folder
            base = "/tmp";
        name += '-' + QByteArray::number(::geteuid());
        parent = ::open(base.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (parent < 0)
            return false;
    }
    bool fresh = ::mkdirat(parent, name.constData(), 0700) == 0;
    int dir = fresh || errno == EEXIST ? OpenPrivateFolder(parent, name.constData()) : -1;
    if (dir < 0) {
        QByteArray pattern = "/proc/self/fd/" + QByteArray::number(parent) + '/' + name + "-XXXXXX";
        fresh = ::mkdtemp(pattern.data()) != nullptr;
        name = pattern.mid(pattern.lastIndexOf('/') + 1);
        dir = fresh ? OpenPrivateFolder(parent, name.constData()) : -1;
    }
    if (dir < 0) {
        ::close(parent);
        return false;
    }
    std::tie(FDir, FDirFd, FParentFd, FDirName, FFresh) = std::tuple(base + '/' + name + '/', dir, parent, name, fresh);
    return true;
}

// The loader reaches the file through the folder that is held open, whatever its name now holds.
QByteArray TBsPodPlayer::LibraryPath(const char* file) const {
    return "/proc/self/fd/" + QByteArray::number(FDirFd) + '/' + file;
}

bool TBsPodPlayer::ExtractLibraries() {
    if (!OpenLibraryFolder())
        return false;
    if (FolderCheckedHook)
        FolderCheckedHook();
    std::vector<const char*> written;
    try {
        for (const auto& [resource, file] : kLibraries)
            if (ExtractOne(resource, file))
                written.push_back(file);
    } catch (...) {
        // A player that does not come to be leaves nothing behind: neither what it wrote nor
        // the folder it made.
        ReleaseFolder(written, FFresh);
        throw;
    }
    return true;
}

// True when the file was written here, false when it was there already.
bool TBsPodPlayer::ExtractOne(const char* resource, const char* file) {
    struct stat info;
    if (::fstatat(FDirFd, file, &info, AT_SYMLINK_NOFOLLOW) == 0)
        return false;
    QFile source(QStringLiteral(":/") + QLatin1String(resource));
    if (!source.open(QIODevice::ReadOnly))
        throw platform::EFOpenError(QStringLiteral("Cannot open resource %1").arg(QLatin1String(resource)));
    // Written under a temporary name, so that a run that dies half-way leaves no broken library.
    if (platform::WriteNewFileAt(FDirFd, file, source.readAll()))
        return true;
    if (errno == EEXIST) // another copy of the program was quicker
        return false;
    throw platform::EFOpenError(QStringLiteral("Cannot create file \"%1\". %2")
                                    .arg(QFile::decodeName(FDir + file), QString::fromLocal8Bit(std::strerror(errno))));
}

void TBsPodPlayer::DeleteLibraries() {
    ReleaseFolder({"aac.dll", "alac.dll", "bass.dll"}, true);
}

void TBsPodPlayer::ReleaseFolder(const std::vector<const char*>& files, bool removeFolder) {
    if (FDirFd < 0)
        return;
    for (const char* file : files)
        ::unlinkat(FDirFd, file, 0);
    // The folder goes by its name only while that name still holds it: whoever can write the
    // folder above may have moved it and put another in its place.
    struct stat held, named;
    if (removeFolder && ::fstat(FDirFd, &held) == 0 &&
        ::fstatat(FParentFd, FDirName.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino)
        ::unlinkat(FParentFd, FDirName.constData(), AT_REMOVEDIR);
    ::close(FDirFd);
    ::close(FParentFd);
    FDirFd = FParentFd = -1;
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
