#include "platform/VolumeWatcher.h"

#include "platform/Drives.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTimer>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

// The kernel flags /proc/self/mountinfo as exceptional whenever the mount table changes; the
// slow poll covers event loops that miss that flag, and a drive file on a file system whose
// change notices do not arrive.
constexpr int kFallbackPollMs = 2000;

quint32 Bit(char letter) {
    return (letter >= 'A' && letter <= 'Z') ? 1u << (letter - 'A') : 0u;
}

std::map<char, QString> ReadTable() {
    std::map<char, QString> table;
    for (const Drive& d : Drives())
        table[d.Letter] = d.MountPoint;
    return table;
}

} // namespace

VolumeWatcher::VolumeWatcher(QObject* parent) : QObject(parent) {}

VolumeWatcher::~VolumeWatcher() {
    Stop();
}

void VolumeWatcher::Start() {
    if (FRunning)
        return;
    FRunning = true;
    FKnown = ReadTable();
    FDriveFile = QString::fromLocal8Bit(qgetenv("MARROWGATE_DRIVES"));
    if (!FDriveFile.isEmpty()) {
        FFileWatcher = std::make_unique<QFileSystemWatcher>();
        // Editors and scripts often replace the file by a rename, which ends a watch on the
        // file itself: the folder is watched too, and the file re-added after each change.
        connect(FFileWatcher.get(), &QFileSystemWatcher::fileChanged, this, [this] {
            WatchDriveFile();
            CheckNow();
        });
        connect(FFileWatcher.get(), &QFileSystemWatcher::directoryChanged, this, [this] {
            WatchDriveFile();
            CheckNow();
        });
        WatchDriveFile();
    } else {
        FMountFd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        if (FMountFd >= 0) {
            FMountNotifier = std::make_unique<QSocketNotifier>(FMountFd, QSocketNotifier::Exception);
            connect(FMountNotifier.get(), &QSocketNotifier::activated, this, [this] {
                // The flag stays raised until the file is read again from its start.
                char buf[4096];
                ::lseek(FMountFd, 0, SEEK_SET);
                while (::read(FMountFd, buf, sizeof buf) > 0) {
                }
                CheckNow();
            });
        }
    }
    FPollTimer = std::make_unique<QTimer>();
    FPollTimer->setInterval(kFallbackPollMs);
    connect(FPollTimer.get(), &QTimer::timeout, this, &VolumeWatcher::CheckNow);
    FPollTimer->start();
}

void VolumeWatcher::Stop() {
    FRunning = false;
    FPollTimer.reset();
    FMountNotifier.reset();
    FFileWatcher.reset();
    if (FMountFd >= 0) {
        ::close(FMountFd);
        FMountFd = -1;
    }
}

void VolumeWatcher::WatchDriveFile() {
    if (!FFileWatcher)
        return;
    const QFileInfo info(FDriveFile);
    const QString folder = info.absolutePath();
    if (!FFileWatcher->directories().contains(folder) && QFileInfo::exists(folder))
        FFileWatcher->addPath(folder);
    if (!FFileWatcher->files().contains(info.absoluteFilePath()) && info.exists())
        FFileWatcher->addPath(info.absoluteFilePath());
}

quint32 VolumeWatcher::CurrentMask() const {
    quint32 mask = 0;
    for (const auto& [letter, mount] : FKnown)
        mask |= Bit(letter);
    return mask;
}

void VolumeWatcher::CheckNow() {
    const std::map<char, QString> now = ReadTable();
    quint32 removed = 0, arrived = 0;
    for (const auto& [letter, mount] : FKnown) {
        const auto it = now.find(letter);
        if (it == now.end() || it->second != mount)
            removed |= Bit(letter);
    }
    for (const auto& [letter, mount] : now) {
        const auto it = FKnown.find(letter);
        if (it == FKnown.end() || it->second != mount)
            arrived |= Bit(letter);
    }
    FKnown = now;
    if (removed)
        emit DeviceChange(DBT_DEVICEREMOVECOMPLETE, removed);
    if (arrived)
        emit DeviceChange(DBT_DEVICEARRIVAL, arrived);
}

} // namespace platform
