#include "device/IPod.h"
#include "platform/Errors.h"
#include "tests/device/DeviceTest.h"

#include <unistd.h>

using namespace device;
using fixtures::DeviceTree;

class IPodTest : public ::testing::Test {
protected:
    void TearDown() override { platform::SetDriveTableForTesting(std::nullopt); }
    // A device folder; with `db` an iTunes folder holding a track database.
    DeviceTree Tree(const char* name, bool db = true) const {
        DeviceTree t(Dir.path() + QLatin1Char('/') + QLatin1String(name));
        if (db)
            t.WriteTrackDb("x");
        return t;
    }
    static void Map(const std::vector<platform::Drive>& drives) { platform::SetDriveTableForTesting(drives); }
    QTemporaryDir Dir;
    TIPod Pod;
};

TEST_F(IPodTest, ProbeScanLockAndPrefsFlag) {
    const DeviceTree locked = Tree("locked"), bare = Tree("bare", false), plain = Tree("plain", false), g = Tree("g");
    locked.WriteLock();
    bare.MakeITunesFolder();
    plain.WriteFile(QStringLiteral("iTunesDB"), "x"); // a removable drive without the marker folder
    Map({Tree("fixed").AsDrive('C', platform::DriveFixed), Tree("cd").AsDrive('D', platform::DriveCdRom),
         locked.AsDrive('E'), bare.AsDrive('F'), g.AsDrive('G'), plain.AsDrive('H')});
    const std::pair<char, int32_t> probes[] = {{'C', prNone},  {'D', prNone}, {'E', prLocked}, {'F', prNoDatabase},
                                               {'G', prFound}, {'H', prNone}, {'K', prNone}};
    for (const auto& [letter, result] : probes) {
        EXPECT_EQ(Pod.ProbeDrive(letter), result) << letter;
        EXPECT_EQ(Pod.Root, QByteArray(1, letter) + ':'); // set whatever the result
    }
    EXPECT_EQ(Pod.Find(true, 'A', false), prLocked); // E comes before G
    EXPECT_EQ(Pod.Find(false, 'G', false), prFound);
    EXPECT_EQ(Pod.Find(false, 'G', true), prNoPhotoDatabase);
    g.WriteFile(QStringLiteral("Photos/Photo Database"), "p");
    EXPECT_EQ(Pod.Find(false, 'G', true), prFound);
    EXPECT_EQ(Pod.Root, QByteArray("G:"));
    Map({Tree("none", false).AsDrive('F'), g.AsDrive('E', platform::DriveFixed)});
    EXPECT_EQ(Pod.Find(true, 'E', false), prNone);
    EXPECT_EQ(Pod.Root, QByteArray("Z:"));

    // The lock's removal and the prefs flag change only what they must, and a refusal is never
    // a success.
    const DeviceTree e = Tree("e");
    Map({e.AsDrive('E')});
    ASSERT_EQ(Pod.ProbeDrive('E'), prFound);
    EXPECT_TRUE(Pod.RemoveLock()); // nothing to remove
    e.WriteLock();
    EXPECT_TRUE(Pod.RemoveLock() && !Pod.IsLocked());
    const QString prefs = QStringLiteral("iPod_Control/iTunes/iTunesPrefs");
    EXPECT_FALSE(Pod.ClearPrefsFlag()); // no file
    // Too short to hold the flag at byte 10, other flag values, the flag as the last byte, a long file.
    for (const auto& [flag, size, changes] :
         std::vector<std::tuple<uint8_t, int, bool>>{{1, 10, false}, {2, 64, false}, {1, 11, true}, {1, 4096, true}}) {
        e.WritePrefs(flag, size);
        QByteArray want = e.ReadFile(prefs);
        want[10] = changes ? 0 : want[10];
        EXPECT_EQ(Pod.ClearPrefsFlag(), size > 10) << size;
        EXPECT_EQ(e.ReadFile(prefs), want) << size; // same size, every other byte kept
    }
    if (geteuid() != 0) { // root ignores permissions
        e.WriteLock();
        const QString folder = e.Path(QStringLiteral("iPod_Control/iTunes"));
        QFile::setPermissions(e.Path(prefs), QFile::ReadOwner);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        EXPECT_FALSE(Pod.RemoveLock());
        EXPECT_THROW(Pod.ClearPrefsFlag(), platform::EFOpenError);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_TRUE(Pod.IsLocked());
    }
}
