// Construction of the main window: the regions top to bottom, their components and texts.
#include "app/ZozoDodiMain.h"

#include "widgets/PicBtn.h"
#include "app/TrackListModel.h"
#include "transfer/DestNaming.h"
#include "device/ArtworkDb.h"
#include "device/IPod.h"
#include "device/PhotoDb.h"
#include "device/TrackDb.h"
#include "platform/Desktop.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

MessageBoxFn MessageBoxHook;

QString Shown(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

MsgResult ShowMessageBox(QWidget* parent, MsgKind kind, const QString& text, MsgButtons buttons) {
    if (MessageBoxHook)
        return MessageBoxHook(kind, text, buttons);
    QMessageBox box(parent);
    box.setWindowTitle(QApplication::applicationName());
    box.setText(Shown(text));
    switch (kind) {
    case MsgKind::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgKind::Error: box.setIcon(QMessageBox::Critical); break;
    case MsgKind::Information: box.setIcon(QMessageBox::Information); break;
    case MsgKind::Confirmation: box.setIcon(QMessageBox::Question); break;
    }
    switch (buttons) {
    case MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MsgButtons::YesCancel: box.setStandardButtons(QMessageBox::Yes | QMessageBox::Cancel); break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return MsgResult::Yes;
    case QMessageBox::No: return MsgResult::No;
    case QMessageBox::Cancel: return MsgResult::Cancel;
    default: return MsgResult::Ok;
    }
}

namespace {

// The notice panel's designed size; texts in a wider desktop font make it larger.
const QSize kNoticePanelSize(529, 336);

// A picture of the program's resources; null when it is not there.
QImage ResourcePicture(const QString& name) {
    for (const QString& path :
         {QStringLiteral(":/%1.png"), QStringLiteral(":/%1.bmp"), QStringLiteral(":/images/%1.png"),
          QStringLiteral(":/images/%1.bmp"), QStringLiteral(":/%1")}) {
        const QString file = path.arg(name);
        if (QFile::exists(file)) {
            QImage img(file);
            if (!img.isNull())
                return img;
        }
    }
    return {};
}

// A drawn face for a picture button whose picture is not among the resources: a rounded,
// lightly shaded shape on the key colour, so that its outline is cut out.
QImage DrawnButtonFace(QSize size, QColor top, QColor bottom, bool down) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(QColor(255, 0, 255));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    QLinearGradient g(0, 0, 0, size.height());
    g.setColorAt(0, down ? bottom : top);
    g.setColorAt(1, down ? top : bottom);
    p.setBrush(g);
    p.setPen(QColor(30, 36, 44));
    p.drawRoundedRect(QRectF(0, 0, size.width() - 1, size.height() - 1), 4, 4);
    return img;
}

// Draws a small glyph (the picture's meaning) onto a drawn face.
void DrawGlyph(QImage& img, const QString& glyph) {
    if (glyph.isEmpty())
        return;
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(235, 238, 242), 2));
    const QRectF r(0, 0, img.width(), img.height());
    const QPointF c = r.center();
    if (glyph == QLatin1String("MinBtn")) {
        p.drawLine(QPointF(c.x() - 4, c.y() + 3), QPointF(c.x() + 4, c.y() + 3));
    } else if (glyph == QLatin1String("CloseBtn")) {
        p.drawLine(QPointF(c.x() - 4, c.y() - 4), QPointF(c.x() + 4, c.y() + 4));
        p.drawLine(QPointF(c.x() + 4, c.y() - 4), QPointF(c.x() - 4, c.y() + 4));
    } else {
        QFont f = p.font();
        f.setBold(true);
        f.setPixelSize(12);
        p.setFont(f);
        p.drawText(r, Qt::AlignCenter, glyph);
    }
}

TPicButton* MakePicButton(QWidget* parent, const QString& name, const QString& glyph, QColor top = QColor(92, 104, 120),
                          QColor bottom = QColor(52, 60, 72)) {
    auto* b = new TPicButton(parent);
    b->SetTransparentColor(kPicKeyColor);
    const QImage face = ResourcePicture(name);
    QImage down = ResourcePicture(name + QLatin1String("Down"));
    // Buttons without a pressed picture of their own get a drawn one.
    if (down.isNull()) {
        down = DrawnButtonFace(face.size(), top, bottom, true);
        DrawGlyph(down, glyph);
    }
    b->SetBitmap(&face);
    b->SetDownBitmap(&down);
    return b;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, bool bold = false, QColor color = QColor()) {
    auto* l = new QLabel(text, parent);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    if (color.isValid()) {
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, color);
        l->setPalette(pal);
    }
    return l;
}

