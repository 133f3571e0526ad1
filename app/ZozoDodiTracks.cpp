// Playlist tree, track list, check totals, status line and the album-art panel.
#include "app/ZozoDodiMain.h"

#include "widgets/PicBtn.h"
#include "app/TrackListModel.h"
#include "device/ArtworkDb.h"
#include "device/Format.h"
#include "device/PhotoDb.h"
#include "device/TrackDb.h"

#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QThread>
#include <QTreeView>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <unordered_map>

namespace {

constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kKindRole = Qt::UserRole + 2;

} // namespace

QString TZozoDodiFrm::StatusText(const char* lead, int count, uint32_t length, uint64_t size) {
    return QString::fromLatin1(lead) + QString::number(count) + QStringLiteral(" songs, ") +
           QString::fromLatin1(device::FormatTimeText(length)) + QStringLiteral(", ") +
           QString::fromLatin1(device::FormatSizeText(int64_t(size)));
}

bool TZozoDodiFrm::MarkTrack(device::TTrackItem& t, bool checked) {
    if (checked == bool(t.Selected))
        return false;
    t.Selected = checked ? 1 : 0;
    if (checked) {
        ++FCheckedCount;
        FCheckedLength += t.Length;
        FCheckedSize += t.Size;
    } else {
        --FCheckedCount;
        FCheckedLength -= t.Length;
        FCheckedSize -= t.Size;
    }
    return true;
}

void TZozoDodiFrm::LinkTrackArtwork() {
    if (!ArtworkLoaded || !ArtworkDb || ArtworkDb->Arts.Count() == 0 || !TrackDb)
        return;
    // The first art item of each song id, so each track costs one lookup.
    std::unordered_map<uint64_t, int32_t> firstArt;
    const int arts = ArtworkDb->Arts.Count();
    firstArt.reserve(size_t(arts));
    for (int i = 0; i < arts; ++i)
        firstArt.emplace(ArtworkDb->Arts.GetItem(i)->SongDbId, i);
    const int n = TrackDb->Tracks.Count();
    for (int i = 0; i < n; ++i) {
        device::TTrackItem& t = TrackDb->Tracks.GetItem(i);
        if (!t.HasArtwork)
            continue;
        const auto it = firstArt.find(t.DbId);
        if (it != firstArt.end())
            t.ArtIndex = it->second;
    }
}

void TZozoDodiFrm::ClearTrackList() {
    MusicModel->Clear();
    FPlayingNode = QPersistentModelIndex(); // the row belonged to the list just emptied
}

void TZozoDodiFrm::ClearTree() {
    if (PlayLstList->topLevelItemCount() > 0)
        PlayLstList->clear();
}

QTreeWidgetItem* TZozoDodiFrm::MakeTreeNode(const QString& text, TNodeKind kind) {
    auto* item = new QTreeWidgetItem(QStringList{text});
    const int image = int(kind);
    item->setData(0, kKindRole, int(kind));
    item->setData(0, kImageRole, image);
    const QIcon icon(QStringLiteral(":/PlayListImgs%1").arg(image));
    if (!icon.isNull())
        item->setIcon(0, icon);
    return item;
}

int TZozoDodiFrm::ImageIndexOf(const QTreeWidgetItem* node) const {
    return node ? node->data(0, kImageRole).toInt() : -1;
}

TZozoDodiFrm::TNodeKind TZozoDodiFrm::NodeKindOf(const QTreeWidgetItem* node) {
    return node ? TNodeKind(node->data(0, kKindRole).toInt()) : nkNone;
}

bool TZozoDodiFrm::IsPhotoNode(const QTreeWidgetItem* node) {
    const TNodeKind kind = NodeKindOf(node);
    return kind == nkPhotoAlbum || kind == nkPhotoRoot;
}

int TZozoDodiFrm::AbsoluteIndex(const QTreeWidgetItem* node) const {
    if (!node)
        return -1;
    int i = 0;
    for (QTreeWidgetItemIterator it(PlayLstList); *it; ++it, ++i)
        if (*it == node)
            return i;
    return -1;
}

