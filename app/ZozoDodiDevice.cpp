// The attached device: loads, volume and handheld events, notices, forced unlock, eject.
#include "app/ZozoDodiMain.h"

#include "app/TrackListModel.h"
#include "device/ArtworkDb.h"
#include "device/IPod.h"
#include "device/PhotoDb.h"
#include "device/TrackDb.h"
#include "handheld/Iphone.h"
#include "platform/Desktop.h"
#include "platform/Drives.h"
#include "platform/Eject.h"
#include "platform/Errors.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryFile>
#include <QThread>
#include <QTreeView>
#include <QTreeWidget>

bool IsITunesRunning() {
    return false;
}

namespace {

// Loads one database, turning a raised error into a failed load with its message shown, as
// the window's event boundary would.
template <class Fn>
bool GuardedLoad(QWidget* parent, Fn&& load) {
    try {
        return load();
    } catch (const std::exception& e) {
        ShowMessageBox(parent, MsgKind::Error, QString::fromUtf8(e.what()), MsgButtons::Ok);
        return false;
    }
}

} // namespace

void TZozoDodiFrm::ZeroTotals() {
    FCheckedCount = 0;
    FCheckedLength = 0;
    FCheckedSize = 0;
    FCheckedPhotos = 0;
    FArtCount = 0;
}

bool TZozoDodiFrm::LoadDevice(bool scanAll, char letter) {
    FWaitingDevice = false;
    FDeviceLoaded = false;
    ClearTrackList();
    ClearTree();
    ZeroTotals();
    const int32_t r = FIpod->Find(scanAll, letter, false);
    if (r == device::prFound) {
        FConnectionLost = false;
        FTrackIdIndex.clear();
        TrackDb.reset();
        ClearPhotoBox(); // its tiles show the photos of the database freed here
        PhotoDb.reset();
        ArtworkDb.reset();
        ArtworkLoaded = false;
        FIpodPresent = true;
        LoadTrackDb(FIpod->Root, false);
        LoadLb->show();
        LoadPhotoDb(FIpod->Root, false);
        if (!FSkipArtwork)
            LoadArtworkDb(FIpod->Root, false);
        FDeviceLoaded = true;
    } else if (r == device::prLocked) {
        FIpodPresent = false;
        const QString title = QStringLiteral("iPod is locked by iTunes!");
        const QString text = QStringLiteral(
            "iPod is in used by the iTunes currently.\r\rPlease close the iTunes first, then run this program again.\r"
            "Click the \"Exit\" button below to quit the application.");
        ShowNotice(&title, &text, false);
        UnlockBtn->setVisible(!IsITunesRunning());
        ExitBtn->show();
    } else {
        FIpodPresent = false;
        FWaitingDevice = true;
    }
    ReadLb->hide();
    if (PlayLstList->topLevelItemCount() > 0)
        PlayLstList->expandRecursively(PlayLstList->model()->index(0, 0));
    return r == device::prFound;
}