QLabel* MakeLink(QWidget* parent, const QString& text, QColor color = QColor(0, 0, 192)) {
    QLabel* l = MakeLabel(parent, text, false, color);
    QFont f = l->font();
    f.setUnderline(true);
    l->setFont(f);
    l->setCursor(Qt::PointingHandCursor);
    return l;
}

} // namespace

TZozoDodiFrm::TZozoDodiFrm(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setWindowTitle(QStringLiteral("Marrowgate"));
    QFont f = QApplication::font();
    f.setFamily(QStringLiteral("Sans Serif"));
    f.setPointSize(8);
    setFont(f);
    resize(903, 600);
    BuildLayout();
    ConnectTransferControls();
    platform::SetOpenFailedHandler(this, [this](const QUrl& url) { ShowOpenFailed(url); });
    FormCreate();
}

TZozoDodiFrm::~TZozoDodiFrm() {
    if (!FCloseDone)
        FormClose();
}

void TZozoDodiFrm::BuildLayout() {
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(244, 246, 249));
    setPalette(pal);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    BuildTopBar();
    outer->addWidget(TopPnl);

    auto* middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    Lshp = new QWidget(this);
    Rshp = new QWidget(this);
    for (QWidget* s : {Lshp, Rshp}) {
        s->setFixedWidth(1);
        s->setAutoFillBackground(true);
        QPalette sp = s->palette();
        sp.setColor(QPalette::Window, QColor(64, 64, 64));
        s->setPalette(sp);
    }
    spl = new QSplitter(Qt::Horizontal, this);
    spl->setHandleWidth(1);
    spl->setChildrenCollapsible(false);
    BuildLeftPane();
    spl->addWidget(LeftPnl);
    auto* client = new QWidget(spl);
    auto* clientLay = new QVBoxLayout(client);
    clientLay->setContentsMargins(0, 0, 0, 0);
    clientLay->setSpacing(0);
    BuildTrackPanel();
    BuildPhotoPanel();
    clientLay->addWidget(SongPnl);
    clientLay->addWidget(PicPnl);
    spl->addWidget(client);
    spl->setStretchFactor(0, 0);
    spl->setStretchFactor(1, 1);
    spl->setSizes({177, 903 - 177});
    middle->addWidget(Lshp);
    middle->addWidget(spl, 1);
    middle->addWidget(Rshp);
    outer->addLayout(middle, 1);

    BuildLowBar();
    outer->addWidget(LowPnl);

    BuildNoticePanel();
    BuildCopyPanel();
    BuildCheckMenu();
}

