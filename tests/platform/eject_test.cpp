#include "platform/Drives.h"
#include "platform/Eject.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(VolumeEject, DriveFileFolderPassesEveryStepWithoutTheBus) {
    SetDriveTableForTesting({{{'C', "/", DriveFixed, {}}, {'E', "/tmp", DriveRemovable, {}}}});
    VolumeEject v;
    EXPECT_FALSE(v.IsOpen());
    const EjectStep open = v.Open("e:");
    EXPECT_TRUE(open.Ok) << open.Error.toStdString();
    EXPECT_TRUE(v.IsOpen() && v.IsPlainFolder());
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_TRUE(v.Unmount().Ok && v.Eject().Ok);
    EXPECT_TRUE(v.BlockObject().isEmpty());
}

// Unknown letters, malformed roots and a block device udisks2 does not know (or no system bus
// at all): a failure with a reason, never a success, and the later steps touch nothing.
TEST(VolumeEject, WhatCannotBeOpenedFailsWithAReason) {
    SetDriveTableForTesting({{{'C', "/", DriveFixed, {}},
                              {'E', "/media/none", DriveRemovable, "/dev/marrowgate-no-such-device"}}});
    for (const char* root : {"F:", "", "E", "/media/x", "E:"}) {
        SCOPED_TRACE(root);
        VolumeEject v;
        const EjectStep open = v.Open(root);
        EXPECT_FALSE(open.Ok);
        EXPECT_FALSE(open.Error.isEmpty());
        EXPECT_FALSE(v.IsOpen() || v.IsPlainFolder());
        EXPECT_FALSE(v.Unmount().Ok || v.Eject().Ok);
    }
}
