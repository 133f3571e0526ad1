#pragma once
// Many new files of one folder written under temporary names and moved into place together,
// so that the guarantee of SafeWrite (a final name only ever holds a complete file, nothing
// is replaced) costs one sync of the file system instead of one per file. After a power loss
// a final name holds a complete file or nothing; unfinished temporaries keep their own names.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace platform {

class StagedFiles {
public:
    // `folder` is a native path; a folder that cannot be opened makes every Stage fail with
    // its reason.
    explicit StagedFiles(const QString& folder);
    // Removes the temporaries that were not moved.
    ~StagedFiles();
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // Writes `bytes` to a new temporary that Commit moves to `name` (a name in the folder).
    // False with errno when it cannot be written; nothing of it is left.
    bool Stage(const QString& name, const QByteArray& bytes);

    // Syncs the staged files to the disk, then moves them in the order staged, each without
    // replacing a file of its name (such a file is kept and the temporary dropped), then
    // syncs the folder. False with errno and `failedName` when the sync or a move fails: the
    // files before it are in place, the others removed.
    bool Commit(QString& failedName);

private:
    struct Entry {
        QByteArray Temp;
        QByteArray Name;
    };
    void RemovePending(size_t from);

    int Dir = -1;
    bool DirIsPath = false;
    int DirError = 0;
    uint64_t Seed = 0;
    std::vector<Entry> Pending;
};

} // namespace platform