void TZozoDodiFrm::BuildTopBar() {
    TopPnl = new QWidget(this);
    TopPnl->setFixedHeight(57);
    TopPnl->setAttribute(Qt::WA_StyledBackground, true);
    SImg = new QLabel(TopPnl);
    TiImg = new QLabel(TopPnl);
    RImg = new QLabel(TopPnl);
    TiImg->setPixmap(QPixmap::fromImage(ResourcePicture(QStringLiteral("TiImg"))));
    TiImg->setScaledContents(true);
    SImg->setPixmap(QPixmap::fromImage(ResourcePicture(QStringLiteral("SImg"))));
    RImg->setPixmap(QPixmap::fromImage(ResourcePicture(QStringLiteral("RImg"))));
    SImg->setScaledContents(true);
    RImg->setScaledContents(true);
    TopPnl->setObjectName(QStringLiteral("TopPnl"));
    for (QLabel* l : {SImg, TiImg, RImg})
        l->installEventFilter(this);

    CapShLb = MakeLabel(TopPnl, QStringLiteral("Marrowgate"), true, QColor(16, 18, 22));
    Caplb = MakeLabel(TopPnl, QStringLiteral("Marrowgate"), true, QColor(214, 218, 224));
    for (QLabel* l : {CapShLb, Caplb}) {
        QFont cf = l->font();
        cf.setPointSize(15);
        l->setFont(cf);
        l->adjustSize();
    }
    // The shadow sits one pixel higher; the title itself lets mouse presses through to it.
    Caplb->move(14, 10);
    CapShLb->move(15, 9);
    Caplb->setAttribute(Qt::WA_TransparentForMouseEvents, true);
    CapShLb->installEventFilter(this);
    Caplb->raise();

    AboutLb = MakeLink(TopPnl, QStringLiteral("About"), Qt::black);
    Weblb = MakeLink(TopPnl, QStringLiteral("Help and support pages"), Qt::black);
    for (QLabel* l : {AboutLb, Weblb}) {
        l->setContentsMargins(2, 0, 2, 1);
        l->adjustSize();
        l->installEventFilter(this);
    }
    AboutLb->move(16, 38);
    Weblb->move(60, 38);

    PrvSongBtn = MakePicButton(TopPnl, QStringLiteral("PrvSongBtn"), QStringLiteral("\u25C0"));
    PlayBtn = MakePicButton(TopPnl, QStringLiteral("PlayBtn"), QStringLiteral("\u25B6"));
    PauseBtn = MakePicButton(TopPnl, QStringLiteral("PauseBtn"), QStringLiteral("II"));
    NxtSongBtn = MakePicButton(TopPnl, QStringLiteral("NxtSongBtn"), QStringLiteral("\u25B6"));
    PauseBtn->setToolTip(QStringLiteral("Pause"));
    PauseBtn->hide();
    const int px = 200;
    PrvSongBtn->move(px, 17);
    PlayBtn->move(px + 30, 10);
    PauseBtn->move(px + 30, 10);
    NxtSongBtn->move(px + 67, 17);

    CheckBtn = MakePicButton(TopPnl, QStringLiteral("CheckBtn"), QString(), QColor(96, 110, 128), QColor(60, 70, 84));
    CheckBtn->setToolTip(QStringLiteral("Check"));
    ExportBtn =
        MakePicButton(TopPnl, QStringLiteral("ExportBtn"), QString(), QColor(70, 140, 214), QColor(36, 92, 160));
    ExportBtn->SetCaption(QStringLiteral("Copy"));
    ExportBtn->SetCaptionPosition(cpRight);
    ExportBtn->SetSpace(0);
    for (TPicButton* b : {CheckBtn, ExportBtn}) {
        QFont bf = font();
        bf.setBold(true);
        b->SetFont(bf);
        b->SetFontColor(0xF0F0F0);
        b->SetOverFontColor(0x40E0FF);
    }
    CheckBtn->move(330, 10);
    ExportBtn->move(384, 10);

    HelpBtn = MakePicButton(TopPnl, QStringLiteral("HelpBtn"), QStringLiteral("?"));
    MinBtn = MakePicButton(TopPnl, QStringLiteral("MinBtn"), QStringLiteral("MinBtn"));
    CloseBtn = MakePicButton(TopPnl, QStringLiteral("CloseBtn"), QStringLiteral("CloseBtn"), QColor(190, 72, 60),
                             QColor(140, 40, 32));

    connect(CloseBtn, &TPicButton::OnClick, this, [this] { CloseBtnClick(); });
    connect(MinBtn, &TPicButton::OnClick, this, [this] { MinBtnClick(); });
    connect(HelpBtn, &TPicButton::OnClick, this, [this] { HelpBtnClick(); });
    connect(CheckBtn, &TPicButton::OnClick, this, [this] { CheckBtnClick(); });
    TopPnl->installEventFilter(this);
}

