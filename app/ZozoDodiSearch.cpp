// The search box, the check menu and the bulk check operations of the track list.
#include "app/ZozoDodiMain.h"

#include "widgets/PicBtn.h"
#include "app/TrackListModel.h"
#include "device/Format.h"
#include "device/TrackDb.h"
#include "platform/Text.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTreeView>
#include <QTreeWidget>

namespace {

using platform::IsBlank;

} // namespace

bool TZozoDodiFrm::SrEditKeyPress(int key) {
    if (MusicModel->Count() == 0)
        return false;
    const QString text = SrEdit->text(); // as it was before the key
    if (key == VK_RETURN && !IsBlank(text)) {
        if (!StopPreview(false))
            return true;
        SearchTracks(text);
        if (ClearImg->isHidden())
            ClearImg->show();
        return true;
    }
    if (key == VK_BACK) {
        if (text.size() == 1) {
            if (QTreeWidgetItem* node = PlayLstList->currentItem())
                RefreshTrackList(AbsoluteIndex(node));
            ClearImg->hide();
        }
        return false;
    }
    if (!IsBlank(text) && ClearImg->isHidden())
        ClearImg->show();
    return false;
}

void TZozoDodiFrm::SearchTracks(const QString& text) {
    ClearTrackList();
    const QString needle = text.toLower();
    std::vector<int32_t> rows;
    uint32_t length = 0;
    uint64_t size = 0;
    if (TrackDb) {
        const int n = TrackDb->Tracks.Count();
        for (int i = 0; i < n; ++i) {
            const device::TTrackItem& t = TrackDb->Tracks.GetItem(i);
            if (t.Title.toLower().contains(needle) || t.Artist.toLower().contains(needle) ||
                t.Album.toLower().contains(needle)) {
                rows.push_back(i);
                length += t.Length;
                size += t.Size;
            }
        }
    }
    const int count = int(rows.size());
    MusicModel->SetRows(std::move(rows));
    FViewStatus = StatusText("Found ", count, length, size);
    StatusLb->setText(FViewStatus);
}

void TZozoDodiFrm::ClearImgClick() {
    SrEdit->clear();
    if (QTreeWidgetItem* node = PlayLstList->currentItem())
        RefreshTrackList(AbsoluteIndex(node));
    ClearImg->hide();
}

void TZozoDodiFrm::PrepareCheckMenu(bool* showMenu) {
    const bool trackView = !SongPnl->isHidden();
    if (trackView)
        *showMenu = MusicModel->Count() > 0;
    else
        *showMenu = PhotoGridHasTiles();
    CheckSMnu->setVisible(trackView);
    UncheckSMnu->setVisible(trackView);
    N2->setVisible(trackView);
}

void TZozoDodiFrm::CheckBtnClick() {
    bool show = false;
    PrepareCheckMenu(&show);
    if (!show)
        return;
    // Under the button's left edge.
    FLastMenuPoint = CheckBtn->mapToGlobal(QPoint(0, CheckBtn->height()));
    CheckMenu->popup(FLastMenuPoint);
}

void TZozoDodiFrm::CheckMnuClick() {
    if (!SongPnl->isHidden()) {
        CheckAllTracks();
        UpdateSelectionStatus();
    } else if (!PicPnl->isHidden()) {
        PhotoGridSetChecks(cmCheckAll);
    }
}

void TZozoDodiFrm::UncheckMnuClick() {
    if (!SongPnl->isHidden()) {
        UncheckAllTracks();
        UpdateSelectionStatus();
    } else if (!PicPnl->isHidden()) {
        PhotoGridSetChecks(cmClearAll);
    }
}

void TZozoDodiFrm::CheckSMnuClick() {
    CheckSelectedTracks();
    UpdateSelectionStatus();
}

void TZozoDodiFrm::UncheckSMnuClick() {
    UncheckSelectedTracks();
    UpdateSelectionStatus();
}

void TZozoDodiFrm::InvertMnuClick() {
    if (!SongPnl->isHidden()) {
        InvertTrackChecks();
        UpdateSelectionStatus();
    } else if (!PicPnl->isHidden()) {
        PhotoGridSetChecks(cmInvert);
    }
}

void TZozoDodiFrm::CheckAllTracks() {
    if (MusicModel->Count() == 0 || !TrackDb)
        return;
    for (int32_t ti : MusicModel->TrackRows())
        MarkTrack(TrackDb->Tracks.GetItem(ti), true);
    MusicModel->ChecksChanged();
}

void TZozoDodiFrm::UncheckAllTracks() {
    if (MusicModel->Count() == 0 || !TrackDb)
        return;
    for (int32_t ti : MusicModel->TrackRows())
        MarkTrack(TrackDb->Tracks.GetItem(ti), false);
    MusicModel->ChecksChanged();
}

void TZozoDodiFrm::CheckSelectedTracks() {
    if (MusicModel->Count() == 0 || !TrackDb)
        return;
    for (const QModelIndex& idx : MusicList->selectionModel()->selectedRows())
        MarkTrack(TrackDb->Tracks.GetItem(MusicModel->TrackIndexAt(idx.row())), true);
    MusicModel->ChecksChanged();
}

void TZozoDodiFrm::UncheckSelectedTracks() {
    if (MusicModel->Count() == 0 || !TrackDb)
        return;
    for (const QModelIndex& idx : MusicList->selectionModel()->selectedRows())
        MarkTrack(TrackDb->Tracks.GetItem(MusicModel->TrackIndexAt(idx.row())), false);
    MusicModel->ChecksChanged();
}

void TZozoDodiFrm::InvertTrackChecks() {
    if (MusicModel->Count() == 0 || !TrackDb)
        return;
    // Each track once, however many rows show it.
    std::vector<char> seen(size_t(TrackDb->Tracks.Count()), 0);
    for (int32_t ti : MusicModel->TrackRows()) {
        if (seen[size_t(ti)])
            continue;
        seen[size_t(ti)] = 1;
        device::TTrackItem& t = TrackDb->Tracks.GetItem(ti);
        MarkTrack(t, !t.Selected);
    }
    MusicModel->ChecksChanged();
}
