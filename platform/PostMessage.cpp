#include "platform/PostMessage.h"

#include <QCoreApplication>
#include <QMutex>
#include <QPointer>
#include <map>
#include <mutex>

namespace platform {

namespace {
std::mutex gWindowsLock;
std::map<WindowHandle, QPointer<QObject>> gWindows;
WindowHandle gNextHandle = 1;
} // namespace

WindowHandle RegisterWindow(QObject* receiver) {
    if (!receiver)
        return 0;
    WindowHandle handle;
    {
        QMutexLocker lock(&gWindowsLock);
        handle = gNextHandle++;
        gWindows[handle] = receiver;
    }
    // Runs on the destroying thread before the object goes: a post from another thread either
    // completes before it or finds the handle gone.
    QObject::connect(receiver, &QObject::destroyed, [handle] { UnregisterWindow(handle); });
    return handle;
}

void UnregisterWindow(WindowHandle window) {
    QMutexLocker lock(&gWindowsLock);
    gWindows.erase(window);
}

bool PostMessage(WindowHandle window, quint32 message, quintptr wParam, quintptr lParam) {
    // The lock keeps the receiver from being unregistered between the look-up and the post;
    // postEvent itself is safe from any thread.
    QMutexLocker lock(&gWindowsLock);
    const auto it = gWindows.find(window);
    if (it == gWindows.end() || it->second.isNull())
        return false;
    QCoreApplication::postEvent(it->second.data(), new PostedMessage(message, wParam, lParam));
    return true;
}

void RemovePostedMessages(WindowHandle window, quint32 message) {
    QMutexLocker lock(&gWindowsLock);
    const auto it = gWindows.find(window);
    if (it == gWindows.end() || it->second.isNull())
        return;
    QCoreApplication::removePostedEvents(it->second.data(), int(message));
}

} // namespace platform
