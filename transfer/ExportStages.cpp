// The album-art and photo stages of the copy thread.
#include "transfer/CopyThread.h"
#include "transfer/TrackCopy.h"

#include "device/ArtworkDb.h"
#include "device/PhotoDb.h"
#include "device/ThumbExport.h"
#include "handheld/Iphone.h"
#include "platform/Errors.h"
#include "platform/Drives.h"
#include "platform/FileCompare.h"
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
#include <unistd.h>

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

// The bytes of one full-size photo on the device, opened when first asked for: beneath the
// drive's root on a disk-mode iPod, through the link's one open file on a handheld. A photo
// that cannot be opened is held by no file; its copy then tells why.
class DevicePhoto {
public:
    DevicePhoto(bool handheld, const QString& source, const QString& devicePath, int rootFd)
        : Handheld(handheld), Source(source), DevicePath(devicePath), RootFd(rootFd) {}
    ~DevicePhoto() {
        if (Fd >= 0)
            ::close(Fd);
        if (LinkOpen)
            handheld::DeviceCloseFile();
    }
    DevicePhoto(const DevicePhoto&) = delete;
    DevicePhoto& operator=(const DevicePhoto&) = delete;

    bool IsHeldBy(const QString& local) {
        if (!Open())
            return false;
        return Handheld ? platform::FileHolds(local, device::ReadHandheldSome)
                        : platform::FileHolds(local, platform::ReadFromFd(Fd), Size);
    }

private:
    bool Open() {
        if (Tried)
            return Fd >= 0 || LinkOpen;
        Tried = true;
        if (Handheld)
            return LinkOpen = handheld::DeviceOpenFile(DevicePath.toUtf8());
        struct stat st {};
        Fd = RootFd >= 0 ? platform::OpenBeneathAt(RootFd, Source.mid(2), O_RDONLY, &st)
                         : platform::OpenDeviceFile(Source, O_RDONLY, &st);
        Size = st.st_size;
        return Fd >= 0;
    }

    const bool Handheld;
    const QString Source, DevicePath;
    const int RootFd;
    bool Tried = false, LinkOpen = false;
    int Fd = -1;
    qint64 Size = -1;
};

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
    // The export tells of no failed photo: one counts as written only when its file is in
    // place (written, or there before with its bytes), whether the export ends or fails
    // part-way. A missing container has its one line from the export; its photos are counted,
    // not listed (a large device has thousands in one).
    const qsizetype logged = db.Log.size();
    auto countWritten = [&](bool logFailures) {
        DetailLog.AppendRaw(QString::fromUtf8(db.Log.mid(logged)));
        const std::set<int32_t> missing(db.MissingContainers.begin(), db.MissingContainers.end());
        int written = 0;
        for (int i = 0; i < db.Photos.Count(); ++i) {
            const device::TPhotoItem& photo = *db.Photos.GetItem(i);
            if (!photo.Selected)
                continue;
            if (!photo.DestPath.isEmpty())
                ++written;
            else if (logFailures && !missing.contains(photo.FileNo))
                DetailLog.AppendRaw(QString::number(photo.ImageId) + QStringLiteral(".jpg :image cannot be read\r\n"));
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
        // A reference that climbs out of the device, or names no file, is not read.
        const bool safe = IsSafeDeviceLocation(photo.FullResName) && !name.isEmpty();

        // The first free of IMG.JPG, 1_IMG.JPG, 2_IMG.JPG ..., unless a file before it holds
        // this photo's bytes: that one stands for the photo, as a present track does.
        QString dest = db.OutputFolder + name;
        bool present = false;
        {
            DevicePhoto bytes(FHandheldMode, source, QStringLiteral("/Photos/") + relative, rootFolder.Fd());
            for (int n = 1; platform::EntryExists(dest); ++n) {
                if (safe && !WrittenThisRun.contains(dest) && bytes.IsHeldBy(dest)) {
                    present = true;
                    break;
                }
                dest = db.OutputFolder + device::NumberedPhotoName(name, n);
            }
        }
        const auto copyTo = [&](const QString& to) {
            return FHandheldMode ? CopyFromHandheld(QStringLiteral("/Photos/") + relative, to)
                                 : CopyFileNoReplace(source, to, rootFolder.Fd());
        };
        const CopyOutcome outcome = present ? CopyOutcome{} : !safe ? CopyOutcome{ErrFileNotFound, {}} : copyTo(dest);
        ++FPhotoIndex;
        if (outcome.Ok() && !present)
            WrittenThisRun.insert(dest);
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
                    if (copyTo(numbered).Ok()) {
                        --FPhotosFailed;
                        WrittenThisRun.insert(numbered);
                    }
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
