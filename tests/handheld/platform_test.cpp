// The platform pieces the link stands on: the machine settings store and messages posted to a
// registered receiver from other threads.
#include <QCoreApplication>
#include <QTemporaryFile>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/MachineSettings.h"
#include "platform/PostMessage.h"

namespace {

TEST(MachineSettings, ValuesByKeyAndType) {
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write("Windows Registry Editor Version 5.00\n\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apple Inc.\\Apple Application Support]\n"
               "\"InstallDir\"=\"/opt/apple \\\"support\\\"\\\\x\"\n"
               "\"Count\"=dword:0000001f\n"
               "\"Blob\"=hex:01,02\n"
               "; a comment\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n"
               "\"InstallDir\"=\"elsewhere\"\n");
    file.flush();
    qputenv("MARROWGATE_MACHINE_SETTINGS", QFile::encodeName(file.fileName()));
    const QByteArray key = "software\\apple inc.\\APPLE APPLICATION SUPPORT";
    const auto dir = platform::ReadMachineValue(key, "installdir");
    ASSERT_TRUE(dir && dir->Type == platform::MachineValueType::String);
    EXPECT_EQ(dir->Text, "/opt/apple \"support\"\\x");
    const auto count = platform::ReadMachineValue(key, "Count");
    ASSERT_TRUE(count && count->Type == platform::MachineValueType::Dword);
    EXPECT_EQ(count->Number, 31u);
    EXPECT_EQ(platform::ReadMachineValue(key, "Blob")->Type, platform::MachineValueType::Other);
    EXPECT_FALSE(platform::ReadMachineValue(key, "Absent"));
    EXPECT_FALSE(platform::MachineKeyExists("SOFTWARE"));
    EXPECT_EQ(platform::ReadMachineValue("SOFTWARE\\Other", "InstallDir")->Text, "elsewhere");
    qputenv("MARROWGATE_MACHINE_SETTINGS", "/nonexistent/machine.reg");
    EXPECT_FALSE(platform::ReadMachineValue(key, "InstallDir"));
    qunsetenv("MARROWGATE_MACHINE_SETTINGS");
}

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
