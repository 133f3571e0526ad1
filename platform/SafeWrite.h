#pragma once
// Writing a file so that its final name only ever holds a complete file: the bytes go to a
// temporary file in the destination folder, which is moved into place when complete. Moving
// never replaces a file that appeared meanwhile (unless asked to), and a failure removes the
// temporary. A later run therefore never mistakes a truncated file for a finished copy.
#include <QByteArray>
#include <QString>

namespace platform {

class SafeWrite {
public:
    // Creates a temporary file in `folder` (a native path). Raises EFOpenError when it cannot.
    explicit SafeWrite(const QString& folder);
    // Removes the temporary unless it was committed.
    ~SafeWrite();
    SafeWrite(const SafeWrite&) = delete;
    SafeWrite& operator=(const SafeWrite&) = delete;

    // Appends bytes; false (errno set) on a write failure.
    bool Write(const char* data, qint64 size);
    bool Write(const QByteArray& bytes) { return Write(bytes.constData(), bytes.size()); }

    int Handle() const { return Fd; }
    QString TempPath() const { return Temp; }

    // Syncs, closes and moves the temporary to `finalPath`. Without `replace` an existing
    // file is kept: false with errno EEXIST. On any failure the temporary is removed and errno
    // tells why. Without `sync` the bytes are left to the page cache, as a plain copy does.
    bool Commit(const QString& finalPath, bool replace = false, bool sync = true);
    // Closes and removes the temporary.
    void Discard();

private:
    int Fd = -1;
    QString Temp;
};

// The folder of a path: the text before its last '/', "/" for a file in the root and "."
// for a bare name.
QString FolderOf(const QString& path);

// Moves an already written file `from` to `to` in the same file system without replacing an
// existing `to` (false with errno EEXIST). `from` is left where it was on failure.
bool MoveNoReplace(const QString& from, const QString& to);
// The same for the entries `from` and `to` of the folder open as `folderFd`: renameat2 with
// RENAME_NOREPLACE where the kernel and file system have it, else link and unlink, which refuse
// an existing target just the same.
bool RenameNoReplaceAt(int folderFd, const char* from, const char* to);

// Writes `bytes` as a new file `path` through a temporary. False with errno on failure
// (EEXIST when the name is taken and `replace` is false).
bool WriteFileSafely(const QString& path, const QByteArray& bytes, bool replace = false);

// Writes `bytes` as the new file `name` in the folder open as `folderFd`, through a temporary
// in that same folder; no link is followed and nothing is replaced. False with errno on failure
// (EEXIST when the name is taken).
bool WriteNewFileAt(int folderFd, const char* name, const QByteArray& bytes);

// Writes all of `size` bytes to `fd`, going on after interruptions; false (errno set) on failure.
bool WriteAll(int fd, const char* data, qint64 size);

// A readable reason for the errno of a failed write: "<strerror>" text.
QString LastErrorText();

} // namespace platform
