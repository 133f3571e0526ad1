#pragma once
// The main window. Its methods are spread over several files by concern:
//   ZozoDodiMain.cpp     construction and layout of the regions
//   ZozoDodiStartup.cpp  start-up, settings, shut-down, window chrome
//   ZozoDodiDevice.cpp   device loads, device events, notices, eject
//   ZozoDodiTracks.cpp   playlist tree, track list, totals, album-art panel
//   ZozoDodiSearch.cpp   search box, check menu, bulk check operations
// The transfer set-up and the photo grid add their own files and sections below.
#include <QByteArray>
#include <QImage>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "handheld/Iphone.h"
#include "platform/PostMessage.h"
#include "preview/PodPlayer.h"
#include "widgets/PhotoControl.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSplitter;
class QStackedWidget;
class QThread;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace platform {
class VolumeWatcher;
}
namespace device {
class TiTunesDB;
class TPhotoDb;
class TArtworkDb;
class TIPod;
class TTrackItem;
} // namespace device

class TPicButton;
class TPhotoControl;
class TrackListModel;
class TrackListHeader;

// Message boxes of the window. Every box goes through MessageBoxHook when it is set, so
// that tests can answer them; otherwise a modal QMessageBox is shown.
enum class MsgKind { Warning, Error, Information, Confirmation };
enum class MsgButtons { Ok, YesNo, YesCancel };
enum class MsgResult { Ok, Yes, No, Cancel };
using MessageBoxFn = std::function<MsgResult(MsgKind, const QString& text, MsgButtons)>;
extern MessageBoxFn MessageBoxHook;
MsgResult ShowMessageBox(QWidget* parent, MsgKind kind, const QString& text, MsgButtons buttons);
// The program's texts use a lone CR as their line break; labels and boxes break on LF.
QString Shown(QString text);

// A top-level iTunes window never exists on Linux.
bool IsITunesRunning();
// The application's name and icon, set before its first window. It has no display name: the
// desktop would append that to the caption of every window.
void SetUpApplication();

class TZozoDodiFrm : public QWidget {
    Q_OBJECT
public:
    // Posted event numbers, as the handheld link and the player post them.
    static constexpr int WM_DEVICECHANGE = 0x219;
    static constexpr int WM_IPHONE_NOTIFY = int(handheld::WM_IPHONE_NOTIFY);
    static constexpr int WM_PREVIEW_END = 0x86C;
    static constexpr quint32 DBT_DEVICEARRIVAL = 0x8000;
    static constexpr quint32 DBT_DEVICEREMOVECOMPLETE = 0x8004;
    static constexpr quint32 DBT_DEVTYP_VOLUME = 2;

    explicit TZozoDodiFrm(QWidget* parent = nullptr);
    ~TZozoDodiFrm() override;

    // The databases of the loaded device; each load frees and rebuilds them. The transfer
    // thread reads them, so nothing replaces them while it is alive.
    std::unique_ptr<device::TiTunesDB> TrackDb;
    std::unique_ptr<device::TPhotoDb> PhotoDb;
    std::unique_ptr<device::TArtworkDb> ArtworkDb;
    bool ArtworkLoaded = false;
    // Sets ArtIndex of every track with art from the loaded artwork database.
    void LinkTrackArtwork();

    // Whether the transfer writes the music list only or copies the files too.
    enum TMusicListMode { mlCopyFiles = 0, mlListOnly = 1 };
    TMusicListMode MusicListMode() const { return FMusicListMode; }
    void SetMusicListMode(TMusicListMode mode) { FMusicListMode = mode; }

    // ---- start-up, settings, shut-down, chrome (ZozoDodiStartup.cpp) ----
    void FormCreate();
    void LoadSettings();
    void SaveSettings();
    QString GetDefaultMusicFolder() const;
    QString GetDefaultPhotoFolder() const;
    bool FormCloseQuery();
    void FormClose();
    void CloseBtnClick();
    void MinBtnClick();
    void FormResize();
    static QRegion RoundedWindowRegion(int width, int height);

