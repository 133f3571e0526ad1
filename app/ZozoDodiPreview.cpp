// The song preview of the track list.
#include "app/ZozoDodiMain.h"

#include "device/TrackDb.h"
#include "widgets/PicBtn.h"

// ---- preview: unavailable until the player exists ----

void TZozoDodiFrm::CreatePlayer() {
    FPlayingNode = -1;
    FPreviewTemp.clear();
    FPlayer = nullptr;
    PlayBtn->hide();
    PrvSongBtn->hide();
    NxtSongBtn->hide();
}

bool TZozoDodiFrm::PreviewAvailable() const { return !PrvSongBtn->isHidden(); }

bool TZozoDodiFrm::StopPreview(bool) {
    // Nothing is ever marked playing without a player.
    if (!TrackDb || TrackDb->PlayingIndex < 0)
        return true;
    TrackDb->PlayingIndex = -1;
    FPlayingNode = -1;
    return true;
}
