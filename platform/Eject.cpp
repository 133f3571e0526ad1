#include "platform/Eject.h"

#include "platform/Drives.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFile>
#include <QFileInfo>
#include <QVariantMap>
#include <QtDebug>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kManagerPath = QStringLiteral("/org/freedesktop/UDisks2/Manager");
const QString kBlockIface = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFsIface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDriveIface = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kPropsIface = QStringLiteral("org.freedesktop.DBus.Properties");

const QString kLoopIface = QStringLiteral("org.freedesktop.UDisks2.Loop");
const QString kPartitionIface = QStringLiteral("org.freedesktop.UDisks2.Partition");
const QString kEncryptedIface = QStringLiteral("org.freedesktop.UDisks2.Encrypted");

// udisks' own default is two minutes; the window waits on every call, so none may take long.
// An unmount that runs out of time goes on in udisks and counts as busy.
constexpr int kCallTimeoutMs = 4000;

// The window is waiting: udisks must answer at once rather than raise a password dialog.
QVariantMap NoInteraction() {
    return {{QStringLiteral("auth.no_user_interaction"), true}};
}

QString gTestBus; // a private bus address that tests put in place of the system bus

QDBusConnection Bus() {
    if (gTestBus.isEmpty())
        return QDBusConnection::systemBus();
    return QDBusConnection::connectToBus(gTestBus, QStringLiteral("marrowgate-eject-test"));
}

QDBusMessage Call(const QString& path, const QString& iface, const QString& method, const QVariantList& args) {
    QDBusMessage msg = QDBusMessage::createMethodCall(kService, path, iface, method);
    msg.setArguments(args);
    return Bus().call(msg, QDBus::Block, kCallTimeoutMs);
}

QString ErrorText(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ErrorMessage)
        return {};
    return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
}

