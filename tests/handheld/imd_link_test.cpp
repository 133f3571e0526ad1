// The link over the libimobiledevice binding, against a fake usbmuxd with TLS lockdown and AFC.
#include "ImdFixture.h"
#if MG_HAVE_FAKEMUXD

using namespace handheld;

namespace {

class ImdLink : public imdtest::Fixture {
protected:
    QTemporaryDir Libs;
    QString OldCwd;
    simtest::Receiver Window;
    platform::WindowHandle Handle = 0;

    void SetUp() override {
        Fixture::SetUp();
        for (const char* name : {"iTunesMobileDevice.dll", "CoreFoundation.dll"})
            ASSERT_TRUE(QFile::copy(imdtest::ImdFile(name), Libs.filePath(name))) << name;
        OldCwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(Libs.path()));
        ASSERT_TRUE(LoadDeviceLibraries());
        Handle = platform::RegisterWindow(&Window);
        ASSERT_TRUE(SubscribeDeviceNotification(Handle));
    }
    void TearDown() override {
        UnloadDeviceLibraries();
        platform::UnregisterWindow(Handle);
        QDir::setCurrent(OldCwd);
        Muxd.reset();
    }
    // Lets the link's notifications arrive until the window has seen n of them.
    void WaitFor(size_t n) {
        QDeadlineTimer deadline(30000);
        while (Window.Seen.size() < n && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            QThread::msleep(5);
        }
        ASSERT_EQ(Window.Seen.size(), n) << IphoneLastError().constData();
    }
    const TIphoneMgr& Last() { return Window.Seen.back(); }
};

// A device that trusts the stored record connects without a new pairing, also when locked;
// ValidatePair is asked only of devices older than iOS 7, which still know it.
TEST_F(ImdLink, TrustedDeviceConnectsWithItsStoredPairing) {
    const struct {
        const char* Version;
        bool Locked;
        int Validations;
    } cases[] = {{"16.4", true, 0}, {"12.5.7", false, 0}, {"6.1.6", true, 1}};
    size_t seen = 0;
    int starts = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Version);
        fakemuxd::DeviceSetup setup = Setup(c.Version);
        setup.Version = c.Version;
        setup.Locked = c.Locked;
        const int id = Muxd->Plug(setup);
        WaitFor(++seen);
        EXPECT_TRUE(Last().Ready) << Last().LastError.constData();
        EXPECT_EQ(Muxd->Count("ValidatePair"), c.Validations);
        EXPECT_EQ(Muxd->Count("Pair") + Muxd->Count("SavePairRecord"), 0);
        EXPECT_GT(Muxd->Count("StartSession"), starts);
        starts = Muxd->Count("StartSession");
        Muxd->Unplug(id);
        WaitFor(++seen);
        EXPECT_FALSE(Last().Ready);
        EXPECT_EQ(Last().LastError, "iPhone or iPod Touch is disconnected.");
    }
}

// Never paired: the first connect waits for "Trust"; the answer connects the device at once.
TEST_F(ImdLink, FirstTrustConnectsTheWaitingDevice) {
    fakemuxd::DeviceSetup setup = Setup("new-device");
    setup.Trusted = false;
    const int id = Muxd->Plug(setup);
    WaitFor(1);
    EXPECT_FALSE(Last().Ready);
    EXPECT_TRUE(Last().LastError.startsWith("Pair failed: ")) << Last().LastError.constData();
    Muxd->Trust(id);
    WaitFor(2);
    EXPECT_TRUE(Last().Ready) << Last().LastError.constData();
    EXPECT_EQ(Muxd->Count("ValidatePair"), 0);
}

// A device pulled in the middle of the session ends the connect, not the program; one in
// restore mode is refused at the connect.
TEST_F(ImdLink, PulledOrRestoringDeviceFailsItsConnect) {
    fakemuxd::DeviceSetup pulled = Setup("pulled");
    pulled.PullAt = "StartService";
    Muxd->Plug(pulled);
    WaitFor(2);
    EXPECT_FALSE(IphoneReady());
    fakemuxd::DeviceSetup restoring = Setup("restoring");
    restoring.LockdownType = "com.apple.mobile.restored";
    Muxd->Plug(restoring);
    WaitFor(3);
    EXPECT_FALSE(IphoneReady());
    EXPECT_TRUE(IphoneLastError().startsWith("Cannot connect to iPhone or it's in recovery mode: "));
}

TEST_F(ImdLink, WholeFilesArriveByteForByteAndThePrefsByteIsWrittenBack) {
    fakemuxd::DeviceSetup setup = Setup("files");
    const int sizes[] = {0, 0x300000, 0x300001, 20000000};
    for (int size : sizes)
        simtest::WriteFile(On(setup, QStringLiteral("/f%1").arg(size)), simtest::Pattern(size));
    QByteArray prefs = simtest::Pattern(40);
    prefs[10] = 1;
    simtest::WriteFile(On(setup, "/iTunes_Control/iTunes/iTunesPrefs"), prefs);
    Muxd->Plug(setup);
    WaitFor(1);
    ASSERT_TRUE(IphoneReady()) << IphoneLastError().constData();
    for (int size : sizes) {
        QByteArray got;
        EXPECT_TRUE(simtest::Read(QByteArray("/f") + QByteArray::number(size), got)) << size;
        EXPECT_TRUE(got == simtest::Pattern(size)) << size << " bytes, got " << got.size();
    }
    EXPECT_TRUE(ClearDevicePrefsFlag()) << IphoneLastError().constData();
    prefs[10] = 0;
    EXPECT_EQ(simtest::ReadFile(On(setup, "/iTunes_Control/iTunes/iTunesPrefs")), prefs);
}

} // namespace
#endif