void TZozoDodiFrm::BuildLeftPane() {
    LeftPnl = new QWidget(spl);
    LeftPnl->setMinimumWidth(150);
    auto* lay = new QVBoxLayout(LeftPnl);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);

    IpodPnl = new QWidget(LeftPnl);
    IpodPnl->setObjectName(QStringLiteral("IpodPnl"));
    IpodPnl->setAttribute(Qt::WA_StyledBackground, true);
    IpodPnl->setStyleSheet(
        QStringLiteral("QWidget#IpodPnl { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #e9edf2,"
                       " stop:1 #d6dce4); border-bottom: 1px solid #b9c1cc; }"));
    IpodPnl->setFixedHeight(24);
    auto* ipl = new QHBoxLayout(IpodPnl);
    ipl->setContentsMargins(8, 0, 4, 0);
    IpodLb = MakeLabel(IpodPnl, QString(), true, QColor(40, 48, 60));
    ipl->addWidget(IpodLb);
    lay->addWidget(IpodPnl);

    PlayLstList = new QTreeWidget(LeftPnl);
    PlayLstList->setHeaderHidden(true);
    PlayLstList->setColumnCount(1);
    PlayLstList->setIconSize(QSize(18, 18));
    PlayLstList->setFrameShape(QFrame::NoFrame);
    PlayLstList->setIndentation(14);
    lay->addWidget(PlayLstList, 1);
    connect(PlayLstList, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* cur, QTreeWidgetItem* prev) {
        if (cur && prev && !PlayLstListChanging())
            RefusePlayLstListChange(prev);
        else
            PlayLstListChange(cur);
    });

    ArtPnl = new QWidget(LeftPnl);
    ArtPnl->setFixedHeight(76);
    ArtPnl->setAutoFillBackground(true);
    QPalette ap = ArtPnl->palette();
    ap.setColor(QPalette::Window, QColor(232, 236, 241));
    ArtPnl->setPalette(ap);
    ArtPlaceholder = new QLabel(ArtPnl);
    ArtPlaceholder->setFixedSize(60, 60);
    ArtPlaceholder->setAlignment(Qt::AlignCenter);
    ArtPlaceholder->setStyleSheet(
        QStringLiteral("QLabel { background: #f7f9fb; border: 1px solid #c3cad4; color: #9aa6b4; font-size: 26px; }"));
    ArtPlaceholder->setPixmap(QPixmap::fromImage(ResourcePicture(QStringLiteral("ArtHolder"))));
    ArtImg = new QLabel(ArtPnl);
    ArtImg->setFixedSize(60, 60);
    ArtImg->setScaledContents(true);
    ArtImg->hide();
    lay->addWidget(ArtPnl);

    ArtBtnPnl = new QLabel(QStringLiteral("..."), LeftPnl);
    ArtBtnPnl->setFixedHeight(12);
    ArtBtnPnl->setAlignment(Qt::AlignCenter);
    ArtBtnPnl->setCursor(Qt::PointingHandCursor);
    ArtBtnPnl->setStyleSheet(QStringLiteral(
        "QLabel { background: #d6dce4; color: #3a4554; border-top: 1px solid #b9c1cc; font-size: 9px; }"));
    ArtBtnPnl->installEventFilter(this);
    lay->addWidget(ArtBtnPnl);
    ArtPnl->installEventFilter(this);
}

void TZozoDodiFrm::BuildTrackPanel() {
    SongPnl = new QWidget(this);
    auto* lay = new QVBoxLayout(SongPnl);
    lay->setContentsMargins(0, 0, 0, 0);
    MusicModel = new TrackListModel(this);
    MusicModel->SetTrackDb(TrackDb);
    MusicList = new QTreeView(SongPnl);
    MusicList->setFrameShape(QFrame::NoFrame);
    MusicHeader = new TrackListHeader(MusicList);
    MusicList->setHeader(MusicHeader);
    MusicList->setModel(MusicModel);
    ConfigureTrackView(MusicList, MusicModel, MusicHeader);
    lay->addWidget(MusicList);
    connect(MusicHeader, &TrackListHeader::HeaderClicked, this,
            [this](int column, Qt::MouseButton b) { MusicListHeaderClick(column, b); });
    connect(MusicModel, &TrackListModel::UserChecked, this,
            [this](int row, bool checked) { MusicListChecked(row, checked); });
    connect(MusicList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& cur, const QModelIndex&) { MusicListChange(cur.isValid() ? cur.row() : -1); });
    // A refill drops the current row without a change signal.
    connect(MusicModel, &QAbstractItemModel::modelReset, this, [this] { MusicListChange(-1); });
}

