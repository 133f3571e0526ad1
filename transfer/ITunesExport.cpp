// The iTunes export stage of the copy thread: the stage itself (ITunesStage) reaches the panel,
// the log and the thread's fields through this host.
#include "transfer/CopyThread.h"
#include "transfer/ITunesStage.h"

#include "platform/itunes/ITunes.h"

namespace app {

void TCopyThread::AddToITunes() {
    class Host final : public TITunesStageHost {
    public:
        explicit Host(TCopyThread& thread) : T(thread) {}
        bool Terminated() const override { return T.Terminated(); }
        void Log(const QString& entry) override { DetailLog.Append(entry); }
        void ShowITunesStart() override { T.Synchronize(&TCopyThread::ShowITunesStart); }
        void ShowITunesCreating() override { T.Synchronize(&TCopyThread::ShowITunesCreating); }
        void StepProgress() override { T.Synchronize(&TCopyThread::StepProgress); }
        void FillProgress() override { T.Synchronize(&TCopyThread::FillProgress); }
        void SetITunesFailed(bool failed) override { T.FITunesFailed = failed; }
        QString ArtBitmapPath(int index) const override { return T.ArtBitmapPath(index); }

    private:
        TCopyThread& T;
    } host(*this);

    TITunesStageInput in;
    in.TrackDb = Src.TrackDb;
    in.ArtworkDb = Src.ArtworkDb;
    in.MusicCopied = FMusicCopied;
    in.MusicCount = FMusicCount;
    in.CopyArtwork = FCopyArtwork;
    RunITunesStage(host, Src.ITunes ? *Src.ITunes : platform::itunes::SystemComponent(), in);
}

void TCopyThread::ShowITunesCreating() {
    Src.Display->SetItemText(QStringLiteral("Creating playlists and songs in iTunes, please wait ..."));
}

} // namespace app
