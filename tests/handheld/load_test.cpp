// Finding and loading the library pair: the program's own folder, the machine settings, the
// fall-back path (never the current folder), the generations and missing exports.
#include <QFileInfo>
#include <QTemporaryFile>

#include "SimLink.h"
#include "platform/Errors.h"

using namespace simtest;
using handheld::IphoneState;

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
        Settings.write(text);
        Settings.flush();
    }
    bool Locate() { return handheld::LocateDeviceLibraries(Md, Cf); }
    // Copies the generation's library of the same name to `to`.
    static void Install(bool newGeneration, const QString& to) {
        QFile::remove(to);
        WriteFile(to, ReadFile(SimFolder(newGeneration) + "/" + QFileInfo(to).fileName()));
    }
    // Writes the generation's library with `from` replaced by `to` into the program folder.
    void WritePatched(bool newGeneration, const QByteArray& from, const QByteArray& to) {
        QByteArray bytes = ReadFile(SimFolder(newGeneration) + "/iTunesMobileDevice.dll");
        ASSERT_GT(bytes.count(from), 0);
        WriteFile(CommonMd, bytes.replace(from, to));
    }
};

TEST_F(Load, NothingIsLoadedFromTheCurrentFolder) {
    // A loadable pair in the folder the program was started from, and settings naming it
    // relatively: neither is found.
    Install(true, Empty.filePath("iTunesMobileDevice.dll"));
    Install(true, Empty.filePath("CoreFoundation.dll"));
    for (const QByteArray& named : {QByteArray(), QByteArray("iTunesMobileDevice.dll")}) {
        WriteSettings(kShared + ("\"iTunesMobileDeviceDLL\"=\"" + named + "\"\n"));
        EXPECT_FALSE(Locate()) << Md.toStdString();
        EXPECT_FALSE(handheld::LoadDeviceLibraries());
        EXPECT_EQ(IphoneState().MobileDeviceModule, nullptr);
    }
    // The program's folder is used instead; the older generation needs no base library.
    Install(false, CommonMd);
    ASSERT_TRUE(Locate());
    EXPECT_EQ(Md, CommonMd);
    EXPECT_FALSE(IphoneState().NewLibrary);
    ASSERT_TRUE(handheld::LoadDeviceLibraries());
    EXPECT_EQ(IphoneState().CoreFoundationModule, nullptr);

    // A newer library there without its base library fails to load, and nothing of the
    // library released before is called through a stale entry point.
    handheld::UnloadDeviceLibraries();
    EXPECT_EQ(IphoneState().MobileDeviceModule, nullptr);
    Install(true, CommonMd);
    QDir().mkpath(CommonCf); // a folder named like the library is no library
    EXPECT_FALSE(Locate());
    EXPECT_FALSE(handheld::LoadDeviceLibraries());
    EXPECT_FALSE(handheld::SubscribeDeviceNotification(0));
    EXPECT_EQ(handheld::IphoneLastError(), "Subscribes error: 4294967295");
    QDir().rmdir(CommonCf);
    Install(true, CommonCf);
    ASSERT_TRUE(handheld::LoadDeviceLibraries());
    EXPECT_TRUE(IphoneState().NewLibrary);
    EXPECT_NE(IphoneState().CoreFoundationModule, nullptr);
}

TEST_F(Load, ProgramFolderThenMachineSettingsThenNothing) {
    EXPECT_FALSE(Locate());
    EXPECT_FALSE(handheld::LoadDeviceLibraries());
    EXPECT_EQ(Md, "C:/Program Files/Apple/Mobile Device Support/bin/iTunesMobileDevice.dll");
    // The settings name a library elsewhere; its base library through InstallDir.
    auto escaped = [](const QString& path) { return path.toUtf8().replace("\\", "\\\\"); };
    const QString mdElsewhere = Elsewhere.filePath("md/iTunesMobileDevice.dll");
    Install(true, mdElsewhere);
    Install(true, Elsewhere.filePath("cf/CoreFoundation.dll"));
    WriteSettings("Windows Registry Editor Version 5.00\n\n" + QByteArray(kShared) +
                  "\"iTunesMobileDeviceDLL\"=\"" + escaped(mdElsewhere) +
                  "\"\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apple Inc.\\Apple Application Support]\n"
                  "\"InstallDir\"=\"" +
                  escaped(Elsewhere.filePath("cf")) + "\"\n");
    ASSERT_TRUE(Locate());
    EXPECT_EQ(Md, mdElsewhere);
    EXPECT_EQ(Cf, Elsewhere.filePath("cf") + "/CoreFoundation.dll");
    ASSERT_TRUE(handheld::LoadDeviceLibraries());
    handheld::UnloadDeviceLibraries();
    // The program's own folder comes first.
    Install(true, CommonMd);
    Install(true, CommonCf);
    ASSERT_TRUE(Locate());
    EXPECT_EQ(Md, CommonMd);
    EXPECT_EQ(Cf, CommonCf);
}

