// The album-art and photo stages of the copy thread.
#include "transfer/CopyThread.h"
#include "transfer/TrackCopy.h"

#include "device/ArtworkDb.h"
#include "device/PhotoDb.h"
#include "handheld/Iphone.h"
#include "platform/Errors.h"
#include "platform/Drives.h"
#include "platform/Files.h"
#include "platform/OpenBeneath.h"
#include "platform/SafeWrite.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <memory>
#include <set>

namespace app {
namespace {

// A handheld's photo database names no local drive; its full-size files are read through the
// link, under the media root, into a temporary file moved into place when complete.
CopyOutcome CopyFromHandheld(const QString& devicePath, const QString& dest) {
    if (QFileInfo::exists(dest))
        return {ErrFileExists, SystemErrorText(EEXIST)};
    const QString folder = QFileInfo(dest).absolutePath();
    if (!QFileInfo(folder).isDir())
        return {ErrPathNotFound, SystemErrorText(ENOENT)};
    constexpr quint32 BufferSize = 1024 * 1024;
    std::unique_ptr<char[]> buffer(new char[BufferSize]);
    return CopyDeviceFileToTemp(devicePath, dest, buffer.get(), BufferSize);
}

} // namespace

void TCopyThread::ExportArtworks() {
    DetailLog.Append(QStringLiteral("Artworks\r\n"));
    // The bitmaps only feed the iTunes stage: they go to a folder of this transfer (0700),
    // never among the user's files.
    const QString temp = QDir::tempPath(); // empty when TMPDIR names no folder
    if (!temp.isEmpty())
        ArtFolder = std::make_unique<QTemporaryDir>(temp + QStringLiteral("/marrowgate-art-XXXXXX"));
    if (!ArtFolder || !ArtFolder->isValid())
        throw platform::EFOpenError((QStringLiteral("Cannot create a temporary folder for the artworks. ") +
                                     (ArtFolder ? ArtFolder->errorString() : QString()))
                                        .trimmed());
    Src.ArtworkDb->OutputFolder = ArtworkFolder();
    // Runs to its end once begun; a cancel takes effect at the next stage's test.
    Src.ArtworkDb->ExportArt();
}

void TCopyThread::ExportPhotos() {
    DetailLog.Append(QStringLiteral("Photos\r\n"));
    PhotoStageBegun = true;
    device::TPhotoDb& db = *Src.PhotoDb;
    if (db.HasFullRes != 0) {
        try {
            CopyFullSizePhotos();
        } catch (...) {
            FPhotosFailed += FPhotoCount - FPhotoIndex; // the photos not reached
            throw;
        }
        return;
    }
    // The export tells of no failed photo: one counts as written only when its file is there,
    // whether the export ends or fails part-way. A missing container has its one line from the
    // export; its photos are counted, not listed (a large device has thousands in one).
    const qsizetype logged = db.Log.size();
    auto countWritten = [&](bool logFailures) {
        DetailLog.AppendRaw(QString::fromUtf8(db.Log.mid(logged)));
        const std::set<int32_t> missing(db.MissingContainers.begin(), db.MissingContainers.end());
        int written = 0;
        for (int i = 0; i < db.Photos.Count(); ++i) {
            const device::TPhotoItem& photo = *db.Photos.GetItem(i);
            if (!photo.Selected)
                continue;
            const QString name = QString::number(photo.ImageId) + QStringLiteral(".jpg");
            const QFileInfo out(db.OutputFolder + name);
            if (out.isFile() && !out.isSymLink())
                ++written;
            else if (logFailures && !missing.contains(photo.FileNo))
                DetailLog.AppendRaw(name + (out.exists() || out.isSymLink()
                                                ? QStringLiteral(" :name in use\r\n")
                                                : QStringLiteral(" :image cannot be read\r\n")));
        }
        FPhotosFailed = FPhotoCount - std::min(written, FPhotoCount);
    };
    try {
        db.ExportThumbs(true);
    } catch (...) {
        countWritten(false);
        throw;
    }
    countWritten(true);
}

void TCopyThread::CopyFullSizePhotos() {
    device::TPhotoDb& db = *Src.PhotoDb;
    bool notFoundLogged = false;
    bool pathNotFoundLogged = false;
    const QString root = QString::fromUtf8(db.Root);
    const platform::FolderHandle rootFolder(
        FHandheldMode || root.isEmpty() ? QString() : platform::MountPointOf(char(root[0].toLatin1())));
    for (int i = 0; i < db.Photos.Count(); ++i) {
        if (Terminated()) {
            FPhotosFailed += FPhotoCount - FPhotoIndex;
            return;
        }
        const device::TPhotoItem& photo = *db.Photos.GetItem(i);
        if (!photo.Selected)
            continue;
        const QString relative = SlashedLocation(photo.FullResName);
        const QString source = root + QStringLiteral("/Photos/") + relative;
        const QString name = FileNamePart(source);
        QString dest = db.OutputFolder + name;
        for (int n = 1; QFileInfo::exists(dest); ++n)
            dest = db.OutputFolder + QString::number(n) + u'_' + name;

        // A reference that climbs out of the device, or names no file, is not read.
        const bool safe = IsSafeDeviceLocation(photo.FullResName) && !name.isEmpty();
        const CopyOutcome outcome = !safe           ? CopyOutcome{ErrFileNotFound, {}}
                                    : FHandheldMode ? CopyFromHandheld(QStringLiteral("/Photos/") + relative, dest)
                                                    : CopyFileNoReplace(source, dest, rootFolder.Fd());
        ++FPhotoIndex;
        if (!safe)
            DetailLog.AppendRaw(FileNamePart(dest) + QStringLiteral(" :not found (outside the device)\r\n") +
                                photo.FullResName + QStringLiteral("\r\n"));
        if (!outcome.Ok()) {
            ++FPhotosFailed;
            switch (outcome.Code) {
            case ErrFileNotFound:
                if (!notFoundLogged && safe) {
                    notFoundLogged = true;
                    DetailLog.AppendRaw(FileNamePart(dest) + QStringLiteral(" :not found\r\n") + photo.FullResName +
                                        QStringLiteral("\r\n") + dest + QStringLiteral("\r\n"));
                }
                break;
            case ErrPathNotFound:
                if (!pathNotFoundLogged) {
                    pathNotFoundLogged = true;
                    QString text = dest + QStringLiteral(" :path not found\r\n");
                    const TMissingPaths missing = MissingPaths(source, dest);
                    if (missing.Source) {
                        if (!missing.Drive)
                            text += QStringLiteral("Source path");
                        else
                            text += QStringLiteral(
                                "\r\nLose iPod, please check the connection between iPod and computer.\r\n");
                    } else if (missing.Dest) {
                        text += QStringLiteral("Dest path");
                    }
                    text += QStringLiteral("\r\n") + photo.FullResName + QStringLiteral("\r\n");
                    DetailLog.AppendRaw(text);
                }
                break;
            case ErrReadFault: LogReadFault(dest, photo.FullResName); break;
            case ErrFileExists:
                if (!FPhotoDestHasFiles) {
                    const QString numbered = NumberedName(dest);
                    const bool copied = FHandheldMode
                                            ? CopyFromHandheld(QStringLiteral("/Photos/") + relative, numbered).Ok()
                                            : CopyFileNoReplace(source, numbered, rootFolder.Fd()).Ok();
                    if (copied)
                        --FPhotosFailed;
                }
                break;
            default:
                FPhotosFailed += FPhotoCount - FPhotoIndex;
                DetailLog.Append(QStringLiteral("[X]Stopped at: ") + photo.FullResName +
                                 QStringLiteral("\r\nReason: ") + outcome.Reason);
                FStopped = true;
                return;
            }
        }
        Synchronize(&TCopyThread::ShowPhotoProgress);
    }
}

} // namespace app
