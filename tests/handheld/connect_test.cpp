// Arrival, pairing, services, media root, removal and the posted message, through the
// simulated library in both generations.
#include "SimLink.h"

using namespace simtest;
using handheld::IphoneLastError;
using handheld::IphoneState;

namespace {

class Connect : public SimLink {
protected:
    // Resets the simulation, applies the commands and lets a device arrive.
    void Arrive(const std::vector<QByteArray>& sims) {
        Sim("reset");
        for (const QByteArray& sim : sims)
            Sim(sim);
        Notify("arrive");
    }
};
class BothGenerations : public SimLink, public ::testing::WithParamInterface<bool> {};

TEST_P(BothGenerations, ArrivalConnectsAndReadsTheDatabaseEndToEnd) {
    const bool newGeneration = GetParam();
    Put("/var/mobile/Media/iTunes_Control/iTunes/iTunesDB", Pattern(5000));
    Start(newGeneration);
    EXPECT_EQ(IphoneState().NewLibrary, newGeneration);
    EXPECT_EQ(IphoneState().CoreFoundationModule != nullptr, newGeneration);
    Notify("arrive");
    ASSERT_EQ(Window.Seen.size(), 1u);
    // The record was complete when the message arrived.
    const handheld::TIphoneMgr& at = Window.Seen[0];
    EXPECT_TRUE(at.Ready && at.AfcOpen && at.FullAccess && !at.Connected) << at.LastError.constData();
    EXPECT_EQ(at.MediaRoot, "/var/mobile/Media");
    EXPECT_TRUE(at.LastError.isEmpty());
    // The service name reached the library in the form of its own generation.
    EXPECT_TRUE(Calls().contains("AMDeviceStartService com.apple.afc2\n"));
    QByteArray got;
    ASSERT_TRUE(Read("/iTunes_Control/iTunes/iTunesDB", got));
    EXPECT_EQ(got, Pattern(5000));
}

INSTANTIATE_TEST_SUITE_P(Generations, BothGenerations, ::testing::Values(false, true),
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
    QByteArray got;
    ASSERT_TRUE(Read("/iTunes_Control/iTunes/iTunesDB", got));
    EXPECT_EQ(got, "plain");
    EXPECT_TRUE(Calls().contains("AFCFileRefOpen /iTunes_Control/iTunes/iTunesDB\n"));
}

TEST_F(Connect, EveryConnectFailureText) {
    Start();
    const struct {
        std::vector<QByteArray> sims;
        const char* text;
        bool connected;
    } cases[] = {
        {{"fail AMDeviceConnect 3892314244"},
         "Cannot connect to iPhone or it's in recovery mode: 3892314244",
         false},
        {{"pairing none", "fail AMDevicePair 3892314149"},
         "Pair failed: 3892314149 (Please do a pair with iTunes first)",
         false},
        // A refused validation is not what the text reports: the pair call's result is.
        {{"pairing invalid", "fail AMDevicePair 7"},
         "Invalid pair, failed: 7 (Please do a pair with iTunes first)",
         false},
        {{"fail AMDeviceStartSession 4294967295"}, "Start session error: 4294967295", true},
        {{"fail AMDeviceStartService 3892314147"}, "Cannot start AFC", true},
        {{"fail AFCConnectionOpen 2147483648"}, "Open AFC error: 2147483648", false},
    };
    for (const auto& c : cases) {
        Arrive(c.sims);
        EXPECT_EQ(IphoneLastError(), c.text);
        EXPECT_FALSE(IphoneState().Ready) << c.text;
        EXPECT_EQ(IphoneState().Connected, c.connected) << c.text;
    }
    // A failed connect sequence still posts, exactly once each.
    EXPECT_EQ(Window.Seen.size(), std::size(cases));
}

TEST_F(Connect, RemovalOtherStatesAndReArrival) {
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
    // The connection of a device that is gone fails its reads.
    QByteArray got;
    EXPECT_FALSE(Read("/iTunes_Control/iTunes/iTunesCDB", got));
    Notify("arrive");
    EXPECT_TRUE(IphoneState().Ready);
    EXPECT_NE(IphoneState().AfcConnection, firstConnection);
    EXPECT_EQ(Sim("count AFCConnectionClose"), 0);
    EXPECT_EQ(Window.Seen.size(), 5u); // one per notification
}

TEST_F(Connect, DeviceAlreadyAttachedArrivesWithTheSubscription) {
    Load();
    Sim("arrive");
    Handle = platform::RegisterWindow(&Window);
    ASSERT_TRUE(handheld::SubscribeDeviceNotification(Handle));
    Sim("wait");
    QCoreApplication::processEvents();
    ASSERT_EQ(Window.Seen.size(), 1u);
    EXPECT_TRUE(Window.Seen[0].Ready);
}

TEST_F(Connect, CloseDevice) {
    Start();
    // Nothing connected and nothing open: no library call at all.
    EXPECT_TRUE(handheld::CloseDevice());
    EXPECT_EQ(Sim("count AFCConnectionClose") + Sim("count AMDeviceStopSession"), 0);
    Notify("arrive");
    Sim("fail AFCConnectionClose 9");
    EXPECT_FALSE(handheld::CloseDevice());
    EXPECT_EQ(IphoneLastError(), "Close AFC error: 9");
    EXPECT_TRUE(IphoneState().AfcOpen);
    Sim("fail AFCConnectionClose 0");
    EXPECT_TRUE(handheld::CloseDevice());
    EXPECT_FALSE(IphoneState().AfcOpen);
    EXPECT_EQ(IphoneState().AfcConnection, nullptr);
    EXPECT_TRUE(IphoneState().Ready); // left for the window's close to ignore

    // After a failed session the close ends it.
    Arrive({"fail AMDeviceStartSession 5"});
    ASSERT_TRUE(IphoneState().Connected);
    const int stops = Sim("count AMDeviceStopSession");
    EXPECT_TRUE(handheld::CloseDevice());
    EXPECT_EQ(Sim("count AMDeviceStopSession"), stops + 1);
    EXPECT_FALSE(IphoneState().Connected);
    EXPECT_EQ(IphoneState().Device, nullptr);
}

} // namespace