void TZozoDodiFrm::BuildPhotoPanel() {
    PicPnl = new QWidget(this);
    auto* lay = new QVBoxLayout(PicPnl);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    PagePnl = new QWidget(PicPnl);
    PagePnl->setFixedHeight(20);
    auto* pl = new QHBoxLayout(PagePnl);
    pl->setContentsMargins(6, 0, 6, 0);
    LoadLb = MakeLabel(PagePnl, QStringLiteral("Loading photos, please be patient  ..."));
    SelectPage = MakeLabel(PagePnl, QStringLiteral("1"));
    SelectPage->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Pgseplb = MakeLabel(PagePnl, QStringLiteral("/"));
    MaxPage = MakeLabel(PagePnl, QStringLiteral("1"));
    PrvBtn = MakePicButton(PagePnl, QStringLiteral("PrvBtn"), QStringLiteral("<"));
    NxtBtn = MakePicButton(PagePnl, QStringLiteral("NxtBtn"), QStringLiteral(">"));
    NxtBtn->setToolTip(QStringLiteral("Next page"));
    pl->addWidget(LoadLb);
    pl->addStretch(1);
    pl->addWidget(PrvBtn);
    pl->addWidget(SelectPage);
    pl->addWidget(Pgseplb);
    pl->addWidget(MaxPage);
    pl->addWidget(NxtBtn);
    for (QWidget* w : std::initializer_list<QWidget*>{LoadLb, SelectPage, Pgseplb, MaxPage, PrvBtn, NxtBtn})
        w->hide();
    lay->addWidget(PagePnl);
    PhotoBox = new QScrollArea(PicPnl);
    PhotoBox->setFrameShape(QFrame::NoFrame);
    PhotoBox->setAutoFillBackground(true);
    QPalette pp = PhotoBox->palette();
    pp.setColor(QPalette::Window, QColor(0x3F, 0x3F, 0x3F));
    PhotoBox->setPalette(pp);
    lay->addWidget(PhotoBox, 1);
    SetUpPhotoBox();
    PicPnl->hide();
}

void TZozoDodiFrm::BuildLowBar() {
    LowPnl = new QWidget(this);
    LowPnl->setObjectName(QStringLiteral("LowPnl"));
    LowPnl->setFixedHeight(29);
    LowPnl->setAttribute(Qt::WA_StyledBackground, true);
    LowPnl->setStyleSheet(
        QStringLiteral("QWidget#LowPnl { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #e4e8ee,"
                       " stop:1 #c9d0da); border-top: 1px solid #a9b2bf; }"));
    LImg = new QLabel(LowPnl);
    BtImg = new QLabel(LowPnl);
    BtImg->installEventFilter(this);
    auto* lay = new QHBoxLayout(LowPnl);
    lay->setContentsMargins(10, 0, 0, 0);
    lay->setSpacing(4);
    StatusLb = MakeLabel(LowPnl, QStringLiteral("Ready"), false, QColor(40, 48, 60));
    StatusLb->setAttribute(Qt::WA_TransparentForMouseEvents, true);
    LImg->hide();
    lay->addWidget(StatusLb, 1);

    SrbgImg = new QLabel(LowPnl);
    SrbgImg->setFixedSize(124, 19);
    SrbgImg->setStyleSheet(
        QStringLiteral("QLabel { background: white; border: 1px solid #9aa5b3; border-radius: 9px; }"));
    SrEdit = new QLineEdit(SrbgImg);
    SrEdit->setFrame(false);
    SrEdit->setGeometry(9, 2, 99, 15);
    SrEdit->setToolTip(QStringLiteral("Press Enter to start search"));
    SrEdit->setPlaceholderText(QStringLiteral("Search"));
    SrEdit->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; border: none; }"));
    SrEdit->installEventFilter(this);
    ClearImg = new QLabel(SrbgImg);
    ClearImg->setGeometry(108, 2, 14, 14);
    ClearImg->setAlignment(Qt::AlignCenter);
    ClearImg->setText(QStringLiteral("\u00D7"));
    ClearImg->setStyleSheet(
        QStringLiteral("QLabel { color: #6b7786; border: none; background: transparent; font-weight: bold; }"));
    ClearImg->setCursor(Qt::PointingHandCursor);
    ClearImg->installEventFilter(this);
    ClearImg->hide();
    lay->addWidget(SrbgImg);
    lay->addSpacing(6);

    ResizeImg = new QLabel(LowPnl);
    ResizeImg->setFixedSize(10, 29);
    ResizeImg->setCursor(Qt::SizeFDiagCursor);
    ResizeImg->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    ResizeImg->setText(QStringLiteral("\u25E2"));
    ResizeImg->setStyleSheet(
        QStringLiteral("QLabel { color: #8a95a3; font-size: 9px; border: none; background: transparent; }"));
    ResizeImg->installEventFilter(this);
    lay->addWidget(ResizeImg);
}

