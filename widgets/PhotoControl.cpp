#include "widgets/PhotoControl.h"

#include <QMouseEvent>
#include <QPainter>

TPhotoControl::TPhotoControl(const TThumbTile& tile, QWidget* owner) : QWidget(owner), FOffsetX(tile.OffsetX) {
    resize(tile.Width, tile.Height);
}

TPhotoControl::~TPhotoControl() = default;

void TPhotoControl::SetPicture(const QImage& picture) {
    FPicture = picture.copy();
    update();
}

void TPhotoControl::SetSelected(bool selected) {
    if (FSelected == selected)
        return;
    FSelected = selected;
    update();
}

void TPhotoControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!FPicture.isNull())
        p.drawImage(QPoint(FOffsetX, 0), FPicture);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(FSelected ? QColor(0xFF, 0xFF, 0xFF) : QColor(0, 0, 0), 1));
    p.setBrush(Qt::NoBrush);
    const int w = width(), h = height();
    const QPoint frame[] = {{0, 0}, {w - 1, 0}, {w - 1, h - 1}, {0, h - 1}, {0, 0}};
    p.drawPolyline(frame, 5);
}

void TPhotoControl::mousePressEvent(QMouseEvent* event) {
    FPressed = event->button() == Qt::LeftButton;
    event->accept();
}

void TPhotoControl::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasPressed = FPressed;
    FPressed = false;
    event->accept();
    // A click is a press and a release of the left button over the tile.
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Click();
}
