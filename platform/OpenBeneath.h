#pragma once
// Opening files of a device, which is untrusted: a file is reached only beneath the device's
// root and never through a symbolic link, and only a regular file is opened, without ever
// blocking on a pipe or a device node.
#include <QString>
#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

// Opens `relative` ('/'-separated) beneath the folder `root` with `flags` (O_RDONLY, O_RDWR, or
// O_PATH for a handle that only tells the file is there).
// Returns the descriptor (close-on-exec, blocking), or -1 with errno set: ENOENT also for a
// link on the way, a way out of root, or an entry that is not a regular file. When `st` is
// given it receives the file's status.
int OpenBeneath(const QString& root, const QString& relative, int flags = O_RDONLY, struct stat* st = nullptr);
// The same beneath an open handle on the root folder (an O_PATH descriptor will do).
int OpenBeneathAt(int rootFd, const QString& relative, int flags = O_RDONLY, struct stat* st = nullptr);

// A handle on a folder held while a loop opens many files beneath it, so that the folder is
// looked up once. -1 when it cannot be opened.
class FolderHandle {
public:
    explicit FolderHandle(const QString& folder);
    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    int Fd() const { return Handle; }

private:
    int Handle = -1;
};

// A device path "E:/..." opened beneath its drive's mount point (ENOENT when the letter is not
// in the table); a native path is opened beneath its own folder. Same answers as above.
int OpenDeviceFile(const QString& path, int flags = O_RDONLY, struct stat* st = nullptr);

// Tests force the descriptor walk that stands in where the kernel lacks openat2.
void UseOpenBeneathWalkForTesting(bool walk);

} // namespace platform
