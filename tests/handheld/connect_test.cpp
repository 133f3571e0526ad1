// Arrival, pairing, services, media root, removal and the posted message, through the
// simulated library in both generations.
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
    // The service name reached the library in the form of its own generation.
    EXPECT_TRUE(Calls().contains("AMDeviceStartService com.apple.afc2\n"));
    EXPECT_EQ(Read("/iTunes_Control/iTunes/iTunesDB"), Pattern(5000));
}

INSTANTIATE_TEST_SUITE_P(Generations, Connect, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Newer" : "Older"; });

TEST_F(Connect, MediaRootFollowsTheServiceAndTheDatabase) {
    // afc2 without a database under /var/mobile/Media: the root account's media folder.
    Start();
    Notify("arrive");
    EXPECT_TRUE(IphoneState().FullAccess);
    EXPECT_EQ(IphoneState().MediaRoot, "/var/root/Media");
    // Only the plain service: no prefix at all, paths go to the service's own root.
    Put("/var/mobile/Media/iTunes_Control/iTunes/iTunesDB", "plain");
    Arrive({"afc2 0"});
    EXPECT_TRUE(IphoneState().Ready && !IphoneState().FullAccess);
    EXPECT_EQ(IphoneState().MediaRoot, "");
    EXPECT_EQ(Read("/iTunes_Control/iTunes/iTunesDB"), "plain");
    EXPECT_TRUE(Calls().contains("AFCFileRefOpen /iTunes_Control/iTunes/iTunesDB\n"));
}

TEST_F(Connect, FailedConnectsPostTheirTextOnce) {
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
    EXPECT_EQ(Window.Seen.size(), std::size(cases));
    // After the failed session the close ends it.
    const int stops = Sim("count AMDeviceStopSession");
    EXPECT_TRUE(handheld::CloseDevice());
    EXPECT_EQ(Sim("count AMDeviceStopSession"), stops + 1);
    EXPECT_FALSE(IphoneState().Connected);
    EXPECT_EQ(IphoneState().Device, nullptr);
}

TEST_F(Connect, RemovalOtherStatesReArrivalAndClose) {
    StartConnected();
    void* firstConnection = IphoneState().AfcConnection;
    for (const char* state : {"3", "4294967294"}) {
        Notify(QByteArray("message ") + state);
        EXPECT_FALSE(IphoneState().Ready);
        EXPECT_EQ(IphoneLastError(), QByteArray("State of iPhone or iPod Touch is ") + state);
    }
    Notify("leave");
    EXPECT_FALSE(IphoneState().Ready);
    EXPECT_EQ(IphoneLastError(), "iPhone or iPod Touch is disconnected.");
    // The rest keeps the values of the last arrival.
    EXPECT_TRUE(IphoneState().AfcOpen);
    EXPECT_EQ(IphoneState().MediaRoot, "/var/mobile/Media");
    EXPECT_EQ(Read("/iTunes_Control/iTunes/iTunesCDB"), "<failed>");
    Notify("arrive");
    EXPECT_TRUE(IphoneState().Ready);
    EXPECT_NE(IphoneState().AfcConnection, firstConnection);
    EXPECT_EQ(Sim("count AFCConnectionClose"), 0);
    EXPECT_EQ(Window.Seen.size(), 5u); // one per notification

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

} // namespace
