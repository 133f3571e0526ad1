#include "transfer/TrackCopy.h"

#include "transfer/CopyThread.h"
#include "transfer/DestNaming.h"
#include "device/TrackDb.h"
#include "handheld/Iphone.h"
#include "platform/Files.h"
#include "platform/OpenBeneath.h"

#include "platform/Drives.h"
#include "platform/Errors.h"
#include "platform/FileSample.h"
#include "platform/SafeWrite.h"

#include <cerrno>
#include <functional>
#include <optional>

namespace app {
namespace {

// dest's n-th numbered name: "Song2.mp3" for "Song.mp3" and 2.
QString WithNumber(const QString& dest, qint64 n) {
    const QString ext = FileExtension(dest);
    return dest.left(dest.size() - ext.size()) + QString::number(n) + ext;
}

} // namespace

QString NumberedName(const QString& dest) {
    for (qint64 n = 1;; ++n)
        if (const QString candidate = WithNumber(dest, n); !platform::EntryExists(candidate))
            return candidate;
}

QString FileNamePart(const QString& path) {
    qsizetype cut = -1;
    for (QChar sep : {QChar(u'/'), QChar(u'\\'), QChar(u':')})
        cut = std::max(cut, path.lastIndexOf(sep));
    return WithoutControls(path.mid(cut + 1));
}

QString FileExtension(const QString& path) {
    const QString name = FileNamePart(path);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot);
}

QString SlashedLocation(QString location) {
    location.replace(u':', u'/');
    return location;
}

TMissingPaths MissingPaths(const QString& source, const QString& dest) {
    TMissingPaths m;
    m.Dest = !platform::DirectoryExists(dest.left(dest.lastIndexOf(u'/')));
    m.Source = !platform::DirectoryExists(source.left(source.lastIndexOf(u'/')));
    m.Drive = m.Source && !platform::DirectoryExists(source.left(3));
    return m;
}

CopyOutcome CopyDeviceFileToTemp(const QString& devicePath, const QString& dest, char* buffer, quint32 bufferSize) {
    platform::SafeWrite out(platform::FolderOf(dest));
    if (!handheld::DeviceCopyFileBuffered(devicePath.toUtf8(), out.TempPath(), buffer, bufferSize))
        return {ErrFileNotFound, QString::fromUtf8(handheld::DeviceLastError())};
    if (!out.Commit(dest, false)) {
        const int err = errno;
        return {err == EEXIST ? int(ErrFileExists) : err, SystemErrorText(err)};
    }
    return {};
}

bool IsSafeDeviceLocation(const QString& location) {
    if (location.trimmed().isEmpty())
        return false;
    QString parts = location;
    parts.replace(u'\\', u':').replace(u'/', u':');
    for (const QString& part : parts.split(u':'))
        if (part == QLatin1String("..") || part.contains(QChar(0)))
            return false;
    return true;
}

} // namespace app

// ---- the copy loops of the transfer ----

