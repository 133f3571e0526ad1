#include "widgets/PhotoControl.h"

#include <QMouseEvent>
#include <QPainter>

int32_t ThumbTileWidth = 64;
int32_t ThumbTileHeight = 64;
int32_t ThumbTileGap = 15;
int32_t ThumbColumns = 9;
int32_t PhotosPerPage = 450;
int32_t ThumbOffsetX = 0;

TPhotoControl::TPhotoControl(QWidget* owner) : QWidget(owner) {
    resize(ThumbTileWidth, ThumbTileHeight);
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
        p.drawImage(QPoint(ThumbOffsetX, 0), FPicture);
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
