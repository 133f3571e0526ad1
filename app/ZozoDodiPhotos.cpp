// The photo grid: album nodes in the tree, pages of thumbnail tiles in PhotoBox, paging and
// ticking photos.
#include "widgets/PhotoControl.h"
#include "widgets/PicBtn.h"
#include "app/ZozoDodiMain.h"
#include "device/PhotoDb.h"
#include "device/ThumbExport.h"
#include "handheld/Iphone.h"
#include "platform/Files.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QScrollArea>
#include <QTreeWidget>
#include <algorithm>
#include <exception>
#include <unordered_map>
#include <unordered_set>

namespace {

const QColor kPhotoBoxColor(0x3F, 0x3F, 0x3F);

// A damaged database may count more ids than it holds.
int AlbumImageCount(const device::TPhotoAlbumItem& album) {
    return std::max(0, std::min<int>(album.Count, int(album.ImageIds.size())));
}

int PageCount(int photos, int perPage) {
    if (perPage <= 0 || photos <= 0)
        return 0;
    return photos / perPage + (photos % perPage >= 1 ? 1 : 0);
}

void PaintBackground(QWidget* w) {
    w->setAutoFillBackground(true);
    QPalette p = w->palette();
    p.setColor(QPalette::Window, kPhotoBoxColor);
    p.setColor(QPalette::Base, kPhotoBoxColor);
    w->setPalette(p);
}

// The hourglass for the time of a bulk tick, put back on every way out.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

TThumbTile TZozoDodiFrm::ThumbTileFor(int32_t smallFormatId) {
    TThumbTile g{64, 64, 15, 9, 450, 0};
    switch (smallFormatId) {
    case 3004: g = {56, 56, 20, 9, 450, 0}; break;
    case 3011: g = {75, 75, 20, 7, 350, 0}; break;
    case 1036: g = {50, 41, 20, 10, 500, 0}; break;
    case 1015: g = {119, 88, 22, 5, 250, -5}; break;
    case 1032: g = {42, 37, 18, 12, 450, 0}; break;
    default: break;
    }
    return g;
}

// Called once the panel's components exist.
void TZozoDodiFrm::SetUpPhotoBox() {
    PhotoPage = new QWidget;
    PhotoPage->setObjectName(QStringLiteral("PhotoPage"));
    PaintBackground(PhotoPage);
    PaintBackground(PhotoBox);
    PaintBackground(PhotoBox->viewport());
    PhotoBox->setWidgetResizable(false);
    PhotoBox->setWidget(PhotoPage);
    connect(NxtBtn, &TPicButton::OnClick, this, [this] { NxtBtnClick(); });
    connect(PrvBtn, &TPicButton::OnClick, this, [this] { PrvBtnClick(); });
}

std::vector<TPhotoControl*> TZozoDodiFrm::PhotoTiles() const {
    std::vector<TPhotoControl*> tiles;
    if (!PhotoPage)
        return tiles;
    for (QObject* child : PhotoPage->children())
        if (auto* tile = qobject_cast<TPhotoControl*>(child))
            tiles.push_back(tile);
    return tiles;
}

int TZozoDodiFrm::SelectedPhotoAlbum() const {
    const QTreeWidgetItem* node = PlayLstList->currentItem();
    if (!node || !node->parent())
        return 0;
    return AbsoluteIndex(node) - AbsoluteIndex(node->parent());
}

// ---- calls from the device loads, the tree and the check menu ----

void TZozoDodiFrm::PhotoGridAfterLoad() {
    if (!PhotoDb)
        return;
    // Tiles of an earlier device point into a photo list that is gone.
    ClearPhotoBox();
    FPhotoPagePending = false;
    Tile = ThumbTileFor(PhotoDb->Small.Id);
    BuildPhotoAlbumTree();
    // The page bar of an earlier device would page beyond this one's photos.
    ResetPageBar(PageCount(PhotoDb->Photos.Count(), Tile.PerPage));
}

void TZozoDodiFrm::SetPhotoPage(int page) {
    FPhotoPage = page;
    SelectPage->setText(QString::number(page));
}

void TZozoDodiFrm::ResetPageBar(int pages) {
    FPhotoPages = pages;
    MaxPage->setText(QString::number(pages));
    SetPhotoPage(1);
    PrvBtn->hide();
    if (pages > 1) {
        NxtBtn->show();
        SelectPage->show();
        Pgseplb->show();
        MaxPage->show();
    } else {
        NxtBtn->hide();
    }
}

void TZozoDodiFrm::PhotoGridShowAlbum(int album) {
    ShowPhotoAlbum(album);
}

void TZozoDodiFrm::PhotoGridSetChecks(TCheckMode mode) {
    SetPhotoChecks(mode);
}

bool TZozoDodiFrm::PhotoGridHasTiles() const {
    return !PhotoTiles().empty();
}

// ---- the grid ----

void TZozoDodiFrm::BuildPhotoAlbumTree() {
    if (!PhotoDb || PhotoDb->Albums.Count() < 1)
        return;
    QTreeWidgetItem* root = MakeTreeNode(
        QStringLiteral("All photos (0/") + QString::number(PhotoDb->Photos.Count()) + QStringLiteral(")"), nkPhotoRoot);
    for (int a = 1; a < PhotoDb->Albums.Count(); ++a)
        root->addChild(MakeTreeNode(PhotoDb->Albums.GetItem(a)->Name, nkPhotoAlbum));
    PlayLstList->addTopLevelItem(root);
}

void TZozoDodiFrm::ShowPhotoAlbum(int Album) {
    if (!PhotoDb)
        return;
    int n = 0;
    if (Album == 0)
        n = PhotoDb->Photos.Count();
    else if (Album > 0 && Album < PhotoDb->Albums.Count())
        n = PhotoDb->Albums.GetItem(Album)->Count;
    ResetPageBar(PageCount(n, Tile.PerPage));
    ShowPhotoPage(Album, 1);
    UpdatePhotoSelectionCount();
    if (PhotoDb)
        StatusLb->setText(QStringLiteral("Total ") + QString::number(PhotoDb->Photos.Count()) +
                          QStringLiteral(" photos"));
}

int TZozoDodiFrm::ShowPhotoPage(int Album, int Page) {
    if (FPhotoPageBuilding)
        return 0;
    // A cancelled transfer that is still ending shares the header, the work stream and the
    // handheld's one open file with the page; the page is built when it has ended, and the
    // tiles of another page do not stand in for it meanwhile.
    if (TransferThreadAlive()) {
        ClearPhotoBox();
        FPhotoPagePending = true;
        return 0;
    }
    EnableControls(false);
    ClearPhotoBox();
    const int first = (Page - 1) * Tile.PerPage;
    PhotoBox->setEnabled(false);
    const int tiles = BuildPhotoPage(FThumbFileName, Album, first);
    PhotoBox->setEnabled(true);
    EnableControls(true);
    if (!FDeferredDeviceMessages.empty())
        QMetaObject::invokeMethod(
            this, [this] { RunDeferredDeviceMessages(); }, Qt::QueuedConnection);
    return tiles;
}

void TZozoDodiFrm::PhotoGridTransferEnded() {
    if (!FPhotoPagePending)
        return;
    FPhotoPagePending = false;
    if (!PhotoDb || PicPnl->isHidden() || !IsPhotoNode(PlayLstList->currentItem()))
        return;
    // The page bar already shows the page that was asked for.
    const QString kept = StatusLb->text();
    ShowPhotoPage(SelectedPhotoAlbum(), std::max(1, FPhotoPage));
    StatusLb->setText(kept);
}

bool TZozoDodiFrm::DeferWhilePhotoPageBuilds(std::function<void()> handler) {
    if (!FPhotoPageBuilding)
        return false;
    FPhotoPageStop = true;
    FDeferredDeviceMessages.push_back(std::move(handler));
    return true;
}

void TZozoDodiFrm::RunDeferredDeviceMessages() {
    std::vector<std::function<void()>> messages;
    messages.swap(FDeferredDeviceMessages);
    for (auto& message : messages)
        message();
}

int TZozoDodiFrm::BuildPhotoPage(const QByteArray& Name, int Album, int First) {
    device::TPhotoDb* const db = PhotoDb.get();
    if (!db || Album < 0 || Album >= db->Albums.Count())
        return 0;
    const device::TPhotoAlbumItem& album = *db->Albums.GetItem(Album);
    const int count = AlbumImageCount(album);
    if (count < 1)
        return 0;
    int x = Tile.Gap, y = Tile.Gap;
    db->BuildBitmapHeader(true);

    const bool handheld = FDeviceKind == dkHandheld;
    const handheld::TUseDevice onDevice(handheld ? FHandheldLink : handheld::TDeviceLink());
    std::unique_ptr<QFile> stream;
    QByteArray buffer;
    if (!handheld) {
        try {
            stream = platform::OpenReadOnly(QString::fromUtf8(db->Root) + QStringLiteral("/Photos/Thumbs/") +
                                            QString::fromUtf8(Name));
        } catch (const std::exception&) {
            return 0;
        }
        if (!stream || stream->size() < 12)
            return 0;
    } else {
        if (!db->OpenDeviceThumbFile(Name))
            return 0;
        buffer = QByteArray(qsizetype(std::clamp<qint64>(db->Small.Size, 0, device::MaxImageBytes)), '\0');
    }

    // Photos by image id, so that each tile costs one look-up.
    std::unordered_multimap<uint32_t, int> byImageId;
    byImageId.reserve(size_t(db->Photos.Count()));
    for (int k = 0; k < db->Photos.Count(); ++k)
        byImageId.emplace(db->Photos.GetItem(k)->ImageId, k);

    FPhotoPageBuilding = true;
    FPhotoPageStop = false;
    // The window closed (and let go of the handheld link), or the photo database was replaced,
    // while events ran.
    bool gone = false;
    int tiles = 0;
    const int last = count - 1;
    // As wide as a full row of tiles; the gap after the last one needs no scrolling.
    const int pageWidth = (Tile.Width + Tile.Gap) * Tile.Columns;
    PhotoPage->resize(pageWidth, y + Tile.Height + Tile.Gap);
    for (int j = First; j <= last && tiles < Tile.PerPage && !FPhotoPageStop; ++j) {
        const uint32_t imageId = album.ImageIds[size_t(j)];
        // The multimap gives equal keys in no set order; tiles follow the photo list's order.
        std::vector<int> matches;
        const auto range = byImageId.equal_range(imageId);
        for (auto it = range.first; it != range.second; ++it)
            matches.push_back(it->second);
        std::sort(matches.begin(), matches.end());
        for (const int k : matches) {
            auto* tile = new TPhotoControl(Tile, PhotoPage);
            tile->move(x, y);
            connect(tile, &TPhotoControl::OnClick, this, [this](TPhotoControl* sender) { PhotoClick(sender); });
            tile->Id = k;
            tile->SetSelected(db->Photos.GetItem(k)->Selected != 0);
            if (!handheld) {
                try {
                    db->LoadSmallThumb(*stream, k, tile->PictureRef());
                } catch (const std::exception&) {
                    // A container that ends early ends the page here; the tiles made so far stay.
                    delete tile;
                    FPhotoPageStop = true;
                    break;
                }
            } else {
                db->LoadSmallThumbFromDevice(buffer, k, tile->PictureRef());
            }
            tile->show();
            ++tiles;
            if (PhotoPage->height() < y + Tile.Height + Tile.Gap)
                PhotoPage->resize(PhotoPage->width(), y + Tile.Height + Tile.Gap);
            x += Tile.Gap + Tile.Width;
            if ((Tile.Width + Tile.Gap) * Tile.Columns < x) {
                x = Tile.Gap;
                y += Tile.Gap + Tile.Height;
            }
            StatusLb->setText(QString::number(k));
            QCoreApplication::processEvents();
            if (FCloseDone || PhotoDb.get() != db) {
                gone = true;
                break;
            }
        }
        if (gone)
            break;
    }
    if (handheld) {
        if (!gone)
            db->CloseDeviceThumbFile();
        else
            handheld::DeviceCloseFile();
    }
    stream.reset();
    FPhotoPageBuilding = false;
    FPhotoPageStop = false;
    return tiles;
}

void TZozoDodiFrm::ClearPhotoBox() {
    for (TPhotoControl* tile : PhotoTiles())
        delete tile;
    if (PhotoPage)
        PhotoPage->resize(0, 0);
}

void TZozoDodiFrm::NxtBtnClick() {
    const int cur = FPhotoPage;
    const int max = FPhotoPages;
    SetPhotoPage(cur + 1);
    if (max == cur + 1)
        NxtBtn->hide();
    if (PrvBtn->isHidden())
        PrvBtn->show();
    const QString kept = StatusLb->text();
    ShowPhotoPage(SelectedPhotoAlbum(), cur + 1);
    StatusLb->setText(kept);
}

void TZozoDodiFrm::PrvBtnClick() {
    const int cur = FPhotoPage - 1;
    SetPhotoPage(cur);
    if (cur == 1)
        PrvBtn->hide();
    if (NxtBtn->isHidden())
        NxtBtn->show();
    const QString kept = StatusLb->text();
    ShowPhotoPage(SelectedPhotoAlbum(), cur);
    StatusLb->setText(kept);
}

void TZozoDodiFrm::PhotoClick(TPhotoControl* Sender) {
    // Tiles left over from a device that is gone tick nothing; nor does a tile while a
    // transfer that is ending still reads the ticks.
    if (!Sender || TransferThreadAlive() || !PhotoDb || Sender->Id < 0 || Sender->Id >= PhotoDb->Photos.Count() ||
        !IsPhotoNode(PlayLstList->currentItem()))
        return;
    device::TPhotoItem& photo = *PhotoDb->Photos.GetItem(Sender->Id);
    const bool was = photo.Selected != 0;
    Sender->SetSelected(!Sender->Selected());
    photo.Selected = Sender->Selected() ? 1 : 0;
    Sender->repaint();
    if (FPhotoGridReady) {
        // A photo shown by two tiles is counted once; its other tile follows.
        if (was != Sender->Selected())
            FCheckedPhotos += Sender->Selected() ? 1 : -1;
        for (TPhotoControl* tile : PhotoTiles())
            if (tile != Sender && tile->Id == Sender->Id)
                tile->SetSelected(Sender->Selected());
        UpdatePhotoSelectionCount();
    }
}

void TZozoDodiFrm::SetPhotoChecks(TCheckMode Mode) {
    if (!PhotoDb || PhotoTiles().empty() || TransferThreadAlive())
        return;
    FPhotoGridReady = false;
    struct Ready {
        bool& Flag;
        ~Ready() { Flag = true; }
    } ready{FPhotoGridReady};
    WaitCursor cursor;
    const int albumIndex = SelectedPhotoAlbum();
    if (albumIndex >= 0 && albumIndex < PhotoDb->Albums.Count()) {
        const device::TPhotoAlbumItem& album = *PhotoDb->Albums.GetItem(albumIndex);
        const int count = AlbumImageCount(album);
        std::unordered_set<uint32_t> ids;
        ids.reserve(size_t(count));
        for (int j = 0; j < count; ++j)
            ids.insert(album.ImageIds[size_t(j)]);
        // Each photo once, also when the album lists it twice: inverting it twice would undo it.
        for (int k = 0; k < PhotoDb->Photos.Count(); ++k) {
            device::TPhotoItem& photo = *PhotoDb->Photos.GetItem(k);
            if (!ids.count(photo.ImageId))
                continue;
            switch (Mode) {
            case cmCheckAll: photo.Selected = 1; break;
            case cmInvert: photo.Selected = photo.Selected ? 0 : 1; break;
            case cmClearAll: photo.Selected = 0; break;
            }
        }
    }
    for (TPhotoControl* tile : PhotoTiles()) {
        if ((Mode == 0 && !tile->Selected()) || Mode == 1 || (Mode == 2 && tile->Selected()))
            tile->Click();
    }
    int checked = 0;
    for (int k = 0; k < PhotoDb->Photos.Count(); ++k)
        checked += PhotoDb->Photos.GetItem(k)->Selected ? 1 : 0;
    FCheckedPhotos = checked;
    UpdatePhotoSelectionCount();
}

void TZozoDodiFrm::UpdatePhotoSelectionCount() {
    QTreeWidgetItem* node = PlayLstList->currentItem();
    if (!node || !PhotoDb)
        return;
    const QString text = QStringLiteral("All photos (") + QString::number(FCheckedPhotos) + QStringLiteral("/") +
                         QString::number(PhotoDb->Photos.Count()) + QStringLiteral(")");
    if (NodeKindOf(node) == nkPhotoRoot)
        node->setText(0, text);
    else if (NodeKindOf(node) == nkPhotoAlbum && node->parent())
        node->parent()->setText(0, text);
}