    // ---- device load and device events (ZozoDodiDevice.cpp) ----
    bool LoadDevice(bool scanAll, char letter);
    // One database of the device at root, loaded and shown; a failure is reported in a box.
    bool LoadTrackDb(const QByteArray& root, bool handheld);
    bool LoadPhotoDb(const QByteArray& root, bool handheld);
    void LoadArtworkDb(const QByteArray& root, bool handheld);
    void LoadHandheld();
    void StartHandheldLink();
    void WMDeviceChange(quint32 event, quint32 deviceType, quint32 unitMask);
    void WMIphoneNotify();
    static char UnitMaskToDriveLetter(quint32 mask);
    void ShowNotice(const QString* title, const QString* text, bool showDiskLink);
    // Grows the notice panel from its designed size where its content needs more room.
    void FitNoticePanel();
    void SizeNoticePanel();
    // The device went away: the state of no device, then the lost-connection box.
    void ConnectionLost();
    // The loaded handheld went away, or a connect failed with none loaded.
    void HandheldLost();
    void ShowLostConnection();
    void UnlockBtnClick();
    void ExitBtnClick();
    void DiskLinkClick();
    void IphoneErrLbClick();
    void ErlbClick();
    void HttpLbOnMouseEnter(QLabel* label);
    void HttpLbOnMouseLeave(QLabel* label);
    void HelpBtnClick();
    // The About and detail windows (IpodAboutFrm.cpp, IpodDetailFrm.cpp).
    void AboutLbClick();
    void DetailLbClick();
    void EjectDrive(const QByteArray& root);
    QByteArray GetPreviewTempName() const;
    void OpenHelpTopic(const QString& topic);
    void ShowOpenFailed(const QUrl& url);
    // A transfer thread is alive from its creation until its final report.
    bool TransferThreadAlive() const;
    // Called by the transfer's final report once CopyThread is cleared: runs a device load
    // that arrived while the thread was alive.
    void TransferEnded();

    // ---- playlist tree and track list (ZozoDodiTracks.cpp) ----
    void BuildPlaylistTree();
    QString FillTrackList(int view);
    void RefreshTrackList(int view);
    void UpdateSelectionStatus();
    // "<lead><count> songs, <time>, <size>": the status line of a list or of the ticks.
    static QString StatusText(const char* lead, int count, uint32_t length, uint64_t size);
    // Changes one track's mark and the check totals together; false when it had that mark.
    bool MarkTrack(device::TTrackItem& t, bool checked);
    void MarkArtworkForCopy();
    void ShowTrackArtwork(int artIndex);
    void PlayLstListChange(QTreeWidgetItem* node);
    void MusicListHeaderClick(int column, Qt::MouseButton button);
    void MusicListChecked(int row, bool checked);
    void MusicListChange(int row);
    void ArtBtnPnlClick();
    int AbsoluteIndex(const QTreeWidgetItem* node) const;
    // What a node of the left tree stands for; its icon is the picture of that kind.
    enum TNodeKind {
        nkNone = -1,
        nkPlaylist = 0,
        nkAllMusic = 1,
        nkAllVideos = 2,
        nkMusicRoot = 3,
        nkPhotoAlbum = 4,
        nkPhotoRoot = 5,
    };
    static TNodeKind NodeKindOf(const QTreeWidgetItem* node);
    static bool IsPhotoNode(const QTreeWidgetItem* node);
    // The index of the node's icon picture.
    int ImageIndexOf(const QTreeWidgetItem* node) const;
    static QTreeWidgetItem* MakeTreeNode(const QString& text, TNodeKind kind);
    void ClearTree();

    // ---- search and selection (ZozoDodiSearch.cpp) ----
    // Returns true when the key is swallowed.
    // The key codes the search field reacts to, besides the characters it is given.
    static constexpr int VK_BACK = 8;
    static constexpr int VK_RETURN = 13;
    bool SrEditKeyPress(int key);
    void SearchTracks(const QString& text);
    void ClearImgClick();
    void CheckBtnClick();
    void PrepareCheckMenu(bool* showMenu);
    void CheckMnuClick();
    void UncheckMnuClick();
    void CheckSMnuClick();
    void UncheckSMnuClick();
    void InvertMnuClick();
    void CheckAllTracks();
    void UncheckAllTracks();
    void CheckSelectedTracks();
    void UncheckSelectedTracks();
    void InvertTrackChecks();

