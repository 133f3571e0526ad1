#include "widgets/PicBtn.h"

#include <QApplication>
#include <QDirIterator>
#include <QEnterEvent>
#include <QFile>
#include <QMovie>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QRgb kRed = qRgb(200, 0, 0);
const QRgb kBlue = qRgb(0, 0, 200);

// A picture of w x h in one colour with the given pixels set to another.
QImage Picture(int w, int h, QRgb fill, const std::vector<QPoint>& other = {}, QRgb otherColor = 0) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(fill);
    for (const QPoint& p : other)
        img.setPixel(p, otherColor);
    return img;
}

// Regions compare by area, not by how their rectangles happen to be split.
bool SameRegion(const QRegion& a, const QRegion& b) {
    return (a ^ b).isEmpty();
}

void Enter(QWidget& w) {
    QEnterEvent e(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&w, &e);
}

void Leave(QWidget& w) {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(&w, &e);
}

// A button with a 10 x 10 red picture on a shown parent, so that mouse events reach it.
struct ShownButton {
    ShownButton() {
        B->SetBitmap(&Up);
        Host.resize(40, 40);
        Host.show();
    }
    QWidget Host;
    TPicButton* B = new TPicButton(&Host);
    QImage Up = Picture(10, 10, kRed);
};

} // namespace

TEST(PicButton, StartsWithTheDocumentedDefaults) {
    TPicButton b;
    EXPECT_EQ(b.TransparentColor(), 0xFFFFFFu);
    EXPECT_EQ(b.OverFontColor(), 0xFF0000u);
    EXPECT_EQ(b.CaptionPosition(), cpCenter);
    EXPECT_EQ(b.Space(), 3);
    EXPECT_TRUE(b.Enabled());
    EXPECT_FALSE(b.Down());
    EXPECT_FALSE(b.MouseOver());
    EXPECT_TRUE(b.RegionDirty());
    // blue in the form layouts' byte order
    EXPECT_EQ(ColorFromTColor(0xFF0000), QColor(0, 0, 255));
}

TEST(PicButton, BitmapSizesTheButtonAndCutsTheTransparentColour) {
    TPicButton b;
    b.SetTransparentColor(0x00FF00FF);
    const QImage img = Picture(6, 4, kRed, {{0, 0}, {5, 3}, {2, 1}}, qRgb(255, 0, 255));
    b.SetBitmap(&img);
    EXPECT_EQ(b.size(), QSize(6, 4));
    EXPECT_FALSE(b.RegionDirty());
    const QRegion cut = QRegion(0, 0, 1, 1) + QRegion(5, 3, 1, 1) + QRegion(2, 1, 1, 1);
    EXPECT_TRUE(SameRegion(b.mask(), QRegion(0, 0, 6, 4) - cut));

    // a new transparent colour rebuilds the shape at once
    b.SetTransparentColor(TColorFromRgb(kRed));
    EXPECT_TRUE(SameRegion(b.mask(), cut));
}

TEST(PicButton, NoPictureChangesNothingAndAnEmptyOneCutsNothing) {
    TPicButton b;
    const QImage img = Picture(5, 5, kRed, {{0, 0}}, qRgb(255, 255, 255));
    b.SetBitmap(&img);
    const QImage down = Picture(5, 5, kBlue);
    b.SetDownBitmap(&down);
    const QRegion before = b.mask();

    b.SetBitmap(nullptr);
    b.SetDownBitmap(nullptr);
    EXPECT_EQ(b.size(), QSize(5, 5));
    EXPECT_TRUE(SameRegion(b.mask(), before));
    EXPECT_EQ(b.Bitmap().pixel(1, 1), kRed);
    EXPECT_EQ(b.DownBitmap().pixel(1, 1), kBlue);

    const QImage empty;
    b.SetBitmap(&empty);
    b.SetDownBitmap(&empty);
    EXPECT_TRUE(b.Bitmap().isNull());
    EXPECT_TRUE(b.DownBitmap().isNull());
    EXPECT_TRUE(b.mask().isEmpty()); // no region: the whole rectangle shows
}

TEST(PicButton, AllTransparentOrSystemColourLeavesTheWholeRectangle) {
    TPicButton b;
    const QImage white = Picture(7, 3, qRgb(255, 255, 255));
    b.SetBitmap(&white);
    EXPECT_TRUE(b.mask().isEmpty()); // no region: the whole rectangle shows

    // a system colour (high byte set) never equals a pixel
    const QImage img = Picture(4, 4, kRed);
    b.SetBitmap(&img);
    b.SetTransparentColor(0x80000000u | TColorFromRgb(kRed));
    EXPECT_TRUE(SameRegion(b.mask(), QRegion(0, 0, 4, 4)));
}

