#pragma once
// A transfer panel without a window: it keeps what the copy thread shows, for ipod-dump and
// for tests, which drive the same thread class as the window does.
#include "transfer/CopyThread.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

namespace app {

class THeadlessCopyDisplay : public QObject, public TCopyDisplay {
    Q_OBJECT
public:
    QObject* Context() override { return this; }
    void SetStageTitle(const QString& text) override;
    void SetItemText(const QString& text) override;
    void SetProgressVisible(bool visible) override { ProgressVisible = visible; }
    void SetProgress(int position, int maximum) override;
    void StepProgress() override;
    void FillProgress() override;
    void ShowDoneButton() override { DoneShown = true; }
    void StopBusyAnimation() override { BusyStopped = true; }
    void CopyThreadEnded(TCopyThread* thread) override;
    int CheckedPhotoCount() const override { return CheckedPhotos; }

    // Runs the event loop until the thread has made its final report and freed itself.
    void WaitForEnd();

    QPointer<TCopyThread> Thread; // the running transfer, cleared by its final report
    int CheckedPhotos = 0;
    QString StageTitle;
    QString ItemText;
    QStringList Titles; // every stage title in order
    QStringList Items;  // every item line in order
    bool ProgressVisible = true;
    int Position = 0;
    int Maximum = 0;
    QList<int> Maximums; // every range set, in order
    int Steps = 0;       // steps since the last SetProgress
    int Fills = 0;
    bool DoneShown = false;
    bool BusyStopped = false;
    bool Ended = false;
    // Called after each item line (on the display's thread), e.g. to cancel part-way.
    std::function<void(const QString&)> OnItem;
    // Called in the final report, while the thread's fields are still there to read.
    std::function<void()> OnEnded;
};

} // namespace app
