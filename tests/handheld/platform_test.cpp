// Messages posted to a registered receiver from other threads, as the link posts its
// notifications.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/PostMessage.h"

namespace {

class Counter : public QObject {
public:
    std::vector<quint32> Messages;
    bool event(QEvent* e) override {
        auto* m = dynamic_cast<platform::PostedMessage*>(e);
        if (!m) return QObject::event(e);
        Messages.push_back(m->Message());
        return true;
    }
};

TEST(PostMessage, FromOtherThreadsToTheRegisteredReceiverOnly) {
    Counter receiver;
    const platform::WindowHandle handle = platform::RegisterWindow(&receiver);
    ASSERT_NE(handle, 0u);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([handle] {
            for (int j = 0; j < 25; ++j)
                platform::PostMessage(handle, 0x863);
        });
    for (auto& t : threads)
        t.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(receiver.Messages, std::vector<quint32>(100, 0x863u));
    platform::UnregisterWindow(handle);
    EXPECT_FALSE(platform::PostMessage(handle, 0x863));
    EXPECT_FALSE(platform::PostMessage(0, 0x863));
}

TEST(PostMessage, AReceiverDestroyedWhileAnotherThreadPosts) {
    for (int round = 0; round < 20; ++round) {
        auto* receiver = new Counter;
        const platform::WindowHandle handle = platform::RegisterWindow(receiver);
        std::atomic<int> posted{0};
        std::atomic<bool> refused{false};
        std::thread poster([&] {
            while (platform::PostMessage(handle, 0x863))
                ++posted;
            refused = true;
        });
        while (posted < 10)
            std::this_thread::yield();
        delete receiver; // never unregistered by hand; its pending messages go with it
        poster.join();
        EXPECT_TRUE(refused);
        EXPECT_FALSE(platform::PostMessage(handle, 0x863));
    }
}

} // namespace
