// Finding and loading the library pair: the program's own folder, the machine settings, the
// fall-back path (never the current folder), the generations and missing exports.
#include <QFileInfo>
#include <QTemporaryFile>

#include "SimLink.h"

using namespace simtest;
using handheld::IphoneState;
using handheld::LoadDeviceLibraries;

namespace {

const char kMd[] = "/Apple/Mobile Device Support/bin/iTunesMobileDevice.dll";
const char kCf[] = "/Apple/Apple Application Support/CoreFoundation.dll";
const char kShared[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared]\n";

class Load : public SimLink {
protected:
    QTemporaryDir Common, Empty, Elsewhere;
    QTemporaryFile Settings;
    QString Md, Cf;
    const QString CommonMd = Common.path() + kMd, CommonCf = Common.path() + kCf;

    void SetUp() override {
        // An empty current folder and an empty program folder: nothing found by default.
        OldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(Empty.path()));
        platform::SetCommonProgramFilesFolderForTesting(Common.path());
        ASSERT_TRUE(Settings.open());
        qputenv("MARROWGATE_MACHINE_SETTINGS", QFile::encodeName(Settings.fileName()));
    }
    void TearDown() override {
        qunsetenv("MARROWGATE_MACHINE_SETTINGS");
        SimLink::TearDown();
    }
    void WriteSettings(const QByteArray& text) {
        Settings.resize(0);
        Settings.write(kShared + text);
        Settings.flush();
    }
    bool Locate() { return handheld::LocateDeviceLibraries(Md, Cf); }
    // Writes the generation's library of the same name to `to`, with `from` replaced by `by`.
    static void Install(bool newGeneration, const QString& to, const QByteArray& from = {},
                        const QByteArray& by = {}) {
        QFile::remove(to);
        QByteArray bytes = ReadFile(SimFolder(newGeneration) + "/" + QFileInfo(to).fileName());
        ASSERT_TRUE(from.isEmpty() || bytes.count(from) > 0);
        WriteFile(to, from.isEmpty() ? bytes : bytes.replace(from, by));
    }
};

TEST_F(Load, NothingIsLoadedFromTheCurrentFolder) {
    // A loadable pair in the folder the program was started from, and settings naming it
    // relatively: neither is found.
    Install(true, Empty.filePath("iTunesMobileDevice.dll"));
    Install(true, Empty.filePath("CoreFoundation.dll"));
    for (const QByteArray& named : {QByteArray(), QByteArray("iTunesMobileDevice.dll")}) {
        WriteSettings("\"iTunesMobileDeviceDLL\"=\"" + named + "\"\n");
        EXPECT_FALSE(Locate()) << Md.toStdString();
        EXPECT_FALSE(LoadDeviceLibraries());
        EXPECT_EQ(IphoneState().MobileDeviceModule, nullptr);
        if (named.isEmpty())
            EXPECT_EQ(Md, "C:/Program Files/Apple/Mobile Device Support/bin/iTunesMobileDevice.dll");
    }
    // The program's folder is used instead; the older generation needs no base library.
    Install(false, CommonMd);
    ASSERT_TRUE(Locate());
    EXPECT_EQ(Md, CommonMd);
    EXPECT_FALSE(IphoneState().NewLibrary);
    ASSERT_TRUE(LoadDeviceLibraries());
    EXPECT_EQ(IphoneState().CoreFoundationModule, nullptr);

    // A newer library there without its base library fails to load, and nothing of the
    // library released before is called through a stale entry point.
    handheld::UnloadDeviceLibraries();
    EXPECT_EQ(IphoneState().MobileDeviceModule, nullptr);
    Install(true, CommonMd);
    QDir().mkpath(CommonCf); // a folder named like the library is no library
    EXPECT_FALSE(Locate());
    EXPECT_FALSE(LoadDeviceLibraries());
    EXPECT_FALSE(handheld::SubscribeDeviceNotification(0));
    EXPECT_EQ(handheld::IphoneLastError(), "Subscribes error: 4294967295");
    QDir().rmdir(CommonCf);
    Install(true, CommonCf);
    ASSERT_TRUE(LoadDeviceLibraries());
    EXPECT_TRUE(IphoneState().NewLibrary);
    EXPECT_NE(IphoneState().CoreFoundationModule, nullptr);
}

TEST_F(Load, MachineSettingsNameTheLibraryWhenTheProgramFolderHasNone) {
    // The settings name a library elsewhere; its base library through InstallDir.
    auto escaped = [](const QString& path) { return path.toUtf8().replace("\\", "\\\\"); };
    const QString mdElsewhere = Elsewhere.filePath("md/iTunesMobileDevice.dll");
    Install(true, mdElsewhere);
    Install(true, Elsewhere.filePath("cf/CoreFoundation.dll"));
    WriteSettings("\"iTunesMobileDeviceDLL\"=\"" + escaped(mdElsewhere) +
                  "\"\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apple Inc.\\Apple Application Support]\n"
                  "\"InstallDir\"=\"" +
                  escaped(Elsewhere.filePath("cf")) + "\"\n");
    ASSERT_TRUE(Locate());
    EXPECT_EQ(Md, mdElsewhere);
    EXPECT_EQ(Cf, Elsewhere.filePath("cf") + "/CoreFoundation.dll");
    ASSERT_TRUE(LoadDeviceLibraries());
    handheld::UnloadDeviceLibraries();
    Install(true, CommonMd); // the program's own folder comes first
    ASSERT_TRUE(Locate());
    EXPECT_EQ(Md, CommonMd);
    // A value of another type fails the load quietly.
    WriteSettings("\"iTunesMobileDeviceDLL\"=dword:00000001\n");
    QFile::remove(CommonMd);
    EXPECT_FALSE(LoadDeviceLibraries());
    EXPECT_TRUE(handheld::IphoneLastError().isEmpty());
}

// The declared version decides the generation; no version or a damaged file counts as newer.
// A library with one export spoilt fails the whole load.
TEST_F(Load, GenerationFollowsTheDeclaredVersionAndEveryExportIsNeeded) {
    auto version = [](quint64 major, quint64 minor, quint64 build) {
        const quint64 v = major << 48 | minor << 32 | build << 16;
        return QByteArray(reinterpret_cast<const char*>(&v), 8);
    };
    Install(true, CommonCf);
    for (const auto& [minor, build, newer] : {std::tuple{8, 65535, false}, {9, 0, true}}) {
        Install(false, CommonMd, version(238, 8, 0), version(238, minor, build));
        ASSERT_TRUE(Locate());
        EXPECT_EQ(IphoneState().NewLibrary, newer) << minor << "." << build;
    }
    WriteFile(CommonMd, "\x7f"
                        "ELF\x02\x01 and then nothing that holds");
    ASSERT_TRUE(Locate());
    EXPECT_TRUE(IphoneState().NewLibrary);
    Install(true, CommonMd, QByteArray("AFCFileRefSeek\0", 15), QByteArray("AFCFileRefSeeX\0", 15));
    EXPECT_FALSE(LoadDeviceLibraries());
    EXPECT_NE(IphoneState().MobileDeviceModule, nullptr);
}

} // namespace