TEST_F(Load, GenerationFollowsTheDeclaredVersion) {
    auto version = [](quint64 major, quint64 minor, quint64 build) {
        const quint64 v = major << 48 | minor << 32 | build << 16;
        return QByteArray(reinterpret_cast<const char*>(&v), 8);
    };
    const struct {
        quint64 major, minor, build;
        bool newer;
    } cases[] = {{238, 8, 0, false}, {238, 8, 65535, false}, {238, 9, 0, true},      {238, 10, 0, true},
                 {239, 0, 0, true},  {1, 65535, 0, false},   {65535, 65535, 0, true}};
    Install(true, CommonCf);
    for (const auto& c : cases) {
        WritePatched(false, version(238, 8, 0), version(c.major, c.minor, c.build));
        ASSERT_TRUE(Locate());
        EXPECT_EQ(IphoneState().NewLibrary, c.newer) << c.major << "." << c.minor << "." << c.build;
    }
    // A library that declares no version, or a damaged file, counts as the newer generation.
    for (const QByteArray& bytes : {ReadFile(SimFolder(true) + "/CoreFoundation.dll"),
                                    QByteArray("\x7f"
                                               "ELF\x02\x01 and then nothing that holds")}) {
        WriteFile(CommonMd, bytes);
        ASSERT_TRUE(Locate());
        EXPECT_TRUE(IphoneState().NewLibrary);
    }
}

TEST_F(Load, MachineValueOfAnotherTypeFailsTheLoadQuietly) {
    WriteSettings(kShared + QByteArray("\"iTunesMobileDeviceDLL\"=dword:00000001\n"));
    EXPECT_THROW(handheld::ReadMachineRegString("SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared",
                                                "iTunesMobileDeviceDLL"),
                 platform::Error);
    EXPECT_FALSE(handheld::LoadDeviceLibraries());
    EXPECT_TRUE(handheld::IphoneLastError().isEmpty());
    EXPECT_EQ(handheld::ReadMachineRegString("SOFTWARE\\No\\Such\\Key", "x"), "");
}

TEST_F(Load, AMissingExportFailsTheWholeLoad) {
    // The same library with one exported name spoilt: the loader cannot find AFCFileRefSeek.
    WritePatched(true, QByteArray("AFCFileRefSeek\0", 15), QByteArray("AFCFileRefSeeX\0", 15));
    Install(true, CommonCf);
    EXPECT_FALSE(handheld::LoadDeviceLibraries());
    EXPECT_NE(IphoneState().MobileDeviceModule, nullptr);
    EXPECT_NE(IphoneState().CoreFoundationModule, nullptr);
}

// The pair for real devices, as the build places it beside the program: found there by
// itself, loaded and subscribed to without a device (the fake usbmuxd tests use it further).
TEST(RealDeviceLibrary, LoadsResolvesAndSubscribesWithoutADevice) {
    const QString common = QStringLiteral(MG_BIN_DIR "/mobiledevice");
    if (!QFileInfo::exists(common + kMd)) GTEST_SKIP() << "built without libimobiledevice";
    platform::SetCommonProgramFilesFolderForTesting(QString());
    EXPECT_EQ(QFileInfo(platform::CommonProgramFilesFolder()).canonicalFilePath(),
              QFileInfo(common).canonicalFilePath());
    ASSERT_TRUE(handheld::LoadDeviceLibraries());
    EXPECT_TRUE(IphoneState().NewLibrary);
    Receiver window;
    const platform::WindowHandle handle = platform::RegisterWindow(&window);
    EXPECT_TRUE(handheld::SubscribeDeviceNotification(handle)) << handheld::IphoneLastError().constData();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.Seen.empty());
    EXPECT_TRUE(handheld::CloseDevice());
    handheld::UnloadDeviceLibraries();
    EXPECT_EQ(IphoneState().MobileDeviceModule, nullptr);
    platform::UnregisterWindow(handle);
}

} // namespace