    // ---- transfer set-up ----
    void EnableControls(bool enabled);
    void StopCopyThread();
    // The rest of the transfer set-up (ZozoDodiTransfer.cpp). The transfer log is
    // app::DetailLog (app/CopyThread.h).
    void ConnectTransferControls();
    void ExportBtnClick();
    bool PrepareExport();
    void ExpBtnClick();
    void NoIpodBtnClick();
    void BrowseBtnClick();
    void Browse2BtnClick();
    bool CheckFreeDiskSpace();
    void GetOutputFolderStates(bool& MusicHadFiles, bool& PhotoHadFiles);
    static bool IsFolderEmpty(const QString& Folder);
    void StartBusyAnimation();
    void StopBusyAnimation();
    void CancelBtnClick();
    // Progress handlers of the photo and artwork exporters; called on the copy thread.
    void OnCopyProgress();
    void OnArtCopyProgress();
    // The folder picker; tests answer it through this hook (caption in, folder or "" out).
    static std::function<QString(const QString& caption)> FolderPickerHook;
    // The transfer panel as the copy thread sees it (a child object of the window).
    class TWindowCopyDisplay* FCopyDisplay = nullptr;
    class QMovie* FBusyMovie = nullptr;

    // ---- track preview (ZozoDodiPreview.cpp) ----
    void CreatePlayer();
    // false only when the user chose to keep the music playing.
    bool StopPreview(bool force);
    bool PreviewAvailable() const;
    // A local file the player can open for the track; empty when there is none.
    QByteArray GetPreviewFile(int32_t index);
    void PlayTrackNode(const QModelIndex& node);
    void PlayOrResume(bool restart);
    void PlayNeighbourTrack(bool forward);
    void WMPlayEnd();
    void PlayBtnClick();
    void PauseBtnClick();
    void NxtSongBtnClick();
    void PrvSongBtnClick();
    void MusicListDblClick();
    // The tree is about to show another node; false refuses the change.
    bool PlayLstListChanging();
    // Puts the tree back on `previous` after a refused change.
    void RefusePlayLstListChange(QTreeWidgetItem* previous);
    // Called after every refill of the list.
    void RelinkPlayingNode();

    // ---- photo grid (ZozoDodiPhotos.cpp) ----
    // Calls from the device loads, the tree and the check menu.
    void PhotoGridAfterLoad(); // tile geometry, album nodes, page count
    void PhotoGridShowAlbum(int album);
    // What a check-menu item does to the boxes it covers.
    enum TCheckMode { cmCheckAll = 0, cmInvert = 1, cmClearAll = 2 };
    void PhotoGridSetChecks(TCheckMode mode);
    bool PhotoGridHasTiles() const;
    void SetUpPhotoBox(); // PhotoBox's content and the page buttons, once the panel exists
    void BuildPhotoAlbumTree();
    void ShowPhotoAlbum(int Album);
    int ShowPhotoPage(int Album, int Page);
    int BuildPhotoPage(const QByteArray& Name, int Album, int First);
    void ClearPhotoBox();
    // The page shown and the number of pages of the album; the page bar shows both.
    int FPhotoPage = 1;
    int FPhotoPages = 1;
    void SetPhotoPage(int page);
    void ResetPageBar(int pages);
    void NxtBtnClick();
    void PrvBtnClick();
    void PhotoClick(TPhotoControl* Sender);
    void SetPhotoChecks(TCheckMode Mode);
    void UpdatePhotoSelectionCount();
    // 0 for the photo root, k for its k-th album node.
    int SelectedPhotoAlbum() const;
    // The tiles of the page shown, in the order they were made.
    std::vector<TPhotoControl*> PhotoTiles() const;
    // The tile geometry of a small thumbnail format, and that of the loaded device.
    static TThumbTile ThumbTileFor(int32_t smallFormatId);
    TThumbTile Tile;
    // A page build lets the window's events run after each tile. A device message that would
    // reload the databases meanwhile is kept here: the build ends at its next tile, closes its
    // container, and the message runs from the event loop after it. True when kept.
    bool DeferWhilePhotoPageBuilds(std::function<void()> handler);
    bool PhotoPageBuilding() const { return FPhotoPageBuilding; }
    void RunDeferredDeviceMessages();
    // Builds the page that was asked for while a transfer thread was still ending.
    void PhotoGridTransferEnded();
    bool FPhotoPagePending = false;
    QWidget* PhotoPage = nullptr; // PhotoBox's content, the owner of the tiles
    bool FPhotoPageBuilding = false;
    bool FPhotoPageStop = false;
    std::vector<std::function<void()>> FDeferredDeviceMessages;

