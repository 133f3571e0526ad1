// Arrival, pairing, services, media root, removal and the posted message, through the
// simulated library in both generations; notifications while other threads use the device:
// every message comes after its state is complete, readers never see a half-replaced record,
// and a receiver may go away while another thread posts to it.
#include <atomic>
#include <thread>

#include "SimLink.h"

using namespace simtest;
using handheld::IphoneLastError;
using handheld::IphoneState;

namespace {

class Connect : public SimLink, public ::testing::WithParamInterface<bool> {
protected:
    void Arrive(const std::vector<QByteArray>& sims) {
        Sim("reset");
        for (const QByteArray& sim : sims)
            Sim(sim);
        Notify("arrive");
    }
};

// A device already attached when the window subscribes arrives with the subscription.
TEST_P(Connect, AttachedDeviceConnectsAndReadsTheDatabaseEndToEnd) {
    Put("/var/mobile/Media/iTunes_Control/iTunes/iTunesDB", Pattern(5000));
    Load(GetParam());
    EXPECT_EQ(IphoneState().NewLibrary, GetParam());
    EXPECT_EQ(IphoneState().CoreFoundationModule != nullptr, GetParam());
    Sim("arrive");
    Handle = platform::RegisterWindow(&Window);
    ASSERT_TRUE(handheld::SubscribeDeviceNotification(Handle));
    Notify("wait");
    ASSERT_EQ(Window.Seen.size(), 1u);
    // The record was complete when the message arrived.
    const handheld::TIphoneMgr& at = Window.Seen[0];
    EXPECT_TRUE(at.Ready && at.AfcOpen && at.FullAccess && !at.Connected) << at.LastError.constData();
    EXPECT_EQ(at.MediaRoot, "/var/mobile/Media");
    EXPECT_TRUE(at.LastError.isEmpty());
    EXPECT_EQ(Read("/iTunes_Control/iTunes/iTunesDB"), Pattern(5000));
}

INSTANTIATE_TEST_SUITE_P(Generations, Connect, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Newer" : "Older"; });

// The media root follows the service and the database; failed connects post their text once;
// other states and the removal keep the link's values, and a new arrival opens a new connection.
TEST_F(Connect, OneDeviceThroughItsStatesAndCloses) {
    Start();
    const std::tuple<std::vector<QByteArray>, const char*, bool> cases[] = {
        {{"fail AMDeviceConnect 3892314244"},
         "Cannot connect to iPhone or it's in recovery mode: 3892314244",
         false},
        // A refused validation is not what the text reports: the pair call's result is.
        {{"pairing invalid", "fail AMDevicePair 7"},
         "Invalid pair, failed: 7 (Please do a pair with iTunes first)",
         false},
        {{"fail AMDeviceStartSession 4294967295"}, "Start session error: 4294967295", true},
    };
    for (const auto& [sims, text, connected] : cases) {
        Arrive(sims);
        EXPECT_EQ(IphoneLastError(), text);
        EXPECT_FALSE(IphoneState().Ready) << text;
        EXPECT_EQ(IphoneState().Connected, connected) << text;
    }
    // After the failed session the close ends it.
    const int stops = Sim("count AMDeviceStopSession");
    EXPECT_TRUE(handheld::CloseDevice());
    EXPECT_EQ(Sim("count AMDeviceStopSession"), stops + 1);
    EXPECT_FALSE(IphoneState().Connected);
    EXPECT_EQ(IphoneState().Device, nullptr);

    // afc2 without a database under /var/mobile/Media: the root account's media folder.
    Arrive({});
    EXPECT_TRUE(IphoneState().FullAccess);
    EXPECT_EQ(IphoneState().MediaRoot, "/var/root/Media");
    // Only the plain service: no prefix at all, paths go to the service's own root.
    Put("/var/mobile/Media/iTunes_Control/iTunes/iTunesDB", "plain");
    Arrive({"afc2 0"});
    EXPECT_TRUE(IphoneState().Ready && !IphoneState().FullAccess);
    EXPECT_EQ(IphoneState().MediaRoot, "");
    EXPECT_EQ(Read("/iTunes_Control/iTunes/iTunesDB"), "plain");

    Arrive({});
    EXPECT_EQ(IphoneState().MediaRoot, "/var/mobile/Media");
    void* firstConnection = IphoneState().AfcConnection;
    for (const char* state : {"3", "4294967294"}) {
        Notify(QByteArray("message ") + state);
        EXPECT_FALSE(IphoneState().Ready);
        EXPECT_EQ(IphoneLastError(), QByteArray("State of iPhone or iPod Touch is ") + state);
    }
    Notify("leave");
    EXPECT_FALSE(IphoneState().Ready);
    EXPECT_EQ(IphoneLastError(), "iPhone or iPod Touch is disconnected.");
    EXPECT_EQ(Read("/iTunes_Control/iTunes/iTunesDB"), "<failed>");
    Notify("arrive");
    EXPECT_TRUE(IphoneState().Ready);
    EXPECT_NE(IphoneState().AfcConnection, firstConnection);
    EXPECT_EQ(Sim("count AFCConnectionClose"), 0);
    EXPECT_EQ(Window.Seen.size(), 10u); // one per notification

    Sim("fail AFCConnectionClose 9");
    EXPECT_FALSE(handheld::CloseDevice());
    EXPECT_EQ(IphoneLastError(), "Close AFC error: 9");
    EXPECT_TRUE(IphoneState().AfcOpen);
    Sim("fail AFCConnectionClose 0");
    EXPECT_TRUE(handheld::CloseDevice());
    EXPECT_FALSE(IphoneState().AfcOpen);
    EXPECT_EQ(IphoneState().AfcConnection, nullptr);
    EXPECT_TRUE(IphoneState().Ready); // left for the window's close to ignore
    // Nothing open any more: no library call at all.
    const int closes = Sim("count AFCConnectionClose") + Sim("count AMDeviceStopSession");
    EXPECT_TRUE(handheld::CloseDevice());
    EXPECT_EQ(Sim("count AFCConnectionClose") + Sim("count AMDeviceStopSession"), closes);
}

// Every message comes after its state is complete and a reader never sees half a file. At the
// end a file left open holds the link while notifications queue up behind it; the shut-down
// still ends them, none is delivered into released code, and later calls fail instead of
// jumping into the released library.
TEST_F(Connect, ArrivalsRemovalsAndUnloadWhileAnotherThreadReads) {
    const QByteArray db = Pattern(70000);
    Put("/var/mobile/Media/iTunes_Control/iTunes/iTunesCDB", db);
    Start();
    Notify("arrive");
    std::atomic<bool> stop{false};
    std::atomic<int> goodReads{0};
    std::thread reader([&] {
        while (!stop) {
            const QByteArray got = Read("/iTunes_Control/iTunes/iTunesCDB");
            if (got == db)
                ++goodReads;
            else
                EXPECT_TRUE(got == "<failed>" && !handheld::DeviceLastError().isEmpty());
            (void)handheld::IphoneState();
        }
    });
    size_t sent = 1;
    for (int i = 0; i < 40; ++i) {
        sent += Sim(i % 2 ? "arrive" : "leave") == 0;
        if (i % 5 == 0) sent += Sim("message 3") == 0; // refused while no device is attached
        Sim("wait");
        QCoreApplication::processEvents();
    }
    sent += Sim("arrive") == 0;
    Sim("wait");
    while (goodReads == 0 && handheld::IphoneReady())
        std::this_thread::yield();
    stop = true;
    reader.join();
    QCoreApplication::processEvents();
    EXPECT_GT(goodReads.load(), 0);
    EXPECT_EQ(Window.Seen.size(), sent); // one message per notification
    EXPECT_TRUE(Window.Seen.back().Ready);
    for (const handheld::TIphoneMgr& at : Window.Seen)
        EXPECT_TRUE(!at.Ready || at.MediaRoot == "/var/mobile/Media") << at.MediaRoot.constData();

    ASSERT_TRUE(handheld::DeviceOpenFile("/iTunes_Control/iTunes/iTunesCDB"));
    for (int i = 0; i < 20; ++i)
        Sim("arrive");
    handheld::UnloadDeviceLibraries();
    EXPECT_EQ(handheld::IphoneState().MobileDeviceModule, nullptr);
    QCoreApplication::processEvents();
    EXPECT_LE(Window.Seen.size(), sent + 20);
    char b[4];
    EXPECT_FALSE(handheld::DeviceReadAt(4, b, 0));
    EXPECT_FALSE(handheld::DeviceCloseFile());
    EXPECT_EQ(Read("/iTunes_Control/iTunes/iTunesCDB"), "<failed>");
    EXPECT_FALSE(handheld::CloseDevice());
}

TEST(PostMessage, AReceiverDestroyedWhileAnotherThreadPosts) {
    for (int round = 0; round < 20; ++round) {
        auto* receiver = new QObject;
        const platform::WindowHandle handle = platform::RegisterWindow(receiver);
        ASSERT_NE(handle, 0u);
        std::atomic<int> posted{0};
        std::thread poster([&] {
            while (platform::PostMessage(handle, 0x863))
                ++posted;
        });
        while (posted < 10)
            std::this_thread::yield();
        delete receiver; // never unregistered by hand; its pending messages go with it
        poster.join();
        EXPECT_FALSE(platform::PostMessage(handle, 0x863));
    }
    EXPECT_FALSE(platform::PostMessage(0, 0x863));
}

} // namespace
