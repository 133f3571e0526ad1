// The libimobiledevice binding against a fake usbmuxd with TLS lockdown and AFC: on its own
// (several devices, a read that gets no answer, what is left of a removed device) and as the
// link loads it.
#include "SimLink.h"
#if MG_HAVE_FAKEMUXD
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QProcess>
#include <QThread>
#include <dlfcn.h>

#include <mutex>
#include <thread>

#include "FakeMuxd.h"
#include "tests/fixtures/DeviceTree.h"

using namespace handheld;

namespace {

constexpr uint32_t kNoDevice = 0xE8000084;

struct Events {
    std::mutex Lock;
    std::vector<AMDeviceNotificationInfo> Seen;

    static void Callback(const AMDeviceNotificationInfo* info, void* cookie) {
        auto* self = static_cast<Events*>(cookie);
        std::lock_guard<std::mutex> lock(self->Lock);
        self->Seen.push_back(*info);
    }
    // The device of the n-th notification (from 1), when it came with this message in time.
    void* Wait(size_t n, uint32_t message) {
        for (QDeadlineTimer deadline(20000); !deadline.hasExpired(); QThread::msleep(5)) {
            std::lock_guard<std::mutex> lock(Lock);
            if (Seen.size() >= n)
                return Seen[n - 1].Message == message ? Seen[n - 1].Device : nullptr;
        }
        return nullptr;
    }
};

// A fake usbmuxd for each test; the binding either opened directly or loaded by the link.
class Imd : public ::testing::Test {
protected:
    QTemporaryDir Work;
    fakemuxd::Server Muxd{Work.filePath("muxd").toStdString()};
    void* Module = nullptr;
    Events Seen;
    void* Notification = nullptr;
    simtest::Receiver Window;
    platform::WindowHandle Handle = 0;

    void SetUp() override { setenv("USBMUXD_SOCKET_ADDRESS", Muxd.Address().c_str(), 1); }
    void TearDown() override {
        if (Module) {
            Entry<PFN_AMDeviceNotificationUnsubscribe>("AMDeviceNotificationUnsubscribe")(Notification);
            dlclose(Module);
        }
        UnloadDeviceLibraries();
        platform::UnregisterWindow(Handle);
    }
    // A device whose files live in a folder of its own.
    // Plugs a device whose files live in a folder of its own, named after it.
    int Plug(fakemuxd::DeviceSetup s) {
        QDir().mkpath(On(s.Udid.c_str(), {}));
        s.Folder = On(s.Udid.c_str(), {}).toStdString();
        return Muxd.Plug(s);
    }
    QString On(const char* udid, const QString& path) const { return Work.filePath(udid) + path; }

    template <typename T>
    T Entry(const char* name) {
        return reinterpret_cast<T>(dlsym(Module, name));
    }
    uint32_t Call(const char* name, void* device) { return Entry<PFN_AMDeviceCall>(name)(device); }
    uint32_t ReadSome(void* files, uint64_t ref, std::vector<char>& buffer) {
        uint32_t count = uint32_t(buffer.size());
        return Entry<PFN_AFCFileRefRead>("AFCFileRefRead")(files, ref, buffer.data(), &count);
    }

