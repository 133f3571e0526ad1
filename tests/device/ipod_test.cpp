#include "device/IPod.h"
#include "platform/Drives.h"
#include "platform/Errors.h"
#include "tests/fixtures/DeviceTree.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace device;
using fixtures::DeviceTree;

namespace {

class IPodTest : public ::testing::Test {
protected:
    void TearDown() override { platform::SetDriveTableForTesting(std::nullopt); }

    DeviceTree Tree(const char* name) const { return DeviceTree(Dir.path() + QLatin1Char('/') + QLatin1String(name)); }

    static void Map(const std::vector<platform::Drive>& drives) { platform::SetDriveTableForTesting(drives); }

    QTemporaryDir Dir;
};

} // namespace

TEST_F(IPodTest, ProbeTellsTheKindOfDrive) {
    const DeviceTree fixed = Tree("fixed"), cd = Tree("cd"), locked = Tree("locked"), bare = Tree("bare"),
                     found = Tree("found"), plain = Tree("plain");
    for (const DeviceTree* t : {&fixed, &cd, &locked, &bare, &found})
        t->MakeITunesFolder();
    fixed.WriteTrackDb("x");
    cd.WriteTrackDb("x");
    locked.WriteTrackDb("x");
    locked.WriteLock();
    found.WriteTrackDb("x");
    plain.WriteFile(QStringLiteral("iTunesDB"), "x"); // a removable drive without the marker folder
    Map({fixed.AsDrive('C', platform::DriveFixed), cd.AsDrive('D', platform::DriveCdRom), locked.AsDrive('E'),
         bare.AsDrive('F'), found.AsDrive('G'), plain.AsDrive('H')});

    TIPod pod;
    struct Case {
        char Letter;
        int32_t Result;
    };
    for (const Case& c : {Case{'C', prNone}, Case{'D', prNone}, Case{'E', prLocked}, Case{'F', prNoDatabase},
                          Case{'G', prFound}, Case{'H', prNone}, Case{'K', prNone}}) {
        EXPECT_EQ(pod.ProbeDrive(c.Letter), c.Result) << c.Letter;
        EXPECT_EQ(pod.Root, QByteArray(1, c.Letter) + ':'); // set whatever the result
    }
}

TEST_F(IPodTest, FullScanStopsAtTheFirstIPodOrEndsAtZ) {
    const DeviceTree e = Tree("e"), g = Tree("g"), f = Tree("f");
    e.MakeITunesFolder();
    e.WriteTrackDb("x");
    g.MakeITunesFolder();
    g.WriteTrackDb("x");
    Map({f.AsDrive('F'), g.AsDrive('G'), e.AsDrive('E')});
    TIPod pod;
    EXPECT_EQ(pod.Find(true, 'A', false), prFound);
    EXPECT_EQ(pod.Root, QByteArray("E:"));
    EXPECT_EQ(pod.Find(false, 'G', false), prFound);
    EXPECT_EQ(pod.Root, QByteArray("G:"));

    Map({f.AsDrive('F'), e.AsDrive('E', platform::DriveFixed)});
    EXPECT_EQ(pod.Find(true, 'E', false), prNone);
    EXPECT_EQ(pod.Root, QByteArray("Z:"));
}

TEST_F(IPodTest, PhotoTestOnlyForAFoundDatabase) {
    const DeviceTree e = Tree("e"), f = Tree("f");
    e.MakeITunesFolder();
    e.WriteTrackDb("x");
    f.MakeITunesFolder();
    f.WriteLock();
    Map({e.AsDrive('E'), f.AsDrive('F')});
    TIPod pod;
    EXPECT_EQ(pod.Find(false, 'E', true), prNoPhotoDatabase);
    EXPECT_EQ(pod.Find(false, 'E', false), prFound);
    EXPECT_EQ(pod.Find(false, 'F', true), prLocked);
    e.WriteFile(QStringLiteral("Photos/Photo Database"), "p");
    EXPECT_EQ(pod.Find(true, 'A', true), prFound);
}

TEST_F(IPodTest, RemoveLock) {
    const DeviceTree e = Tree("e");
    e.MakeITunesFolder();
    e.WriteTrackDb("x");
    Map({e.AsDrive('E')});
    TIPod pod;
    ASSERT_EQ(pod.ProbeDrive('E'), prFound);
    EXPECT_TRUE(pod.RemoveLock()); // nothing to remove
    EXPECT_TRUE(pod.HasTrackDb());
    e.WriteLock();
    EXPECT_TRUE(pod.IsLocked());
    EXPECT_TRUE(pod.RemoveLock());
    EXPECT_FALSE(pod.IsLocked());
    EXPECT_TRUE(pod.HasTrackDb());

    if (geteuid() != 0) { // root ignores folder permissions
        e.WriteLock();
        const QString folder = e.Path(QStringLiteral("iPod_Control/iTunes"));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        EXPECT_FALSE(pod.RemoveLock());
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_TRUE(pod.IsLocked());
    }
}

TEST_F(IPodTest, ClearPrefsFlagChangesOnlyByteTenFromOneToZero) {
    const DeviceTree e = Tree("e");
    e.MakeITunesFolder();
    Map({e.AsDrive('E')});
    TIPod pod;
    pod.ProbeDrive('E');
    const QString prefs = QStringLiteral("iPod_Control/iTunes/iTunesPrefs");

    EXPECT_FALSE(pod.ClearPrefsFlag()); // no file

    e.WritePrefs(1, 10); // too short to hold the flag
    const QByteArray shortFile = e.ReadFile(prefs);
    EXPECT_FALSE(pod.ClearPrefsFlag());
    EXPECT_EQ(e.ReadFile(prefs), shortFile);

    for (uint8_t other : {0, 2}) {
        e.WritePrefs(other);
        const QByteArray before = e.ReadFile(prefs);
        EXPECT_TRUE(pod.ClearPrefsFlag());
        EXPECT_EQ(e.ReadFile(prefs), before);
    }

    e.WritePrefs(1, 11); // the flag is the last byte
    EXPECT_TRUE(pod.ClearPrefsFlag());
    EXPECT_EQ(e.ReadFile(prefs), QByteArray(10, '\x5a') + '\0');

    e.WritePrefs(1, 4096);
    QByteArray expected = e.ReadFile(prefs);
    expected[10] = 0;
    EXPECT_TRUE(pod.ClearPrefsFlag());
    EXPECT_EQ(e.ReadFile(prefs), expected); // same size, every other byte kept

    if (geteuid() != 0) {
        e.WritePrefs(1);
        QFile::setPermissions(e.Path(prefs), QFile::ReadOwner);
        EXPECT_THROW(pod.ClearPrefsFlag(), platform::EFOpenError);
    }
}
