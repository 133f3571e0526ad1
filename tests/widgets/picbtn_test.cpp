#include "widgets/PicBtn.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

const QRgb kRed = qRgb(200, 0, 0), kBlue = qRgb(0, 0, 200);

static QImage Picture(int w, int h, QRgb fill) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(fill);
    return img;
}

// The shape follows the transparent colour, missing pictures are ignored; the left button clicks
// only when released over the button, and the caption follows hover and state.
TEST(PicButton, ShapeClicksAndCaption) {
    TPicButton shape;
    shape.SetTransparentColor(0x00FF00FF);
    QImage img = Picture(6, 4, kRed);
    img.setPixel(5, 3, qRgb(255, 0, 255));
    shape.SetBitmap(&img);
    EXPECT_TRUE(shape.size() == QSize(6, 4) && (shape.mask() ^ (QRegion(0, 0, 6, 4) - QRegion(5, 3, 1, 1))).isEmpty());
    shape.SetTransparentColor(TColorFromRgb(kRed)); // rebuilt at once
    EXPECT_TRUE((shape.mask() ^ QRegion(5, 3, 1, 1)).isEmpty());
    // An empty or all-transparent picture leaves the whole rectangle.
    for (const QImage& picture : {QImage(), Picture(4, 4, kRed)}) {
        shape.SetBitmap(&picture);
        EXPECT_TRUE(shape.mask().isEmpty());
    }

    QWidget host;
    auto* b = new TPicButton(&host);
    const QImage up = Picture(10, 10, kRed), down = Picture(10, 10, kBlue);
    b->SetBitmap(&up);
    b->SetDownBitmap(&down);
    host.resize(40, 40);
    host.show();
    QSignalSpy clicks(b, &TPicButton::OnClick);
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(b->grab().toImage().pixel(5, 5), kBlue);
    QTest::mouseRelease(b, Qt::RightButton, {}, QPoint(5, 5)); // any release lets go
    EXPECT_EQ(b->grab().toImage().pixel(5, 5), kRed);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseClick(b, Qt::RightButton, {}, QPoint(3, 3));
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(3, 3));
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(clicks.count(), 1);

    b->SetOverFontColor(0x0000FF);
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(b, &enter);
    EXPECT_EQ(b->CaptionColor(), QColor(255, 0, 0));
    b->SetEnabled(false);
    EXPECT_EQ(b->CaptionColor(), QColor(0xC0, 0xC0, 0xC0)); // over the hover colour
    b->setEnabled(true);                                    // the plain Qt call counts too
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(b, &leave);
    EXPECT_EQ(b->CaptionColor(), QColor(0, 0, 0));
    // A disabled parent is not the button's own state.
    host.setEnabled(false);
    EXPECT_TRUE(b->Enabled());
}

// A broken or missing picture would show as an empty button in the window.
TEST(Resources, EveryPictureLoadsAndButtonsHaveDownTwinsWithAKeyedOutline) {
    QFile qrc(QStringLiteral(MG_SOURCE_DIR "/resources/marrowgate.qrc"));
    ASSERT_TRUE(qrc.open(QIODevice::ReadOnly));
    int count = 0;
    const QRegularExpression alias(QStringLiteral("alias=\"([^\"]+)\""));
    for (auto it = alias.globalMatch(QString::fromUtf8(qrc.readAll())); it.hasNext(); ++count) {
        const QString name = it.next().captured(1);
        const QImage image(":/" + name), up(":/" + name.chopped(4));
        EXPECT_FALSE(image.isNull()) << name.toStdString();
        // A pressed picture has its button's size and a keyed outline.
        EXPECT_TRUE(!name.endsWith("Down") ||
                    (image.size() == up.size() && TColorFromRgb(image.pixel(0, 0)) == kPicKeyColor))
            << name.toStdString();
    }
    EXPECT_GE(count, 40);
}
