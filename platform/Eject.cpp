#include "platform/Eject.h"

#include "platform/Drives.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFileInfo>
#include <QVariantMap>

namespace platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kManagerPath = QStringLiteral("/org/freedesktop/UDisks2/Manager");
const QString kBlockIface = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFsIface = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDriveIface = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kPropsIface = QStringLiteral("org.freedesktop.DBus.Properties");

// Unmounting flushes the volume's cache, which takes a while on a full, slow player.
constexpr int kUnmountTimeoutMs = 120000;
constexpr int kCallTimeoutMs = 30000;

QDBusMessage Call(const QString& path, const QString& iface, const QString& method, const QVariantList& args,
                  int timeout = kCallTimeoutMs) {
    QDBusMessage msg = QDBusMessage::createMethodCall(kService, path, iface, method);
    msg.setArguments(args);
    return QDBusConnection::systemBus().call(msg, QDBus::Block, timeout);
}

QString ErrorText(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ErrorMessage) return {};
    return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
}

QVariant Property(const QString& path, const QString& iface, const QString& name, QString* error) {
    const QDBusMessage reply = Call(path, kPropsIface, QStringLiteral("Get"), {iface, name});
    if (reply.type() == QDBusMessage::ErrorMessage) {
        *error = ErrorText(reply);
        return {};
    }
    if (reply.arguments().isEmpty()) return {};
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

} // namespace

EjectStep VolumeEject::Open(const QByteArray& root) {
    FOpen = false;
    FPlainFolder = false;
    FBlockObject.clear();
    FDriveObject.clear();
    if (root.size() < 2 || root[1] != ':')
        return {false, QStringLiteral("Not a drive: %1").arg(QString::fromUtf8(root))};
    const char letter = char(QChar::fromLatin1(root[0]).toUpper().toLatin1());
    const Drive* found = nullptr;
    const std::vector<Drive> table = Drives();
    for (const Drive& d : table)
        if (d.Letter == letter) found = &d;
    if (!found) return {false, QStringLiteral("Drive %1: is not present").arg(QLatin1Char(letter))};
    if (found->Device.isEmpty()) {
        // A folder named in the drive file: nothing to take away.
        FPlainFolder = true;
        FOpen = true;
        return {true, {}};
    }

    if (!QDBusConnection::systemBus().isConnected())
        return {false, QStringLiteral("The system bus is not available")};
    // A mount table may name the device through a link (/dev/disk/by-...).
    QString device = QFileInfo(found->Device).canonicalFilePath();
    if (device.isEmpty()) device = found->Device;
    QVariantMap spec{{QStringLiteral("path"), device}};
    const QDBusMessage resolved = Call(kManagerPath, QStringLiteral("org.freedesktop.UDisks2.Manager"),
                                       QStringLiteral("ResolveDevice"), {spec, QVariantMap()});
    QString block;
    if (resolved.type() == QDBusMessage::ReplyMessage && !resolved.arguments().isEmpty()) {
        const auto paths = qdbus_cast<QList<QDBusObjectPath>>(resolved.arguments().first());
        if (!paths.isEmpty()) block = paths.first().path();
    }
    if (block.isEmpty()) block = ObjectPathForDevice(device); // older udisks2 without ResolveDevice
    QString error;
    const QVariant drive = Property(block, kBlockIface, QStringLiteral("Drive"), &error);
    if (!error.isEmpty()) return {false, error};
    FBlockObject = block;
    FDriveObject = drive.value<QDBusObjectPath>().path();
    if (FDriveObject.isEmpty()) FDriveObject = QStringLiteral("/");
    FOpen = true;
    return {true, {}};
}

EjectStep VolumeEject::Unmount() {
    if (!FOpen) return {false, QStringLiteral("The volume is not open")};
    if (FPlainFolder) return {true, {}};
    const QDBusMessage reply =
        Call(FBlockObject, kFsIface, QStringLiteral("Unmount"), {QVariantMap()}, kUnmountTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        // Unmounted meanwhile (by the desktop, say): the step's aim is reached.
        if (reply.errorName() == QLatin1String("org.freedesktop.UDisks2.Error.NotMounted")) return {true, {}};
        return {false, ErrorText(reply)};
    }
    return {true, {}};
}

EjectStep VolumeEject::Eject() {
    if (!FOpen) return {false, QStringLiteral("The volume is not open")};
    if (FPlainFolder) return {true, {}};
    if (FDriveObject == QLatin1String("/"))
        return {false, QStringLiteral("The volume has no drive to eject")};
    QString error;
    const bool ejectable = Property(FDriveObject, kDriveIface, QStringLiteral("Ejectable"), &error).toBool();
    const bool canPowerOff =
        Property(FDriveObject, kDriveIface, QStringLiteral("CanPowerOff"), &error).toBool();
    QString lastError = error;
    if (ejectable) {
        const QDBusMessage reply = Call(FDriveObject, kDriveIface, QStringLiteral("Eject"), {QVariantMap()});
        if (reply.type() != QDBusMessage::ErrorMessage) return {true, {}};
        lastError = ErrorText(reply);
    }
    if (canPowerOff) {
        const QDBusMessage reply =
            Call(FDriveObject, kDriveIface, QStringLiteral("PowerOff"), {QVariantMap()});
        if (reply.type() != QDBusMessage::ErrorMessage) return {true, {}};
        lastError = ErrorText(reply);
    }
    if (lastError.isEmpty()) lastError = QStringLiteral("The drive can neither eject nor power off");
    return {false, lastError};
}

} // namespace platform
