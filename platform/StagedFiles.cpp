#include "platform/StagedFiles.h"

#include "platform/FileCompare.h"
#include "platform/SafeWrite.h"

#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

StagedFiles::StagedFiles(const QString& folder, ClashFn clash) : Clash(std::move(clash)) {
    const QByteArray path = QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    Dir = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Dir < 0) {
        Dir = ::open(path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC); // writable but unreadable
        DirIsPath = Dir >= 0;
    }
    if (Dir < 0)
        DirError = errno;
    Seed = QRandomGenerator::global()->generate64();
}

StagedFiles::~StagedFiles() {
    RemovePending(0);
    if (Dir >= 0)
        ::close(Dir);
}

bool StagedFiles::Stage(const QString& name, const QByteArray& bytes) {
    if (Dir < 0) {
        errno = DirError;
        return false;
    }
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        Seed = Seed * 6364136223846793005ull + 1442695040888963407ull;
        char letters[7] = {};
        for (int i = 0; i < 6; ++i)
            letters[i] = digits[(Seed >> (16 + 7 * i)) % 62];
        temp = QByteArray(".marrowgate-") + letters + ".part";
        // The mode before the umask is what an ordinary new file gets.
        fd = ::openat(Dir, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    if (!WriteAll(fd, bytes.constData(), bytes.size())) {
        const int saved = errno;
        ::close(fd);
        ::unlinkat(Dir, temp.constData(), 0);
        errno = saved;
        return false;
    }
    // Start the write-back now, so that the sync in Commit finds little left to do.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    if (::close(fd) != 0) {
        const int saved = errno;
        ::unlinkat(Dir, temp.constData(), 0);
        errno = saved;
        return false;
    }
    Pending.push_back({temp, QFile::encodeName(name)});
    PlacedNames.emplace_back();
    return true;
}

bool StagedFiles::Commit(QString& failedName) {
    if (Pending.empty())
        return true;
    // Every temporary's bytes are on the disk before any of them takes its final name.
    int syncFd = Dir;
    int opened = -1;
    if (DirIsPath)
        syncFd = opened = ::openat(Dir, Pending.front().Temp.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    const bool synced = syncFd >= 0 && ::syncfs(syncFd) == 0;
    const int syncError = errno;
    if (opened >= 0)
        ::close(opened);
    if (!synced) {
        failedName = QFile::decodeName(Pending.front().Name);
        RemovePending(0);
        errno = syncError;
        return false;
    }
    const size_t first = PlacedNames.size() - Pending.size();
    for (size_t i = 0; i < Pending.size(); ++i) {
        Entry& e = Pending[i];
        if (MovedOrStandsFor(e, first + i))
            continue;
        const int saved = errno;
        failedName = QFile::decodeName(e.Name);
        RemovePending(i);
        Pending.clear();
        ::fsync(Dir);
        errno = saved;
        return false;
    }
    Pending.clear();
    // The moves themselves; a folder that cannot be synced still holds complete files.
    ::fsync(Dir);
    return true;
}

bool StagedFiles::MovedOrStandsFor(Entry& e, size_t entry) {
    for (;;) {
        if (RenameNoReplaceAt(Dir, e.Temp.constData(), e.Name.constData())) {
            PlacedNames[entry] = QFile::decodeName(e.Name);
            return true;
        }
        if (errno != EEXIST)
            return false;
        bool same = false;
        if (const int fd = ::openat(Dir, e.Temp.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); fd >= 0) {
            same = FileHoldsAt(Dir, e.Name, ReadFromFd(fd));
            ::close(fd);
        }
        const QString next = Clash(entry, QFile::decodeName(e.Name), same);
        if (next.isEmpty()) {
            ::unlinkat(Dir, e.Temp.constData(), 0);
            PlacedNames[entry] = QFile::decodeName(e.Name);
            return true;
        }
        e.Name = QFile::encodeName(next);
    }
}

void StagedFiles::RemovePending(size_t from) {
    const int saved = errno;
    for (size_t i = from; i < Pending.size(); ++i)
        ::unlinkat(Dir, Pending[i].Temp.constData(), 0);
    Pending.resize(std::min(from, Pending.size()));
    errno = saved;
}

} // namespace platform
