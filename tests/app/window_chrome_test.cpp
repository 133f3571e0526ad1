// The borderless window's own chrome: the web and About labels' hover colours, the list's
// name column.
#include "tests/app/window_helpers.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QEvent>
#include <QHeaderView>
#include <QTreeView>

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

TEST_F(WindowTest, NameColumnTakesTheSpareWidthSoSizeStaysInView) {
    MakeIpod('E', WindowDb());
    TZozoDodiFrm& w = OpenShown();
    QCoreApplication::processEvents();
    QHeaderView* h = w.MusicList->header();
    EXPECT_EQ(h->length(), w.MusicList->viewport()->width());
    const int name = h->sectionSize(TrackListModel::ColName);
    w.resize(w.width() + 150, w.height());
    QCoreApplication::processEvents();
    EXPECT_EQ(h->sectionSize(TrackListModel::ColName), name + 150);
    EXPECT_EQ(h->length(), w.MusicList->viewport()->width());
}