QVariant Property(const QString& path, const QString& iface, const QString& name, QString* error) {
    const QDBusMessage reply = Call(path, kPropsIface, QStringLiteral("Get"), {iface, name});
    if (reply.type() == QDBusMessage::ErrorMessage) {
        *error = ErrorText(reply);
        return {};
    }
    if (reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

// udisks2 names block objects after the kernel name, with characters other than letters,
// digits and '_' written as "_" followed by their hex code.
QString ObjectPathForDevice(const QString& device) {
    const QByteArray name = QFileInfo(device).fileName().toUtf8();
    QString escaped;
    for (const char c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            escaped += QLatin1Char(c);
        else
            escaped += QStringLiteral("_%1").arg(quint8(c), 2, 16, QLatin1Char('0'));
    }
    return QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + escaped;
}

QString ObjectProperty(const QString& path, const QString& iface, const QString& name) {
    QString error;
    const QString value = Property(path, iface, name, &error).value<QDBusObjectPath>().path();
    return value.isEmpty() ? QStringLiteral("/") : value;
}

// major:minor of the block device, as udisks knows it or else from the device node.
QString DevNumberOf(const QString& block, const QString& device) {
    QString error;
    const QVariant number = Property(block, kBlockIface, QStringLiteral("DeviceNumber"), &error);
    if (error.isEmpty() && number.isValid()) {
        const dev_t dev = dev_t(number.toULongLong());
        return QStringLiteral("%1:%2").arg(major(dev)).arg(minor(dev));
    }
    struct stat st {};
    if (device.isEmpty() || ::stat(QFile::encodeName(device).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return {};
    return QStringLiteral("%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
}

// The whole disk of a partition (itself for a disk), as major:minor.
QString DiskOf(const QString& devNumber) {
    const QString dir = QFileInfo(QStringLiteral("/sys/dev/block/") + devNumber).canonicalFilePath();
    if (dir.isEmpty() || !QFileInfo::exists(dir + QStringLiteral("/partition")))
        return devNumber;
    QFile f(dir + QStringLiteral("/../dev"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().trimmed()) : devNumber;
}

bool IsBusy(const QDBusMessage& reply) {
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.UDisks2.Error.DeviceBusy") ||
           name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
           name == QLatin1String("org.freedesktop.DBus.Error.Timeout");
}

} // namespace

EjectStep VolumeEject::Open(const QByteArray& root) {
    FOpen = false;
    FPlainFolder = false;
    FBlockObject.clear();
    FDriveObject.clear();
    FRefusal.clear();
    FDevNumber.clear();
    if (root.size() < 2 || root[1] != ':')
        return {false, QStringLiteral("Not a drive: %1").arg(QString::fromUtf8(root))};
    const char letter = char(QChar::fromLatin1(root[0]).toUpper().toLatin1());
    const Drive* found = nullptr;
    const std::vector<Drive> table = Drives();
    for (const Drive& d : table)
        if (d.Letter == letter)
            found = &d;
    if (!found)
        return {false, QStringLiteral("Drive %1: is not present").arg(QLatin1Char(letter))};
    if (found->Device.isEmpty()) {
        // A folder named in the drive file: nothing to take away.
        FPlainFolder = true;
        FOpen = true;
        return {true, {}};
    }

    if (!Bus().isConnected())
        return {false, QStringLiteral("The system bus is not available")};
    // A mount table may name the device through a link (/dev/disk/by-...).
    QString device = QFileInfo(found->Device).canonicalFilePath();
    if (device.isEmpty())
        device = found->Device;
    QVariantMap spec{{QStringLiteral("path"), device}};
    const QDBusMessage resolved = Call(kManagerPath, QStringLiteral("org.freedesktop.UDisks2.Manager"),
                                       QStringLiteral("ResolveDevice"), {spec, QVariantMap()});
    QString block;
    if (resolved.type() == QDBusMessage::ReplyMessage && !resolved.arguments().isEmpty()) {
        const auto paths = qdbus_cast<QList<QDBusObjectPath>>(resolved.arguments().first());
        if (!paths.isEmpty())
            block = paths.first().path();
    }
    if (block.isEmpty())
        block = ObjectPathForDevice(device); // older udisks2 without ResolveDevice
    QString error;
    const QVariant drive = Property(block, kBlockIface, QStringLiteral("Drive"), &error);
    if (!error.isEmpty())
        return {false, error};
    FBlockObject = block;
    FDevNumber = DevNumberOf(block, device);
    FDriveObject = drive.value<QDBusObjectPath>().path();
    if (FDriveObject.isEmpty())
        FDriveObject = QStringLiteral("/");
    FOpen = true;
    return {true, {}};
}

EjectStep VolumeEject::Unmount() {
    if (!FOpen)
        return {false, QStringLiteral("The volume is not open")};
    if (FPlainFolder)
        return {true, {}};
    // A refusal stands: asking again would only be refused again.
    if (!FRefusal.isEmpty())
        return {false, FRefusal};
    const QDBusMessage reply = Call(FBlockObject, kFsIface, QStringLiteral("Unmount"), {NoInteraction()});
    // Unmounted meanwhile (by the desktop, say): the step's aim is reached.
    if (reply.type() == QDBusMessage::ErrorMessage &&
        reply.errorName() != QLatin1String("org.freedesktop.UDisks2.Error.NotMounted")) {
        const QString reason = ErrorText(reply);
        qWarning("Unmount of %s: %s (%s)", qPrintable(FBlockObject), qPrintable(reason), qPrintable(reply.errorName()));
        if (!IsBusy(reply))
            FRefusal = reason;
        return {false, reason};
    }
    // udisks takes one mount away; the same file system mounted elsewhere stays in use.
    const QStringList left = FDevNumber.isEmpty() ? QStringList() : MountsOfDevice(FDevNumber);
    if (!left.isEmpty()) {
        FRefusal = QStringLiteral("The volume is still mounted at %1").arg(left.join(QStringLiteral(", ")));
        qWarning("%s", qPrintable(FRefusal));
        return {false, FRefusal};
    }
    return {true, {}};
}

EjectStep VolumeEject::Eject() {
    if (!FOpen)
        return {false, QStringLiteral("The volume is not open")};
    if (FPlainFolder)
        return {true, {}};
    if (!FRefusal.isEmpty())
        return {false, FRefusal};
    // Another partition of the disk may still be mounted: then the disk stays.
    if (!FDevNumber.isEmpty()) {
        const QStringList left = MountsOfDevice(DiskOf(FDevNumber));
        if (!left.isEmpty()) {
            const QString reason =
                QStringLiteral("The device is still mounted at %1").arg(left.join(QStringLiteral(", ")));
            qWarning("%s", qPrintable(reason));
            return {false, reason};
        }
    }
    const EjectStep done = EjectDevice();
    if (!done.Ok)
        qWarning("Eject of %s: %s", qPrintable(FBlockObject), qPrintable(done.Error));
    return done;
}

EjectStep VolumeEject::EjectDevice() {
    // An unlocked encrypted volume: lock it, then take away the device that holds it.
    QString block = FBlockObject;
    QString drive = FDriveObject;
    const QString backing = ObjectProperty(block, kBlockIface, QStringLiteral("CryptoBackingDevice"));
    if (backing != QLatin1String("/")) {
        const QDBusMessage reply = Call(backing, kEncryptedIface, QStringLiteral("Lock"), {NoInteraction()});
        if (reply.type() == QDBusMessage::ErrorMessage &&
            reply.errorName() != QLatin1String("org.freedesktop.UDisks2.Error.NotUnlocked"))
            return {false, ErrorText(reply)};
        block = backing;
        drive = ObjectProperty(block, kBlockIface, QStringLiteral("Drive"));
    }
    if (drive == QLatin1String("/")) {
        // No drive: a loop device (or a partition of one) goes away by deleting the loop.
        const QString table = ObjectProperty(block, kPartitionIface, QStringLiteral("Table"));
        const QString disk = table == QLatin1String("/") ? block : table;
        const QDBusMessage reply = Call(disk, kLoopIface, QStringLiteral("Delete"), {NoInteraction()});
        if (reply.type() != QDBusMessage::ErrorMessage)
            return {true, {}};
        if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") ||
            reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownInterface"))
            return {false, QStringLiteral("The volume has no drive to eject")};
        return {false, ErrorText(reply)};
    }
    QString error;
    const bool ejectable = Property(drive, kDriveIface, QStringLiteral("Ejectable"), &error).toBool();
    const bool canPowerOff = Property(drive, kDriveIface, QStringLiteral("CanPowerOff"), &error).toBool();
    QString lastError = error;
    if (ejectable) {
        const QDBusMessage reply = Call(drive, kDriveIface, QStringLiteral("Eject"), {NoInteraction()});
        if (reply.type() != QDBusMessage::ErrorMessage)
            return {true, {}};
        lastError = ErrorText(reply);
    }
    if (canPowerOff) {
        const QDBusMessage reply = Call(drive, kDriveIface, QStringLiteral("PowerOff"), {NoInteraction()});
        if (reply.type() != QDBusMessage::ErrorMessage)
            return {true, {}};
        lastError = ErrorText(reply);
    }
    if (lastError.isEmpty())
        lastError = QStringLiteral("The drive can neither eject nor power off");
    return {false, lastError};
}

void SetEjectBusForTesting(const QString& address) {
    gTestBus = address;
}

} // namespace platform
