// Finding and loading the library pair: the program's own folder, the machine settings, the
// fall-back path (never the current folder), the generations and missing exports.
// Arrival, pairing, services, media root, removal and the posted message, through the
// simulated library in both generations; notifications while other threads use the device:
// every message comes after its state is complete, readers never see a half-replaced record,
// and a receiver may go away while another thread posts to it.
#include <QDeadlineTimer>
#include <QTemporaryFile>
#include <dlfcn.h>

#include <atomic>
#include <thread>

#include "SimLink.h"

using namespace simtest;
using namespace handheld;

namespace {

const char kMd[] = "/Apple/Mobile Device Support/bin/iTunesMobileDevice.dll";

class Connect : public SimLink {
protected:
    void Arrive(const std::vector<QByteArray>& sims) {
        Sim("reset");
        for (const QByteArray& sim : sims)
            Sim(sim);
        Notify("arrive");
    }
};

// The media root follows the service and the database; failed connects post their text once;
// other states and the removal keep the link's values, and a new arrival opens a new connection.
TEST_F(Connect, OneDeviceThroughItsStatesAndCloses) {
    Start();
    // A refused validation is not what the text reports: the pair call's result is.
    Arrive({"pairing invalid", "fail AMDevicePair 7"});
    EXPECT_EQ(IphoneLastError(), "Invalid pair, failed: 7 (Please do a pair with iTunes first)");
    EXPECT_FALSE(IphoneState().Ready || IphoneState().Connected);
    // Any other failed check (the device broke off) is a failed connect; nothing is paired anew.
    Arrive({"fail AMDeviceValidatePairing 4"});
    EXPECT_EQ(IphoneLastError(), "Validate pair error: 4");
    EXPECT_EQ(Sim("count AMDevicePair"), 0);
    // After a failed session the close ends it.
    Arrive({"fail AMDeviceStartSession 4294967295"});
    EXPECT_TRUE(IphoneState().Connected && !IphoneState().Ready);
    EXPECT_TRUE(CloseDevice());
    EXPECT_EQ(Sim("count AMDeviceStopSession"), 1);

    // afc2 without a database under /var/mobile/Media: the root account's media folder.
    // Only the plain service: no prefix at all, paths go to the service's own root.
    Put("/var/mobile/Media/iTunes_Control/iTunes/iTunesDB", "plain");
    Arrive({"afc2 0"});
    EXPECT_EQ(IphoneState().MediaRoot, "");
    EXPECT_EQ(Read("/iTunes_Control/iTunes/iTunesDB"), "plain");

    Arrive({});
    EXPECT_EQ(IphoneState().MediaRoot, "/var/mobile/Media");
    void* firstConnection = IphoneState().AfcConnection;
    Notify("message 3");
    EXPECT_EQ(IphoneLastError(), "State of iPhone or iPod Touch is 3");
    Notify("leave");
    EXPECT_FALSE(IphoneState().Ready);
    EXPECT_EQ(Read("/iTunes_Control/iTunes/iTunesDB"), "<failed>");
    Notify("arrive");
    EXPECT_NE(IphoneState().AfcConnection, firstConnection);
    // A later arrival that fails is not ready, whatever came before.
    Sim("fail AFCConnectionOpen 5");
    Notify("arrive");
    EXPECT_FALSE(Window.Seen.back().Ready);
    EXPECT_EQ(Window.Seen.size(), 9u); // one per notification
    Sim("fail AFCConnectionOpen 0");
    Sim("fail AFCConnectionClose 9");
    EXPECT_FALSE(CloseDevice());
    Sim("fail AFCConnectionClose 0");
    // Closed once, then nothing open any more: no library call at all.
    EXPECT_TRUE(CloseDevice() && CloseDevice());
    EXPECT_EQ(Sim("count AFCConnectionClose"), 2);
    // Notifications that the library does not end keep it loaded: none of them may run in
    // released code.
    Sim("fail AMDeviceNotificationUnsubscribe 5");
    UnloadDeviceLibraries();
    void* kept = dlopen(QFile::encodeName(Libs.path() + kMd).constData(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(kept, nullptr);
    if (kept)
        dlclose(kept);
}

// Two phones with other files at the same path: work put on the first keeps reading it while the
// second arrives and leaves; either one's removal leaves the other as it was. A close does not
// clear a phone that arrived while it ran.
TEST_F(Connect, WorkKeepsToItsPhoneWhileAnotherComesAndGoes) {
    QTemporaryDir other;
    for (const QString& root : {Device.path(), other.path()})
        WriteFile(root + "/var/root/Media/f", root == Device.path() ? "first" : "second");
    const QByteArray second = "arrive " + other.path().toUtf8();
    Start();
    Notify("arrive");
    const TDeviceLink first = ReadyDevice();
    Notify(second);
    auto readOnFirst = [&] {
        const TUseDevice on(first);
        return Read("/f");
    };
    EXPECT_TRUE(Read("/f") == "second" && readOnFirst() == "first");
    Notify("leave " + other.path().toUtf8());
    EXPECT_TRUE(!IphoneReady() && DevicePresent(first) && readOnFirst() == "first");

    // A session that failed leaves the phone connected; its close waits in the library while
    // another phone connects.
    Sim("fail AMDeviceStartSession 4");
    Notify(second);
    Sim("fail AMDeviceStartSession 0");
    Sim("hold AMDeviceStopSession");
    std::thread close([] { CloseDevice(); });
    ASSERT_EQ(Sim("held"), 0);
    Notify(second);
    Sim("release");
    close.join();
    EXPECT_TRUE(IphoneReady() && IphoneState().Device == ReadyDevice().Device);
    Notify("leave " + Device.path().toUtf8());
    EXPECT_TRUE(IphoneReady() && !DevicePresent(first) && Read("/f") == "second");
}

// Every message comes after its state is complete and a reader never sees half a file. At the
// end a file left open and a read inside the library hold the link while notifications queue
// up behind it; the shut-down waits for that read, still ends them, none is delivered into
// released code, and later calls fail instead of jumping into the released library.
TEST_F(Connect, ArrivalsRemovalsAndUnloadWhileAnotherThreadReads) {
    const QByteArray db = Pattern(70000);
    Put("/var/mobile/Media/iTunes_Control/iTunes/iTunesCDB", db);
    Start(/*attached=*/true); // it arrives with the subscription
    Notify("wait");
    ASSERT_EQ(Window.Seen.size(), 1u);
    EXPECT_TRUE(Window.Seen[0].Ready && Window.Seen[0].FullAccess && !Window.Seen[0].Connected);
    std::atomic<bool> stop{false};
    std::atomic<int> goodReads{0};
    std::thread reader([&] {
        while (!stop) {
            const QByteArray got = Read("/iTunes_Control/iTunes/iTunesCDB");
            goodReads += got == db;
            EXPECT_TRUE(got == db || got == "<failed>");
        }
    });
    size_t sent = 1;
    for (int i = 0; i <= 40; ++i) { // ends with a second arrival in a row
        sent += Sim(i % 2 || i == 40 ? "arrive" : "leave") == 0;
        Sim("wait");
        QCoreApplication::processEvents();
    }
    for (QDeadlineTimer limit(20000); goodReads == 0 && !limit.hasExpired();)
        std::this_thread::yield();
    EXPECT_GT(goodReads.load(), 0);
    stop = true;
    reader.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(Window.Seen.size(), sent); // one message per notification
    for (const TIphoneMgr& at : Window.Seen)
        EXPECT_TRUE(!at.Ready || at.MediaRoot == "/var/mobile/Media") << at.MediaRoot.constData();

    ASSERT_TRUE(DeviceOpenFile("/iTunes_Control/iTunes/iTunesCDB"));
    Sim("hold AFCFileRefRead");
    QByteArray inside;
    std::thread held([&] { inside = Read("/iTunes_Control/iTunes/iTunesCDB"); });
    ASSERT_EQ(Sim("held"), 0);
    for (int i = 0; i < 20; ++i)
        Sim("arrive");
    UnloadDeviceLibraries();
    held.join();
    EXPECT_TRUE(inside == db);
    QCoreApplication::processEvents();
    char b[4];
    EXPECT_FALSE(DeviceReadAt(4, b, 0) || DeviceCloseFile() || CloseDevice());
    EXPECT_EQ(Read("/iTunes_Control/iTunes/iTunesCDB"), "<failed>");
}

TEST(PostMessage, AReceiverDestroyedWhileAnotherThreadPosts) {
    for (int round = 0; round < 20; ++round) {
        auto* receiver = new QObject;
        const platform::WindowHandle handle = platform::RegisterWindow(receiver);
        std::atomic<int> posted{0};
        std::thread poster([&] {
            while (platform::PostMessage(handle, 0x863))
                ++posted;
        });
        for (QDeadlineTimer limit(20000); posted < 10 && !limit.hasExpired();)
            std::this_thread::yield();
        EXPECT_GE(posted.load(), 10);
        delete receiver; // never unregistered by hand; its pending messages go with it
        poster.join();
    }
}

const char kShared[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apple Inc.\\Apple Mobile Device Support\\Shared]\n";

class Load : public SimLink {
protected:
    QTemporaryDir Common, Empty, Elsewhere;
    QTemporaryFile Settings;
    QString Md, Cf, OldCwd;
    const QString CommonMd = Common.path() + kMd,
                  CommonCf = Common.path() + "/Apple/Apple Application Support/CoreFoundation.dll";

    void SetUp() override {
        // An empty current folder and an empty program folder: nothing found by default.
        OldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(Empty.path()) && Settings.open());
        platform::SetCommonProgramFilesFolderForTesting(Common.path());
        qputenv("MARROWGATE_MACHINE_SETTINGS", QFile::encodeName(Settings.fileName()));
    }
    void TearDown() override {
        qunsetenv("MARROWGATE_MACHINE_SETTINGS");
        QDir::setCurrent(OldCwd);
        SimLink::TearDown();
    }
    void WriteSettings(const QByteArray& text) {
        Settings.resize(0);
        Settings.write(kShared + text);
        Settings.flush();
    }
    bool Locate() { return LocateDeviceLibraries(Md, Cf); }
    // Writes the generation's library of the same name to `to`, with `from` replaced by `by`.
    static void Install(bool newGeneration, const QString& to, const QByteArray& from = {}, const QByteArray& by = {}) {
        QFile::remove(to);
        QByteArray bytes = ReadFile(SimFolder(newGeneration) + "/" + QFileInfo(to).fileName());
        ASSERT_TRUE(from.isEmpty() || bytes.count(from) > 0);
        WriteFile(to, from.isEmpty() ? bytes : bytes.replace(from, by));
    }
};

TEST_F(Load, NeverFromTheCurrentFolderThenSettingsGenerationsAndExports) {
    // A loadable pair in the folder the program was started from, and settings naming it
    // relatively: neither is found.
    Install(true, Empty.filePath("iTunesMobileDevice.dll"));
    Install(true, Empty.filePath("CoreFoundation.dll"));
    for (const QByteArray& named : {QByteArray(), QByteArray("iTunesMobileDevice.dll")}) {
        WriteSettings("\"iTunesMobileDeviceDLL\"=\"" + named + "\"\n");
        EXPECT_FALSE(Locate()) << Md.toStdString();
        EXPECT_FALSE(LoadDeviceLibraries());
    }
    // The program's folder is used instead; the older generation needs no base library.
    Install(false, CommonMd);
    ASSERT_TRUE(LoadDeviceLibraries());
    EXPECT_EQ(IphoneState().CoreFoundationModule, nullptr);
    // A newer library there without its base library fails to load, and nothing of the
    // library released before is called through a stale entry point.
    UnloadDeviceLibraries();
    Install(true, CommonMd);
    QDir().mkpath(CommonCf); // a folder named like the library is no library
    EXPECT_FALSE(LoadDeviceLibraries());
    EXPECT_FALSE(SubscribeDeviceNotification(0));
    QDir().rmdir(CommonCf);
    Install(true, CommonCf);
    ASSERT_TRUE(LoadDeviceLibraries());
    EXPECT_NE(IphoneState().CoreFoundationModule, nullptr);
    UnloadDeviceLibraries();
    QDir(Common.path() + "/Apple").removeRecursively();

    // The settings name a library elsewhere; its base library through InstallDir.
    auto escaped = [](const QString& path) { return path.toUtf8().replace("\\", "\\\\"); };
    const QString mdElsewhere = Elsewhere.filePath("md/iTunesMobileDevice.dll");
    Install(true, mdElsewhere);
    Install(true, Elsewhere.filePath("cf/CoreFoundation.dll"));
    WriteSettings("\"iTunesMobileDeviceDLL\"=\"" + escaped(mdElsewhere) +
                  "\"\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apple Inc.\\Apple Application Support]\n"
                  "\"InstallDir\"=\"" +
                  escaped(Elsewhere.filePath("cf")) + "\"\n");
    ASSERT_TRUE(LoadDeviceLibraries());
    ASSERT_TRUE(Locate());
    EXPECT_EQ(Cf, Elsewhere.filePath("cf") + "/CoreFoundation.dll");
    UnloadDeviceLibraries();
    // The declared version decides the generation. A library with one export spoilt fails the
    // whole load.
    auto version = [](quint64 major, quint64 minor, quint64 build) {
        const quint64 v = major << 48 | minor << 32 | build << 16;
        return QByteArray(reinterpret_cast<const char*>(&v), 8);
    };
    Install(true, CommonCf);
    for (const auto& [minor, build, newer] : {std::tuple{8, 65535, false}, {9, 0, true}}) {
        Install(false, CommonMd, version(238, 8, 0), version(238, minor, build));
        ASSERT_TRUE(Locate());
        EXPECT_EQ(Md, CommonMd); // the program's own folder comes first
        EXPECT_EQ(IphoneState().NewLibrary, newer) << minor << "." << build;
    }
    Install(true, CommonMd, QByteArray("AFCFileRefSeek\0", 15), QByteArray("AFCFileRefSeeX\0", 15));
    EXPECT_FALSE(LoadDeviceLibraries());
}

} // namespace
