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

namespace {

const QString kBlock = QStringLiteral("/org/freedesktop/UDisks2/block_devices/loop3");
const QString kDrive = QStringLiteral("/org/freedesktop/UDisks2/drives/Stick");
const QString kBacking = QStringLiteral("/org/freedesktop/UDisks2/block_devices/sdc1");

// A plain folder passes every step without the bus. Unknown letters, malformed roots and a
// block device udisks2 does not know (or no system bus at all) fail with a reason, never
// succeed, and the later steps touch nothing.
TEST(VolumeEject, PlainFoldersPassAndWhatCannotBeOpenedFails) {
    SetDriveTableForTesting({{{'C', "/", DriveFixed, {}},
                              {'D', "/tmp", DriveRemovable, {}},
                              {'E', "/media/none", DriveRemovable, "/dev/marrowgate-no-such-device"}}});
    for (const char* root : {"d:", "F:", "", "E", "/media/x", "E:"}) {
        const bool plain = root[0] == 'd';
        VolumeEject v;
        const EjectStep open = v.Open(root);
        EXPECT_EQ(open.Error.isEmpty(), plain) << root;
        EXPECT_EQ(open.Ok + v.IsOpen() + v.IsPlainFolder(), plain ? 3 : 0) << root;
        EXPECT_EQ(v.Unmount().Ok + v.Eject().Ok + v.Unmount().Ok + v.Eject().Ok, plain ? 4 : 0) << root;
    }
}

// What holds the file system's block device: a drive, nothing (a loop device), or an encrypted
// partition of the drive.
enum class Holder { Drive, Loop, Encrypted };

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
        const QString member = m.member();
        auto path = [](const QString& p) { return QVariant::fromValue(QDBusObjectPath(p)); };
        if (member == "Get") {
            const QString name = m.arguments().value(1).toString();
            const bool drive = Held == Holder::Drive || m.path() == kBacking;
            const QVariant value = name == "Drive" ? path(drive ? kDrive : "/")
                                   : name == "CryptoBackingDevice" && Held == Holder::Encrypted
                                       ? path(kBacking)
                                   : name == "DeviceNumber" ? QVariant(qulonglong(makedev(7, 3)))
                                   : name == "Ejectable" || name == "CanPowerOff" ? QVariant(true)
                                                                                  : QVariant();
            return bus.send(value.isValid()
                                ? m.createReply(QVariant::fromValue(QDBusVariant(value)))
                                : m.createErrorReply("org.freedesktop.DBus.Error.InvalidArgs", name));
        }
        if (member == "ResolveDevice")
            return bus.send(
                m.createReply(QVariant::fromValue(QList<QDBusObjectPath>{QDBusObjectPath(kBlock)})));
        const auto options = qdbus_cast<QVariantMap>(m.arguments().value(0));
        Calls << member + (options.value("auth.no_user_interaction").toBool() ? "" : " asks");
        const QString error = member == "Unmount" && !Unmounts.isEmpty() ? Unmounts.takeFirst() : QString();
        return bus.send(error.isEmpty() ? m.createReply()
                                        : m.createErrorReply(error, error.section('.', -1)));
    }
};

class UDisksEject : public ::testing::Test {
protected:
    QProcess Daemon;
    FakeUDisks Fake;
    QThread Service; // the fake answers there while the test's calls block this thread

    void SetUp() override {
#if defined(__SANITIZE_THREAD__)
        GTEST_SKIP() << "starts a process, which the thread checker cannot follow";
#endif
        Daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
        ASSERT_TRUE(Daemon.waitForStarted() && Daemon.waitForReadyRead(10000));
        const QString address = QString::fromUtf8(Daemon.readLine().trimmed());
        QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("fake-udisks"));
        ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.UDisks2")));
        ASSERT_TRUE(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/UDisks2"), &Fake,
                                              QDBusConnection::SubPath));
        Fake.moveToThread(&Service);
        Service.start();
        SetEjectBusForTesting(address);
        SetDriveTableForTesting(
            {{{'C', "/", DriveFixed, {}}, {'E', "/media/u/STICK", DriveRemovable, "/dev/loop3"}}});
    }
    void TearDown() override {
        if (!Service.isRunning()) return;
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-udisks"));
        Service.quit();
        Service.wait();
        SetEjectBusForTesting({});
        SetMountInfoForTesting(std::nullopt);
        Daemon.kill();
        Daemon.waitForFinished();
    }
};

// The window's sequence: up to five unmounts, then the eject once one succeeded.
TEST_F(UDisksEject, RetriesOnlyABusyVolumeAndNeverEjectsWhatIsStillMounted) {
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
        Fake.Unmounts = unmounts;
        Fake.Held = held;
        Fake.Calls.clear();
        SetMountInfoForTesting(mountInfo);
        VolumeEject volume;
        ASSERT_TRUE(volume.Open("E:").Ok);
        EjectStep step;
        for (int attempt = 0; attempt < 5 && !step.Ok; ++attempt)
            step = volume.Unmount();
        EXPECT_EQ(step.Ok, dismounted);
        EXPECT_EQ(step.Error.isEmpty(), dismounted) << step.Error.toStdString();
        EXPECT_EQ(volume.Eject().Ok, dismounted); // and without a call when not dismounted
        QMutexLocker lock(&Fake.Lock);
        EXPECT_EQ(Fake.Calls.join(' '), calls);
    }
}

} // namespace
