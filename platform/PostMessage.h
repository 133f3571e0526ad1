#pragma once
// Messages posted to a window from any thread. A receiver (the main window, or a test's own
// object) registers itself and gets a handle; PostMessage delivers a QEvent whose type is the
// message number to that object through its thread's event loop. Posting to a handle whose
// receiver has been unregistered or destroyed does nothing and returns false.
#include <QEvent>
#include <QObject>
#include <QtGlobal>

namespace platform {

using WindowHandle = quintptr; // 0 is no window

WindowHandle RegisterWindow(QObject* receiver);
void UnregisterWindow(WindowHandle window);

// Thread-safe. The event's type() is QEvent::Type(message); wParam and lParam travel with it.
bool PostMessage(WindowHandle window, quint32 message, quintptr wParam = 0, quintptr lParam = 0);
// Thread-safe. Drops the messages of that number posted to the window and not yet delivered.
void RemovePostedMessages(WindowHandle window, quint32 message);

class PostedMessage : public QEvent {
public:
    PostedMessage(quint32 message, quintptr wParam, quintptr lParam)
        : QEvent(QEvent::Type(message)), WParam(wParam), LParam(lParam) {}
    quint32 Message() const { return quint32(type()); }
    quintptr WParam;
    quintptr LParam;
};

} // namespace platform
