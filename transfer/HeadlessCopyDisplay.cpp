#include "transfer/HeadlessCopyDisplay.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace app {

void THeadlessCopyDisplay::SetStageTitle(const QString& text) {
    StageTitle = text;
    Titles << text;
}

void THeadlessCopyDisplay::SetItemText(const QString& text) {
    ItemText = text;
    Items << text;
    if (OnItem)
        OnItem(text);
}

void THeadlessCopyDisplay::SetProgress(int position, int maximum) {
    Position = position;
    Maximum = maximum;
    Maximums << maximum;
    Steps = 0;
}

void THeadlessCopyDisplay::StepProgress() {
    ++Steps;
    Position = std::min(Position + 1, Maximum);
}

void THeadlessCopyDisplay::FillProgress() {
    ++Fills;
    Position = Maximum;
}

void THeadlessCopyDisplay::CopyThreadEnded(TCopyThread* thread) {
    if (OnEnded)
        OnEnded();
    if (Thread == thread)
        Thread = nullptr;
    Ended = true;
}

void THeadlessCopyDisplay::WaitForEnd() {
    QPointer<TCopyThread> running = Thread;
    while (!Ended || running) {
        // Every blocking call, the thread's end and its deletion arrive as posted events.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
        // The thread deletes itself through a deferred deletion, which only an event loop or
        // an explicit send delivers.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

} // namespace app
