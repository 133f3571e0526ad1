#pragma once
// The program's own push button: a picture face (normal and pressed), a widget cut to the
// picture's opaque pixels, and an optional caption drawn over the picture.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QWidget>

enum TCaptionPos : quint8 { cpLeft = 0, cpCenter = 1, cpRight = 2 };

// Colours are kept the way the form layouts give them: 0x00BBGGRR. A value whose high byte is
// not 0 names a system colour and never equals a pixel.
QColor ColorFromTColor(quint32 color);
quint32 TColorFromRgb(QRgb rgb);

// The colour that our own button pictures use outside their shape (magenta reads the same in
// either byte order). The window sets it as TransparentColor of every picture button.
inline constexpr quint32 kPicKeyColor = 0x00FF00FF;

class TPicButton : public QWidget {
    Q_OBJECT
public:
    explicit TPicButton(QWidget* owner = nullptr);
    ~TPicButton() override;

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& caption);

    // Assigning copies the picture, an empty one too; a null pointer leaves everything as it
    // is. The normal picture also sizes the widget and rebuilds its shape: an empty picture
    // cuts nothing away.
    void SetBitmap(const QImage* bitmap);
    void SetDownBitmap(const QImage* bitmap);
    // Loading a picture into these in place (the transfer panel's Cancel/Done button) neither
    // resizes the widget nor rebuilds its shape; repaint() afterwards.
    QImage& Bitmap() { return FBitmap; }
    QImage& DownBitmap() { return FDownBitmap; }
    const QImage& Bitmap() const { return FBitmap; }
    const QImage& DownBitmap() const { return FDownBitmap; }

    quint32 TransparentColor() const { return FTransparentColor; }
    void SetTransparentColor(quint32 color);
    quint32 OverFontColor() const { return FOverFontColor; }
    void SetOverFontColor(quint32 color);
    TCaptionPos CaptionPosition() const { return FCaptionPosition; }
    void SetCaptionPosition(TCaptionPos pos);
    int Space() const { return FSpace; }
    void SetSpace(int space); // negative values are ignored; repaints either way

    // The caption's font and its colour (0x00BBGGRR); the widget's own font is not used.
    QFont Font() const { return FFont; }
    void SetFont(const QFont& font);
    quint32 FontColor() const { return FFontColor; }
    void SetFontColor(quint32 color);

    // The enabled state as last set, also when set through QWidget::setEnabled.
    bool Enabled() const { return FEnabledCopy; }
    void SetEnabled(bool enabled);

    bool Down() const { return FDown; }
    bool MouseOver() const { return FMouseOver; }
    bool RegionDirty() const { return FRegionDirty; }

    // While set, mouse presses and hovering change nothing (a layout being edited).
    void SetDesigning(bool designing) { FDesigning = designing; }
    bool Designing() const { return FDesigning; }

    // Where and in which colour the caption is drawn now (empty rect when there is none).
    QRect CaptionRect() const;
    QColor CaptionColor() const;

    QSize sizeHint() const override;

Q_SIGNALS:
    // The left button was pressed and released over the button.
    void OnClick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildRegion();

    QImage FBitmap;
    QImage FDownBitmap;
    quint32 FTransparentColor = 0xFFFFFF;
    quint32 FOverFontColor = 0xFF0000;
    TCaptionPos FCaptionPosition = cpCenter;
    bool FDown = false;
    bool FMouseOver = false;
    bool FEnabledCopy = true;
    bool FRegionDirty = true;
    QFont FFont;
    quint32 FFontColor = 0x000000;
    int FSpace = 3;
    QString FCaption;
    bool FDesigning = false;
    bool FLeftPressed = false;
};
