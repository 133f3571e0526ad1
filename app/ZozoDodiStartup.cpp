// Start-up, settings, shut-down and the borderless window's chrome.
#include "app/ZozoDodiMain.h"

#include "widgets/PicBtn.h"
#include "app/TrackListModel.h"
#include "device/ArtworkDb.h"
#include "device/IPod.h"
#include "device/PhotoDb.h"
#include "device/TrackDb.h"
#include "handheld/Iphone.h"
#include "platform/Desktop.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/VolumeWatcher.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollArea>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyle>
#include <QThread>
#include <QTreeWidget>
#include <QWindow>

namespace {

// The settings store: an INI file ~/.config/Marrowgate/Marrowgate.ini.
std::unique_ptr<QSettings> OpenSettings() {
    auto s = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Marrowgate"),
                                         QStringLiteral("Marrowgate"));
    if (s->status() != QSettings::NoError || !s->isWritable())
        return nullptr;
    return s;
}

// A value of an unexpected type reads as absent.
std::optional<QString> ReadString(const QSettings& s, const QString& name) {
    const QVariant v = s.value(name);
    if (!v.isValid() || v.typeId() != QMetaType::QString)
        return std::nullopt;
    return v.toString();
}

std::optional<int> ReadInt(const QSettings& s, const QString& name) {
    const QVariant v = s.value(name);
    if (!v.isValid())
        return std::nullopt;
    if (v.typeId() == QMetaType::Int)
        return v.toInt();
    if (v.typeId() != QMetaType::QString)
        return std::nullopt;
    bool ok = false;
    const int i = v.toString().trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return i;
}

QString SpecialFolderWith(QStandardPaths::StandardLocation where, const QString& leaf) {
    QString path = QStandardPaths::writableLocation(where);
    if (platform::TrimBlanks(path).isEmpty())
        return {};
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + leaf;
}

constexpr int kDesignedLeftWidth = 177;

// The left pane's width when none is saved: the tree's root captions fit whole with
// four-digit counts, in the tree's font and with its icons, indentation and a scroll bar.
int DefaultLeftWidth(const QTreeWidget* tree) {
    QTreeWidget probe;
    probe.setFont(tree->font());
    probe.setIconSize(tree->iconSize());
    probe.setIndentation(tree->indentation());
    probe.setHeaderHidden(true);
    for (const char* caption :
         {"All music & Videos (9999)", "All music & videos (9999/9999)", "All photos (9999/9999)"}) {
        auto* item = new QTreeWidgetItem(&probe, QStringList{QLatin1String(caption)});
        item->setIcon(0, QIcon(QStringLiteral(":/PlayListImgs3")));
    }
    const int scrollBar = tree->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, tree);
    const int captions = static_cast<const QAbstractItemView&>(probe).sizeHintForColumn(0);
    return std::max(kDesignedLeftWidth, captions + 2 * tree->frameWidth() + scrollBar + 4);
}

// Sets the left pane's width. Where the pane must be wider than designed to show the root
// captions, the window grows by as much, so that the list and a full row of the photo grid
// keep their designed room; a pane the user made wider still takes that room from them.
void SetLeftWidth(QSplitter* spl, QWidget* left, int width, int fitsCaptions) {
    QWidget* window = spl->window();
    const int grow = std::min(width, fitsCaptions) - kDesignedLeftWidth;
    if (grow > 0)
        window->resize(window->width() + grow, window->height());
    if (QLayout* l = window->layout())
        l->activate();
    const int total = spl->width() > 0 ? spl->width() : window->width();
    spl->setSizes({width, std::max(1, total - width)});
    left->resize(width, left->height());
}

} // namespace

