// The libimobiledevice binding on its own: several devices, a read that gets no answer, and
// what is left of a device after its removal.
#include "ImdFixture.h"
#if MG_HAVE_FAKEMUXD
#include <dlfcn.h>

#include <condition_variable>
#include <thread>

namespace {

constexpr uint32_t kNoDevice = 0xE8000084;

struct Events {
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<AMDeviceNotificationInfo> Seen;

    static void Callback(const AMDeviceNotificationInfo* info, void* cookie) {
        auto* self = static_cast<Events*>(cookie);
        std::lock_guard<std::mutex> lock(self->Lock);
        self->Seen.push_back(*info);
        self->Changed.notify_all();
    }
    // The device of the n-th notification (from 1), when it came with this message in time.
    void* Wait(size_t n, uint32_t message) {
        std::unique_lock<std::mutex> lock(Lock);
        Changed.wait_for(lock, std::chrono::seconds(20), [&] { return Seen.size() >= n; });
        return Seen.size() >= n && Seen[n - 1].Message == message ? Seen[n - 1].Device : nullptr;
    }
};

class ImdLibrary : public imdtest::Fixture {
protected:
    void* Module = nullptr;
    Events Seen;
    void* Notification = nullptr;

    template <typename T> T Entry(const char* name) { return reinterpret_cast<T>(dlsym(Module, name)); }
    uint32_t Call(const char* name, void* device) { return Entry<PFN_AMDeviceCall>(name)(device); }

    void SetUp() override {
        Fixture::SetUp();
        Module =
            dlopen(imdtest::ImdFile("iTunesMobileDevice.dll").toUtf8().constData(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(Module, nullptr) << dlerror();
        ASSERT_EQ(Entry<PFN_AMDeviceNotificationSubscribe>("AMDeviceNotificationSubscribe")(
                      &Events::Callback, 0, 0, &Seen, &Notification),
                  0u);
    }
    void TearDown() override {
        if (Module) {
            Entry<PFN_AMDeviceNotificationUnsubscribe>("AMDeviceNotificationUnsubscribe")(Notification);
            dlclose(Module);
        }
        Muxd.reset();
    }
    // Connects like the link does and opens the file service.
    void* OpenFiles(void* device) {
        static const struct {
            uint32_t Magic = mobiledevice::ConstantStringMagic, Length = 13;
            char Text[14] = "com.apple.afc";
        } afc;
        uint32_t handle = 0;
        void* connection = nullptr;
        EXPECT_EQ(Call("AMDeviceConnect", device) + Call("AMDeviceStartSession", device), 0u);
        EXPECT_EQ(Entry<PFN_AMDeviceStartService>("AMDeviceStartService")(device, &afc, &handle, nullptr),
                  0u);
        Call("AMDeviceStopSession", device);
        Call("AMDeviceDisconnect", device);
        EXPECT_EQ(Entry<PFN_AFCConnectionOpen>("AFCConnectionOpen")(handle, 0, &connection), 0u);
        return connection;
    }
    uint32_t ReadSome(void* files, uint64_t ref, std::vector<char>& buffer) {
        uint32_t count = uint32_t(buffer.size());
        return Entry<PFN_AFCFileRefRead>("AFCFileRefRead")(files, ref, buffer.data(), &count);
    }
};

TEST_F(ImdLibrary, StalledReadHoldsUpNeitherEventsNorOtherDevices) {
    fakemuxd::DeviceSetup a = Setup("device-a");
    simtest::WriteFile(On(a, "/big"), simtest::Pattern(1 << 20));
    const int idA = Muxd->Plug(a);
    void* deviceA = Seen.Wait(1, 1);
    ASSERT_NE(deviceA, nullptr);
    void* files = OpenFiles(deviceA);
    uint64_t ref = 0;
    ASSERT_EQ(Entry<PFN_AFCFileRefOpen>("AFCFileRefOpen")(files, "/big", mobiledevice::OpenRead, &ref), 0u);

    Muxd->StallReads(true);
    std::vector<char> buffer(4096);
    uint32_t stalledResult = 0;
    std::thread reader([&] { stalledResult = ReadSome(files, ref, buffer); });
    while (Muxd->Count("AFCRead") == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    Muxd->Plug(Setup("device-b"));
    void* deviceB = Seen.Wait(2, 1);
    if (deviceB) {
        EXPECT_EQ(Call("AMDeviceConnect", deviceB), 0u);
        EXPECT_EQ(Call("AMDeviceIsPaired", deviceB), 1u);
    }
    Muxd->Unplug(idA); // ends the stalled read
    reader.join();
    Muxd->StallReads(false);
    ASSERT_NE(deviceB, nullptr) << "the second device's arrival waited for the stalled read";
    EXPECT_NE(stalledResult, 0u);
    EXPECT_EQ(Seen.Wait(3, 2), deviceA);

    // Removed: what was handed out still answers, with "no device" and "not paired".
    buffer.resize(16);
    EXPECT_EQ(ReadSome(files, ref, buffer), kNoDevice);
    EXPECT_EQ(Call("AMDeviceConnect", deviceA), kNoDevice);
    EXPECT_EQ(Call("AMDeviceIsPaired", deviceA), 0u);
    EXPECT_EQ(Call("AMDeviceIsPaired", reinterpret_cast<void*>(0x4711)), 0u);
}

} // namespace
#endif
