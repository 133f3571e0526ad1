// The transfer set-up of the main window: the Copy button's output page, the Start button's
// tests and hand-over, the transfer panel with its Cancel/Done button, and the window's side of
// the copy thread's reports.
#include "app/ZozoDodiMain.h"

#include "transfer/CopyThread.h"
#include "widgets/PicBtn.h"
#include "app/TrackListModel.h"
#include "device/ArtworkDb.h"
#include "device/IPod.h"
#include "device/PhotoDb.h"
#include "device/TrackDb.h"
#include "device/Format.h"
#include "handheld/Iphone.h"
#include "platform/Desktop.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStorageInfo>
#include <QTreeView>
#include <QTreeWidget>
#include <exception>

std::function<QString(const QString& caption)> TZozoDodiFrm::FolderPickerHook;

// The transfer panel as the copy thread sees it; every call arrives on the window's thread.
class TWindowCopyDisplay : public QObject, public app::TCopyDisplay {
public:
    explicit TWindowCopyDisplay(TZozoDodiFrm* window) : QObject(window), W(window) {}
    QObject* Context() override { return this; }
    void SetStageTitle(const QString& text) override { W->Tilb->setText(text); }
    void SetItemText(const QString& text) override { W->Namelb->setText(text); }
    void SetProgressVisible(bool visible) override { W->CopyPrgs->setVisible(visible); }
    void SetProgress(int position, int maximum) override {
        W->CopyPrgs->setMaximum(std::max(maximum, 0));
        W->CopyPrgs->setValue(position);
    }
    void StepProgress() override {
        if (W->CopyPrgs->value() < W->CopyPrgs->maximum())
            W->CopyPrgs->setValue(W->CopyPrgs->value() + 1);
    }
    void FillProgress() override { W->CopyPrgs->setValue(W->CopyPrgs->maximum()); }
    void ShowDoneButton() override {
        W->CancelBtn->SetCaption(QStringLiteral("Done"));
        const QImage done(QStringLiteral(":/btnd"));
        if (!done.isNull())
            W->CancelBtn->SetBitmap(&done);
        W->CancelBtn->update();
        W->DetailLb->show();
    }
    void StopBusyAnimation() override { W->StopBusyAnimation(); }
    void CopyThreadEnded(app::TCopyThread* thread) override {
        if (W->CopyThread == thread)
            W->CopyThread = nullptr;
        // A cancelled transfer that was still ending has now ended, and its log with it.
        if (!W->FCopying) {
            app::DetailLog.Clear();
            W->UpdateSelectionStatus();
        }
        W->TransferEnded();
    }
    int CheckedPhotoCount() const override { return W->FCheckedPhotos; }

private:
    TZozoDodiFrm* W;
};