    // ---- state ----
    // What is loaded: nothing, an iPod in disk mode, or an iPhone / iPod touch.
    enum TDeviceKind { dkNone = 0, dkIpod = 1, dkHandheld = 2 };
    TDeviceKind FDeviceKind = dkNone;
    QImage FHeaderBitmap;
    int32_t FCheckedCount = 0;
    int32_t FArtCount = 0;
    uint32_t FCheckedLength = 0;
    uint64_t FCheckedSize = 0;
    QString FViewStatus;
    bool FCopying = false;
    bool FIpodPresent = false;
    std::unique_ptr<device::TIPod> FIpod;
    bool FWaitingDevice = false;
    bool FDeviceLoaded = false;
    bool FSkipArtwork = false;
    uint32_t FPhotosDone = 0;
    uint32_t FArtDone = 0;
    int32_t FCheckedPhotos = 0;
    int64_t FPhotoSize = 0;
    QByteArray FThumbFileName;
    bool FPhotoGridReady = false;
    std::unique_ptr<preview::TBsPodPlayer> FPlayer; // none while the preview is unavailable
    QByteArray FPreviewTemp;
    int FPreviewFd = -1; // a disk-mode track opened for the player, until the player has it
    // Row of the previewed track (column 0); invalid when none. A persistent index follows
    // its row through a sort and becomes invalid when the list is refilled.
    QPersistentModelIndex FPlayingNode;

    // The transfer thread of the current transfer; valid until its final report clears it.
    QPointer<QThread> CopyThread;
    // A volume arrival (its unit mask) or a handheld notification that came in while a
    // transfer thread was alive; acted on in TransferEnded.
    bool FPendingArrival = false;
    quint32 FPendingArrivalMask = 0;
    bool FPendingIphoneNotify = false;
    // The handheld whose databases are loaded; every read of them goes to its device.
    handheld::TDeviceLink FHandheldLink;
    // The latest handheld arrival that the window has taken note of.
    quint64 FArrivalSeen = 0;
    // The loaded device went away: its list may stay on screen, but Copy and the preview stay
    // off, and the status line says why, until a device has been loaded again.
    bool FConnectionLost = false;
    // Track ids to their first track, built once per track-database load.
    std::unordered_map<uint32_t, int32_t> FTrackIdIndex;
    // The desktop's volume watcher posting volume arrivals and removals.
    platform::VolumeWatcher* FVolumeWatcher = nullptr;
    platform::WindowHandle FWindowHandle = 0;

