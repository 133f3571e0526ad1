#include "app/IpodDetailFrm.h"

#include "transfer/CopyThread.h"
#include "app/IpodAboutFrm.h"
#include "app/ZozoDodiMain.h"
#include "platform/Desktop.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <sys/utsname.h>

namespace {

// "Linux:" and the kernel's major.minor from a uname release such as "6.1.0-18-amd64".
QString KernelVersionLine(const QString& release) {
    static const QRegularExpression numbers(QStringLiteral("^(\\d+)(?:\\.(\\d+))?"));
    const QRegularExpressionMatch m = numbers.match(release);
    const uint major = m.captured(1).toUInt();
    const uint minor = m.captured(2).toUInt();
    return QStringLiteral("Linux:%1.%2").arg(major).arg(minor);
}

} // namespace

void TZozoDodiFrm::DetailLbClick() {
    TIpodDetailFrm detail(this);
    detail.ShowLog(ProductTitle() + QStringLiteral("\r\n") + app::DetailLog.Text());
    detail.exec();
}

TIpodDetailFrm::TIpodDetailFrm(QWidget* owner) : QDialog(owner, kFixedDialogFlags) {
    setWindowTitle(QStringLiteral("Detail"));
    setFixedSize(507, 312);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
    setPalette(pal);

    DetailMm = new QPlainTextEdit(this);
    DetailMm->setGeometry(9, 9, 489, 265);
    DetailMm->setReadOnly(true);
    DetailMm->setLineWrapMode(QPlainTextEdit::NoWrap);
    DetailMm->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    DetailMm->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    DetailMm->setPlainText(QStringLiteral("If you need support, please paste this log into the email.\n"));

    SupportLb = new QLabel(QStringLiteral("Visit the online support page"), this);
    QFont sf = SupportLb->font();
    sf.setUnderline(true);
    SupportLb->setFont(sf);
    QPalette sp = SupportLb->palette();
    sp.setColor(QPalette::WindowText, Qt::white);
    SupportLb->setPalette(sp);
    SupportLb->setCursor(Qt::PointingHandCursor);
    SupportLb->adjustSize();
    SupportLb->move(9, 284);
    SupportLb->installEventFilter(this);

    CloseBtn = new QPushButton(QStringLiteral("Close"), this);
    CloseBtn->setGeometry(419, 281, 79, 25);
    CloseBtn->setDefault(true);
    connect(CloseBtn, &QPushButton::clicked, this, [this] { CloseBtnClick(); });

    CentreOnOwner(this, owner);
}

void TIpodDetailFrm::ShowLog(const QString& text) {
    // The log's entries end in CR LF, message texts in a lone CR.
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    DetailMm->appendPlainText(lines);
    utsname u{};
    DetailMm->appendPlainText(KernelVersionLine(uname(&u) == 0 ? QString::fromLocal8Bit(u.release) : QString()));
}

void TIpodDetailFrm::CloseBtnClick() {
    close();
}

void TIpodDetailFrm::SupportLbClick() {
    platform::OpenPage(platform::ProductPage());
}

bool TIpodDetailFrm::eventFilter(QObject* watched, QEvent* e) {
    if (watched == SupportLb && e->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        SupportLbClick();
        return true;
    }
    return QDialog::eventFilter(watched, e);
}