bool TZozoDodiFrm::LoadTrackDb(const QByteArray& root, bool handheld) {
    StopPreview(true); // the playing track belongs to the database freed here
    FTrackIdIndex.clear();
    TrackDb.reset();
    TrackDb = std::make_unique<device::TiTunesDB>(root, handheld);
    // A load that ended early at damaged data, or where the device failed a read, keeps what it
    // read: show that, and say so once.
    bool returned = false; // false when the load raised an error, which has been shown
    const bool loaded = GuardedLoad(this, [&] {
        const bool r = TrackDb->Load();
        returned = true;
        return r;
    });
    const bool readFailed = returned && !TrackDb->ReadError.isEmpty();
    const bool damaged = returned && TrackDb->Damaged();
    const bool ok = loaded || damaged || readFailed;
    // Nothing read of a device that failed is no device without music.
    if (ok && !(readFailed && TrackDb->Tracks.Count() == 0 && TrackDb->Playlists.Count() == 0)) {
        FTrackIdIndex = BuildTrackIdIndex(*TrackDb);
        BuildPlaylistTree();
        if (PlayLstList->topLevelItemCount() > 0)
            PlayLstList->setCurrentItem(PlayLstList->topLevelItem(0));
    }
    if (readFailed)
        ShowMessageBox(this, MsgKind::Warning,
                       (handheld ? QStringLiteral("The music database of the iPhone/iPod touch could not be read (")
                                 : QStringLiteral("The iPod's music database could not be read (")) +
                           TrackDb->ReadError + QStringLiteral("); the tracks that could be read are listed."),
                       MsgButtons::Ok);
    else if (damaged)
        ShowMessageBox(this, MsgKind::Warning,
                       handheld ? QStringLiteral("The music database of the iPhone/iPod touch is damaged; the tracks "
                                                 "that could be read are listed.")
                                : QStringLiteral("The iPod's music database is damaged; the tracks that could be read "
                                                 "are listed."),
                       MsgButtons::Ok);
    return ok;
}

bool TZozoDodiFrm::LoadPhotoDb(const QByteArray& root, bool handheld) {
    ClearPhotoBox(); // its tiles show the photos of the database freed here
    PhotoDb.reset();
    PhotoDb = std::make_unique<device::TPhotoDb>(root, handheld);
    if (!GuardedLoad(this, [this] { return PhotoDb->Load(false); }))
        return false;
    PhotoGridAfterLoad();
    return true;
}

void TZozoDodiFrm::LoadArtworkDb(const QByteArray& root, bool handheld) {
    ArtworkDb = std::make_unique<device::TArtworkDb>(root, handheld);
    ArtworkLoaded = GuardedLoad(this, [this] { return ArtworkDb->Load(); });
    LinkTrackArtwork();
}

void TZozoDodiFrm::LoadHandheld() {
    const handheld::TUseDevice onDevice(FHandheldLink);
    const bool tracksOk = LoadTrackDb(QByteArray("D"), true);
    LoadLb->show();
    const bool photosFailed = !LoadPhotoDb(QByteArray("D"), true);
    ArtworkDb.reset();
    if (!FSkipArtwork)
        LoadArtworkDb(QByteArray("D"), true);
    if (photosFailed && !tracksOk) {
        const QString title = QStringLiteral("Can not read from iPhone/iPod touch");
        const QString text =
            QStringLiteral(
                "Please close this program, and reconnect the iPod,\rthen, start this program to try again.  (\r") +
            QString::fromUtf8(handheld::IphoneLastError()) + QStringLiteral(")");
        ShowNotice(&title, &text, false);
        EnableControls(false);
        ErrPnl->show();
        ErrPnl->raise();
    }
    ReadLb->hide();
    if (PlayLstList->topLevelItemCount() > 0)
        PlayLstList->expandRecursively(PlayLstList->model()->index(0, 0));
}

void TZozoDodiFrm::StartHandheldLink() {
    bool ok = false;
    try {
        ok = handheld::LoadDeviceLibraries() && handheld::SubscribeDeviceNotification(FWindowHandle);
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok)
        IphoneErrLb->show();
}

char TZozoDodiFrm::UnitMaskToDriveLetter(quint32 mask) {
    for (int i = 0; i < 26; ++i)
        if (mask & (quint32(1) << i))
            return char('A' + i);
    return 'A';
}

bool TZozoDodiFrm::TransferThreadAlive() const {
    return !CopyThread.isNull();
}

void TZozoDodiFrm::TransferEnded() {
    if (TransferThreadAlive())
        return;
    if (FPendingArrival) {
        FPendingArrival = false;
        WMDeviceChange(DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, FPendingArrivalMask);
    }
    if (FPendingIphoneNotify) {
        FPendingIphoneNotify = false;
        WMIphoneNotify();
    }
    PhotoGridTransferEnded();
}

