#pragma once
// The worker of one transfer. It runs the stages in order on its own thread, reports to the
// transfer panel only through blocking calls into the panel's thread, writes the transfer log,
// and deletes itself when it ends. The panel's owner keeps a reference until ShowDone.
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThread>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "handheld/Iphone.h"

class QTemporaryDir;

namespace device {
class TiTunesDB;
class TPhotoDb;
class TArtworkDb;
class TTrackItem;
} // namespace device

namespace platform::itunes {
class IComponent;
}

namespace app {

class TCopyThread;

// The transfer log: one text shared by the copy thread and the window, each append and the
// clear under one lock, so a cancelled thread that is still finishing never races the window.
class TDetailLog {
public:
    // CRLF followed by the entry.
    void Append(const QString& entry);
    // Text as it stands (the per-file lines carry their own line breaks).
    void AppendRaw(const QString& text);
    void Replace(const QString& text);
    void Clear();
    QString Text() const;

private:
    mutable QMutex Lock;
    QString Log;
};

extern TDetailLog DetailLog;

// What the copy thread shows: the window's transfer panel, or a headless receiver. Every
// virtual here runs on the thread of Context(), called through RunBlocking.
class TCopyDisplay {
public:
    virtual ~TCopyDisplay();

    // An object living in the display's thread; blocking calls run there.
    virtual QObject* Context() = 0;

    virtual void SetStageTitle(const QString& text) = 0; // the stage title line
    virtual void SetItemText(const QString& text) = 0;   // the item line
    virtual void SetProgressVisible(bool visible) = 0;
    virtual void SetProgress(int position, int maximum) = 0;
    virtual void StepProgress() = 0;
    virtual void FillProgress() = 0;
    // "Done" with its picture, and the detail link shown.
    virtual void ShowDoneButton() = 0;
    virtual void StopBusyAnimation() = 0;
    // The final report: the display drops its reference to the thread here.
    virtual void CopyThreadEnded(TCopyThread* thread) = 0;
    // The photo count that the thumbnail exporter's progress line shows.
    virtual int CheckedPhotoCount() const = 0;

    // Progress handlers of the exporters, called on the copy thread: they count and update
    // the panel inside a blocking call, so counts and controls change on one thread only.
    void OnCopyProgress();
    void OnArtCopyProgress();
    uint32_t PhotosDone() const { return FPhotosDoneCount; }
    uint32_t ArtDone() const { return FArtDoneCount; }
    void ResetProgressCounts() { FPhotosDoneCount = FArtDoneCount = 0; }

    // Runs fn on the display's thread and waits for it; directly when already there. Once the
    // display is detached nothing runs and nothing waits.
    void RunBlocking(const std::function<void()>& fn);
    // For a display that goes away while a thread may still call it (the window closing after
    // a cancel): later and waiting calls return without running.
    void Detach();

private:
    struct Call;
    std::mutex CallLock;
    std::condition_variable CallDone;
    bool Detached = false;
    uint32_t FPhotosDoneCount = 0;
    uint32_t FArtDoneCount = 0;
};

// The nine start values of a transfer, in their order.
struct TTransferOptions {
    int32_t MusicCount = 0;
    int32_t PhotoCount = 0;
    int32_t ArtworkCount = 0;
    bool Handheld = false;
    bool ToITunes = false;
    bool ListOnly = false;
    bool CopyArtwork = false;
    bool MusicDestHasFiles = false;
    bool PhotoDestHasFiles = false;
};

// What a transfer reads; the databases stay alive and unchanged while the thread runs.
struct TTransferSources {
    device::TiTunesDB* TrackDb = nullptr;
    device::TPhotoDb* PhotoDb = nullptr;
    device::TArtworkDb* ArtworkDb = nullptr;
    TCopyDisplay* Display = nullptr;
    // iTunes' automation binding; the platform's own when null.
    platform::itunes::IComponent* ITunes = nullptr;
    // The handheld that the databases came from: the transfer reads it alone, whatever arrives
    // meanwhile. None reads the link's latest arrival.
    handheld::TDeviceLink Device;
};

class TCopyThread final : public QThread {
    Q_OBJECT
public:
    // Starts at once with the start values and what it reads.
    TCopyThread(const TTransferOptions& options, const TTransferSources& sources);
    ~TCopyThread() override;

