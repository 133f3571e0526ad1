#pragma once
// Many new files of one folder written under temporary names and moved into place together,
// so that the guarantee of SafeWrite (a final name only ever holds a complete file, nothing
// is replaced) costs one sync of the file system instead of one per file. After a power loss
// a final name holds a complete file or nothing; unfinished temporaries keep their own names.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

namespace platform {

class StagedFiles {
public:
    // What Commit does when a file took a staged file's name meanwhile: `sameBytes` tells
    // whether that file holds the staged bytes. The answer is the next name to try for the
    // staged file (the n-th staged), or an empty text to let that file stand for it.
    using ClashFn = std::function<QString(size_t entry, const QString& taken, bool sameBytes)>;

    // `folder` is a native path; a folder that cannot be opened makes every Stage fail with
    // its reason.
    StagedFiles(const QString& folder, ClashFn clash);
    // Removes the temporaries that were not moved.
    ~StagedFiles();
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // Writes `bytes` to a new temporary that Commit moves to `name` (a name in the folder).
    // False with errno when it cannot be written; nothing of it is left.
    bool Stage(const QString& name, const QByteArray& bytes);

    // Syncs the staged files to the disk, then moves them in the order staged, each without
    // replacing a file of its name (such a file is kept; the clash function decides), then
    // syncs the folder. False with errno and `failedName` when the sync or a move fails: the
    // files before it are in place, the others removed.
    bool Commit(QString& failedName);

    // The name in the folder that holds the n-th staged file after Commit (its own, or the
    // file that stands for it); empty when it is not in place.
    QString Placed(size_t entry) const { return entry < PlacedNames.size() ? PlacedNames[entry] : QString(); }

private:
    struct Entry {
        QByteArray Temp;
        QByteArray Name;
    };
    void RemovePending(size_t from);
    // Moves the entry into place, taking the names the clash function gives; false with errno
    // when a move fails for another reason than a taken name.
    bool MovedOrStandsFor(Entry& e, size_t entry);

    ClashFn Clash;
    std::vector<QString> PlacedNames;
    int Dir = -1;
    bool DirIsPath = false;
    int DirError = 0;
    uint64_t Seed = 0;
    std::vector<Entry> Pending;
};

} // namespace platform
