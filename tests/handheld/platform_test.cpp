// The platform pieces the link stands on: declared file versions, the machine settings
// store and messages posted to a registered receiver from other threads.
#include <QCoreApplication>
#include <QTemporaryFile>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Library.h"
#include "platform/MachineSettings.h"
#include "platform/PostMessage.h"

namespace {

TEST(FileVersion, DeclaredVersionsAndFilesWithout) {
    const QString sim = QStringLiteral(MG_BIN_DIR "/mobiledevice-sim/");
    EXPECT_EQ(platform::FileVersion(sim + "old/iTunesMobileDevice.dll"), (238ull << 48) | (8ull << 32));
    EXPECT_EQ(platform::FileVersion(sim + "new/iTunesMobileDevice.dll"), (238ull << 48) | (9ull << 32));
    EXPECT_EQ(platform::FileVersion(sim + "new/CoreFoundation.dll"), std::nullopt);
    EXPECT_EQ(platform::FileVersion(sim + "no-such-file"), std::nullopt);
    QTemporaryFile junk;
    ASSERT_TRUE(junk.open());
    junk.write("\x7f"
               "ELF\x02\x01 and then nothing that holds");
    junk.flush();
    EXPECT_EQ(platform::FileVersion(junk.fileName()), std::nullopt);
}

TEST(Library, LoadsByRelativePathFromTheCurrentFolderOnly) {
    EXPECT_EQ(platform::LoadLibrary("no-such-library.so"), nullptr);
    EXPECT_FALSE(platform::LastLoadError().isEmpty());
    platform::ModuleHandle m =
        platform::LoadLibrary(QStringLiteral(MG_BIN_DIR "/mobiledevice-sim/new/CoreFoundation.dll"));
    ASSERT_NE(m, nullptr);
    EXPECT_NE(platform::GetProcAddress(m, "__CFStringMakeConstantString"), nullptr);
    EXPECT_EQ(platform::GetProcAddress(m, "AMDeviceConnect"), nullptr);
    EXPECT_TRUE(platform::FreeLibrary(m));
}

class MachineSettings : public ::testing::Test {
protected:
    QTemporaryFile File;
    void SetUp() override {
        ASSERT_TRUE(File.open());
        File.write("Windows Registry Editor Version 5.00\n"
                   "\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apple Inc.\\Apple Application Support]\n"
                   "\"InstallDir\"=\"/opt/apple \\\"support\\\"\\\\x\"\n"
                   "\"Count\"=dword:0000001f\n"
                   "\"Blob\"=hex:01,02\n"
                   "; a comment\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n"
                   "\"InstallDir\"=\"elsewhere\"\n");
        File.flush();
        qputenv("MARROWGATE_MACHINE_SETTINGS", QFile::encodeName(File.fileName()));
    }
    void TearDown() override { qunsetenv("MARROWGATE_MACHINE_SETTINGS"); }
};

TEST_F(MachineSettings, ValuesByKeyAndType) {
    const QByteArray key = "software\\apple inc.\\APPLE APPLICATION SUPPORT";
    const auto dir = platform::ReadMachineValue(key, "installdir");
    ASSERT_TRUE(dir);
    EXPECT_EQ(dir->Type, platform::MachineValueType::String);
    EXPECT_EQ(dir->Text, "/opt/apple \"support\"\\x");
    const auto count = platform::ReadMachineValue(key, "Count");
    ASSERT_TRUE(count);
    EXPECT_EQ(count->Type, platform::MachineValueType::Dword);
    EXPECT_EQ(count->Number, 31u);
    EXPECT_EQ(platform::ReadMachineValue(key, "Blob")->Type, platform::MachineValueType::Other);
    EXPECT_FALSE(platform::ReadMachineValue(key, "Absent"));
    EXPECT_FALSE(platform::ReadMachineValue("SOFTWARE\\Nothing", "InstallDir"));
    EXPECT_TRUE(platform::MachineKeyExists("SOFTWARE\\Other"));
    EXPECT_FALSE(platform::MachineKeyExists("SOFTWARE"));
    EXPECT_EQ(platform::ReadMachineValue("SOFTWARE\\Other", "InstallDir")->Text, "elsewhere");
}

TEST(MachineSettingsFile, MissingStoreReadsEmpty) {
    qputenv("MARROWGATE_MACHINE_SETTINGS", "/nonexistent/machine.reg");
    EXPECT_FALSE(platform::ReadMachineValue("SOFTWARE\\Apple Inc.\\Apple Application Support", "InstallDir"));
    qunsetenv("MARROWGATE_MACHINE_SETTINGS");
}

class Counter : public QObject {
public:
    std::vector<quint32> Messages;
    bool event(QEvent* e) override {
        if (auto* m = dynamic_cast<platform::PostedMessage*>(e)) {
            Messages.push_back(m->Message());
            return true;
        }
        return QObject::event(e);
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
    EXPECT_EQ(receiver.Messages.size(), 100u);
    EXPECT_EQ(receiver.Messages.front(), 0x863u);

    platform::UnregisterWindow(handle);
    EXPECT_FALSE(platform::PostMessage(handle, 0x863));
    EXPECT_FALSE(platform::PostMessage(0, 0x863));
    {
        auto* gone = new Counter;
        const platform::WindowHandle h = platform::RegisterWindow(gone);
        delete gone;
        EXPECT_FALSE(platform::PostMessage(h, 0x86C));
    }
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
