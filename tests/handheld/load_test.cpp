// Finding and loading the library pair: the program's own folder, the machine settings, the
// fall-back path (never the current folder), the generations and missing exports.
#include <QFileInfo>
#include <QTemporaryFile>

#include "SimLink.h"
#include "platform/Errors.h"

using namespace simtest;
using handheld::IphoneState;

namespace {

const char kMdUnderCommon[] = "/Apple/Mobile Device Support/bin/iTunesMobileDevice.dll";
const char kCfUnderCommon[] = "/Apple/Apple Application Support/CoreFoundation.dll";

class Load : public SimLink {
protected:
    QTemporaryDir Common, Empty, Elsewhere;
    QTemporaryFile Settings;

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
    static void CopyTo(const QString& from, const QString& to) {
        QDir().mkpath(QFileInfo(to).path());
        ASSERT_TRUE(QFile::copy(from, to)) << to.toStdString();
    }
    static QByteArray Escaped(const QString& path) { return path.toUtf8().replace("\\", "\\\\"); }
    // Writes the generation's library with `from` replaced by `to` into the program folder.
    void WritePatched(bool newGeneration, const QByteArray& from, const QByteArray& to) {
        QFile in(SimFolder(newGeneration) + "/iTunesMobileDevice.dll");
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        QByteArray bytes = in.readAll();
        ASSERT_GT(bytes.count(from), 0);
        const QString path = Common.path() + kMdUnderCommon;
        QFile::remove(path);
        QDir().mkpath(QFileInfo(path).path());
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes.replace(from, to));
    }
};

TEST_F(Load, NothingIsLoadedFromTheCurrentFolder) {
    // A loadable pair in the folder the program was started from, and settings naming it
    // relatively: neither is found.
    CopyTo(SimFolder(true) + "/iTunesMobileDevice.dll", Empty.filePath("iTunesMobileDevice.dll"));
    CopyTo(SimFolder(true) + "/CoreFoundation.dll", Empty.filePath("CoreFoundation.dll"));
    QString md, cf;
    for (const QByteArray& named : {QByteArray(), QByteArray("iTunesMobileDevice.dll")}) {
        WriteSettings("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared]\n"
                      "\"iTunesMobileDeviceDLL\"=\"" + named + "\"\n");
        EXPECT_FALSE(handheld::LocateDeviceLibraries(md, cf)) << md.toStdString();
        EXPECT_FALSE(handheld::LoadDeviceLibraries());
        EXPECT_EQ(IphoneState().MobileDeviceModule, nullptr);
    }

    // The program's folder is used instead; the older generation needs no base library.
    CopyTo(SimFolder(false) + "/iTunesMobileDevice.dll", Common.path() + kMdUnderCommon);
    ASSERT_TRUE(handheld::LocateDeviceLibraries(md, cf));
    EXPECT_EQ(md, Common.path() + kMdUnderCommon);
    EXPECT_FALSE(IphoneState().NewLibrary);
    ASSERT_TRUE(handheld::LoadDeviceLibraries());
    EXPECT_EQ(IphoneState().CoreFoundationModule, nullptr);

    // A newer library there without its base library fails to load, and nothing of the
    // library released before is called through a stale entry point.
    handheld::UnloadDeviceLibraries();
    EXPECT_EQ(IphoneState().MobileDeviceModule, nullptr);
    QFile::remove(Common.path() + kMdUnderCommon);
    CopyTo(SimFolder(true) + "/iTunesMobileDevice.dll", Common.path() + kMdUnderCommon);
    EXPECT_FALSE(handheld::LoadDeviceLibraries());
    EXPECT_FALSE(handheld::SubscribeDeviceNotification(0));
    EXPECT_EQ(handheld::IphoneLastError(), "Subscribes error: 4294967295");
    CopyTo(SimFolder(true) + "/CoreFoundation.dll", Common.path() + kCfUnderCommon);
    ASSERT_TRUE(handheld::LoadDeviceLibraries());
    EXPECT_TRUE(IphoneState().NewLibrary);
    EXPECT_NE(IphoneState().CoreFoundationModule, nullptr);
}

TEST_F(Load, ProgramFolderThenMachineSettingsThenNothing) {
    QString md, cf;
    EXPECT_FALSE(handheld::LocateDeviceLibraries(md, cf));
    EXPECT_FALSE(handheld::LoadDeviceLibraries());
    EXPECT_EQ(md, "C:/Program Files/Apple/Mobile Device Support/bin/iTunesMobileDevice.dll");

    // The settings name a library elsewhere; its base library through InstallDir.
    const QString mdElsewhere = Elsewhere.filePath("md/iTunesMobileDevice.dll");
    CopyTo(SimFolder(true) + "/iTunesMobileDevice.dll", mdElsewhere);
    CopyTo(SimFolder(true) + "/CoreFoundation.dll", Elsewhere.filePath("cf/CoreFoundation.dll"));
    WriteSettings("Windows Registry Editor Version 5.00\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared]\n"
                  "\"iTunesMobileDeviceDLL\"=\"" +
                  Escaped(mdElsewhere) +
                  "\"\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apple Inc.\\Apple Application Support]\n"
                  "\"InstallDir\"=\"" +
                  Escaped(Elsewhere.filePath("cf")) + "\"\n");
    ASSERT_TRUE(handheld::LocateDeviceLibraries(md, cf));
    EXPECT_EQ(md, mdElsewhere);
    EXPECT_EQ(cf, Elsewhere.filePath("cf") + "/CoreFoundation.dll");
    ASSERT_TRUE(handheld::LoadDeviceLibraries());
    handheld::UnloadDeviceLibraries();

    // The program's own folder comes first.
    CopyTo(SimFolder(true) + "/iTunesMobileDevice.dll", Common.path() + kMdUnderCommon);
    CopyTo(SimFolder(true) + "/CoreFoundation.dll", Common.path() + kCfUnderCommon);
    ASSERT_TRUE(handheld::LocateDeviceLibraries(md, cf));
    EXPECT_EQ(md, Common.path() + kMdUnderCommon);
    EXPECT_EQ(cf, Common.path() + kCfUnderCommon);
}