void TZozoDodiFrm::BuildNoticePanel() {
    ErrPnl = new QWidget(this);
    ErrPnl->setObjectName(QStringLiteral("ErrPnl"));
    ErrPnl->setFixedSize(kNoticePanelSize);
    ErrPnl->installEventFilter(this);
    ErrPnl->setAttribute(Qt::WA_StyledBackground, true);
    ErrPnl->setStyleSheet(QStringLiteral("QWidget#ErrPnl { background: white; border: 1px solid #7d8896; }"));
    auto* lay = new QVBoxLayout(ErrPnl);
    lay->setContentsMargins(1, 1, 1, 1);
    lay->setSpacing(0);

    auto* bar = new QWidget(ErrPnl);
    bar->setObjectName(QStringLiteral("ErrBar"));
    bar->setAttribute(Qt::WA_StyledBackground, true);
    bar->setStyleSheet(QStringLiteral(
        "QWidget#ErrBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #3b4654, stop:1 #232a33); }"));
    bar->setFixedHeight(26);
    auto* bl = new QHBoxLayout(bar);
    bl->setContentsMargins(8, 0, 8, 0);
    WarImg = new QLabel(bar);
    WarImg->setPixmap(QPixmap::fromImage(ResourcePicture(QStringLiteral("WarImg"))));
    Erlb = MakeLabel(bar, QStringLiteral("Notice"), true, QColor(230, 233, 238));
    bl->addWidget(WarImg);
    bl->addWidget(Erlb, 1);
    lay->addWidget(bar);

    NotePgc = new QStackedWidget(ErrPnl);
    lay->addWidget(NotePgc, 1);

    ErrTab = new QWidget(NotePgc);
    auto* el = new QVBoxLayout(ErrTab);
    el->setContentsMargins(24, 18, 24, 16);
    el->setSpacing(10);
    ErrLb = MakeLabel(ErrTab, QStringLiteral("Waiting for iPod ..."), true, QColor(0, 0, 255));
    QFont ef = ErrLb->font();
    ef.setPointSize(14);
    ErrLb->setFont(ef);
    Gdlb = MakeLabel(ErrTab,
                     Shown(QStringLiteral("1:  Connect your iPod or iPhone to the computer by the USB cable.\r\r"
                                          "2:  Wait until Marrowgate detects the device automatically.")),
                     true);
    DesLb = MakeLabel(
        ErrTab,
        Shown(QStringLiteral(
            "Please note: If your iPod cannot be detected, you may need to enable the disk use of your iPod first.\r"
            "you can click the link below to get more help.")));
    DesLb->setWordWrap(true);
    DiskLink = MakeLink(ErrTab, QStringLiteral("Help: How to enable the disk use?"));
    DiskLink->installEventFilter(this);
    auto* btns = new QHBoxLayout;
    UnlockBtn = new QPushButton(QStringLiteral("Force Unlock"), ErrTab);
    ExitBtn = new QPushButton(QStringLiteral("Exit"), ErrTab);
    QFont xf = ExitBtn->font();
    xf.setBold(true);
    ExitBtn->setFont(xf);
    QPalette xp = ExitBtn->palette();
    xp.setColor(QPalette::ButtonText, QColor(128, 0, 0));
    ExitBtn->setPalette(xp);
    UnlockBtn->hide();
    ExitBtn->hide();
    btns->addWidget(UnlockBtn);
    btns->addWidget(ExitBtn);
    btns->addStretch(1);
    connect(UnlockBtn, &QPushButton::clicked, this, [this] { UnlockBtnClick(); });
    connect(ExitBtn, &QPushButton::clicked, this, [this] { ExitBtnClick(); });
    IphoneErrLb = MakeLink(
        ErrTab, QStringLiteral("Can not initialize iPhone and iPod Touch engine, click here to fix this problem."),
        QColor(192, 0, 0));
    IphoneErrLb->installEventFilter(this);
    IphoneErrLb->hide();
    ReadLb = MakeLabel(ErrTab, QStringLiteral(">> Reading, please wait ..."), true, QColor(0, 128, 0));
    ReadLb->hide();
    el->addWidget(ErrLb);
    el->addWidget(Gdlb);
    el->addWidget(DesLb);
    el->addWidget(DiskLink);
    el->addStretch(1);
    el->addLayout(btns);
    el->addWidget(IphoneErrLb);
    el->addWidget(ReadLb);
    NotePgc->addWidget(ErrTab);

    // The output page; the transfer set-up drives it.
    SetTab = new QWidget(NotePgc);
    auto* sl = new QVBoxLayout(SetTab);
    sl->setContentsMargins(24, 14, 24, 14);
    sl->setSpacing(6);
    OutTilb = MakeLabel(SetTab, QStringLiteral("Summary:"), true);
    Trlb = MakeLabel(SetTab, QString());
    Out1lb = MakeLabel(SetTab, QStringLiteral("Save music to:"), true);
    OutEdit = new QLineEdit(SetTab);
    BrowseBtn = new QPushButton(QStringLiteral("..."), SetTab);
    OutPiclb = MakeLabel(SetTab, QStringLiteral("Save photos to:"), true);
    PicOutEdit = new QLineEdit(SetTab);
    Browse2Btn = new QPushButton(QStringLiteral("..."), SetTab);
    Browse2Btn->hide();
    Out2lb = MakeLabel(SetTab, QStringLiteral("Names the music files based on:"), true);
    FormatLst = new QComboBox(SetTab);
    FormatLst->addItems(app::NamingLayoutTexts());
    SyncCb = new QCheckBox(QStringLiteral("Copy the playlists and music to the iTunes library directly"), SetTab);
    ArtCb = new QCheckBox(QStringLiteral("Including the artworks in the iPod"), SetTab);
    ArtCb->setEnabled(false);
    // ArtCb follows SyncCb, also when the settings set SyncCb at start-up.
    connect(SyncCb, &QCheckBox::toggled, this, [this](bool on) { ArtCb->setEnabled(on); });
    ExpBtn = new QPushButton(QStringLiteral("Start"), SetTab);
    NoIpodBtn = new QPushButton(QStringLiteral("Cancel"), SetTab);
    sl->addWidget(OutTilb);
    sl->addWidget(Trlb);
    auto* r1 = new QHBoxLayout;
    r1->addWidget(OutEdit, 1);
    r1->addWidget(BrowseBtn);
    auto* r2 = new QHBoxLayout;
    r2->addWidget(PicOutEdit, 1);
    r2->addWidget(Browse2Btn);
    sl->addWidget(Out1lb);
    sl->addLayout(r1);
    sl->addWidget(OutPiclb);
    sl->addLayout(r2);
    sl->addWidget(Out2lb);
    sl->addWidget(FormatLst);
    sl->addWidget(SyncCb);
    sl->addWidget(ArtCb);
    sl->addStretch(1);
    auto* r3 = new QHBoxLayout;
    r3->addStretch(1);
    r3->addWidget(ExpBtn);
    r3->addWidget(NoIpodBtn);
    sl->addLayout(r3);
    NotePgc->addWidget(SetTab);
    NotePgc->setCurrentWidget(ErrTab);
    ErrPnl->hide();
}

