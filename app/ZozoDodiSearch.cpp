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
    FViewStatus = QStringLiteral("Found ") + QString::number(count) + QStringLiteral(" songs, ") +
                  QString::fromLatin1(device::FormatTimeText(length)) + QStringLiteral(", ") +
                  QString::fromLatin1(device::FormatSizeText(int64_t(size)));
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

namespace {

// Changes one track's mark and the totals together; a track already in that state is left
// alone, so a track shown on two rows is never counted twice.
void SetTrackMark(device::TTrackItem& t, bool checked, int32_t& count, uint32_t& length, uint64_t& size) {
    if (checked == bool(t.Selected))
        return;
    t.Selected = checked ? 1 : 0;
    if (checked) {
        ++count;
        length += t.Length;
        size += t.Size;
    } else {
        --count;
        length -= t.Length;
        size -= t.Size;
    }
}

} // namespace

void TZozoDodiFrm::CheckAllTracks() {
    if (MusicModel->Count() == 0 || !TrackDb)
        return;
    for (int32_t ti : MusicModel->TrackRows())
        SetTrackMark(TrackDb->Tracks.GetItem(ti), true, FCheckedCount, FCheckedLength, FCheckedSize);
    MusicModel->ChecksChanged();
}

void TZozoDodiFrm::UncheckAllTracks() {
    if (MusicModel->Count() == 0 || !TrackDb)
        return;
    for (int32_t ti : MusicModel->TrackRows())
        SetTrackMark(TrackDb->Tracks.GetItem(ti), false, FCheckedCount, FCheckedLength, FCheckedSize);
    MusicModel->ChecksChanged();
}

void TZozoDodiFrm::CheckSelectedTracks() {
    if (MusicModel->Count() == 0 || !TrackDb)
        return;
    for (const QModelIndex& idx : MusicList->selectionModel()->selectedRows())
        SetTrackMark(TrackDb->Tracks.GetItem(MusicModel->TrackIndexAt(idx.row())), true, FCheckedCount,
                     FCheckedLength, FCheckedSize);
    MusicModel->ChecksChanged();
}

void TZozoDodiFrm::UncheckSelectedTracks() {
    if (MusicModel->Count() == 0 || !TrackDb)
        return;
    for (const QModelIndex& idx : MusicList->selectionModel()->selectedRows())
        SetTrackMark(TrackDb->Tracks.GetItem(MusicModel->TrackIndexAt(idx.row())), false, FCheckedCount,
                     FCheckedLength, FCheckedSize);
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
        SetTrackMark(t, !t.Selected, FCheckedCount, FCheckedLength, FCheckedSize);
    }
    MusicModel->ChecksChanged();
}
