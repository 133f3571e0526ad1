#include "transfer/CopyThread.h"

#include "device/ArtworkDb.h"
#include "platform/Errors.h"

#include <QFile>
#include <QMetaObject>
#include <QTemporaryDir>
#include <algorithm>
#include <exception>
#include <new>

namespace app {

TDetailLog DetailLog;

void TDetailLog::Append(const QString& entry) {
    QMutexLocker lock(&Lock);
    Log += QStringLiteral("\r\n") + entry;
}

void TDetailLog::AppendRaw(const QString& text) {
    QMutexLocker lock(&Lock);
    Log += text;
}

void TDetailLog::Replace(const QString& text) {
    QMutexLocker lock(&Lock);
    Log = text;
}

void TDetailLog::Clear() {
    QMutexLocker lock(&Lock);
    Log.clear();
}

QString TDetailLog::Text() const {
    QMutexLocker lock(&Lock);
    return Log;
}

// ---- display ----

namespace {
std::mutex PostLock;
} // namespace

struct TCopyDisplay::Call {
    bool Done = false;
    bool Abandoned = false;
};

TCopyDisplay::~TCopyDisplay() {
    Detach();
}

void TCopyDisplay::RunBlocking(const std::function<void()>& fn) {
    QObject* context = Context();
    std::unique_lock lock(CallLock);
    if (Detached || !context)
        return;
    if (context->thread() == QThread::currentThread()) {
        lock.unlock();
        fn();
        return;
    }
    // A queued call plus our own wait in place of a blocking queued connection, so that a
    // display that detaches (the window closing) releases a waiting thread instead of
    // deadlocking with it. Qt's event queue orders the call after what this thread did before
    // posting it, but under a lock that the thread checker cannot see; the call takes our
    // posting lock first, so the hand-over is ordered under a lock it sees too. That lock is
    // one for all displays because the call cannot reach anything of its own, not even `this`,
    // before it holds it.
    auto call = std::make_shared<Call>();
    std::unique_lock posting(PostLock);
    QMetaObject::invokeMethod(
        context,
        [this, call, fn] {
            { std::lock_guard posted(PostLock); }
            {
                std::lock_guard lock(CallLock);
                if (call->Abandoned)
                    return;
            }
            fn();
            {
                std::lock_guard lock(CallLock);
                call->Done = true;
            }
            // Woken after the lock is free, the copy thread does not sleep again on it.
            CallDone.notify_all();
        },
        Qt::QueuedConnection);
    posting.unlock();
    CallDone.wait(lock, [&] { return call->Done || Detached; });
    if (!call->Done)
        call->Abandoned = true;
}

void TCopyDisplay::Detach() {
    std::lock_guard lock(CallLock);
    Detached = true;
    CallDone.notify_all();
}

void TCopyDisplay::OnCopyProgress() {
    RunBlocking([this] {
        ++FPhotosDoneCount;
        SetItemText(QString::number(FPhotosDoneCount) + QStringLiteral(" of ") + QString::number(CheckedPhotoCount()) +
                    QStringLiteral(" copied"));
        StepProgress();
    });
}

void TCopyDisplay::OnArtCopyProgress() {
    RunBlocking([this] {
        ++FArtDoneCount;
        SetItemText(QString::number(FArtDoneCount));
        StepProgress();
    });
}

// ---- thread ----

TCopyThread::TCopyThread(const TTransferOptions& o, const TTransferSources& sources)
    : FAddToITunes(o.ToITunes), FPhotoDestHasFiles(o.PhotoDestHasFiles), FMusicDestHasFiles(o.MusicDestHasFiles),
      FHandheldMode(o.Handheld), FListOnly(o.ListOnly), FCopyArtwork(o.CopyArtwork), FMusicCount(o.MusicCount),
      FArtworkCount(o.ArtworkCount), FPhotoCount(o.PhotoCount), Src(sources) {
    // The object frees itself once its body has returned (the queued deletion runs in the
    // thread that created it).
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    start();
}

TCopyThread::~TCopyThread() {
    wait();
}

void TCopyThread::run() {
    const handheld::TUseDevice onDevice(Src.Device);
    try {
        Execute();
    } catch (const std::bad_alloc&) {
        FFailure = QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        FFailure = QString::fromUtf8(e.what());
    } catch (...) {
        FFailure = QStringLiteral("Unknown error");
    }
    // A failure that ends the transfer early is said in the log rather than left to look like
    // a finished transfer.
    if (!FFailure.isEmpty()) {
        DetailLog.Append(QStringLiteral("[X]Reason: ") + FFailure);
        // A photo stage that never ran wrote no photo.
        if (!PhotoStageBegun)
            FPhotosFailed = FPhotoCount;
    }
    Finish();
}

void TCopyThread::Execute() {
    Synchronize(&TCopyThread::ShowStart);
    if (FListOnly) {
        DetailLog.Append(QStringLiteral("Passive: Generate list:"));
        WriteMusicList();
        DetailLog.Append(QStringLiteral("Done."));
        return;
    }
    if (FMusicCount > 0) {
        if (FHandheldMode)
            CopyMusicFromHandheld();
        else
            CopyMusicFromIPod();
        FlushStep();
        if (FCopyArtwork && FArtworkCount >= 1) {
            Synchronize(&TCopyThread::FillProgress);
            Synchronize(&TCopyThread::ShowArtworkStage);
            ExportArtworks();
        }
        if (FAddToITunes) {
            Synchronize(&TCopyThread::FillProgress);
            DetailLog.Append(QStringLiteral("Add to iTunes:"));
            AddToITunes();
            DetailLog.Append(QStringLiteral("- done."));
        }
    }
    if (FPhotoCount > 0) {
        Synchronize(&TCopyThread::FillProgress);
        Synchronize(&TCopyThread::ShowPhotoStage);
        ExportPhotos();
    }
}

// What the destructor of the transfer does: it still runs on the copy thread.
void TCopyThread::Finish() {
    // The temporary bitmaps go with their folder.
    ArtFolder.reset();
    FlushStep();
    Synchronize(&TCopyThread::ShowDone);
}

QString TCopyThread::ArtworkFolder() const {
    return ArtFolder ? ArtFolder->path() + u'/' : QString();
}

QString TCopyThread::ArtBitmapPath(int index) const {
    return ArtworkFolder() + QString::number(index) + QStringLiteral(".bmp");
}

void TCopyThread::Synchronize(void (TCopyThread::*routine)()) {
    if (Src.Display)
        Src.Display->RunBlocking([this, routine] { (this->*routine)(); });
}

QString TCopyThread::SummaryText() const {
    auto b = [](bool v) { return v ? QStringLiteral("-1") : QStringLiteral("0"); };
    return QStringLiteral("\r\nMusic: ") + QString::number(FMusicCopied) + u'/' + QString::number(FMusicCount) +
           QStringLiteral("\r\nPhotos: ") + QString::number(FPhotoCount - FPhotosFailed) + u'/' +
           QString::number(FPhotoCount) + QStringLiteral("\r\nTo iTunes: ") + b(FAddToITunes) + QStringLiteral(", ") +
           b(FITunesFailed);
}

// ---- display routines: these run on the display's thread while the copy thread waits ----

void TCopyThread::ShowStart() {
    TCopyDisplay& d = *Src.Display;
    if (FListOnly) {
        d.SetStageTitle(QStringLiteral("Spceial mode: Generate Music List only"));
        d.SetItemText(QStringLiteral("Generating the file, please wait..."));
        d.SetProgressVisible(false);
    } else if (FMusicCount >= 1) {
        d.SetStageTitle(QStringLiteral("Transferring muisc and videos"));
        d.SetItemText(QStringLiteral("Please wait ..."));
    } else {
        ShowPhotoStage();
    }
}

void TCopyThread::ShowArtworkStage() {
    TCopyDisplay& d = *Src.Display;
    d.SetProgress(0, FArtworkCount);
    d.SetStageTitle(QStringLiteral("Transferring artworks of songs"));
    d.SetItemText(QStringLiteral("Please wait ..."));
}

void TCopyThread::ShowPhotoStage() {
    TCopyDisplay& d = *Src.Display;
    d.SetProgress(0, FPhotoCount);
    d.SetStageTitle(QStringLiteral("Transferring photos"));
    d.SetItemText(QStringLiteral("Please wait ..."));
}

void TCopyThread::ShowPhotoProgress() {
    Src.Display->SetItemText(QString::number(FPhotoIndex) + QStringLiteral(" of ") + QString::number(FPhotoCount) +
                             QStringLiteral(" copied"));
    Src.Display->StepProgress();
}

void TCopyThread::StepProgress() {
    Src.Display->StepProgress();
}

void TCopyThread::FlushStep() {
    if (FStepPending)
        Synchronize(&TCopyThread::ShowPendingStep);
}

void TCopyThread::ShowPendingStep() {
    FStepPending = false;
    Src.Display->StepProgress();
}

void TCopyThread::FillProgress() {
    Src.Display->FillProgress();
}

void TCopyThread::ShowDone() {
    TCopyDisplay& d = *Src.Display;
    if (!FListOnly) {
        // A full bar alone would tell a run that wrote nothing from one that wrote everything
        // only in the log: the page says what is missing and where to look.
        const int notCopied = std::max(FMusicCount - FMusicCopied, 0) + std::max(FPhotosFailed, 0);
        if (notCopied == 0) {
            d.SetStageTitle(QStringLiteral("All done"));
            d.SetItemText(QString());
        } else {
            d.SetStageTitle(QStringLiteral("Transfer incomplete"));
            d.SetItemText(notCopied == 1 ? QStringLiteral("1 item was not copied. See the Detail Log.")
                                         : QString::number(notCopied) +
                                               QStringLiteral(" items were not copied. See the Detail Log."));
        }
        DetailLog.AppendRaw(SummaryText());
        d.StopBusyAnimation();
    } else if (FListSaved) {
        d.SetStageTitle(QStringLiteral("File saved as \"") + QLatin1String(MusicListName) + u'"');
        d.SetItemText(QStringLiteral("Please read the help manual on how to use this file"));
    } else {
        // Nothing else tells a cancelled or failed list apart from a saved one.
        d.SetStageTitle(QStringLiteral("No file was written"));
        d.SetItemText(FFailure.isEmpty() ? QStringLiteral("The music list was cancelled.")
                                         : QStringLiteral("The music list could not be saved: ") + FFailure);
    }
    d.FillProgress();
    d.ShowDoneButton();
    d.CopyThreadEnded(this);
}

} // namespace app
