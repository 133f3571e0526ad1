// The song preview of the track list: the player, its four buttons, the playing mark and the
// run down the list from one track to the next.
#include "app/ZozoDodiMain.h"

#include "app/TrackListModel.h"
#include "device/TrackDb.h"
#include "handheld/Iphone.h"
#include "platform/OpenBeneath.h"
#include "transfer/TrackCopy.h"
#include "widgets/PicBtn.h"

#include <QFile>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <unistd.h>

namespace {

// A handheld track is copied whole before it plays, which blocks the window; these keep the
// wait short. Larger than the first asks before a play, larger than the second is skipped.
constexpr uint32_t kWarningSize = 9 * 1048576;
constexpr uint32_t kSkipSize = 8 * 1048576;

} // namespace

void TZozoDodiFrm::CreatePlayer() {
    FPlayingNode = QPersistentModelIndex();
    FPreviewTemp.clear();
    try {
        FPlayer = std::make_unique<preview::TBsPodPlayer>(FWindowHandle, true);
    } catch (const std::exception&) {
        FPlayer.reset();
    }
    // Without either plug-in a part of the device's music would not play: no preview at all.
    if (!FPlayer || FPlayer->Status() != preview::TBsPodPlayer::kReady) {
        PlayBtn->hide();
        PrvSongBtn->hide();
        NxtSongBtn->hide();
        FPlayer.reset();
        return;
    }
    connect(PlayBtn, &TPicButton::OnClick, this, [this] { PlayBtnClick(); });
    connect(PauseBtn, &TPicButton::OnClick, this, [this] { PauseBtnClick(); });
    connect(NxtSongBtn, &TPicButton::OnClick, this, [this] { NxtSongBtnClick(); });
    connect(PrvSongBtn, &TPicButton::OnClick, this, [this] { PrvSongBtnClick(); });
    connect(MusicList, &QAbstractItemView::doubleClicked, this, [this] { MusicListDblClick(); });
    MusicList->viewport()->installEventFilter(this); // double clicks below the last row
    connect(MusicModel, &QAbstractItemModel::modelReset, this, [this] { RelinkPlayingNode(); });
}

bool TZozoDodiFrm::PreviewAvailable() const {
    return !PrvSongBtn->isHidden();
}

QByteArray TZozoDodiFrm::GetPreviewFile(int32_t index) {
    if (!TrackDb || index < 0 || index >= TrackDb->Tracks.Count())
        return {};
    const QString location = TrackDb->Tracks.GetItem(index).Location;
    if (!app::IsSafeDeviceLocation(location))
        return {};
    if (FDeviceKind == dkIpod) {
        // Opened as the copy opens it: beneath the device's root, through no link, and only a
        // regular file. The player gets that open file by its name under /proc, so what plays
        // is the file that was checked and no path on the device is looked up again.
        FPreviewFd = platform::OpenDeviceFile(QString::fromUtf8(TrackDb->Root) + app::SlashedLocation(location));
        return FPreviewFd < 0 ? QByteArray() : "/proc/self/fd/" + QByteArray::number(FPreviewFd);
    }
    if (FDeviceKind != dkHandheld)
        return {};
    if (FPreviewTemp.isEmpty())
        FPreviewTemp = GetPreviewTempName();
    const handheld::TUseDevice onDevice(FHandheldLink);
    if (!handheld::DeviceCopyFile(app::SlashedLocation(location).toUtf8(), FPreviewTemp))
        return {};
    return FPreviewTemp;
}

void TZozoDodiFrm::PlayTrackNode(const QModelIndex& node) {
    if (!FPlayer || !TrackDb)
        return;
    FPlayer->Stop(); // frees the temporary file before it is copied over
    QString error;
    if (node.isValid() && node.row() < MusicModel->Count()) {
        const int32_t i = MusicModel->TrackIndexAt(node.row());
        QByteArray file;
        try {
            file = GetPreviewFile(i);
        } catch (const std::exception& e) {
            error = QString::fromUtf8(e.what());
        }
        const bool playing = error.isEmpty() && FPlayer->Play(QFile::decodeName(file));
        if (FPreviewFd >= 0)
            ::close(std::exchange(FPreviewFd, -1)); // the player has opened the file on its own
        if (playing) {
            if (!PlayBtn->isHidden()) {
                PlayBtn->hide();
                PauseBtn->show();
            }
            TrackDb->PlayingIndex = i;
            if (FPlayingNode.isValid())
                MusicModel->RowChanged(FPlayingNode.row());
            FPlayingNode = MusicModel->index(node.row(), 0);
            MusicModel->RowChanged(node.row());
            return;
        }
    }
    TrackDb->PlayingIndex = -1;
    if (FPlayingNode.isValid()) {
        const int row = FPlayingNode.row();
        FPlayingNode = QPersistentModelIndex();
        MusicModel->RowChanged(row);
    }
    // A forgotten copy of a device track has no use left; it does not stay in the temp folder.
    if (!FPreviewTemp.isEmpty())
        QFile::remove(QFile::decodeName(FPreviewTemp));
    FPreviewTemp.clear();
    if (!PauseBtn->isHidden()) {
        PlayBtn->show();
        PauseBtn->hide();
    }
    if (!error.isEmpty())
        ShowMessageBox(this, MsgKind::Error, error, MsgButtons::Ok);
}