    // The termination request; the stages test Terminated() where they may stop.
    void Terminate() { requestInterruption(); }
    bool Terminated() const { return isInterruptionRequested(); }

    // Fields, read by the display routines while the thread waits in a blocking call.
    bool FAddToITunes;
    bool FPhotoDestHasFiles;
    bool FMusicDestHasFiles;
    bool FITunesFailed = false;
    bool FHandheldMode;
    bool FListOnly;
    bool FCopyArtwork;
    int32_t FCurrentTrack = 0;
    int32_t FMusicCount;
    int32_t FArtworkCount;
    int32_t FTracksDone = 0;
    int32_t FMusicCopied = 0;
    int32_t FPhotosFailed = 0;
    int32_t FPhotoIndex = 0;
    int32_t FPhotoCount;
    // The music list was saved (list-only mode); why not, when it was not.
    bool FListSaved = false;
    QString FFailure;
    // A stage ended early on an error (its stop entry is in the log).
    bool FStopped = false;

    // Name of the music-list file in the music folder.
    static constexpr const char* MusicListName = "VRQMusicList.xml";

    // The summary lines ShowDone appends (exposed for tests).
    QString SummaryText() const;
    // The album-art stage's temporary bitmap of an artwork index.
    QString ArtBitmapPath(int index) const;

    // The folder, private to this transfer, that holds the artwork stage's bitmaps (ends in
    // '/'; empty before that stage). It goes with its files when the transfer ends.
    QString ArtworkFolder() const;

protected:
    void run() override;

private:
    void Execute();
    void Finish();

    // stages
    void CopyMusicFromIPod();
    void CopyMusicFromHandheld();
    void WriteMusicList();
    void ExportArtworks();
    void AddToITunes();
    void ExportPhotos();
    void CopyFullSizePhotos();

    QString BuildDestPath(int index);
    // Counts the track as copied when `dest` or one of its numbered names, from before this
    // transfer, holds the bytes of the track: `readSource` gives their sample, `size` their count.
    using SampleFn = std::function<std::optional<QByteArray>()>;
    bool TakePresentCopy(device::TTrackItem& track, qint64 size, const SampleFn& readSource, const QString& dest);
    // Counts the track as copied to `dest`, a file this transfer wrote.
    void TrackWritten(device::TTrackItem& track, const QString& dest);
    // The log line of a source that delivered fewer bytes than its size.
    void LogReadFault(const QString& dest, const QString& location);
    // The head of both copy loops: the progress line of track i, its location with '/' and its
    // destination without extension; false when the folder layout failed and the loop ends.
    bool BeginTrack(int i, QString& location, QString& dest);

    // display routines, each run through Synchronize
    void Synchronize(void (TCopyThread::*routine)());
    void ShowStart();
    void ShowArtworkStage();
    void ShowPhotoStage();
    void ShowTrackProgress();
    void ShowPhotoProgress();
    void StepProgress();
    void FillProgress();
    // A track's closing step waits for the next track's progress line, so that each track
    // costs the display one blocking call instead of two; FlushStep shows one still waiting.
    void FlushStep();
    void ShowPendingStep();
    void ShowITunesStart();
    void ShowITunesCreating();
    void ShowDone();

    TTransferSources Src;
    // Files this transfer wrote, so a same-named track is not taken for one copied before.
    QSet<QString> WrittenThisRun;
    std::unique_ptr<QTemporaryDir> ArtFolder;
    bool PhotoStageBegun = false;
    bool FStepPending = false;
};

} // namespace app
