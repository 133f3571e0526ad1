// The eject: plain folders and what cannot be opened without a bus, then against a fake
// udisks2 on a private bus.
#include "platform/Drives.h"
#include "platform/Eject.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <sys/sysmacros.h>

using namespace platform;

// A plain folder passes every step without the bus. Unknown letters, malformed roots and a
// block device udisks2 does not know fail, and the later steps touch nothing.
TEST(VolumeEject, PlainFoldersPassAndWhatCannotBeOpenedFails) {
    SetDriveTableForTesting({{{'C', "/", DriveFixed, {}},
                              {'D', "/tmp", DriveRemovable, {}},
                              {'E', "/media/none", DriveRemovable, "/dev/marrowgate-no-such-device"}}});
    for (const char* root : {"d:", "F:", "", "E", "/media/x", "E:"}) {
        const bool plain = root[0] == 'd';
        VolumeEject v;
        EXPECT_EQ(v.Open(root).Error.isEmpty(), plain) << root;
        EXPECT_EQ(v.IsPlainFolder() + v.Unmount().Ok + v.Eject().Ok + v.Unmount().Ok, plain ? 4 : 0) << root;
    }
}

// What holds the file system's block device: a drive, nothing (a loop device), or an encrypted
// partition of the drive.
enum class Holder { Drive, Loop, Encrypted };
const QString kUDisks = QStringLiteral("/org/freedesktop/UDisks2"), kBacking = kUDisks + "/block_devices/sdc1";

// Answers like udisks2 for one block device; unmounts answer from a script of error names
// ("" for success) and every call is written down, with " asks" when it allowed a dialog.
class FakeUDisks : public QDBusVirtualObject {
public:
    QMutex Lock;
    QStringList Unmounts, Calls;
    Holder Held = Holder::Drive;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        QMutexLocker lock(&Lock);
        auto path = [](const QString& p) { return QVariant::fromValue(QDBusObjectPath(p)); };
        const QString name = m.arguments().value(1).toString();
        const bool drive = Held == Holder::Drive || m.path() == kBacking;
        if (m.member() == "Get") {
            const QVariant value = name == "Drive" ? path(drive ? kUDisks + "/drives/Stick" : "/")
                                   : name == "CryptoBackingDevice" && Held == Holder::Encrypted ? path(kBacking)
                                   : name == "DeviceNumber" ? QVariant(qulonglong(makedev(7, 3)))
                                                            : QVariant(name == "Ejectable" || name == "CanPowerOff");
            return bus.send(m.createReply(QVariant::fromValue(QDBusVariant(value))));
        }
        if (m.member() == "ResolveDevice")
            return bus.send(m.createReply(
                QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(kUDisks + "/block_devices/loop3")})));
        const auto options = qdbus_cast<QVariantMap>(m.arguments().value(0));
        Calls << m.member() + (options.value("auth.no_user_interaction").toBool() ? "" : " asks");
        const QString error = m.member() == "Unmount" && !Unmounts.isEmpty() ? Unmounts.takeFirst() : QString();
        return bus.send(error.isEmpty() ? m.createReply() : m.createErrorReply(error, error));
    }
};

// The window's sequence against the fake on a private bus: up to five unmounts, then the eject
// once one succeeded.
TEST(UDisksEject, RetriesOnlyABusyVolumeAndNeverEjectsWhatIsStillMounted) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "starts a process, which the thread checker cannot follow";
#endif
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(daemon.waitForStarted() && daemon.waitForReadyRead(10000));
    const QString address = QString::fromUtf8(daemon.readLine().trimmed());
    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("fake-udisks"));
    FakeUDisks fake;
    QThread service; // the fake answers there while the test's calls block this thread
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.UDisks2")) &&
                bus.registerVirtualObject(kUDisks, &fake, QDBusConnection::SubPath));
    fake.moveToThread(&service);
    service.start();
    SetEjectBusForTesting(address);
    SetDriveTableForTesting({{{'C', "/", DriveFixed, {}}, {'E', "/media/u/STICK", DriveRemovable, "/dev/loop3"}}});
    const QString busy = QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy");
    // Name, unmount answers, holder, further mounts, calls; a lone Unmount: nothing was dismounted.
    const std::tuple<const char*, QStringList, Holder, QByteArray, const char*> cases[] = {
        {"refused", {"org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain"}, Holder::Drive, "", "Unmount"},
        {"busy, then free", {busy, busy}, Holder::Drive, "", "Unmount Unmount Unmount Eject"},
        {"loop device", {}, Holder::Loop, "", "Unmount Delete"},
        {"encrypted", {}, Holder::Encrypted, "", "Unmount Lock Eject"},
        {"mounted twice", {}, Holder::Drive, "40 1 7:3 / /mnt/other rw - vfat /dev/loop3 rw\n", "Unmount"},
    };
    for (const auto& [name, unmounts, held, mountInfo, calls] : cases) {
        SCOPED_TRACE(name);
        const bool dismounted = QByteArray(calls) != "Unmount";
        std::tie(fake.Unmounts, fake.Held) = std::tuple(unmounts, held);
        fake.Calls.clear();
        SetMountInfoForTesting(mountInfo);
        VolumeEject volume;
        ASSERT_TRUE(volume.Open("E:").Ok);
        EjectStep step;
        for (int attempt = 0; attempt < 5 && !step.Ok; ++attempt)
            step = volume.Unmount();
        EXPECT_EQ(step.Error.isEmpty(), dismounted) << step.Error.toStdString();
        EXPECT_EQ(volume.Eject().Ok, dismounted); // and without a call when not dismounted
        QMutexLocker lock(&fake.Lock);
        EXPECT_EQ(fake.Calls.join(' '), calls);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-udisks"));
    service.quit();
    service.wait();
    SetEjectBusForTesting({});
    SetMountInfoForTesting(std::nullopt); // the daemon is killed and awaited as its process object goes
}
