#pragma once
// Taking a removable volume away safely, one step at a time: the caller decides how often to
// try and how long to wait between tries. Real volumes go through udisks2 on the system bus;
// a drive from the MARROWGATE_DRIVES file is a plain folder, and every step on it succeeds
// without touching the bus.
#include <QByteArray>
#include <QString>

namespace platform {

struct EjectStep {
    bool Ok = false;
    QString Error; // the reason when not Ok, as udisks2 or the system gives it
};

class VolumeEject {
public:
    // Finds the volume behind a drive root such as "E:". Fails when the letter is not in the
    // drive table or udisks2 does not know its block device.
    EjectStep Open(const QByteArray& root);
    bool IsOpen() const { return FOpen; }
    // True for a drive-file drive, whose steps succeed without the bus.
    bool IsPlainFolder() const { return FPlainFolder; }

    // One attempt at unmounting the volume's file system (the lock and dismount of the volume).
    // Only a busy volume is worth another attempt: once udisks refused (not authorized, say) or
    // the file system stays mounted elsewhere, every later step answers that reason at once.
    EjectStep Unmount();
    // Ejects the media of the volume's drive, or powers the drive off when it cannot eject; a
    // loop device is deleted and an encrypted volume locked and its backing device taken. Never
    // while the device still has a mount.
    EjectStep Eject();

    QString BlockObject() const { return FBlockObject; }
    QString DriveObject() const { return FDriveObject; }

private:
    EjectStep EjectDevice();

    bool FOpen = false;
    bool FPlainFolder = false;
    QString FBlockObject; // udisks2 object path of the block device
    QString FDriveObject; // udisks2 object path of its drive, "/" when it has none
    QString FDevNumber;   // major:minor of the block device
    QString FRefusal;     // why udisks will not let the volume go, once it said so
};

// Tests point the eject at a private bus with a fake udisks2; "" returns to the system bus.
void SetEjectBusForTesting(const QString& address);

} // namespace platform