namespace app {

// The file among dest and its numbered names that holds the track's bytes as far as the sample
// tells (platform/FileSample.h): the source's size, then the source's first and last 64 KiB,
// read once and only when a file of that size is there; never one that this run wrote, which
// stands for another track. Stops at the first numbered name that does not exist.
bool TCopyThread::TakePresentCopy(device::TTrackItem& track, qint64 size, const SampleFn& readSource,
                                  const QString& dest) {
    std::optional<std::optional<QByteArray>> source;
    for (qint64 n = 0; size >= 0; ++n) {
        const QString candidate = n ? WithNumber(dest, n) : dest;
        if (n && !platform::EntryExists(candidate))
            return false;
        if (WrittenThisRun.contains(candidate))
            continue;
        const std::optional<QByteArray> present = platform::LocalFileSample(candidate, size);
        if (!present)
            continue;
        if (!source)
            source = readSource();
        if (*source && **source == *present) {
            ++FMusicCopied;
            track.DestPath = candidate;
            FStepPending = true;
            return true;
        }
    }
    return false;
}

void TCopyThread::TrackWritten(device::TTrackItem& track, const QString& dest) {
    ++FMusicCopied;
    track.DestPath = dest;
    WrittenThisRun.insert(dest);
}

void TCopyThread::LogReadFault(const QString& dest, const QString& location) {
    DetailLog.AppendRaw(FileNamePart(dest) + QStringLiteral(" :read error (fewer bytes than its size)\r\n") + location +
                        QStringLiteral("\r\n"));
}

// Display routines that name tracks; they run on the display's thread.
void TCopyThread::ShowTrackProgress() {
    if (FStepPending)
        ShowPendingStep();
    Src.Display->SetItemText(QString::number(FTracksDone) + u'/' + QString::number(FMusicCount) + QStringLiteral(", ") +
                             Src.TrackDb->Tracks.GetItem(FCurrentTrack).Title);
}

void TCopyThread::ShowITunesStart() {
    TCopyDisplay& d = *Src.Display;
    d.SetStageTitle(QStringLiteral("Adding the playlists and music to the iTunes"));
    d.SetItemText(QStringLiteral("Starting iTunes, please wait ..."));
    d.SetProgress(0, Src.TrackDb->Playlists.Count() + 1);
}

QString TCopyThread::BuildDestPath(int index) {
    const device::TTrackItem& track = Src.TrackDb->Tracks.GetItem(index);
    QString entry;
    const QString dest = app::BuildDestPath(Src.TrackDb->OutputFolder, Src.TrackDb->NamingScheme, track.Title,
                                            track.Artist, track.Album, &entry);
    if (dest.isEmpty() && !entry.isEmpty())
        DetailLog.Append(entry);
    return dest;
}

bool TCopyThread::BeginTrack(int i, QString& location, QString& dest) {
    FCurrentTrack = i;
    ++FTracksDone;
    Synchronize(&TCopyThread::ShowTrackProgress);
    location = SlashedLocation(Src.TrackDb->Tracks.GetItem(i).Location);
    dest = BuildDestPath(i);
    if (dest.isEmpty()) {
        FStopped = true;
        Synchronize(&TCopyThread::FillProgress);
        return false;
    }
    return true;
}

void TCopyThread::CopyMusicFromIPod() {
    DetailLog.Replace(QStringLiteral("[iPod mode]\r\n"));
    device::TiTunesDB& db = *Src.TrackDb;
    int notFoundLines = 0;
    int pathNotFoundLines = 0;
    int parameterErrors = 0;
    const QString root = QString::fromUtf8(db.Root);
    // The drive table is read once and the root looked up once; a device that leaves later
    // fails beneath the handle, and the failure then finds the drive gone from the table.
    const platform::FolderHandle rootFolder(platform::MountPointOf(root.isEmpty() ? '\0' : char(root[0].toLatin1())));
    const int rootFd = rootFolder.Fd();
    for (int i = 0; i < db.Tracks.Count(); ++i) {
        if (Terminated())
            return;
        device::TTrackItem& track = db.Tracks.GetItem(i);
        if (!track.Selected)
            continue;
        QString location, dest;
        if (!BeginTrack(i, location, dest))
            return;
        const QString source = root + location;
        const QString ext = FileExtension(source);
        dest += ext;

        // A location that climbs out of the device is never read; it counts as not found and
        // is always logged, whatever the not-found limit.
        const bool safe = IsSafeDeviceLocation(track.Location);
        const CopyOutcome outcome = safe ? CopyFileNoReplace(source, dest, rootFd) : CopyOutcome{ErrFileNotFound, {}};
        if (!safe)
            DetailLog.AppendRaw(FileNamePart(dest) + QStringLiteral(" :not found (outside the device)\r\n") +
                                track.Location + QStringLiteral("\r\n"));

        switch (outcome.Code) {
        case CopyOk: TrackWritten(track, dest); break;
        case ErrFileNotFound:
            track.DestPath.clear();
            if (notFoundLines < 4 && safe) {
                DetailLog.AppendRaw(FileNamePart(dest) + QStringLiteral(" :not found\r\n"));
                if (notFoundLines == 0)
                    DetailLog.AppendRaw(track.Location + QStringLiteral("\r\n") + dest + QStringLiteral("\r\n"));
            }
            // A refusal has its own line and leaves the not-found lines to files really missing.
            if (safe)
                ++notFoundLines;
            break;
        case ErrPathNotFound:
            track.DestPath.clear();
            if (pathNotFoundLines < 4) {
                QString text = FileNamePart(dest) + QStringLiteral(" :path not found\r\n");
                if (pathNotFoundLines == 0) {
                    const TMissingPaths missing = MissingPaths(source, dest);
                    if (missing.Dest)
                        text += QStringLiteral("Dest path");
                    if (missing.Source) {
                        if (!missing.Drive)
                            text += QStringLiteral(", Source path");
                        else
                            text += QStringLiteral(
                                "\r\nLose iPod, please check the connection between iPod with computer!");
                    }
                    text += QStringLiteral("\r\n") + track.Location + QStringLiteral("\r\n") + dest +
                            QStringLiteral("\r\n");
                }
                DetailLog.AppendRaw(text);
            }
            ++pathNotFoundLines;
            break;
        case ErrFileExists:
            // A file from before the transfer stands for the track and is not overwritten when
            // it holds the source's bytes as opened: not a copy cut short, nor another song of
            // the same name, nor one this transfer wrote for another track. The database's size
            // is not asked: other programs often store a wrong one.
            if (FMusicDestHasFiles) {
                const auto sample = [&] { return platform::SourceSample(source, outcome.SourceSize, rootFd); };
                if (TakePresentCopy(track, outcome.SourceSize, sample, dest))
                    continue;
            }
            {
                const QString numbered = NumberedName(dest);
                const CopyOutcome again = CopyFileNoReplace(source, numbered, rootFd);
                if (again.Ok()) {
                    TrackWritten(track, numbered);
                } else {
                    track.DestPath.clear();
                    if (again.Code == ErrReadFault)
                        LogReadFault(dest, track.Location);
                }
            }
            break;
        case ErrReadFault:
            track.DestPath.clear();
            LogReadFault(dest, track.Location);
            break;
        case ErrInvalidParameter:
            track.DestPath.clear();
            if (parameterErrors < 20) {
                DetailLog.AppendRaw(dest + QStringLiteral(" : parameter error\r\n"));
                ++parameterErrors;
                break;
            }
            DetailLog.Append(QStringLiteral("[X]Stopped at: ") + track.Title + ext +
                             QStringLiteral("\r\nReason: Over 20 songs have parameter error.\r\n"
                                            "Please skip the songs list above, then try again."));
            FStopped = true;
            Synchronize(&TCopyThread::FillProgress);
            return;
        default:
            track.DestPath.clear();
            DetailLog.Append(QStringLiteral("[X]Stopped at: ") + track.Title + ext + QStringLiteral("\r\nReason: ") +
                             outcome.Reason);
            FStopped = true;
            Synchronize(&TCopyThread::FillProgress);
            return;
        }
        FStepPending = true;
    }
}

// The handheld's copy: one buffer for the whole run, the file written under a temporary
// name and moved into place only once complete.
void TCopyThread::CopyMusicFromHandheld() {
    DetailLog.Replace(QStringLiteral("[iPhone/iTouch mode]\r\n"));
    quint32 bufferSize = handheld::CopyBufferSize;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size_t(bufferSize)]);
    if (!buffer) {
        bufferSize = handheld::FallbackCopyBufferSize;
        buffer.reset(new char[size_t(bufferSize)]); // std::bad_alloc ends the thread's work
    }
    device::TiTunesDB& db = *Src.TrackDb;
    int failed = 0;
    auto logFailure = [&](const QString& dest, const QString& reason) {
        ++failed;
        if (failed < 10)
            DetailLog.AppendRaw(dest + QStringLiteral("\r\n") + reason + QStringLiteral("\r\n"));
    };
    for (int i = 0; i < db.Tracks.Count(); ++i) {
        if (Terminated())
            return;
        device::TTrackItem& track = db.Tracks.GetItem(i);
        if (!track.Selected)
            continue;
        QString location, dest;
        if (!BeginTrack(i, location, dest))
            return;
        dest += FileExtension(location);

        const bool safe = IsSafeDeviceLocation(track.Location);
        if (platform::EntryExists(dest)) {
            // As on a disk-mode iPod: a file from before the transfer stands for the track only
            // when it holds the track's bytes. The size is the one the device's file service
            // gives, never the database's: other programs often store a wrong one.
            qint64 size = -1;
            const QByteArray devicePath = location.toUtf8();
            if (FMusicDestHasFiles && safe && handheld::DeviceFileSize(devicePath, size)) {
                const auto sample = [&]() -> std::optional<QByteArray> {
                    QByteArray bytes;
                    return handheld::DeviceFileSample(devicePath, size, bytes) ? std::optional(bytes) : std::nullopt;
                };
                if (TakePresentCopy(track, size, sample, dest))
                    continue;
            }
            dest = NumberedName(dest);
        }
        track.DestPath.clear();
        if (!safe) {
            // Always logged, and not at the cost of the lines kept for failed copies.
            DetailLog.AppendRaw(dest + QStringLiteral("\r\nNot found (outside the device): ") + track.Location +
                                QStringLiteral("\r\n"));
        } else {
            const CopyOutcome outcome = CopyDeviceFileToTemp(location, dest, buffer.get(), bufferSize);
            if (!outcome.Ok())
                logFailure(dest, outcome.Reason);
            else
                TrackWritten(track, dest);
        }
        FStepPending = true;
    }
}

} // namespace app