TEST(PicButton, PictureLoadedInPlaceKeepsSizeAndShape) {
    TPicButton b;
    const QImage img = Picture(8, 8, kRed, {{0, 0}}, qRgb(255, 255, 255));
    b.SetBitmap(&img);
    const QRegion shape = b.mask();
    b.Bitmap() = Picture(20, 10, kBlue);
    b.repaint();
    EXPECT_EQ(b.size(), QSize(8, 8));
    EXPECT_TRUE(SameRegion(b.mask(), shape));
}

TEST(PicButton, DownPictureOnlyForTheLeftButton) {
    ShownButton shown;
    TPicButton* b = shown.B;
    const QImage down = Picture(10, 10, kBlue);
    b->SetDownBitmap(&down);

    QTest::mousePress(b, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_FALSE(b->Down());
    EXPECT_EQ(b->grab().toImage().pixel(5, 5), kRed);

    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(b->Down());
    EXPECT_EQ(b->grab().toImage().pixel(5, 5), kBlue);
    // any button's release clears Down
    QTest::mouseRelease(b, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_FALSE(b->Down());
    EXPECT_EQ(b->grab().toImage().pixel(5, 5), kRed);
}

TEST(PicButton, ClickNeedsTheLeftButtonReleasedOverTheButton) {
    ShownButton shown;
    TPicButton* b = shown.B;
    QSignalSpy clicks(b, &TPicButton::OnClick);

    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(clicks.count(), 1);
    QTest::mouseClick(b, Qt::RightButton, {}, QPoint(3, 3));
    EXPECT_EQ(clicks.count(), 1);
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_FALSE(b->Down());
}

TEST(PicButton, HoverAndDisabledCaptionColours) {
    TPicButton b;
    b.SetCaption(QStringLiteral("Copy"));
    b.SetFontColor(0x000000);
    b.SetOverFontColor(0x0000FF); // red
    EXPECT_EQ(b.CaptionColor(), QColor(0, 0, 0));
    Enter(b);
    EXPECT_TRUE(b.MouseOver());
    EXPECT_EQ(b.CaptionColor(), QColor(255, 0, 0));
    const QFont before = b.Font();

    b.SetEnabled(false);
    EXPECT_FALSE(b.Enabled());
    EXPECT_EQ(b.CaptionColor(), QColor(0xC0, 0xC0, 0xC0)); // silver wins over hover
    b.setEnabled(true);                                    // the plain Qt call counts too
    EXPECT_TRUE(b.Enabled());
    Leave(b);
    EXPECT_FALSE(b.MouseOver());
    EXPECT_EQ(b.CaptionColor(), QColor(0, 0, 0));
    EXPECT_EQ(b.Font(), before); // the caption's colour never changes the font

    // a parent being disabled is not the button's own state
    QWidget parent;
    auto* child = new TPicButton(&parent);
    parent.setEnabled(false);
    EXPECT_TRUE(child->Enabled());
}

TEST(PicButton, CaptionPositionsAndSpace) {
    TPicButton b;
    const QImage img = Picture(120, 30, kRed);
    b.SetBitmap(&img);
    QFont f;
    f.setPixelSize(12);
    b.SetFont(f);
    b.SetCaption(QStringLiteral("Copy"));
    const QFontMetrics fm(f);
    const int w = fm.horizontalAdvance(QStringLiteral("Copy"));
    const int y = (30 - fm.height()) / 2;

    EXPECT_EQ(b.CaptionRect().topLeft(), QPoint((120 - w) / 2, y));
    b.SetCaptionPosition(cpLeft);
    EXPECT_EQ(b.CaptionRect().topLeft(), QPoint(3, y));
    b.SetSpace(38);
    EXPECT_EQ(b.CaptionRect().x(), 38);
    b.SetSpace(-1);
    EXPECT_EQ(b.Space(), 38);
    b.SetSpace(0);
    EXPECT_EQ(b.CaptionRect().x(), 0);
    b.SetSpace(38);
    b.SetCaptionPosition(cpRight);
    EXPECT_EQ(b.CaptionRect().x(), 120 - w - 3);

    b.SetCaption(QString());
    EXPECT_TRUE(b.CaptionRect().isNull());
}

TEST(PicButton, CaptionIsDrawnInItsColourOverThePicture) {
    QWidget host;
    auto* b = new TPicButton(&host);
    const QImage img = Picture(80, 30, qRgb(0, 0, 0));
    b->SetBitmap(&img);
    QFont f;
    f.setPixelSize(20);
    f.setBold(true);
    b->SetFont(f);
    b->SetFontColor(0x00FF00); // green
    b->SetCaption(QStringLiteral("MMM"));
    host.show();
    const QImage shot = b->grab().toImage();
    const QRect r = b->CaptionRect();
    int green = 0, outside = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            if (qGreen(shot.pixel(x, y)) > 200 && qRed(shot.pixel(x, y)) < 60) {
                ++green;
                if (!r.adjusted(-1, -1, 1, 1).contains(x, y)) ++outside;
            }
        }
    EXPECT_GT(green, 20);
    EXPECT_EQ(outside, 0);
}

TEST(PicButton, DesigningIgnoresMouseAndHover) {
    ShownButton shown;
    TPicButton* b = shown.B;
    b->SetDesigning(true);
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_FALSE(b->Down());
    Enter(*b);
    EXPECT_FALSE(b->MouseOver());
    b->SetDesigning(false);
    Enter(*b);
    EXPECT_TRUE(b->MouseOver());
}

// The window relies on these names; a broken or missing picture would show as an empty button.
TEST(Resources, EveryPictureOfTheListLoads) {
    QFile qrc(QStringLiteral(MG_SOURCE_DIR "/resources/marrowgate.qrc"));
    ASSERT_TRUE(qrc.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(qrc.readAll());
    QRegularExpression alias(QStringLiteral("alias=\"([^\"]+)\""));
    int count = 0;
    for (auto it = alias.globalMatch(text); it.hasNext();) {
        const QString name = it.next().captured(1);
        const QImage img(QStringLiteral(":/") + name);
        EXPECT_FALSE(img.isNull()) << name.toStdString();
        ++count;
    }
    EXPECT_GE(count, 40);
    for (const char* name : {"hbmp", "btnc", "btnd", "WarImg", "SImg", "TiImg", "RImg"})
        EXPECT_FALSE(QImage(QStringLiteral(":/") + QLatin1String(name)).isNull()) << name;
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(QImage(QStringLiteral(":/PlayListImgs%1").arg(i)).size(), QSize(18, 18));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(QImage(QStringLiteral(":/CheckImgs%1").arg(i)).size(), QSize(11, 11));
    EXPECT_EQ(QImage(QStringLiteral(":/StateImgs0")).size(), QSize(12, 12));
    EXPECT_EQ(QImage(QStringLiteral(":/PlayBtn")).size(), QSize(35, 36));
    EXPECT_EQ(QImage(QStringLiteral(":/PrvSongBtn")).size(), QSize(28, 22));
}

TEST(Resources, ButtonPicturesHaveDownTwinsAndAKeyedOutline) {
    for (const char* name : {"MinBtn", "CloseBtn", "HelpBtn", "PlayBtn", "PauseBtn", "PrvSongBtn",
                             "NxtSongBtn", "CheckBtn", "ExportBtn", "PrvBtn", "NxtBtn"}) {
        const QImage up(QStringLiteral(":/") + QLatin1String(name));
        const QImage down(QStringLiteral(":/") + QLatin1String(name) + QStringLiteral("Down"));
        ASSERT_FALSE(up.isNull()) << name;
        EXPECT_EQ(up.size(), down.size()) << name;
        // the corners lie outside every shape; the centre inside
        EXPECT_EQ(TColorFromRgb(up.pixel(0, 0)), kPicKeyColor) << name;
        EXPECT_NE(TColorFromRgb(up.pixel(up.width() / 2, up.height() / 2)), kPicKeyColor) << name;
        TPicButton b;
        b.SetTransparentColor(kPicKeyColor);
        b.SetBitmap(&up);
        EXPECT_FALSE(b.mask().isEmpty()) << name;
        EXPECT_FALSE(b.mask().contains(QPoint(0, 0))) << name;
    }
}

TEST(Resources, BusyAnimationIsAnAnimated16PixelGif) {
    QMovie movie(QStringLiteral(":/work"));
    ASSERT_TRUE(movie.isValid());
    EXPECT_GT(movie.frameCount(), 1);
    ASSERT_TRUE(movie.jumpToFrame(0));
    const QImage first = movie.currentImage();
    EXPECT_EQ(first.size(), QSize(16, 16));
    ASSERT_TRUE(movie.jumpToFrame(1));
    EXPECT_NE(movie.currentImage(), first);
    // the background is transparent, so the panel shows through
    EXPECT_EQ(qAlpha(first.pixel(0, 0)), 0);
}
