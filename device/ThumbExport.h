#pragma once
// Reading images out of thumbnail containers, from a disk-mode iPod's files or through the
// handheld link's one open file, and writing exported files safely. Shared by the photo
// exporters, the grid loaders and the artwork database.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <memory>
#include <vector>

namespace device {

class ThumbContainer {
public:
    virtual ~ThumbContainer() = default;
    // Exactly `count` bytes at `offset` into `dest`; false when the container does not hold
    // them all (nothing partial is passed off as an image).
    virtual bool ReadAt(qint64 offset, char* dest, qint64 count) = 0;
    bool ReadAt(qint64 offset, QByteArray& dest, qint64 count);
    // Bytes in the container, -1 when the link cannot tell.
    virtual qint64 Length() const { return -1; }
};

// A container file of a disk-mode iPod; null when it cannot be opened.
std::unique_ptr<ThumbContainer> OpenDiskContainer(const QString& path);
// The handheld's container at `path` under the media root, open until the object goes.
// Null when the link cannot open it; `error` then holds the link's reason.
std::unique_ptr<ThumbContainer> OpenHandheldContainer(const QByteArray& path, QByteArray& error);

// Exactly `count` bytes at `offset` of the handheld link's open file; false when the file
// does not hold them all. ReadHandheldSome reads once: the bytes delivered, 0 at the file's
// end, -1 on failure.
bool ReadHandheldAt(qint64 offset, char* dest, qint64 count);
qint64 ReadHandheldSome(qint64 offset, char* dest, qint64 count);

// Largest image a container read may ask for; larger sizes from a damaged database fail.
constexpr qint64 MaxImageBytes = qint64(64) << 20;

// Writes `bytes` as `path` through a temporary. Without `replace` an existing file is kept
// and false returned. Raises platform::EFOpenError when the file cannot be written.
bool SaveExportFile(const QString& path, const QByteArray& bytes, bool replace);

// Where an export's files go, in the order of the photos. Put raises platform::EFOpenError
// when a file cannot be written; Finish, called once after the last Put (also when the export
// fails part-way), puts the files in place and raises likewise. `placed` (alive until Finish
// ends) gets the file that holds the photo once it is there: `path`, or one of its numbered
// names "1_<name>", "2_<name>" ..., since a file of another photo is never taken for it.
class ExportSink {
public:
    virtual ~ExportSink() = default;
    virtual void Put(const QString& path, const QByteArray& bytes, QString& placed) = 0;
    virtual void Finish() = 0;
};

// "<n>_<name>" for n > 0, the name itself for 0: the names a photo's file may take.
QString NumberedPhotoName(const QString& name, qint64 n);

// The photo's container name "F<id>_<n>.ithmb".
QByteArray ContainerName(int32_t id, int32_t fileNo);

// Most containers an export probes one by one; real devices stay far below it.
constexpr int32_t MaxProbedContainers = 4096;

// The container numbers an export visits, in order: 1 to `fileCount`, each looked for even
// when no item lies in it. A count beyond MaxProbedContainers comes from a damaged database;
// then only the numbers in `used` (those the items refer to) are visited, so that it cannot
// make us try billions of names.
std::vector<int32_t> ContainersToVisit(int32_t fileCount, const std::vector<int32_t>& used);

} // namespace device
