#include "platform/Drives.h"
#include "platform/Eject.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(VolumeEject, DriveFileFolderPassesEveryStepWithoutTheBus) {
    SetDriveTableForTesting({{{'C', QStringLiteral("/"), DriveFixed, QString()},
                              {'E', QStringLiteral("/tmp"), DriveRemovable, QString()}}});
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

// Unknown letters, malformed roots and a block device udisks2 does not know (or no system bus
// at all): a failure with a reason, never a success, and the later steps touch nothing.
TEST(VolumeEject, WhatCannotBeOpenedFailsWithAReason) {
    SetDriveTableForTesting({{{'C', QStringLiteral("/"), DriveFixed, QString()},
                              {'E', QStringLiteral("/media/none"), DriveRemovable,
                               QStringLiteral("/dev/marrowgate-no-such-device")}}});
    for (const char* root : {"F:", "", "E", "/media/x", "E:"}) {
        VolumeEject v;
        const EjectStep open = v.Open(root);
        EXPECT_FALSE(open.Ok) << root;
        EXPECT_FALSE(open.Error.isEmpty()) << root;
        EXPECT_FALSE(v.IsOpen() || v.IsPlainFolder()) << root;
        EXPECT_FALSE(v.Unmount().Ok) << root;
        EXPECT_FALSE(v.Eject().Ok) << root;
    }
}
