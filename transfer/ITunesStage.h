#pragma once
// The iTunes export of a transfer: hands the copied files to iTunes, gives the added tracks the
// device's rating, play count and album art, and rebuilds the device's playlists there. It runs
// on the copy thread and reaches the panel, the log and the cancel flag only through its host.
#include <QString>
#include <cstdint>

namespace device {
class TiTunesDB;
class TArtworkDb;
} // namespace device

namespace platform::itunes {
class IComponent;
}

namespace app {

class TITunesStageHost {
public:
    virtual ~TITunesStageHost() = default;
    virtual bool Terminated() const = 0;
    virtual void Log(const QString& entry) = 0; // appended after a line break
    virtual void ShowITunesStart() = 0;
    virtual void ShowITunesCreating() = 0;
    virtual void StepProgress() = 0;
    virtual void FillProgress() = 0;
    virtual void SetITunesFailed(bool failed) = 0;
    // The temporary bitmap that the album-art stage wrote for an artwork index.
    virtual QString ArtBitmapPath(int index) const = 0;
};

struct TITunesStageInput {
    const device::TiTunesDB* TrackDb = nullptr;
    const device::TArtworkDb* ArtworkDb = nullptr; // may be null without the album-art option
    int32_t MusicCopied = 0;
    int32_t MusicCount = 0;
    bool CopyArtwork = false;
};

// Runs the whole stage. Errors of iTunes are reported in the log; only a failure to read the
// version for that report (once iTunes was asked to quit), or of the quit request itself,
// leaves as an exception.
void RunITunesStage(TITunesStageHost& host, platform::itunes::IComponent& itunes, const TITunesStageInput& in);

} // namespace app
