#include "app/IpodAboutFrm.h"

#include "app/ZozoDodiMain.h"
#include "platform/Desktop.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>

namespace {
constexpr const char* kProductVersion = "1.7";
} // namespace

QString ProductTitle() {
    return QStringLiteral("Marrowgate ") + QLatin1String(kProductVersion);
}

void CentreOnOwner(QWidget* window, const QWidget* owner) {
    if (!owner)
        return;
    // The client areas, not the frames: the window manager adds its frame around ours.
    QRect r(QPoint(0, 0), window->size());
    r.moveCenter(owner->geometry().center());
    window->setGeometry(r);
}

void TZozoDodiFrm::AboutLbClick() {
    TIpodAboutFrm about(this);
    about.exec();
}

TIpodAboutFrm::TIpodAboutFrm(TZozoDodiFrm* owner) : QDialog(owner, kFixedDialogFlags), Owner(owner) {
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(463, 134);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    QFont f(QStringLiteral("Sans Serif"));
    f.setPixelSize(11);
    setFont(f);

    tilb = new QLabel(ProductTitle(), this);
    QFont tf = f;
    tf.setBold(true);
    tf.setPixelSize(13);
    tilb->setFont(tf);
    tilb->move(16, 14);
    delb = new QLabel(QStringLiteral("The best iPod and iPhone to computer transfer tool."), this);
    delb->move(16, 40);
    bv = new QFrame(this);
    bv->setFrameShape(QFrame::HLine);
    bv->setFrameShadow(QFrame::Sunken);
    bv->setGeometry(16, 64, 431, 2);
    // The web label shows the same caption as the main window's.
    Linklb = new QLabel(QStringLiteral("Help and support pages"), this);
    QFont lf = f;
    lf.setUnderline(true);
    Linklb->setFont(lf);
    QPalette lp = Linklb->palette();
    lp.setColor(QPalette::WindowText, Qt::blue);
    Linklb->setPalette(lp);
    Linklb->setCursor(Qt::PointingHandCursor);
    Linklb->move(16, 76);
    Linklb->installEventFilter(this);
    UseDebug = new QCheckBox(QStringLiteral("Generate the music list only"), this);
    UseDebug->move(16, 102);
    for (QWidget* w : std::initializer_list<QWidget*>{tilb, delb, Linklb, UseDebug})
        w->adjustSize();
    connect(UseDebug, &QCheckBox::clicked, this, [this] { UseDebugClick(); });

    CentreOnOwner(this, owner);
    FormCreate();
}

void TIpodAboutFrm::FormCreate() {
    UseDebug->setChecked(Owner && Owner->MusicListMode() == TZozoDodiFrm::mlListOnly);
}

void TIpodAboutFrm::UseDebugClick() {
    if (Owner)
        Owner->SetMusicListMode(UseDebug->isChecked() ? TZozoDodiFrm::mlListOnly : TZozoDodiFrm::mlCopyFiles);
}

void TIpodAboutFrm::LinklbClick() {
    platform::OpenPage(platform::ProductPage());
}

void TIpodAboutFrm::done(int result) {
    if (FClosing)
        return;
    FClosing = true;
    if (UseDebug->isChecked()) {
        const QString question = QStringLiteral(
            "The \"Generate the music list only\" has been selected.\r\r"
            "Select this option ONLY when you meet the problem during copy the playlists back to iTunes.\r"
            "Do you want to read the help manual of this feature (recommend)?");
        if (ShowMessageBox(this, MsgKind::Confirmation, question, MsgButtons::YesNo) == MsgResult::Yes)
            platform::OpenHelp(QStringLiteral("::/diag.html"));
    }
    QDialog::done(result);
    FClosing = false;
}

void TIpodAboutFrm::mouseReleaseEvent(QMouseEvent* e) {
    // Only the window's own surface closes it, not its texts.
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) &&
        !childAt(e->position().toPoint())) {
        close();
        return;
    }
    QDialog::mouseReleaseEvent(e);
}

bool TIpodAboutFrm::eventFilter(QObject* watched, QEvent* e) {
    if (watched == Linklb && e->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        LinklbClick();
        return true;
    }
    return QDialog::eventFilter(watched, e);
}
