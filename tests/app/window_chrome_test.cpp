// The borderless window's own chrome: the web and About labels' hover colours, the title
// pictures.
#include "tests/app/window_helpers.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QEvent>
#include <QHeaderView>
#include <QTreeView>
#include <QImage>
#include <QPixmap>

namespace {

// The label's top-left pixel as the title bar shows it.
QRgb Corner(QLabel* label) {
    return label->parentWidget()->grab(label->geometry()).toImage().pixel(0, 0);
}

} // namespace

TEST_F(WindowTest, WebAndAboutLabelsTurnWhiteOnTheirGreyUnderTheMouse) {
    TZozoDodiFrm& w = OpenShown();
    const struct {
        QLabel* Label;
        QRgb Hover;
    } labels[] = {{w.Weblb, qRgb(0x75, 0x75, 0x75)}, {w.AboutLb, qRgb(0x80, 0x80, 0x80)}};
    for (const auto& l : labels) {
        EXPECT_EQ(l.Label->palette().color(QPalette::WindowText), QColor(Qt::black));
        EXPECT_FALSE(l.Label->autoFillBackground());
        const QRgb resting = Corner(l.Label);
        EXPECT_NE(resting, l.Hover);

        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(l.Label, &enter);
        EXPECT_EQ(l.Label->palette().color(QPalette::WindowText), QColor(Qt::white));
        EXPECT_EQ(Corner(l.Label), l.Hover);

        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(l.Label, &leave);
        EXPECT_EQ(l.Label->palette().color(QPalette::WindowText), QColor(Qt::black));
        EXPECT_EQ(Corner(l.Label), resting);
    }
}

TEST_F(WindowTest, TitleBarShowsItsPicturesEdgeToEdge) {
    TZozoDodiFrm& w = OpenShown();
    for (QLabel* l : {w.SImg, w.TiImg, w.RImg}) {
        ASSERT_FALSE(l->pixmap().isNull());
        EXPECT_EQ(l->height(), 57);
    }
    EXPECT_EQ(w.SImg->x(), 0);
    EXPECT_EQ(w.RImg->geometry().right(), w.TopPnl->width() - 1);
    EXPECT_EQ(w.TiImg->x(), w.SImg->width());
    EXPECT_EQ(w.TiImg->geometry().right() + 1, w.RImg->x());
    // The bottom bar's drag area spans the bar.
    EXPECT_EQ(w.BtImg->width(), w.width());
}

TEST_F(WindowTest, NameColumnTakesTheSpareWidthSoSizeStaysInView) {
    MakeIpod('E', WindowDb());
    TZozoDodiFrm& w = OpenShown();
    QCoreApplication::processEvents();
    QHeaderView* h = w.MusicList->header();
    EXPECT_EQ(h->length(), w.MusicList->viewport()->width());
    EXPECT_EQ(h->sectionSize(TrackListModel::ColState), 18);
    EXPECT_EQ(h->sectionSize(TrackListModel::ColArtist), 120);
    const int name = h->sectionSize(TrackListModel::ColName);
    w.resize(w.width() + 150, w.height());
    QCoreApplication::processEvents();
    EXPECT_EQ(h->sectionSize(TrackListModel::ColName), name + 150);
    EXPECT_EQ(h->length(), w.MusicList->viewport()->width());
}