void TZozoDodiFrm::WMDeviceChange(quint32 event, quint32 deviceType, quint32 unitMask) {
    if (DeferWhilePhotoPageBuilds([this, event, deviceType, unitMask] { WMDeviceChange(event, deviceType, unitMask); }))
        return;
    if (FDeviceKind == dkHandheld)
        return;
    if (event == DBT_DEVICEARRIVAL && FWaitingDevice) {
        if (deviceType != DBT_DEVTYP_VOLUME)
            return;
        // The databases a transfer reads stay in place until it has ended.
        if (TransferThreadAlive()) {
            FPendingArrival = true;
            FPendingArrivalMask = unitMask;
            return;
        }
        ReadLb->show();
        ProcessPendingEvents();
        if (LoadDevice(false, UnitMaskToDriveLetter(unitMask))) {
            FDeviceKind = dkIpod;
            EnableControls(true);
            ErrPnl->hide();
        } else {
            FDeviceKind = dkNone;
            EnableControls(false);
            ErrPnl->show();
            ErrPnl->raise();
        }
        ReadLb->hide();
    } else if (event == DBT_DEVICEREMOVECOMPLETE && FDeviceLoaded && deviceType == DBT_DEVTYP_VOLUME) {
        const char letter = UnitMaskToDriveLetter(unitMask);
        if (FIpod && FIpod->Root.contains(letter)) {
            FIpodPresent = false;
            FDeviceLoaded = false;
            ConnectionLost();
        }
    }
}

void TZozoDodiFrm::WMIphoneNotify() {
    if (DeferWhilePhotoPageBuilds([this] { WMIphoneNotify(); }))
        return;
    if (FDeviceKind == dkIpod)
        return;
    // Several handhelds may come and go: only the loaded one's departure is news, told once.
    const handheld::TIphoneMgr link = handheld::IphoneState();
    const bool failedConnect = link.FailedArrival > FArrivalSeen;
    FArrivalSeen = link.Arrival;
    if (FHandheldLink && !handheld::DevicePresent(FHandheldLink)) {
        FHandheldLink = {};
        HandheldLost();
    }
    const handheld::TDeviceLink ready = handheld::ReadyDevice();
    if (ready && ready.Arrival != FHandheldLink.Arrival) {
        // What a transfer reads stays in place and on its device until the transfer has ended.
        if (TransferThreadAlive()) {
            FPendingIphoneNotify = true;
            return;
        }
        ClearTrackList();
        ClearTree();
        ZeroTotals();
        FHandheldLink = ready;
        FDeviceKind = dkHandheld;
        FConnectionLost = false;
        ReadLb->show();
        ProcessPendingEvents();
        ErrPnl->hide();
        ReadLb->hide();
        EnableControls(true);
        LoadHandheld();
    } else if (failedConnect && !FHandheldLink) {
        HandheldLost();
    }
}

void TZozoDodiFrm::HandheldLost() {
    ClearTrackList();
    ClearTree();
    ZeroTotals();
    NotePgc->setCurrentWidget(ErrTab);
    ErrPnl->show();
    ErrPnl->raise();
    ConnectionLost();
}

void TZozoDodiFrm::ShowNotice(const QString* title, const QString* text, bool showDiskLink) {
    if (title)
        ErrLb->setText(Shown(*title));
    if (text)
        DesLb->setText(Shown(*text));
    DiskLink->setVisible(showDiskLink);
    FitNoticePanel();
}

void TZozoDodiFrm::ConnectionLost() {
    // Whatever now lies where the device was is no longer what its database describes.
    FConnectionLost = true;
    EnableControls(false);
    if (NotePgc->currentWidget() == SetTab) {
        NotePgc->setCurrentWidget(ErrTab);
        ErrPnl->hide();
    }
    StatusLb->setText(QStringLiteral("Connection Lost"));
    FThumbFileName.clear();
    FDeviceKind = dkNone;
    ArtworkLoaded = false;
    StopPreview(true);
    ShowLostConnection();
}

