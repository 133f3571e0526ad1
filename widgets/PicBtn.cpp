#include "widgets/PicBtn.h"

#include <QBitmap>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <vector>

// The pictures live in a static library; registering them here ties them to the button that
// every window uses, so the linker keeps them.
static void RegisterMarrowgateResources() {
    Q_INIT_RESOURCE(marrowgate);
}
namespace {
struct ResourceRegistration {
    ResourceRegistration() { RegisterMarrowgateResources(); }
} gResourceRegistration;
} // namespace

QColor ColorFromTColor(quint32 color) {
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

quint32 TColorFromRgb(QRgb rgb) {
    return quint32(qRed(rgb)) | quint32(qGreen(rgb)) << 8 | quint32(qBlue(rgb)) << 16;
}

TPicButton::TPicButton(QWidget* owner) : QWidget(owner) {}

TPicButton::~TPicButton() = default;

void TPicButton::SetCaption(const QString& caption) {
    if (caption == FCaption)
        return;
    FCaption = caption;
    update();
}

void TPicButton::SetBitmap(const QImage* bitmap) {
    if (!bitmap)
        return;
    FBitmap = *bitmap;
    resize(FBitmap.size());
    BuildRegion();
    repaint();
}

void TPicButton::SetDownBitmap(const QImage* bitmap) {
    if (!bitmap)
        return;
    FDownBitmap = *bitmap;
}

void TPicButton::SetTransparentColor(quint32 color) {
    FTransparentColor = color;
    BuildRegion();
    repaint();
}

void TPicButton::SetOverFontColor(quint32 color) {
    FOverFontColor = color;
}

void TPicButton::SetCaptionPosition(TCaptionPos pos) {
    FCaptionPosition = pos;
    repaint();
}

void TPicButton::SetSpace(int space) {
    if (space >= 0)
        FSpace = space;
    repaint();
}

void TPicButton::SetFont(const QFont& font) {
    if (font == FFont)
        return;
    FFont = font;
    update();
}

void TPicButton::SetFontColor(quint32 color) {
    if (color == FFontColor)
        return;
    FFontColor = color;
    update();
}

void TPicButton::SetEnabled(bool enabled) {
    setEnabled(enabled); // changeEvent keeps FEnabledCopy
    FEnabledCopy = enabled;
    update();
}

QSize TPicButton::sizeHint() const {
    return FBitmap.isNull() ? QWidget::sizeHint() : FBitmap.size();
}

QRect TPicButton::CaptionRect() const {
    if (FCaption.isEmpty())
        return {};
    const QFontMetrics fm(FFont);
    const int w = fm.horizontalAdvance(FCaption);
    const int h = fm.height();
    int x = 0;
    switch (FCaptionPosition) {
    case cpLeft: x = FSpace; break;
    case cpCenter:
        // A caption wider than the button is centred and clipped.
        x = (width() - w) / 2;
        break;
    case cpRight:
        x = width() - w - 3; // a fixed margin, whatever Space holds
        break;
    }
    const int y = (height() - h) / 2;
    return QRect(x, y, w, h);
}

QColor TPicButton::CaptionColor() const {
    if (!FEnabledCopy)
        return ColorFromTColor(0xC0C0C0);
    if (FMouseOver)
        return ColorFromTColor(FOverFontColor);
    return ColorFromTColor(FFontColor);
}

void TPicButton::BuildRegion() {
    FRegionDirty = false;
    const QImage img = FBitmap.convertToFormat(QImage::Format_RGB32);
    // Rows of opaque runs give the same shape as one square per opaque pixel, without a union
    // per pixel.
    std::vector<QRect> rects;
    for (int y = 0; y < img.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        int x = 0;
        while (x < img.width()) {
            while (x < img.width() && TColorFromRgb(line[x]) == FTransparentColor)
                ++x;
            const int start = x;
            while (x < img.width() && TColorFromRgb(line[x]) != FTransparentColor)
                ++x;
            if (x > start)
                rects.emplace_back(start, y, x - start, 1);
        }
    }
    if (rects.empty()) {
        clearMask(); // nothing opaque: the whole rectangle shows
        return;
    }
    QRegion region;
    region.setRects(rects.data(), int(rects.size()));
    setMask(region);
}

void TPicButton::paintEvent(QPaintEvent*) {
    if (FRegionDirty)
        BuildRegion();
    QPainter p(this);
    p.drawImage(0, 0, FDown ? FDownBitmap : FBitmap);
    if (FCaption.isEmpty())
        return;
    const QRect r = CaptionRect();
    p.setFont(FFont);
    p.setPen(CaptionColor());
    p.drawText(QPoint(r.x(), r.y() + QFontMetrics(FFont).ascent()), FCaption);
}

void TPicButton::mousePressEvent(QMouseEvent* event) {
    if (FDesigning)
        return;
    if (event->button() == Qt::LeftButton) {
        FDown = true;
        FLeftPressed = true;
        update();
    }
}

void TPicButton::mouseReleaseEvent(QMouseEvent* event) {
    if (FDesigning)
        return;
    FDown = false;
    update();
    if (event->button() == Qt::LeftButton && FLeftPressed) {
        FLeftPressed = false;
        if (rect().contains(event->position().toPoint()))
            emit OnClick();
    }
}

void TPicButton::enterEvent(QEnterEvent*) {
    if (FDesigning)
        return;
    FMouseOver = true;
    update();
}

void TPicButton::leaveEvent(QEvent*) {
    if (FDesigning)
        return;
    FMouseOver = false;
    update();
}

void TPicButton::changeEvent(QEvent* event) {
    // An explicit setEnabled(false) leaves WA_ForceDisabled set; a disabled parent does not.
    if (event->type() == QEvent::EnabledChange) {
        FEnabledCopy = !testAttribute(Qt::WA_ForceDisabled);
        update();
    }
    QWidget::changeEvent(event);
}
