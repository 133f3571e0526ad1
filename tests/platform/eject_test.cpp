#include "platform/Drives.h"
#include "platform/Eject.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

struct TableGuard {
    explicit TableGuard(std::vector<Drive> t) { SetDriveTableForTesting(std::move(t)); }
    ~TableGuard() { SetDriveTableForTesting(std::nullopt); }
};

} // namespace

TEST(VolumeEject, DriveFileFolderPassesEveryStepWithoutTheBus) {
    TableGuard guard({{'C', QStringLiteral("/"), DriveFixed, QString()},
                      {'E', QStringLiteral("/tmp"), DriveRemovable, QString()}});
    VolumeEject v;
    EXPECT_FALSE(v.IsOpen());
    const EjectStep open = v.Open("e:");
    EXPECT_TRUE(open.Ok) << open.Error.toStdString();
    EXPECT_TRUE(v.IsOpen());
    EXPECT_TRUE(v.IsPlainFolder());
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_TRUE(v.Unmount().Ok);
        EXPECT_TRUE(v.Eject().Ok);
    }
    EXPECT_TRUE(v.BlockObject().isEmpty());
}

TEST(VolumeEject, UnknownOrMalformedDrivesDoNothing) {
    TableGuard guard({{'C', QStringLiteral("/"), DriveFixed, QString()}});
    for (const QByteArray& root :
         {QByteArray("F:"), QByteArray(""), QByteArray("E"), QByteArray("/media/x")}) {
        VolumeEject v;
        const EjectStep open = v.Open(root);
        EXPECT_FALSE(open.Ok) << root.constData();
        EXPECT_FALSE(open.Error.isEmpty()) << root.constData();
        EXPECT_FALSE(v.IsOpen());
        // steps on a volume that did not open fail instead of touching anything
        EXPECT_FALSE(v.Unmount().Ok);
        EXPECT_FALSE(v.Eject().Ok);
    }
}

// A block device that udisks2 does not know (or no system bus at all) is a failure with a
// reason, never a success.
TEST(VolumeEject, UnknownBlockDeviceFailsWithAReason) {
    TableGuard guard({{'C', QStringLiteral("/"), DriveFixed, QString()},
                      {'E', QStringLiteral("/media/none"), DriveRemovable,
                       QStringLiteral("/dev/marrowgate-no-such-device")}});
    VolumeEject v;
    const EjectStep open = v.Open("E:");
    EXPECT_FALSE(open.Ok);
    EXPECT_FALSE(open.Error.isEmpty());
    EXPECT_FALSE(v.IsPlainFolder());
    EXPECT_FALSE(v.Unmount().Ok);
}
