#include "widgets/PicBtn.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFile>
#include <QMovie>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QRgb kRed = qRgb(200, 0, 0), kBlue = qRgb(0, 0, 200), kWhite = qRgb(255, 255, 255);

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

} // namespace

TEST(PicButton, ShapeFollowsTheTransparentColourAndIgnoresMissingPictures) {
    TPicButton b;
    b.SetTransparentColor(0x00FF00FF);
    const QImage img = Picture(6, 4, kRed, {{0, 0}, {5, 3}, {2, 1}}, qRgb(255, 0, 255));
    b.SetBitmap(&img);
    EXPECT_EQ(b.size(), QSize(6, 4));
    const QRegion cut = QRegion(0, 0, 1, 1) + QRegion(5, 3, 1, 1) + QRegion(2, 1, 1, 1);
    EXPECT_TRUE(SameRegion(b.mask(), QRegion(0, 0, 6, 4) - cut));
    b.SetTransparentColor(TColorFromRgb(kRed)); // rebuilt at once
    EXPECT_TRUE(SameRegion(b.mask(), cut));

    // No picture changes nothing; an empty one leaves no region: the whole rectangle shows.
    b.SetBitmap(nullptr);
    EXPECT_EQ(b.size(), QSize(6, 4));
    EXPECT_TRUE(SameRegion(b.mask(), cut));
    const QImage empty;
    b.SetBitmap(&empty);
    EXPECT_TRUE(b.Bitmap().isNull());
    EXPECT_TRUE(b.mask().isEmpty());

    // All transparent leaves the whole rectangle; a system colour never equals a pixel.
    const QImage white = Picture(7, 3, kWhite), red = Picture(4, 4, kRed);
    b.SetTransparentColor(0xFFFFFF);
    b.SetBitmap(&white);
    EXPECT_TRUE(b.mask().isEmpty());
    b.SetBitmap(&red);
    b.SetTransparentColor(0x80000000u | TColorFromRgb(kRed));
    EXPECT_TRUE(SameRegion(b.mask(), QRegion(0, 0, 4, 4)));
}

TEST(PicButton, LeftButtonPressesAndClicksOnlyWhenReleasedOver) {
    QWidget host;
    auto* b = new TPicButton(&host);
    const QImage up = Picture(10, 10, kRed), down = Picture(10, 10, kBlue);
    b->SetBitmap(&up);
    b->SetDownBitmap(&down);
    host.resize(40, 40);
    host.show();
    QSignalSpy clicks(b, &TPicButton::OnClick);
    QTest::mousePress(b, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(b->grab().toImage().pixel(5, 5), kRed);
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(b->grab().toImage().pixel(5, 5), kBlue);
    QTest::mouseRelease(b, Qt::RightButton, {}, QPoint(5, 5)); // any release lets go
    EXPECT_FALSE(b->Down());
    EXPECT_EQ(b->grab().toImage().pixel(5, 5), kRed);
    EXPECT_EQ(clicks.count(), 0);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseClick(b, Qt::RightButton, {}, QPoint(3, 3));
    EXPECT_EQ(clicks.count(), 1);
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(clicks.count(), 1);
    // While designing, neither mouse nor hover reach it.
    b->SetDesigning(true);
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(2, 2));
    Enter(*b);
    EXPECT_FALSE(b->Down() || b->MouseOver());
}

TEST(PicButton, CaptionTurnsItsHoverColourAndSilverWhenDisabled) {
    TPicButton b;
    b.SetCaption(QStringLiteral("Copy"));
    b.SetFontColor(0x000000);
    b.SetOverFontColor(0x0000FF);
    const QFont font = b.Font();
    Enter(b);
    EXPECT_EQ(b.CaptionColor(), QColor(255, 0, 0));
    b.SetEnabled(false);
    EXPECT_EQ(b.CaptionColor(), QColor(0xC0, 0xC0, 0xC0)); // over the hover colour
    b.setEnabled(true);                                    // the plain Qt call counts too
    EXPECT_TRUE(b.Enabled());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&b, &leave);
    EXPECT_EQ(b.CaptionColor(), QColor(0, 0, 0));
    EXPECT_EQ(b.Font(), font);
    // A disabled parent is not the button's own state.
    QWidget parent;
    auto* child = new TPicButton(&parent);
    parent.setEnabled(false);
    EXPECT_TRUE(child->Enabled());
}

// A broken or missing picture would show as an empty button in the window.
TEST(Resources, EveryPictureLoadsAndButtonsHaveDownTwinsWithAKeyedOutline) {
    QFile qrc(QStringLiteral(MG_SOURCE_DIR "/resources/marrowgate.qrc"));
    ASSERT_TRUE(qrc.open(QIODevice::ReadOnly));
    int count = 0;
    const QRegularExpression alias(QStringLiteral("alias=\"([^\"]+)\""));
    for (auto it = alias.globalMatch(QString::fromUtf8(qrc.readAll())); it.hasNext(); ++count)
        EXPECT_FALSE(QImage(":/" + it.next().captured(1)).isNull()) << count;
    EXPECT_GE(count, 40);
    for (const char* name : {"MinBtn", "CloseBtn", "HelpBtn", "PlayBtn", "PauseBtn", "PrvSongBtn",
                             "NxtSongBtn", "CheckBtn", "ExportBtn", "PrvBtn", "NxtBtn"}) {
        SCOPED_TRACE(name);
        const QImage up(":/" + QString(name)), down(":/" + QString(name) + "Down");
        ASSERT_FALSE(up.isNull());
        EXPECT_EQ(up.size(), down.size());
        TPicButton b;
        b.SetTransparentColor(kPicKeyColor);
        b.SetBitmap(&up);
        EXPECT_FALSE(b.mask().isEmpty());
        EXPECT_FALSE(b.mask().contains(QPoint(0, 0)));
        EXPECT_TRUE(b.mask().contains(QPoint(up.width() / 2, up.height() / 2)));
    }
    QMovie busy(QStringLiteral(":/work"));
    ASSERT_TRUE(busy.isValid() && busy.jumpToFrame(0));
    EXPECT_EQ(qAlpha(busy.currentImage().pixel(0, 0)), 0); // the panel shows through
    EXPECT_GT(busy.frameCount(), 1);
}