    // ---- components, by region ----
    // top bar
    QWidget* TopPnl = nullptr;
    QLabel* SImg = nullptr;
    QLabel* TiImg = nullptr;
    QLabel* RImg = nullptr;
    QLabel* Caplb = nullptr;
    QLabel* CapShLb = nullptr;
    QLabel* AboutLb = nullptr;
    QLabel* Weblb = nullptr;
    TPicButton* PrvSongBtn = nullptr;
    TPicButton* PlayBtn = nullptr;
    TPicButton* PauseBtn = nullptr;
    TPicButton* NxtSongBtn = nullptr;
    TPicButton* CheckBtn = nullptr;
    TPicButton* ExportBtn = nullptr;
    TPicButton* HelpBtn = nullptr;
    TPicButton* MinBtn = nullptr;
    TPicButton* CloseBtn = nullptr;
    // left pane
    QSplitter* spl = nullptr;
    QWidget* LeftPnl = nullptr;
    QWidget* IpodPnl = nullptr;
    QLabel* IpodLb = nullptr;
    QTreeWidget* PlayLstList = nullptr;
    QWidget* ArtPnl = nullptr;
    QLabel* ArtImg = nullptr;
    QLabel* ArtPlaceholder = nullptr;
    QLabel* ArtBtnPnl = nullptr;
    // track panel
    QWidget* SongPnl = nullptr;
    QTreeView* MusicList = nullptr;
    TrackListModel* MusicModel = nullptr;
    TrackListHeader* MusicHeader = nullptr;
    // photo panel (the photo grid fills it)
    QWidget* PicPnl = nullptr;
    QWidget* PagePnl = nullptr;
    QLabel* MaxPage = nullptr;
    QLabel* SelectPage = nullptr;
    QLabel* Pgseplb = nullptr;
    TPicButton* PrvBtn = nullptr;
    TPicButton* NxtBtn = nullptr;
    QLabel* LoadLb = nullptr;
    QScrollArea* PhotoBox = nullptr;
    // bottom bar
    QWidget* LowPnl = nullptr;
    QLabel* LImg = nullptr;
    QLabel* BtImg = nullptr;
    QLabel* StatusLb = nullptr;
    QLineEdit* SrEdit = nullptr;
    QLabel* SrbgImg = nullptr;
    QLabel* ClearImg = nullptr;
    QLabel* ResizeImg = nullptr;
    QWidget* Lshp = nullptr;
    QWidget* Rshp = nullptr;
    // notice panel: ErrTab (device notices) and SetTab (output page)
    QWidget* ErrPnl = nullptr;
    QLabel* Erlb = nullptr;
    QLabel* WarImg = nullptr;
    QStackedWidget* NotePgc = nullptr;
    QWidget* ErrTab = nullptr;
    QLabel* ErrLb = nullptr;
    QLabel* Gdlb = nullptr;
    QLabel* DesLb = nullptr;
    QLabel* DiskLink = nullptr;
    QPushButton* UnlockBtn = nullptr;
    QPushButton* ExitBtn = nullptr;
    QLabel* IphoneErrLb = nullptr;
    QLabel* ReadLb = nullptr;
    QWidget* SetTab = nullptr;
    QLabel* OutTilb = nullptr;
    QLabel* Trlb = nullptr;
    QLabel* Out1lb = nullptr;
    QLineEdit* OutEdit = nullptr;
    QPushButton* BrowseBtn = nullptr;
    QLabel* OutPiclb = nullptr;
    QLineEdit* PicOutEdit = nullptr;
    QPushButton* Browse2Btn = nullptr;
    QLabel* Out2lb = nullptr;
    QComboBox* FormatLst = nullptr;
    QCheckBox* SyncCb = nullptr;
    QCheckBox* ArtCb = nullptr;
    QPushButton* ExpBtn = nullptr;
    QPushButton* NoIpodBtn = nullptr;
    // transfer panel
    QWidget* CopyPnl = nullptr;
    QLabel* Tilb = nullptr;
    QLabel* Namelb = nullptr;
    QLabel* DetailLb = nullptr;
    QLabel* WorkImg = nullptr;
    QProgressBar* CopyPrgs = nullptr;
    TPicButton* CancelBtn = nullptr;
    // check menu
    QMenu* CheckMenu = nullptr;
    QAction* CheckMnu = nullptr;
    QAction* UncheckMnu = nullptr;
    QAction* N1 = nullptr;
    QAction* CheckSMnu = nullptr;
    QAction* UncheckSMnu = nullptr;
    QAction* N2 = nullptr;
    QAction* InvertMnu = nullptr;

    // Where the check menu pops up (screen point), kept for tests.
    QPoint FLastMenuPoint;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void BuildLayout();
    void BuildTopBar();
    void BuildLeftPane();
    void BuildTrackPanel();
    void BuildPhotoPanel();
    void BuildLowBar();
    void BuildNoticePanel();
    void BuildCopyPanel();
    void BuildCheckMenu();
    void ClearTrackList();
    void ZeroTotals();
    void PositionOverlays();
    void ProcessPendingEvents();
    bool FCloseDone = false;
    TMusicListMode FMusicListMode = mlCopyFiles;
};
