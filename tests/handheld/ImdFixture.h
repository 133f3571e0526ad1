#pragma once
// Test support: the libimobiledevice binding, as the program loads it, against a fake usbmuxd.
#if MG_HAVE_FAKEMUXD
#include <QDeadlineTimer>
#include <QThread>

#include <cstdlib>
#include <memory>

#include "FakeMuxd.h"
#include "SimLink.h"

namespace imdtest {

inline QString ImdFile(const char* name) {
    return QStringLiteral(MG_BIN_DIR "/mobiledevice/Apple/") +
           (QByteArray(name) == "CoreFoundation.dll" ? "Apple Application Support/"
                                                     : "Mobile Device Support/bin/") +
           name;
}

class Fixture : public ::testing::Test {
protected:
    QTemporaryDir Work;
    std::unique_ptr<fakemuxd::Server> Muxd;

    void SetUp() override {
        ASSERT_TRUE(Work.isValid());
        Muxd = std::make_unique<fakemuxd::Server>(Work.filePath("muxd").toStdString());
        setenv("USBMUXD_SOCKET_ADDRESS", Muxd->Address().c_str(), 1);
    }
    // A device whose files live in a folder of its own.
    fakemuxd::DeviceSetup Setup(const char* udid) {
        fakemuxd::DeviceSetup s;
        s.Udid = udid;
        s.Folder = Work.filePath(udid).toStdString();
        QDir().mkpath(QString::fromStdString(s.Folder));
        return s;
    }
    static QString On(const fakemuxd::DeviceSetup& s, const QString& path) {
        return QString::fromStdString(s.Folder) + path;
    }
};

} // namespace imdtest
#endif