void SetUpApplication() {
    QApplication::setApplicationName(QStringLiteral("Marrowgate"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icon")));
}

void TZozoDodiFrm::FormCreate() {
    FSkipArtwork = false;
    // Double-buffered drawing is Qt's own; nothing to switch on.
    PositionOverlays();
    FPhotoGridReady = true;
    FDeviceKind = dkNone;
    FWaitingDevice = false;
    FDeviceLoaded = false;
    setMinimumSize(800, 520);
    ZeroTotals();
    FThumbFileName.clear();
    FHeaderBitmap = QImage(QStringLiteral(":/hbmp"));
    MusicHeader->Background = FHeaderBitmap;
    MusicModel->PlayingIcon = QImage(QStringLiteral(":/StateImgs0"));
    FCopying = false;
    FIpodPresent = false;
    LoadSettings();
    setMask(RoundedWindowRegion(width(), height()));
    TrackDb.reset();
    PhotoDb.reset();
    FIpod = std::make_unique<device::TIPod>();

    FWindowHandle = platform::RegisterWindow(this);
    FVolumeWatcher = new platform::VolumeWatcher(this);
    connect(FVolumeWatcher, &platform::VolumeWatcher::DeviceChange, this,
            [this](quint32 event, quint32 mask) { WMDeviceChange(event, DBT_DEVTYP_VOLUME, mask); });
    FVolumeWatcher->Start();

    if (LoadDevice(true, 'A')) {
        FDeviceKind = dkIpod;
    } else {
        EnableControls(false);
        ErrPnl->show();
        ErrPnl->raise();
    }
    StartHandheldLink();
    CreatePlayer();
}

void TZozoDodiFrm::LoadSettings() {
    std::unique_ptr<QSettings> s = OpenSettings();
    if (!s) {
        const int fits = DefaultLeftWidth(PlayLstList);
        SetLeftWidth(spl, LeftPnl, fits, fits);
        OutEdit->setText(GetDefaultMusicFolder());
        PicOutEdit->setText(GetDefaultPhotoFolder());
        return;
    }
    QString out = platform::TrimBlanks(ReadString(*s, QStringLiteral("OutPath")).value_or(QString()));
    OutEdit->setText(out.isEmpty() ? GetDefaultMusicFolder() : out);
    QString pic = platform::TrimBlanks(ReadString(*s, QStringLiteral("OutPathPic")).value_or(QString()));
    PicOutEdit->setText(pic.isEmpty() ? GetDefaultPhotoFolder() : pic);
    if (auto v = ReadInt(*s, QStringLiteral("Sync")))
        SyncCb->setChecked(*v != 0);
    ArtCb->setEnabled(SyncCb->isChecked());
    if (auto v = ReadInt(*s, QStringLiteral("Art")))
        ArtCb->setChecked(*v != 0);
    if (auto v = ReadInt(*s, QStringLiteral("SaveType")); v && *v >= 0 && *v <= 6)
        FormatLst->setCurrentIndex(*v);
    const std::optional<int> left = ReadInt(*s, QStringLiteral("LWidth"));
    const int fits = DefaultLeftWidth(PlayLstList);
    SetLeftWidth(spl, LeftPnl, left && *left > 0 && *left < width() ? *left : fits, fits);
    bool firstRun = false;
    if (!s->contains(QStringLiteral("FirstRun"))) {
        s->setValue(QStringLiteral("FirstRun"), 0);
        s->sync();
        firstRun = true;
    }
    s.reset();
    if (firstRun)
        platform::OpenPage(platform::ProductPage());
}

void TZozoDodiFrm::SaveSettings() {
    std::unique_ptr<QSettings> s = OpenSettings();
    if (!s)
        return;
    s->setValue(QStringLiteral("Sync"), SyncCb->isChecked() ? 1 : 0);
    s->setValue(QStringLiteral("Art"), ArtCb->isChecked() ? 1 : 0);
    s->setValue(QStringLiteral("OutPath"), OutEdit->text());
    s->setValue(QStringLiteral("OutPathPic"), PicOutEdit->text());
    s->setValue(QStringLiteral("SaveType"), FormatLst->currentIndex());
    const QList<int> sizes = spl->sizes();
    s->setValue(QStringLiteral("LWidth"), sizes.isEmpty() ? LeftPnl->width() : sizes.first());
    s->sync();
}

QString TZozoDodiFrm::GetDefaultMusicFolder() const {
    return SpecialFolderWith(QStandardPaths::MusicLocation, QStringLiteral("iPodMusic"));
}

QString TZozoDodiFrm::GetDefaultPhotoFolder() const {
    return SpecialFolderWith(QStandardPaths::PicturesLocation, QStringLiteral("iPodPictures"));
}

bool TZozoDodiFrm::FormCloseQuery() {
    if (FCopying) {
        ShowMessageBox(this, MsgKind::Information,
                       QStringLiteral("Copy is in progress. Please cancel the transfer first."), MsgButtons::Ok);
        return false;
    }
    return true;
}

void TZozoDodiFrm::FormClose() {
    if (FCloseDone)
        return;
    FCloseDone = true;
    FWaitingDevice = false;
    FDeviceLoaded = false;
    if (FVolumeWatcher)
        FVolumeWatcher->Stop();
    StopCopyThread();
    SaveSettings();
    FPlayer.reset();
    // The copy of a handheld track goes also when the device left before the window closed.
    if (!FPreviewTemp.isEmpty())
        QFile::remove(QFile::decodeName(FPreviewTemp));
    FPreviewTemp.clear();
    if (FDeviceKind == dkIpod && FIpodPresent && FIpod) {
        const MsgResult r = ShowMessageBox(
            this, MsgKind::Confirmation,
            QStringLiteral("Do you want to eject your iPod now?\r\rWhen in disk mode, the iPod must be ejected before "
                           "disconnecting.\rYou can also eject it from iTunes or your file manager later."),
            MsgButtons::YesNo);
        if (r == MsgResult::Yes) {
            StatusLb->setText(QStringLiteral("Ejecting iPod ..."));
            ProcessPendingEvents();
            EjectDrive(FIpod->Root);
        }
    }
    // A cancelled transfer may still be finishing; the track database outlives it.
    while (CopyThread && CopyThread->isRunning()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (CopyThread)
            CopyThread->wait(20);
    }
    MusicModel->Clear();
    FHeaderBitmap = QImage();
    TrackDb.reset();
    FIpod.reset();
    if (handheld::IphoneReady())
        handheld::CloseDevice();
    handheld::UnloadDeviceLibraries();
    if (FWindowHandle) {
        platform::UnregisterWindow(FWindowHandle);
        FWindowHandle = 0;
    }
}

void TZozoDodiFrm::closeEvent(QCloseEvent* e) {
    if (FCloseDone) {
        e->accept();
        return;
    }
    if (!FormCloseQuery()) {
        e->ignore();
        return;
    }
    FormClose();
    e->accept();
}

void TZozoDodiFrm::CloseBtnClick() {
    close();
}

void TZozoDodiFrm::MinBtnClick() {
    showMinimized();
}

QRegion TZozoDodiFrm::RoundedWindowRegion(int width, int height) {
    // A rounded rectangle from (0, 0) to (width + 1, height + 1) with 9 x 9 corner ellipses.
    const int w = width + 1, h = height + 1, d = 9, r = d / 2;
    if (w < d || h < d)
        return QRegion(0, 0, w, h);
    QRegion region(r, 0, w - 2 * r, h);
    region += QRegion(0, r, w, h - 2 * r);
    region += QRegion(0, 0, d, d, QRegion::Ellipse);
    region += QRegion(w - d, 0, d, d, QRegion::Ellipse);
    region += QRegion(0, h - d, d, d, QRegion::Ellipse);
    region += QRegion(w - d, h - d, d, d, QRegion::Ellipse);
    return region;
}

void TZozoDodiFrm::FormResize() {
    setMask(RoundedWindowRegion(width(), height()));
    PositionOverlays();
    update();
}

void TZozoDodiFrm::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    FormResize();
}

void TZozoDodiFrm::ProcessPendingEvents() {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool TZozoDodiFrm::event(QEvent* e) {
    if (int(e->type()) == WM_IPHONE_NOTIFY) {
        WMIphoneNotify();
        return true;
    }
    if (int(e->type()) == WM_PREVIEW_END) {
        WMPlayEnd();
        return true;
    }
    return QWidget::event(e);
}

bool TZozoDodiFrm::eventFilter(QObject* watched, QEvent* e) {
    // A change that reaches the panel while it shows (a font settling, a longer notice) has
    // just been laid out: the panel grows to hold it.
    if (watched == ErrPnl && e->type() == QEvent::LayoutRequest && ErrPnl->isVisible()) {
        SizeNoticePanel();
        return false;
    }
    // The list reports a double click only on a row; one below the last row plays the focused
    // row as well.
    if (e->type() == QEvent::MouseButtonDblClick && watched == MusicList->viewport()) {
        const auto* me = static_cast<QMouseEvent*>(e);
        if (me->button() == Qt::LeftButton && !MusicList->indexAt(me->position().toPoint()).isValid())
            MusicListDblClick();
        return false;
    }
    if (e->type() == QEvent::MouseButtonPress) {
        auto* me = static_cast<QMouseEvent*>(e);
        if (watched == TiImg || watched == SImg || watched == CapShLb || watched == BtImg) {
            if (me->button() == Qt::LeftButton && windowHandle())
                windowHandle()->startSystemMove();
            return me->button() == Qt::LeftButton;
        }
        if (watched == ResizeImg) {
            if (windowHandle())
                windowHandle()->startSystemResize(Qt::BottomEdge | Qt::RightEdge);
            return true;
        }
    }
    if (e->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        if (watched == ArtBtnPnl) {
            ArtBtnPnlClick();
            return true;
        }
        if (watched == ClearImg) {
            ClearImgClick();
            return true;
        }
        if (watched == DiskLink) {
            DiskLinkClick();
            return true;
        }
        if (watched == IphoneErrLb) {
            IphoneErrLbClick();
            return true;
        }
        if (watched == Weblb) {
            ErlbClick();
            return true;
        }
        if (watched == AboutLb) {
            AboutLbClick();
            return true;
        }
        if (watched == DetailLb) {
            DetailLbClick();
            return true;
        }
    }
    if ((watched == Weblb || watched == AboutLb) && (e->type() == QEvent::Enter || e->type() == QEvent::Leave)) {
        auto* label = static_cast<QLabel*>(watched);
        if (e->type() == QEvent::Enter)
            HttpLbOnMouseEnter(label);
        else
            HttpLbOnMouseLeave(label);
    }
    if (watched == SrEdit && e->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(e);
        int key = 0;
        if (ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter)
            key = VK_RETURN;
        else if (ke->key() == Qt::Key_Backspace)
            key = VK_BACK;
        else if (!ke->text().isEmpty())
            key = ke->text().at(0).unicode();
        if (key != 0 && SrEditKeyPress(key))
            return true;
    }
    if (watched == TopPnl && e->type() == QEvent::Resize)
        PositionOverlays();
    return QWidget::eventFilter(watched, e);
}
