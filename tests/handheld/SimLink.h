#pragma once
// Test support: the simulated mobile-device library loaded through LoadDeviceLibraries, the
// way the program loads it: a fresh copy in a fresh program folder for every test, so every
// test starts with a library of its own.
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

#include "handheld/Iphone.h"
#include "platform/Library.h"
#include "platform/PostMessage.h"
#include "platform/mobiledevice/MobileDeviceApi.h"
#include "tests/fixtures/SimLibraries.h"

namespace simtest {

inline QString SimFolder(bool newGeneration) {
    return QStringLiteral(MG_BIN_DIR "/mobiledevice-sim/") + (newGeneration ? "new" : "old");
}
inline void WriteFile(const QString& full, const QByteArray& bytes) {
    QDir().mkpath(full.left(full.lastIndexOf('/')));
    QFile f(full);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << full.toStdString();
    f.write(bytes);
}
inline QByteArray ReadFile(const QString& full) {
    QFile f(full);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
// A whole device file read through the link (path below the media root).
inline QByteArray Read(const QByteArray& path) {
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    return handheld::DeviceReadFile(path, stream) ? stream.data() : QByteArray("<failed>");
}
inline QByteArray Pattern(qsizetype size) {
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}

// Counts WM_IPHONE_NOTIFY and keeps the link's record as it was when each one arrived.
class Receiver : public QObject {
public:
    std::vector<handheld::TIphoneMgr> Seen;
    bool event(QEvent* e) override {
        if (e->type() != QEvent::Type(handheld::WM_IPHONE_NOTIFY))
            return QObject::event(e);
        Seen.push_back(handheld::IphoneState());
        return true;
    }
};

// Program folder of the test, a device tree, and the loaded simulated pair.
class SimLink : public ::testing::Test {
protected:
    QTemporaryDir Libs, Device;
    Receiver Window;
    platform::WindowHandle Handle = 0;
    PFN_MobileDeviceSimControl Control = nullptr;

    // Installs, loads and subscribes; the device tree is served as the device's root, by a
    // device already there when `attached`.
    void Start(bool attached = false) {
        ASSERT_TRUE(fixtures::InstallSimulatedLibraries(SimFolder(true), Libs.path(), true));
        ASSERT_TRUE(handheld::LoadDeviceLibraries());
        Control = reinterpret_cast<PFN_MobileDeviceSimControl>(
            platform::GetProcAddress(handheld::IphoneState().MobileDeviceModule, "MobileDeviceSimControl"));
        ASSERT_NE(Control, nullptr);
        Sim("root " + Device.path().toUtf8());
        if (attached)
            Sim("arrive");
        Handle = platform::RegisterWindow(&Window);
        ASSERT_TRUE(handheld::SubscribeDeviceNotification(Handle));
    }
    void TearDown() override {
        handheld::UnloadDeviceLibraries();
        platform::UnregisterWindow(Handle);
        platform::SetCommonProgramFilesFolderForTesting(QString());
    }

    int Sim(const QByteArray& command) { return Control(command.constData(), nullptr, 0); }
    // Runs a sim command that notifies, waits for the library's thread to deliver it, and
    // lets the posted message arrive.
    void Notify(const QByteArray& command) {
        ASSERT_EQ(Sim(command), 0) << command.constData();
        Sim("wait");
        QCoreApplication::processEvents();
    }
    // A file of the device tree (path below the device's root).
    void Put(const QString& path, const QByteArray& bytes) { WriteFile(Device.path() + path, bytes); }
    // A device with a track database under /var/mobile/Media, connected.
    void StartConnected() {
        Put("/var/mobile/Media/iTunes_Control/iTunes/iTunesCDB", "cdb");
        Start();
        Notify("arrive");
        ASSERT_TRUE(handheld::IphoneReady()) << handheld::IphoneLastError().constData();
    }
};

} // namespace simtest
