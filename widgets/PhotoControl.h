#pragma once
// One tile of the photo grid: a small thumbnail inside a 1-pixel frame, white when the photo is
// ticked, black when not. The tile geometry is set per device from the small thumbnail format.
#include <QImage>
#include <QWidget>
#include <cstdint>

// Tile geometry of a small thumbnail format.
struct TThumbTile {
    int32_t Width = 64;
    int32_t Height = 64;
    int32_t Gap = 15;
    int32_t Columns = 9;
    int32_t PerPage = 450;
    int32_t OffsetX = 0; // where the picture starts inside its tile (1015 is wider than its tile)
};

class TPhotoControl : public QWidget {
    Q_OBJECT
public:
    // Sized as the tile says; the picture is drawn at the tile's offset.
    explicit TPhotoControl(const TThumbTile& tile, QWidget* owner = nullptr);
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
    int32_t FOffsetX = 0;
    bool FSelected = false;
    bool FPressed = false;
};