void TZozoDodiFrm::BuildCopyPanel() {
    CopyPnl = new QWidget(this);
    CopyPnl->setObjectName(QStringLiteral("CopyPnl"));
    CopyPnl->setFixedSize(689, 81);
    CopyPnl->setAttribute(Qt::WA_StyledBackground, true);
    CopyPnl->setStyleSheet(QStringLiteral("QWidget#CopyPnl { background: white; border: 1px solid #7d8896; }"));
    Tilb = MakeLabel(CopyPnl, QString(), true);
    Tilb->setGeometry(12, 8, 420, 16);
    Namelb = MakeLabel(CopyPnl, QString());
    Namelb->setGeometry(12, 28, 560, 16);
    DetailLb = MakeLink(CopyPnl, QStringLiteral("Detail Log"));
    DetailLb->setGeometry(600, 8, 80, 16);
    DetailLb->installEventFilter(this);
    DetailLb->hide();
    WorkImg = new QLabel(CopyPnl);
    WorkImg->setGeometry(12, 52, 16, 16);
    CopyPrgs = new QProgressBar(CopyPnl);
    CopyPrgs->setGeometry(34, 54, 540, 12);
    CopyPrgs->setTextVisible(false);
    CancelBtn = MakePicButton(CopyPnl, QStringLiteral("btnc"), QString());
    CancelBtn->SetCaption(QStringLiteral("Cancel"));
    QFont cf = font();
    cf.setBold(true);
    CancelBtn->SetFont(cf);
    CancelBtn->SetFontColor(0xF0F0F0);
    CancelBtn->move(589, 46);
    CopyPnl->hide();
}