    // Lets the link's notifications arrive until the window has seen n of them.
    const TIphoneMgr& WaitFor(size_t n) {
        for (QDeadlineTimer deadline(30000); Window.Seen.size() < n && !deadline.hasExpired(); QThread::msleep(5))
            QCoreApplication::processEvents();
        EXPECT_EQ(Window.Seen.size(), n) << IphoneLastError().constData();
        return Window.Seen.back();
    }
};

TEST_F(Imd, StalledReadHoldsUpNeitherEventsNorOtherDevices) {
    Module = dlopen(MG_BIN_DIR "/mobiledevice/Apple/Mobile Device Support/bin/iTunesMobileDevice.dll",
                    RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(Module, nullptr) << dlerror();
    ASSERT_EQ(Entry<PFN_AMDeviceNotificationSubscribe>("AMDeviceNotificationSubscribe")(&Events::Callback, 0, 0, &Seen,
                                                                                        &Notification),
              0u);
    simtest::WriteFile(On("device-a", "/big"), simtest::Pattern(1 << 20));
    const int idA = Plug({.Udid = "device-a"});
    void* deviceA = Seen.Wait(1, 1);
    // Connects like the link does and opens the file service.
    static const struct {
        uint32_t Magic = mobiledevice::ConstantStringMagic, Length = 13;
        char Text[14] = "com.apple.afc";
    } afc;
    uint32_t handle = 0;
    void* files = nullptr;
    ASSERT_EQ(Call("AMDeviceConnect", deviceA) + Call("AMDeviceStartSession", deviceA) +
                  Entry<PFN_AMDeviceStartService>("AMDeviceStartService")(deviceA, &afc, &handle, nullptr) +
                  Call("AMDeviceStopSession", deviceA) + Call("AMDeviceDisconnect", deviceA) +
                  Entry<PFN_AFCConnectionOpen>("AFCConnectionOpen")(handle, 0, &files),
              0u);
    uint64_t ref = 0;
    ASSERT_EQ(Entry<PFN_AFCFileRefOpen>("AFCFileRefOpen")(files, "/big", mobiledevice::OpenRead, &ref), 0u);

    Muxd.StallReads(true);
    std::vector<char> buffer(4096);
    uint32_t stalledResult = 0;
    std::thread reader([&] { stalledResult = ReadSome(files, ref, buffer); });
    EXPECT_TRUE(Muxd.WaitForMore("AFCRead", 0));

    Plug({.Udid = "device-b"});
    void* deviceB = Seen.Wait(2, 1);
    EXPECT_EQ(deviceB ? Call("AMDeviceIsPaired", deviceB) : 1u, 1u); // its absence is reported below
    Muxd.Unplug(idA);                                                // ends the stalled read
    reader.join();
    ASSERT_NE(deviceB, nullptr) << "the second device's arrival waited for the stalled read";
    EXPECT_NE(stalledResult, 0u);
    EXPECT_EQ(Seen.Wait(3, 2), deviceA);

    // Removed: what was handed out still answers, with "no device" and "not paired".
    buffer.resize(16);
    EXPECT_EQ(ReadSome(files, ref, buffer), kNoDevice);
    EXPECT_EQ(Call("AMDeviceConnect", deviceA), kNoDevice);
    EXPECT_EQ(Call("AMDeviceIsPaired", deviceA) + Call("AMDeviceIsPaired", reinterpret_cast<void*>(0x4711)), 0u);
}

// Files arrive byte for byte and the prefs byte is written back. A read the phone does not
// answer holds up neither another phone's arrival nor its removal; one dropped unanswered loses
// the connection, which the window hears of once, and later reads fail as such, not as missing
// files. A device that trusts the stored record connects without a new pairing, also when
// locked; ValidatePair is asked only of devices older than iOS 7, which still know it. A check
// the device breaks off, or a read of the record that usbmuxd drops, pairs nothing; a device
// that no longer knows the host is paired anew. Never
// paired: the first connect waits for "Trust", whose answer connects the device at once. A
// device pulled in the middle of the session ends the connect, not the program.
TEST_F(Imd, LinkConnectsTrustedNewAndPulledDevices) {
    ASSERT_TRUE(LoadDeviceLibraries());
    Handle = platform::RegisterWindow(&Window);
    ASSERT_TRUE(SubscribeDeviceNotification(Handle));
    const int sizes[] = {0, 0x300000, 0x300001, 20000000};
    for (int size : sizes)
        simtest::WriteFile(On("files", QStringLiteral("/f%1").arg(size)), simtest::Pattern(size));
    QByteArray prefs = simtest::Pattern(40);
    prefs[10] = 1;
    simtest::WriteFile(On("files", "/iTunes_Control/iTunes/iTunesPrefs"), prefs);
    const int filesId = Plug({.Udid = "files"});
    ASSERT_TRUE(WaitFor(1).Ready) << IphoneLastError().constData();
    // Each file with the size that the device's file information gives, and its first and last
    // 64 KiB read at their offsets.
    for (int size : sizes) {
        const QByteArray path = "/f" + QByteArray::number(size), bytes = simtest::Pattern(size);
        qint64 given = -1;
        QByteArray sample;
        EXPECT_TRUE(simtest::Read(path) == bytes) << size;
        EXPECT_TRUE(DeviceFileSize(path, given) && given == size && DeviceFileSample(path, size, sample) &&
                    sample == bytes.left(65536) + bytes.mid(std::max(65536, size - 65536)))
            << size;
    }
    EXPECT_TRUE(ClearDevicePrefsFlag()) << IphoneLastError().constData();
    prefs[10] = 0;
    EXPECT_EQ(simtest::ReadFile(On("files", "/iTunes_Control/iTunes/iTunesPrefs")), prefs);

    Muxd.StallReads(true);
    QByteArray stalled;
    const int readsBefore = Muxd.Count("AFCRead");
    std::thread reader([&] { stalled = simtest::Read("/f20000000"); });
    EXPECT_TRUE(Muxd.WaitForMore("AFCRead", readsBefore));
    const int otherId = Plug({.Udid = "other"});
    EXPECT_TRUE(WaitFor(2).Ready) << "the arrival waited for the stalled read";
    Muxd.Unplug(otherId);
    EXPECT_FALSE(WaitFor(3).Ready);
    Muxd.StallReads(false);
    reader.join();
    EXPECT_TRUE(stalled == simtest::Pattern(20000000));
    Muxd.Unplug(filesId);

    simtest::WriteFile(On("dying", "/f"), "abc");
    const int dyingId = Plug({.Udid = "dying"});
    EXPECT_TRUE(WaitFor(5).Ready) << IphoneLastError().constData();
    Muxd.StallReads(true, true);
    const QByteArray gone = QByteArray::number(mobiledevice::ErrNoDevice);
    EXPECT_TRUE(simtest::Read("/f") == "<failed>" && IphoneLastError() == "Read error: " + gone);
    EXPECT_FALSE(WaitFor(6).Ready);
    EXPECT_TRUE(simtest::Read("/f") == "<failed>" && IphoneLastError() == "Open error: " + gone);
    Muxd.StallReads(false);
    Muxd.Unplug(dyingId); // already heard of: the next message is the next arrival's

    size_t seen = 6;
    for (const auto& [version, validations] : {std::pair{"16.4", 0}, {"12.5.7", 0}, {"6.1.6", 1}}) {
        SCOPED_TRACE(version);
        const int id = Plug({.Udid = version, .Version = version});
        EXPECT_TRUE(WaitFor(++seen).Ready) << IphoneLastError().constData();
        EXPECT_EQ(Muxd.Count("ValidatePair"), validations);
        EXPECT_EQ(Muxd.Count("Pair") + Muxd.Count("SavePairRecord"), 0);
        Muxd.Unplug(id);
        EXPECT_EQ(WaitFor(++seen).LastError, "iPhone or iPod Touch is disconnected.");
    }
    for (const auto& [forgot, text, pairs] :
         {std::tuple{false, "Validate pair error: ", 0}, {true, "Invalid pair", 1}}) {
        const int id = Plug(
            {.Udid = forgot ? "forgot" : "broke-off", .DropAt = forgot ? "" : "StartSession", .ForgotHost = forgot});
        EXPECT_TRUE(WaitFor(++seen).LastError.startsWith(text)) << IphoneLastError().constData();
        EXPECT_EQ(Muxd.Count("Pair"), pairs);
        Muxd.Unplug(id);
        ++seen;
    }

    const int id = Plug({.Udid = "new-device", .Trusted = false});
    EXPECT_TRUE(WaitFor(++seen).LastError.startsWith("Pair failed: ")) << IphoneLastError().constData();
    Muxd.Trust(id);
    EXPECT_TRUE(WaitFor(++seen).Ready) << IphoneLastError().constData();
    EXPECT_EQ(Muxd.Count("ValidatePair"), 1);
    // A read of the stored record that usbmuxd drops is no missing record: that connect fails
    // and nothing is paired anew, whichever of the link's reads it was.
    const int paired = Muxd.Count("Pair");
    for (const auto& [version, drops] : {std::pair{"16.4", 2}, {"6.1.6", 3}})
        for (int drop = 1; drop <= drops; ++drop) {
            const int id = Plug({.Udid = version, .Version = version, .DropRecordRead = drop});
            EXPECT_FALSE(WaitFor(++seen).Ready) << version << " " << drop;
            EXPECT_EQ(Muxd.Count("Pair"), paired) << version << " " << drop;
            Muxd.Unplug(id);
            WaitFor(++seen);
        }
    Muxd.Unplug(id);
    Plug({.Udid = "pulled", .PullAt = "StartService"});
    WaitFor(seen + 3);
    EXPECT_FALSE(IphoneReady());
}

// ipod-dump over the binding and its own fake usbmuxd sees and copies what it does through the
// simulated library.
TEST(ImdDump, TracksAndCopyMatchTheSimulatedLibrary) {
    QTemporaryDir dev, simOut, realOut;
    const fixtures::DeviceTree tree{dev.path()};
    fixtures::FixtureDb db = fixtures::SampleDb();
    for (fixtures::FixtureTrack& t : db.Tracks)
        t.Size = std::min<uint32_t>(t.Size, 1 << 20); // every file on the device, so the copies exit 0
    fixtures::DeviceTree{tree.MediaPath({})}.WriteMusicFiles(db);
    // Sizes stored half and twice the files': the copy goes by the sizes the device gives.
    for (size_t i = 0; i < db.Tracks.size(); ++i)
        db.Tracks[i].Size = i % 2 ? db.Tracks[i].Size * 2 : db.Tracks[i].Size / 2;
    tree.WriteHandheldTrackDb(fixtures::WriteTrackDb(db), true);
    const auto run = [&](QStringList args) {
        QProcess p;
        p.start(QStringLiteral(MG_BIN_DIR "/ipod-dump"), args << "--handheld");
        p.waitForFinished(120000);
        EXPECT_EQ(p.exitCode(), 0) << args.join(' ').toStdString() << p.readAllStandardError().toStdString();
        return p.readAllStandardOutput();
    };
    const QByteArray tracks = run({"tracks", dev.path()});
    EXPECT_TRUE(tracks.contains(db.Tracks.front().Title.toUtf8())) << tracks.toStdString();
    EXPECT_EQ(run({"tracks", dev.path(), "--fake-usbmuxd"}), tracks);

    run({"copy", dev.path(), simOut.path(), "--layout", "1"});
    // Again into the same folder: nothing is added.
    for (int pass = 0; pass < 2; ++pass)
        run({"copy", dev.path(), realOut.path(), "--layout", "1", "--fake-usbmuxd"});
    QStringList copied;
    for (QDirIterator it(realOut.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        copied << path.mid(realOut.path().size());
        EXPECT_EQ(simtest::ReadFile(simOut.path() + copied.back()), simtest::ReadFile(path)) << path.toStdString();
    }
    EXPECT_EQ(copied.size(), int(db.Tracks.size()));
}

} // namespace
#endif