namespace {

QString WithSlash(const QString& folder) {
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

// The nearest existing folder of a path (the path itself when it is one).
QString NearestFolder(const QString& folder) {
    QString path = QFileInfo(folder).absoluteFilePath();
    while (!path.isEmpty() && !QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            break;
        path = parent;
    }
    return path;
}

// A folder about to be made is measured on the file system that will hold it.
QStorageInfo StorageOf(const QString& folder) {
    return QStorageInfo(NearestFolder(folder));
}

bool GroupShown(QWidget* w) {
    return !w->isHidden();
}

} // namespace

void TZozoDodiFrm::ConnectTransferControls() {
    FCopyDisplay = new TWindowCopyDisplay(this);
    connect(ExportBtn, &TPicButton::OnClick, this, [this] { ExportBtnClick(); });
    connect(ExpBtn, &QPushButton::clicked, this, [this] { ExpBtnClick(); });
    connect(NoIpodBtn, &QPushButton::clicked, this, [this] { NoIpodBtnClick(); });
    connect(BrowseBtn, &QPushButton::clicked, this, [this] { BrowseBtnClick(); });
    connect(Browse2Btn, &QPushButton::clicked, this, [this] { Browse2BtnClick(); });
    connect(CancelBtn, &TPicButton::OnClick, this, [this] { CancelBtnClick(); });
}

void TZozoDodiFrm::ExportBtnClick() {
    PrepareExport();
}

bool TZozoDodiFrm::PrepareExport() {
    if (FCopying)
        return false;
    // A cancelled transfer that is still ending holds the databases and the work buffers.
    if (TransferThreadAlive()) {
        ShowMessageBox(this, MsgKind::Information,
                       QStringLiteral("The last transfer is still ending. Please try again in a moment."),
                       MsgButtons::Ok);
        return false;
    }
    if (MusicModel->Count() == 0 && !PhotoGridHasTiles()) {
        ShowMessageBox(this, MsgKind::Warning, QStringLiteral("Nothing to export."), MsgButtons::Ok);
        return false;
    }
    if (FCheckedCount == 0 && FCheckedPhotos == 0) {
        ShowMessageBox(this, MsgKind::Information, QStringLiteral("No music or photo has been selected to transfer."),
                       MsgButtons::Ok);
        return false;
    }
    if (PreviewAvailable())
        StopPreview(true);
    NotePgc->setCurrentWidget(SetTab);
    EnableControls(false);

    const bool music = FCheckedCount >= 1;
    for (QWidget* w : std::initializer_list<QWidget*>{Out1lb, OutEdit, BrowseBtn, Out2lb, FormatLst, SyncCb, ArtCb})
        w->setVisible(music);
    const bool photos = FCheckedPhotos >= 1;
    for (QWidget* w : std::initializer_list<QWidget*>{OutPiclb, PicOutEdit, Browse2Btn})
        w->setVisible(photos);
    FPhotoSize = 0;
    if (photos && PhotoDb) {
        const int64_t n = FCheckedPhotos;
        if (PhotoDb->HasFullRes)
            FPhotoSize = n * 3145728;
        else if (PhotoDb->Large.Id == device::FormatJpegData)
            FPhotoSize = n * PhotoDb->Large.Size;
        else
            FPhotoSize = n * PhotoDb->Large.Size / 8;
    }
    const QString a = QString::fromUtf8(device::FormatSizeText(int64_t(FCheckedSize)));
    const QString b = QString::fromUtf8(device::FormatSizeText(FPhotoSize));
    const QString t = QString::fromUtf8(device::FormatSizeText(int64_t(FCheckedSize) + FPhotoSize));
    QString text;
    if (music && photos)
        text = QString::number(FCheckedCount) + QStringLiteral(" songs and videos, approx ") + a + u'\n' +
               QString::number(FCheckedPhotos) + QStringLiteral(" photos, approx ") + b;
    else if (music)
        text = QString::number(FCheckedCount) + QStringLiteral(" songs and videos, approx ") + a +
               QStringLiteral("\n* No photo");
    else
        text = QString::number(FCheckedPhotos) + QStringLiteral(" photos, approx ") + b +
               QStringLiteral("\n* No song or video");
    Trlb->setText(text + QStringLiteral("\n\nTotal: ") + t);
    FitNoticePanel();
    ErrPnl->show();
    ErrPnl->raise();
    return true;
}

void TZozoDodiFrm::NoIpodBtnClick() {
    ErrPnl->hide();
    EnableControls(true);
}

namespace {

// The picker opens where the field points, or as near to it as exists, so that it never
// starts in a folder that is not there.
QString PickFolder(QWidget* parent, const QString& caption, const QString& field) {
    if (TZozoDodiFrm::FolderPickerHook)
        return TZozoDodiFrm::FolderPickerHook(caption);
    const QString folder = platform::TrimBlanks(field);
    const QString start = folder.isEmpty() ? QDir::homePath() : NearestFolder(folder);
    return QFileDialog::getExistingDirectory(parent, caption, start);
}

} // namespace

void TZozoDodiFrm::BrowseBtnClick() {
    const QString folder = PickFolder(this, QStringLiteral("Select folder to save music files"), OutEdit->text());
    if (!folder.isEmpty())
        OutEdit->setText(folder);
}

void TZozoDodiFrm::Browse2BtnClick() {
    const QString folder = PickFolder(this, QStringLiteral("Select folder to save photos"), PicOutEdit->text());
    if (!folder.isEmpty())
        PicOutEdit->setText(folder);
}

bool TZozoDodiFrm::IsFolderEmpty(const QString& Folder) {
    if (Folder.isEmpty() || !QFileInfo(Folder).isDir())
        return true;
    // Every entry counts, hidden ones included (a left-over temporary file as well).
    return QDir(Folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

void TZozoDodiFrm::GetOutputFolderStates(bool& MusicHadFiles, bool& PhotoHadFiles) {
    MusicHadFiles = !IsFolderEmpty(OutEdit->text());
    PhotoHadFiles = !IsFolderEmpty(PicOutEdit->text());
}

bool TZozoDodiFrm::CheckFreeDiskSpace() {
    const bool testMusic = GroupShown(OutEdit) && !OutEdit->text().isEmpty();
    const bool testPhotos = GroupShown(PicOutEdit) && !PicOutEdit->text().isEmpty();
    const QStorageInfo music = testMusic ? StorageOf(OutEdit->text()) : QStorageInfo();
    const QStorageInfo photo = testPhotos ? StorageOf(PicOutEdit->text()) : QStorageInfo();
    auto freeBytes = [](const QStorageInfo& s) { return s.isValid() ? qint64(s.bytesAvailable()) : qint64(-1); };
    auto enough = [&](const QStorageInfo& s, int64_t size) { return freeBytes(s) > size; };
    auto warn = [this](const QStorageInfo& s, const char* tail) {
        ShowMessageBox(this, MsgKind::Warning, QStringLiteral("Drive ") + s.rootPath() + QLatin1String(tail),
                       MsgButtons::Ok);
        return false;
    };
    const int64_t musicSize = int64_t(FCheckedSize);
    if (testMusic && testPhotos && music.isValid() && photo.isValid() && music.device() == photo.device() &&
        music.rootPath() == photo.rootPath()) {
        if (enough(music, musicSize + FPhotoSize))
            return true;
        return warn(music, " hasn't enough free disk space avaliable.");
    }
    if (testMusic && !enough(music, musicSize))
        return warn(music, " hasn't enough free disk space to backup the music/videos.");
    if (testPhotos && !enough(photo, FPhotoSize))
        return warn(photo, " hasn't enough free disk space to backup the photos.");
    return true;
}

void TZozoDodiFrm::ExpBtnClick() {
    if (FCopying || TransferThreadAlive())
        return;
    // The same blanks as at start-up: characters up to 32, so a folder may end in any other.
    OutEdit->setText(platform::TrimBlanks(OutEdit->text()));
    PicOutEdit->setText(platform::TrimBlanks(PicOutEdit->text()));
    bool musicHad = false, photoHad = false;
    GetOutputFolderStates(musicHad, photoHad);

    const bool music = GroupShown(OutEdit);
    const bool photos = GroupShown(PicOutEdit);
    const bool listOnly = FMusicListMode == mlListOnly;
    // The music list goes into the music folder also when only photos are ticked.
    if (music || listOnly) {
        if (OutEdit->text().isEmpty()) {
            ShowMessageBox(this, MsgKind::Information,
                           QStringLiteral("Please choose a folder to save the music files."), MsgButtons::Ok);
            BrowseBtnClick();
            // Still no folder: the page stays up for the user to choose one.
            if (platform::IsBlank(OutEdit->text()))
                return;
        }
        OutEdit->setText(WithSlash(OutEdit->text()));
        if (!QDir().mkpath(OutEdit->text())) {
            ShowMessageBox(this, MsgKind::Error, QStringLiteral("Can not create the folder to save the music."),
                           MsgButtons::Ok);
            return;
        }
    }
    if (photos) {
        if (PicOutEdit->text().isEmpty()) {
            ShowMessageBox(this, MsgKind::Information, QStringLiteral("Please choose a folder to save the photos."),
                           MsgButtons::Ok);
            Browse2BtnClick();
            if (platform::IsBlank(PicOutEdit->text()))
                return;
        }
        PicOutEdit->setText(WithSlash(PicOutEdit->text()));
        if (!QDir().mkpath(PicOutEdit->text())) {
            ShowMessageBox(this, MsgKind::Error, QStringLiteral("Can not create the folder to save the photos."),
                           MsgButtons::Ok);
            return;
        }
    }
    const bool copyArt = music && ArtCb->isEnabled() && ArtCb->isChecked();
    // The artwork bitmaps go to a private folder of the transfer, not into the music folder.
    if (copyArt)
        MarkArtworkForCopy();
    if (!listOnly) {
        if (!CheckFreeDiskSpace())
            return;
        if (SyncCb->isChecked() && !IsITunesRunning()) {
            try {
                if (FDeviceKind == dkIpod && FIpod)
                    FIpod->ClearPrefsFlag();
                else if (FDeviceKind == dkHandheld) {
                    const handheld::TUseDevice onDevice(FHandheldLink);
                    handheld::ClearDevicePrefsFlag();
                }
            } catch (const std::exception& e) {
                ShowMessageBox(this, MsgKind::Error, QString::fromUtf8(e.what()), MsgButtons::Ok);
                return;
            }
        }
        if (FDeviceKind == dkIpod && (!FIpod || !platform::DirectoryExists(QString::fromUtf8(FIpod->Root)))) {
            ShowLostConnection();
            return;
        }
    } else {
        ShowMessageBox(
            this, MsgKind::Information,
            QStringLiteral("You have selected \"Generate the music list only\" mode.\rClick OK to continue."),
            MsgButtons::Ok);
    }
    // The device may have gone while a box or the folder picker was up.
    if (FConnectionLost)
        return;

    CancelBtn->SetCaption(QStringLiteral("Cancel"));
    const QImage cancel(QStringLiteral(":/btnc"));
    if (!cancel.isNull())
        CancelBtn->SetBitmap(&cancel);
    CancelBtn->update();
    DetailLb->hide();

    CopyPrgs->setMaximum(FCheckedCount >= 1 ? FCheckedCount : FCheckedPhotos);
    CopyPrgs->setValue(0);
    CopyPrgs->setVisible(true);
    CopyPrgs->setStyleSheet(QStringLiteral("QProgressBar { background: #C0C0C0; border: none; }"
                                           "QProgressBar::chunk { background: #2479D7; }"));
    EnableControls(false);
    FCopying = true;

    if (TrackDb) {
        // Only the track copy and the music list read the folder, and for both it got its
        // closing "/" above.
        TrackDb->OutputFolder = OutEdit->text();
        TrackDb->NamingScheme = FormatLst->currentIndex();
    }
    if (PhotoDb) {
        PhotoDb->OutputFolder = PicOutEdit->text();
        PhotoDb->OnProgress = [this] { OnCopyProgress(); };
    }
    if (ArtworkDb)
        ArtworkDb->OnProgress = [this] { OnArtCopyProgress(); };

    CopyPnl->move((width() - CopyPnl->width()) / 2, (height() - CopyPnl->height()) / 2);
    ErrPnl->hide();
    NotePgc->setCurrentWidget(ErrTab);
    FPhotosDone = 0;
    FArtDone = 0;
    FCopyDisplay->ResetProgressCounts();
    if (!listOnly)
        StartBusyAnimation();
    CopyPnl->show();
    CopyPnl->raise();

    CopyThread = new app::TCopyThread({FCheckedCount, FCheckedPhotos, FArtCount, FDeviceKind == dkHandheld,
                                       SyncCb->isChecked(), listOnly, copyArt, musicHad, photoHad},
                                      {TrackDb.get(), PhotoDb.get(), ArtworkDb.get(), FCopyDisplay, nullptr,
                                       FDeviceKind == dkHandheld ? FHandheldLink : handheld::TDeviceLink()});
}

void TZozoDodiFrm::StartBusyAnimation() {
    if (!FBusyMovie)
        FBusyMovie = new QMovie(QStringLiteral(":/work"), QByteArray(), this);
    WorkImg->setMovie(FBusyMovie);
    FBusyMovie->start();
}

void TZozoDodiFrm::StopBusyAnimation() {
    if (FBusyMovie)
        FBusyMovie->stop();
    WorkImg->clear();
}

void TZozoDodiFrm::CancelBtnClick() {
    // A thread that is still running is asked to stop; it still makes its final report.
    StopCopyThread();
    const bool ending = TransferThreadAlive();
    FCopying = false;
    CopyPnl->hide();
    EnableControls(true);
    if (GroupShown(OutEdit) && !OutEdit->text().isEmpty())
        platform::OpenFolder(OutEdit->text());
    if (GroupShown(PicOutEdit) && !PicOutEdit->text().isEmpty())
        platform::OpenFolder(PicOutEdit->text());
    // A thread still ending still writes: its log is cleared once it has ended.
    if (!ending)
        app::DetailLog.Clear();
    if (ending)
        StatusLb->setText(QStringLiteral("The transfer is ending, please wait ..."));
}

void TZozoDodiFrm::OnCopyProgress() {
    FCopyDisplay->OnCopyProgress();
    FPhotosDone = FCopyDisplay->PhotosDone();
}

void TZozoDodiFrm::OnArtCopyProgress() {
    FCopyDisplay->OnArtCopyProgress();
    FArtDone = FCopyDisplay->ArtDone();
}

// ---- transfer set-up: the window-wide switch and the terminate request ----

void TZozoDodiFrm::EnableControls(bool enabled) {
    // After a lost connection nothing of the list may read the device until one is loaded again.
    enabled = enabled && !FConnectionLost;
    CheckBtn->SetEnabled(enabled);
    ExportBtn->SetEnabled(enabled);
    PlayLstList->setEnabled(enabled);
    MusicList->setEnabled(enabled);
    SrEdit->setEnabled(enabled);
    MinBtn->SetEnabled(enabled);
    PhotoBox->setEnabled(enabled);
    PlayBtn->SetEnabled(enabled);
    PrvSongBtn->SetEnabled(enabled);
    NxtSongBtn->SetEnabled(enabled);
    IpodLb->setEnabled(enabled);
    PrvBtn->SetEnabled(enabled);
    NxtBtn->SetEnabled(enabled);
}

void TZozoDodiFrm::StopCopyThread() {
    if (FCopying && CopyThread)
        CopyThread->requestInterruption();
}
