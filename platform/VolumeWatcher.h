#pragma once
// Tells the window when volumes arrive and leave, with the unit mask of the drive letters
// concerned (bit n = letter 'A'+n). It watches the mount table, or the MARROWGATE_DRIVES file
// when that is set, and compares the drive table before and after each change.
#include <QObject>
#include <QString>
#include <map>
#include <memory>

class QFileSystemWatcher;
class QSocketNotifier;
class QTimer;

namespace platform {

// The event codes the window knows from the system's device-change message.
inline constexpr quint32 DBT_DEVICEARRIVAL = 0x8000;
inline constexpr quint32 DBT_DEVICEREMOVECOMPLETE = 0x8004;

class VolumeWatcher : public QObject {
    Q_OBJECT
public:
    explicit VolumeWatcher(QObject* parent = nullptr);
    ~VolumeWatcher() override;

    // Takes the current table as the starting point and begins to watch. Volumes present at
    // Start raise no arrival.
    void Start();
    void Stop();
    bool Running() const { return FRunning; }

    // Re-reads the drive table now and reports what changed since the last look. The watch
    // calls it on every change; tests call it directly.
    void CheckNow();

    // The letters seen at the last look.
    quint32 CurrentMask() const;

Q_SIGNALS:
    // One signal per look and event kind: removals are reported before arrivals. A letter whose
    // folder changed between two looks is reported as removed and then as arrived.
    void DeviceChange(quint32 event, quint32 unitMask);

private:
    void WatchDriveFile();

    bool FRunning = false;
    QString FDriveFile;
    std::map<char, QString> FKnown; // letter -> mount point
    std::unique_ptr<QFileSystemWatcher> FFileWatcher;
    std::unique_ptr<QSocketNotifier> FMountNotifier;
    std::unique_ptr<QTimer> FPollTimer;
    int FMountFd = -1;
};

} // namespace platform