void TZozoDodiFrm::BuildPlaylistTree() {
    // A damaged database may have lost its playlists but not its tracks: those are still listed.
    const bool tracksOnly = TrackDb && TrackDb->Damaged() && TrackDb->Tracks.Count() > 0;
    if (!TrackDb || (TrackDb->Playlists.Count() == 0 && !tracksOnly)) {
        IpodLb->setText(QStringLiteral("???"));
        ShowMessageBox(this, MsgKind::Error, QStringLiteral("There is no music or video in your iPod."),
                       MsgButtons::Ok);
        return;
    }
    IpodLb->setText(TrackDb->Playlists.Count() > 0 ? TrackDb->Playlists.GetItem(0).Name : QStringLiteral("???"));
    QTreeWidgetItem* root = MakeTreeNode(QStringLiteral("All music & Videos (") +
                                             QString::number(TrackDb->Tracks.Count()) + QStringLiteral(")"),
                                         nkMusicRoot);
    root->addChild(MakeTreeNode(QStringLiteral("All music"), nkAllMusic));
    root->addChild(MakeTreeNode(QStringLiteral("All videos"), nkAllVideos));
    for (int p = 1; p < TrackDb->Playlists.Count(); ++p)
        root->addChild(MakeTreeNode(TrackDb->Playlists.GetItem(p).Name, nkPlaylist));
    PlayLstList->addTopLevelItem(root);
}

QString TZozoDodiFrm::FillTrackList(int view) {
    std::vector<int32_t> rows;
    uint32_t length = 0; // milliseconds, wraps at 32 bits
    uint64_t size = 0;
    if (!TrackDb) {
        MusicModel->SetRows({});
        return StatusText("Total ", 0, 0, 0);
    }
    const device::TTrackList& tracks = TrackDb->Tracks;
    const int n = tracks.Count();
    auto add = [&](int32_t i) {
        const device::TTrackItem& t = tracks.GetItem(i);
        rows.push_back(i);
        length += t.Length;
        size += t.Size;
    };
    if (view == 0) {
        rows.reserve(size_t(n));
        for (int i = 0; i < n; ++i)
            rows.push_back(i);
        MusicModel->SetRows(std::move(rows));
        return StatusText("Total ", n, TrackDb->TotalTime, uint64_t(TrackDb->TotalSize));
    }
    if (view == 1 || view == 2) {
        const bool videos = view == 2;
        for (int i = 0; i < n; ++i)
            if (tracks.GetItem(i).IsVideo() == videos)
                add(i);
    } else if (view >= 3) {
        const int p = view - 2;
        if (p < TrackDb->Playlists.Count()) {
            const device::TPlayListItem& pl = TrackDb->Playlists.GetItem(p);
            if (FTrackIdIndex.empty() && n > 0)
                FTrackIdIndex = BuildTrackIdIndex(*TrackDb);
            const int count = std::min<int>(pl.Count, int(pl.TrackIds.size()));
            rows.reserve(size_t(std::max(0, count)));
            for (int k = 0; k < count; ++k) {
                const auto it = FTrackIdIndex.find(pl.TrackIds[size_t(k)]);
                if (it != FTrackIdIndex.end())
                    add(it->second);
            }
        }
    }
    const int count = int(rows.size());
    MusicModel->SetRows(std::move(rows));
    return StatusText("Total ", count, length, size);
}

void TZozoDodiFrm::RefreshTrackList(int view) {
    ClearTrackList();
    FViewStatus = FillTrackList(view);
    UpdateSelectionStatus();
}

void TZozoDodiFrm::UpdateSelectionStatus() {
    QTreeWidgetItem* selected = PlayLstList->currentItem();
    if (!selected)
        return;
    // The caption belongs to the music root, whichever node is selected.
    QTreeWidgetItem* root = nullptr;
    if (NodeKindOf(selected) == nkMusicRoot)
        root = selected;
    else if (selected->parent() && NodeKindOf(selected->parent()) == nkMusicRoot)
        root = selected->parent();
    else
        for (int i = 0; i < PlayLstList->topLevelItemCount() && !root; ++i)
            if (NodeKindOf(PlayLstList->topLevelItem(i)) == nkMusicRoot)
                root = PlayLstList->topLevelItem(i);
    if (root && TrackDb)
        root->setText(0, QStringLiteral("All music & videos (") + QString::number(FCheckedCount) + QStringLiteral("/") +
                             QString::number(TrackDb->Tracks.Count()) + QStringLiteral(")"));
    if (FConnectionLost)
        StatusLb->setText(QStringLiteral("Connection Lost"));
    else if (FCheckedCount >= 1)
        StatusLb->setText(StatusText("Select ", FCheckedCount, FCheckedLength, FCheckedSize));
    else
        StatusLb->setText(FViewStatus);
}

