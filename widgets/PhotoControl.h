#pragma once
// One tile of the photo grid: a small thumbnail inside a 1-pixel frame, white when the photo is
// ticked, black when not. The tile geometry is set per device from the small thumbnail format.
#include <QImage>
#include <QWidget>
#include <cstdint>

// Tile geometry of the loaded device's small thumbnail format.
extern int32_t ThumbTileWidth;
extern int32_t ThumbTileHeight;
extern int32_t ThumbTileGap;
extern int32_t ThumbColumns;
extern int32_t PhotosPerPage;
extern int32_t ThumbOffsetX; // where the picture starts inside its tile (1015 is wider than its tile)

// Sets the six values above for a small format id.
void SetThumbTileGeometry(int32_t smallFormatId);

class TPhotoControl : public QWidget {
    Q_OBJECT
public:
    // Sized ThumbTileWidth x ThumbTileHeight as they are now.
    explicit TPhotoControl(QWidget* owner = nullptr);
    ~TPhotoControl() override;

    int32_t Id = 0; // index of the photo in the photo list

    const QImage& Picture() const { return FPicture; }
    // Copies the picture.
    void SetPicture(const QImage& picture);
    // Where the tile's picture is loaded in place; repaint() afterwards.
    QImage& PictureRef() { return FPicture; }

    bool Selected() const { return FSelected; }
    void SetSelected(bool selected);

    // As a left-button click would.
    void Click() { emit OnClick(this); }

Q_SIGNALS:
    void OnClick(TPhotoControl* sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QImage FPicture;
    bool FSelected = false;
    bool FPressed = false;
};
