// --fake-usbmuxd: the handheld is reached through the libimobiledevice binding beside this
// program, which talks to a usbmuxd stand-in started here with ROOT as the device's files.
#include "Commands.h"

#include "handheld/Iphone.h"
#include "platform/Library.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <memory>

#if MG_HAVE_FAKEMUXD
#include "FakeMuxd.h"
#endif

namespace dump {

namespace {
bool gStarted = false;
}

bool StartFakeUsbmuxd(const QString& root) {
#if MG_HAVE_FAKEMUXD
    static QTemporaryDir work;
    static std::unique_ptr<fakemuxd::Server> server;
    if (!work.isValid())
        return false;
    server = std::make_unique<fakemuxd::Server>(work.filePath(QStringLiteral("muxd")).toStdString());
    // libusbmuxd reads the address when the binding first connects.
    setenv("USBMUXD_SOCKET_ADDRESS", server->Address().c_str(), 1);
    server->Plug({.Udid = "ipod-dump", .Folder = (root + QStringLiteral("/var/mobile/Media")).toStdString()});
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    platform::SetCommonProgramFilesFolderForTesting(QFileInfo(exe).absolutePath() + QStringLiteral("/mobiledevice"));
    gStarted = true;
    return true;
#else
    (void)root;
    std::fprintf(stderr, "ipod-dump: built without the fake usbmuxd\n");
    return false;
#endif
}

bool FakeUsbmuxdStarted() {
    return gStarted;
}

bool WaitForRealPhone() {
    // The binding reports the arrival from its own thread; the link posts it as an event.
    for (QDeadlineTimer deadline(30000); !handheld::IphoneReady() && !deadline.hasExpired(); QThread::msleep(5))
        QCoreApplication::processEvents();
    if (handheld::IphoneReady())
        return true;
    const QByteArray why = handheld::IphoneLastError();
    std::fprintf(stderr, "ipod-dump: %s\n", why.isEmpty() ? "no device answered within 30 seconds" : why.constData());
    return false;
}

} // namespace dump