void TZozoDodiFrm::MusicListChecked(int row, bool checked) {
    if (!TrackDb || row < 0 || row >= MusicModel->Count())
        return;
    device::TTrackItem& t = TrackDb->Tracks.GetItem(MusicModel->TrackIndexAt(row));
    // The mark lives in the track, so a track listed twice is counted once.
    if (!MarkTrack(t, checked))
        return;
    MusicModel->ChecksChanged();
    UpdateSelectionStatus();
}

void TZozoDodiFrm::MusicListHeaderClick(int column, Qt::MouseButton button) {
    if (button == Qt::LeftButton && column >= 1 && column < TrackListModel::ColumnCount) {
        if (MusicModel->SortColumn < 0 || MusicModel->SortColumn != column) {
            MusicModel->SortColumn = column;
            MusicModel->SortAscending = true;
        } else {
            MusicModel->SortAscending = !MusicModel->SortAscending;
        }
        MusicModel->Sort(MusicModel->SortColumn, MusicModel->SortAscending);
    }
    // The header shows our sort state, not the one it would flip to by itself.
    MusicHeader->setSortIndicator(MusicModel->SortColumn,
                                  MusicModel->SortAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TZozoDodiFrm::MusicListChange(int row) {
    // With no row chosen (a refilled list has none) the panel shows the placeholder, so that
    // no cover of a row that is gone stays in view.
    if (row < 0 || row >= MusicModel->Count()) {
        ArtImg->hide();
        ArtPlaceholder->show();
        return;
    }
    // No art is read while a transfer may be using the artwork database.
    if (!ArtworkLoaded || ArtPnl->isHidden() || !TrackDb || TransferThreadAlive())
        return;
    const device::TTrackItem& t = TrackDb->Tracks.GetItem(MusicModel->TrackIndexAt(row));
    if (t.HasArtwork && t.ArtIndex >= 0)
        ShowTrackArtwork(t.ArtIndex);
    else {
        ArtImg->hide();
        ArtPlaceholder->show();
    }
}

void TZozoDodiFrm::ShowTrackArtwork(int artIndex) {
    QImage picture;
    bool ok = false;
    if (ArtworkDb && artIndex >= 0 && artIndex < ArtworkDb->Arts.Count())
        ok = ArtworkDb->LoadSmallArt(artIndex, picture) && !picture.isNull();
    if (ok)
        ArtImg->setPixmap(QPixmap::fromImage(picture));
    ArtImg->setVisible(ok);
    ArtPlaceholder->setVisible(!ok);
}

void TZozoDodiFrm::ArtBtnPnlClick() {
    if (ArtBtnPnl->text() == QLatin1String("+")) {
        ArtBtnPnl->setText(QStringLiteral("..."));
        ArtPnl->show();
    } else {
        ArtBtnPnl->setText(QStringLiteral("+"));
        ArtPnl->hide();
    }
}

void TZozoDodiFrm::MarkArtworkForCopy() {
    if (!ArtworkLoaded || !ArtworkDb || ArtworkDb->Arts.Count() == 0 || !TrackDb)
        return;
    FArtCount = 0;
    const int n = TrackDb->Tracks.Count();
    const int arts = ArtworkDb->Arts.Count();
    for (int i = 0; i < n; ++i) {
        const device::TTrackItem& t = TrackDb->Tracks.GetItem(i);
        if (!t.HasArtwork || t.ArtIndex < 0 || t.ArtIndex >= arts)
            continue;
        ArtworkDb->Arts.GetItem(t.ArtIndex)->Selected = t.Selected;
        if (t.Selected)
            ++FArtCount;
    }
}

void TZozoDodiFrm::PlayLstListChange(QTreeWidgetItem* node) {
    if (!node)
        return;
    if (IsPhotoNode(node)) {
        if (PicPnl->isHidden()) {
            PicPnl->show();
            SongPnl->hide();
            SrbgImg->hide();
            SrEdit->clear();
            ClearImg->hide();
        }
        LoadLb->show();
        if (PhotoDb)
            FThumbFileName = "F" + QByteArray::number(PhotoDb->Small.Id) + "_1.ithmb";
        int album = 0;
        if (node->parent())
            album = AbsoluteIndex(node) - AbsoluteIndex(node->parent());
        PhotoGridShowAlbum(album);
        LoadLb->hide();
        if (!ArtImg->isHidden()) {
            ArtImg->hide();
            ArtPlaceholder->show();
        }
        return;
    }
    if (SongPnl->isHidden()) {
        SongPnl->show();
        PicPnl->hide();
        SrbgImg->show();
    }
    RefreshTrackList(AbsoluteIndex(node));
}