void TZozoDodiFrm::PlayOrResume(bool restart) {
    if (!FPlayer || !TrackDb)
        return;
    const int state = FPlayer->GetState();
    if (!restart && state != preview::stStopped) {
        if (state == preview::stPaused) {
            FPlayer->Resume();
            PlayBtn->hide();
            PauseBtn->show();
        }
        return;
    }
    QModelIndex node = MusicList->currentIndex();
    if (!node.isValid())
        node = MusicModel->index(0, 0);
    if (FDeviceKind == dkHandheld && node.isValid() &&
        TrackDb->Tracks.GetItem(MusicModel->TrackIndexAt(node.row())).Size > kWarningSize &&
        ShowMessageBox(this, MsgKind::Warning,
                       QStringLiteral("Warning! The size of selected song is over 9MB.\rFor the best performance, "
                                      "we suggest you to only play the songs less than 9MB.\rClick Yes to cancel "
                                      "the play this time.\rClick No to play it anyway."),
                       MsgButtons::YesNo) == MsgResult::Yes)
        return;
    PlayTrackNode(node);
}

void TZozoDodiFrm::PlayNeighbourTrack(bool forward) {
    if (!TrackDb || TrackDb->PlayingIndex < 0 || !FPlayingNode.isValid())
        return;
    const int step = forward ? 1 : -1;
    int row = FPlayingNode.row() + step;
    if (FDeviceKind == dkHandheld)
        while (row >= 0 && row < MusicModel->Count() &&
               TrackDb->Tracks.GetItem(MusicModel->TrackIndexAt(row)).Size > kSkipSize)
            row += step;
    PlayTrackNode(MusicModel->index(row, 0)); // invalid past either end: the preview stops
}

void TZozoDodiFrm::WMPlayEnd() {
    if (!PreviewAvailable() || !TrackDb || TrackDb->PlayingIndex < 0)
        return;
    // A track that lost its row in a refill plays to its end and leaves the preview idle.
    if (!FPlayingNode.isValid())
        PlayTrackNode({});
    else if (MusicModel->Count() > 0)
        PlayNeighbourTrack(true);
}

bool TZozoDodiFrm::StopPreview(bool force) {
    if (!TrackDb || TrackDb->PlayingIndex < 0)
        return true;
    if (!force && FPlayer && FPlayer->GetState() == preview::stPlaying &&
        ShowMessageBox(this, MsgKind::Confirmation,
                       QStringLiteral("This action will stop the music that is playing.\rDo you want to stop the "
                                      "music and continue?"),
                       MsgButtons::YesNo) == MsgResult::No)
        return false;
    if (FPlayer)
        FPlayer->Stop();
    TrackDb->PlayingIndex = -1;
    if (FPlayingNode.isValid()) {
        const int row = FPlayingNode.row();
        FPlayingNode = QPersistentModelIndex();
        MusicModel->RowChanged(row);
    }
    if (PreviewAvailable())
        PlayBtn->show();
    PauseBtn->hide();
    return true;
}

// After a refill (a search and its restore, a reload) the row of the old list is gone. The
// track plays on and its row is found again in the new list by its track index; a list
// without it leaves the track playing without a row, so Next and Previous do nothing.
void TZozoDodiFrm::RelinkPlayingNode() {
    if (!TrackDb || TrackDb->PlayingIndex < 0 || FPlayingNode.isValid())
        return;
    const std::vector<int32_t>& rows = MusicModel->TrackRows();
    for (size_t r = 0; r < rows.size(); ++r)
        if (rows[r] == TrackDb->PlayingIndex) {
            FPlayingNode = MusicModel->index(int(r), 0);
            return;
        }
}

void TZozoDodiFrm::PlayBtnClick() {
    if (MusicModel->Count() > 0 && PicPnl->isHidden())
        PlayOrResume(false);
}

void TZozoDodiFrm::PauseBtnClick() {
    if (MusicModel->Count() == 0)
        return;
    if (FPlayer && FPlayer->GetState() == preview::stPlaying)
        FPlayer->Pause();
    PlayBtn->show();
    PauseBtn->hide();
}

void TZozoDodiFrm::NxtSongBtnClick() {
    if (MusicModel->Count() >= 2 && PicPnl->isHidden())
        PlayNeighbourTrack(true);
}

void TZozoDodiFrm::PrvSongBtnClick() {
    if (MusicModel->Count() >= 2 && PicPnl->isHidden())
        PlayNeighbourTrack(false);
}

void TZozoDodiFrm::MusicListDblClick() {
    if (MusicModel->Count() > 0 && PreviewAvailable() && MusicList->currentIndex().isValid())
        PlayOrResume(true);
}

bool TZozoDodiFrm::PlayLstListChanging() {
    return !PreviewAvailable() || StopPreview(false);
}

void TZozoDodiFrm::RefusePlayLstListChange(QTreeWidgetItem* previous) {
    const int index = AbsoluteIndex(previous);
    auto restore = [this, index] {
        int i = 0;
        for (QTreeWidgetItemIterator it(PlayLstList); *it; ++it, ++i)
            if (i == index) {
                const QSignalBlocker block(PlayLstList);
                PlayLstList->setCurrentItem(*it);
                return;
            }
    };
    restore();
    // A mouse press selects the clicked node after making it current: undo that once it is done.
    QTimer::singleShot(0, this, restore);
}