void TZozoDodiFrm::ShowLostConnection() {
    const MsgResult r = ShowMessageBox(
        this, MsgKind::Warning,
        QStringLiteral("Lost connection to the iPod device.\rThe iPod has been ejected or the connection is broken.\r"
                       "The iPod needs to be connected with computer during the whole transfer.\r\r"
                       "Click Yes to open the help manual, or click Cancel to close this message."),
        MsgButtons::YesCancel);
    if (r == MsgResult::Yes)
        OpenHelpTopic(QStringLiteral("::/ej.html"));
}

void TZozoDodiFrm::OpenHelpTopic(const QString& topic) {
    platform::OpenHelp(topic);
}

// Without a working xdg-open a link would do nothing at all: the user is told where the page or
// the folder is, to open it by hand.
void TZozoDodiFrm::ShowOpenFailed(const QUrl& url) {
    if (!url.isValid() || url.isEmpty()) {
        ShowMessageBox(this, MsgKind::Error,
                       QStringLiteral("The help page could not be found. Install Marrowgate again."), MsgButtons::Ok);
        return;
    }
    const QString where = url.isLocalFile() ? url.toLocalFile() : url.toString();
    const bool folder = url.isLocalFile() && QFileInfo(where).isDir();
    ShowMessageBox(this, MsgKind::Warning,
                   (folder ? QStringLiteral("No program could open the folder. Open it in your file manager:\r\r")
                           : QStringLiteral("No program could open the page. Open it in your web browser:\r\r")) +
                       where,
                   MsgButtons::Ok);
}

void TZozoDodiFrm::DiskLinkClick() {
    OpenHelpTopic(QStringLiteral("::/disk.html"));
}

void TZozoDodiFrm::IphoneErrLbClick() {
    OpenHelpTopic(QStringLiteral("::/ts.html"));
}

void TZozoDodiFrm::HelpBtnClick() {
    OpenHelpTopic(QString());
}

void TZozoDodiFrm::ErlbClick() {
    platform::OpenPage(platform::ProductPage());
}

void TZozoDodiFrm::UnlockBtnClick() {
    if (FIpod)
        FIpod->RemoveLock();
    close();
}

void TZozoDodiFrm::ExitBtnClick() {
    close();
}

void TZozoDodiFrm::EjectDrive(const QByteArray& root) {
    if (platform::GetDriveType(root) != platform::DriveRemovable)
        return;
    bool dismounted = false;
    bool ejected = false;
    try {
        platform::VolumeEject volume;
        if (volume.Open(root).Ok) {
            // The unmount stands for the volume's lock and dismount: up to five tries, each
            // failed one followed by half a second's wait.
            for (int attempt = 0; attempt < 5; ++attempt) {
                if (volume.Unmount().Ok) {
                    dismounted = true;
                    break;
                }
                QThread::msleep(500);
            }
            if (dismounted)
                ejected = volume.Eject().Ok;
        }
        if (!dismounted && !ejected)
            ShowMessageBox(this, MsgKind::Error,
                           QStringLiteral("Failure ejecting the iPod.\rThe iPod is using by other application."),
                           MsgButtons::Ok);
    } catch (const std::exception& e) {
        ShowMessageBox(this, MsgKind::Error,
                       QStringLiteral("Failure ejecting the iPod.\rError: ") + QString::fromUtf8(e.what()) +
                           QStringLiteral("\rPlease eject your iPod manually from iTunes."),
                       MsgButtons::Ok);
    }
}

QByteArray TZozoDodiFrm::GetPreviewTempName() const {
    QTemporaryFile f(QDir::tempPath() + QStringLiteral("/~XXXXXX.tmp"));
    f.setAutoRemove(false);
    if (!f.open())
        return QDir::tempPath().toUtf8() + "/~vrqs1.tmp";
    const QByteArray name = f.fileName().toUtf8();
    f.close();
    return name;
}