TEST_F(Load, GenerationFollowsTheDeclaredVersion) {
    auto versionBytes = [](quint64 major, quint64 minor, quint64 build) {
        const quint64 v = major << 48 | minor << 32 | build << 16;
        return QByteArray(reinterpret_cast<const char*>(&v), 8);
    };
    struct Case {
        quint64 major, minor, build;
        bool newer;
    } cases[] = {{238, 8, 0, false}, {238, 8, 65535, false}, {238, 9, 0, true},
                 {238, 10, 0, true}, {239, 0, 0, true},      {1, 65535, 0, false},
                 {65535, 65535, 0, true}};
    const QString path = Common.path() + kMdUnderCommon;
    CopyTo(SimFolder(true) + "/CoreFoundation.dll", Common.path() + kCfUnderCommon);
    for (const Case& c : cases) {
        WritePatched(false, versionBytes(238, 8, 0), versionBytes(c.major, c.minor, c.build));
        QString md, cf;
        ASSERT_TRUE(handheld::LocateDeviceLibraries(md, cf));
        EXPECT_EQ(IphoneState().NewLibrary, c.newer) << c.major << "." << c.minor << "." << c.build;
    }
    // A library that declares no version counts as the newer generation.
    QFile::remove(path);
    CopyTo(SimFolder(true) + "/CoreFoundation.dll", path);
    QString md, cf;
    ASSERT_TRUE(handheld::LocateDeviceLibraries(md, cf));
    EXPECT_TRUE(IphoneState().NewLibrary);
}

TEST_F(Load, NewerGenerationWithoutItsBaseLibraryFails) {
    CopyTo(SimFolder(true) + "/iTunesMobileDevice.dll", Common.path() + kMdUnderCommon);
    QString md, cf;
    EXPECT_FALSE(handheld::LocateDeviceLibraries(md, cf));
    EXPECT_EQ(cf, "C:/Program Files/Apple/Apple Application Support/CoreFoundation.dll");
    // A folder named like the library is no library.
    QDir().mkpath(Common.path() + kCfUnderCommon);
    EXPECT_FALSE(handheld::LocateDeviceLibraries(md, cf));
    EXPECT_FALSE(handheld::LoadDeviceLibraries());
}

TEST_F(Load, OlderGenerationInTheProgramFolderNeedsNoBaseLibrary) {
    CopyTo(SimFolder(false) + "/iTunesMobileDevice.dll", Common.path() + kMdUnderCommon);
    QString md, cf;
    ASSERT_TRUE(handheld::LocateDeviceLibraries(md, cf));
    EXPECT_EQ(cf, Common.path() + "/Apple/Mobile Device Support/bin/CoreFoundation.dll");
    ASSERT_TRUE(handheld::LoadDeviceLibraries());
    EXPECT_FALSE(IphoneState().NewLibrary);
    EXPECT_EQ(IphoneState().CoreFoundationModule, nullptr);
}

TEST_F(Load, MachineValueOfAnotherTypeFailsTheLoadQuietly) {
    WriteSettings("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared]\n"
                  "\"iTunesMobileDeviceDLL\"=dword:00000001\n");
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
    CopyTo(SimFolder(true) + "/CoreFoundation.dll", Common.path() + kCfUnderCommon);
    EXPECT_FALSE(handheld::LoadDeviceLibraries());
    EXPECT_NE(IphoneState().MobileDeviceModule, nullptr);
    EXPECT_NE(IphoneState().CoreFoundationModule, nullptr);
}

TEST(ConstantStrings, InlineObjectLayout) {
    handheld::TCFString obj;
    handheld::MakeCFStringInline("com.apple.afc2", obj);
    const QByteArray expected =
        QByteArray::fromHex("000000008c0701000e") + "com.apple.afc2" + QByteArray(1, '\0');
    EXPECT_EQ(obj, expected);
    EXPECT_EQ(obj.size(), 24);
    handheld::MakeCFStringInline("com.apple.afc", obj);
    EXPECT_EQ(obj.size(), 23);
    EXPECT_EQ(obj[8], char(13));
}

// The pair for real devices, as the build places it beside the program.
TEST(RealDeviceLibrary, LoadsResolvesAndSubscribesWithoutADevice) {
    const QString common = QStringLiteral(MG_BIN_DIR "/mobiledevice");
    if (!QFileInfo::exists(common + kMdUnderCommon)) GTEST_SKIP() << "built without libimobiledevice";
    QTemporaryDir empty;
    const QString old = QDir::currentPath();
    QDir::setCurrent(empty.path());
    // Found where the program looks by itself: beside the executable.
    platform::SetCommonProgramFilesFolderForTesting(QString());
    EXPECT_EQ(QFileInfo(platform::CommonProgramFilesFolder()).canonicalFilePath(), QFileInfo(common).canonicalFilePath());
    EXPECT_TRUE(handheld::LoadDeviceLibraries());
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
    platform::SetCommonProgramFilesFolderForTesting(QString());
    QDir::setCurrent(old);
}

} // namespace