void TZozoDodiFrm::BuildCheckMenu() {
    CheckMenu = new QMenu(this);
    CheckMnu = CheckMenu->addAction(QStringLiteral("Check all"));
    UncheckMnu = CheckMenu->addAction(QStringLiteral("Uncheck all"));
    N1 = CheckMenu->addSeparator();
    CheckSMnu = CheckMenu->addAction(QStringLiteral("Check selected"));
    UncheckSMnu = CheckMenu->addAction(QStringLiteral("Uncheck selected"));
    N2 = CheckMenu->addSeparator();
    InvertMnu = CheckMenu->addAction(QStringLiteral("Invert"));
    connect(CheckMnu, &QAction::triggered, this, [this] { CheckMnuClick(); });
    connect(UncheckMnu, &QAction::triggered, this, [this] { UncheckMnuClick(); });
    connect(CheckSMnu, &QAction::triggered, this, [this] { CheckSMnuClick(); });
    connect(UncheckSMnu, &QAction::triggered, this, [this] { UncheckSMnuClick(); });
    connect(InvertMnu, &QAction::triggered, this, [this] { InvertMnuClick(); });
}

// The web and About labels: transparent with black text, white on their own grey while the
// mouse is over them.
void TZozoDodiFrm::HttpLbOnMouseEnter(QLabel* label) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::Window, label == Weblb ? QColor(0x75, 0x75, 0x75) : QColor(0x80, 0x80, 0x80));
    pal.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(pal);
    label->setAutoFillBackground(true);
}

void TZozoDodiFrm::HttpLbOnMouseLeave(QLabel* label) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(pal);
    label->setAutoFillBackground(false);
}

void TZozoDodiFrm::FitNoticePanel() {
    // While the panel is hidden no change is passed up from a page, and each layout keeps the
    // sizes its widgets had at the last showing: a group shown again would be squeezed.
    for (QWidget* c : ErrPnl->findChildren<QWidget*>())
        c->updateGeometry();
    for (QLayout* l : ErrPnl->findChildren<QLayout*>())
        l->invalidate();
    ErrPnl->layout()->invalidate();
    SizeNoticePanel();
}

void TZozoDodiFrm::SizeNoticePanel() {
    const QSize size = kNoticePanelSize.expandedTo(ErrPnl->layout()->sizeHint());
    if (size != ErrPnl->size())
        ErrPnl->setFixedSize(size);
    PositionOverlays();
}

void TZozoDodiFrm::PositionOverlays() {
    if (ErrPnl)
        ErrPnl->move((width() - ErrPnl->width()) / 2, (height() - ErrPnl->height()) / 2);
    if (CopyPnl)
        CopyPnl->move((width() - CopyPnl->width()) / 2, (height() - CopyPnl->height()) / 2);
    if (LowPnl) {
        // BtImg lies under the whole bottom bar, so a drag on the bar's free area moves the window.
        BtImg->setGeometry(0, 0, width(), LowPnl->height());
        BtImg->lower();
    }
    if (TopPnl) {
        const int w = TopPnl->width();
        SImg->setGeometry(0, 0, 5, 57);
        TiImg->setGeometry(5, 0, std::max(0, w - 10), 57);
        RImg->setGeometry(w - 5, 0, 5, 57);
        TiImg->lower();
        SImg->lower();
        RImg->lower();
        CloseBtn->move(w - CloseBtn->width() - 8, 8);
        MinBtn->move(CloseBtn->x() - MinBtn->width() - 4, 8);
        HelpBtn->move(MinBtn->x() - HelpBtn->width() - 4, 8);
        // The two links sit under the title buttons, at the right.
        AboutLb->move(w - AboutLb->width() - 10, 36);
        Weblb->move(AboutLb->x() - Weblb->width() - 12, 36);
    }
}
