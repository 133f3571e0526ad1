// Notifications arriving while other threads use the device: every message comes after its
// state is complete, readers never see a half-replaced record, and a receiver may go away
// while another thread posts to it.
#include <atomic>
#include <thread>

#include "SimLink.h"

using namespace simtest;

namespace {

class Threads : public SimLink {};

TEST_F(Threads, ArrivalsAndRemovalsWhileAnotherThreadReads) {
    const QByteArray db = Pattern(70000);
    Put("/var/mobile/Media/iTunes_Control/iTunes/iTunesCDB", db);
    Start();
    Notify("arrive");

    std::atomic<bool> stop{false};
    std::atomic<int> goodReads{0};
    std::thread reader([&] {
        while (!stop) {
            // A read either succeeds with the whole file or fails with a text; never half.
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
}

TEST_F(Threads, UnloadEndsNotificationsFirst) {
    Put("/var/mobile/Media/f", "x");
    StartConnected();
    // A file left open holds the link while notifications queue up behind it; the shut-down
    // still ends them, and none is delivered into released code.
    ASSERT_TRUE(handheld::DeviceOpenFile("/f"));
    for (int i = 0; i < 20; ++i)
        Sim("arrive");
    handheld::UnloadDeviceLibraries();
    EXPECT_EQ(handheld::IphoneState().MobileDeviceModule, nullptr);
    QCoreApplication::processEvents();
    EXPECT_LE(Window.Seen.size(), 21u);
    // The window's photo loop closes its file after the shut-down ran inside it: the call
    // fails instead of jumping into the released library.
    char b[4];
    EXPECT_FALSE(handheld::DeviceReadAt(4, b, 0));
    EXPECT_FALSE(handheld::DeviceCloseFile());
    EXPECT_EQ(Read("/f"), "<failed>");
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
