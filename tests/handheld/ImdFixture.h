#pragma once
// Test support: the libimobiledevice binding, as the program loads it, against a fake usbmuxd.
#if MG_HAVE_FAKEMUXD
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

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
    void Put(const fakemuxd::DeviceSetup& s, const QString& path, const QByteArray& bytes) {
        const QString full = QString::fromStdString(s.Folder) + path;
        QDir().mkpath(full.left(full.lastIndexOf('/')));
        QFile f(full);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray Get(const fakemuxd::DeviceSetup& s, const QString& path) {
        QFile f(QString::fromStdString(s.Folder) + path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
};

} // namespace imdtest
#endif
