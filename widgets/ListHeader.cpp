#include "widgets/ListHeader.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionHeader>

TrackListHeader::TrackListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setSortIndicatorShown(true);
    setSortIndicator(-1, Qt::AscendingOrder);
    setHighlightSections(false);
    QFont f = font();
    f.setBold(true);
    setFont(f);
    setFixedHeight(17);
    connect(this, &QHeaderView::sectionClicked, this, [this](int s) { emit HeaderClicked(s, Qt::LeftButton); });
}

void TrackListHeader::PaintBackground(QPainter* p, const QRect& r) const {
    if (!Background.isNull())
        p->drawImage(r, Background);
    else
        p->fillRect(r, QColor(230, 233, 238));
    p->fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), QColor(0xDB, 0xDB, 0xDB));
    p->fillRect(QRect(r.right(), r.top(), 1, r.height() - 1), QColor(0xAA, 0xAA, 0xAA));
}

void TrackListHeader::paintSection(QPainter* p, const QRect& rect, int logicalIndex) const {
    p->save();
    PaintBackground(p, rect);
    QStyleOptionHeader opt;
    initStyleOption(&opt);
    opt.rect = rect.adjusted(4, 0, -4, 0);
    opt.section = logicalIndex;
    opt.text = model() ? model()->headerData(logicalIndex, Qt::Horizontal).toString() : QString();
    opt.textAlignment =
        Qt::Alignment(model() ? model()->headerData(logicalIndex, Qt::Horizontal, Qt::TextAlignmentRole).toInt()
                              : int(Qt::AlignLeft | Qt::AlignVCenter));
    opt.sortIndicator = QStyleOptionHeader::None;
    const bool sorted = isSortIndicatorShown() && sortIndicatorSection() == logicalIndex;
    if (sorted) {
        opt.sortIndicator =
            sortIndicatorOrder() == Qt::AscendingOrder ? QStyleOptionHeader::SortDown : QStyleOptionHeader::SortUp;
        // Room for the arrow at the right.
        if (opt.textAlignment & Qt::AlignRight)
            opt.rect.adjust(0, 0, -12, 0);
    }
    p->setFont(font());
    p->setPen(QColor(36, 42, 52));
    p->drawText(opt.rect, int(opt.textAlignment), opt.text);
    if (sorted) {
        QStyleOptionHeader arrow = opt;
        arrow.rect = QRect(rect.right() - 13, rect.top() + 4, 9, rect.height() - 8);
        style()->drawPrimitive(QStyle::PE_IndicatorHeaderArrow, &arrow, p, this);
    }
    p->restore();
}

void TrackListHeader::paintEvent(QPaintEvent* e) {
    {
        // The area right of the last column gets the same background.
        QPainter p(viewport());
        const int end = length() - offset();
        if (end < viewport()->width())
            PaintBackground(&p, QRect(end, 0, viewport()->width() - end + 1, viewport()->height()));
    }
    QHeaderView::paintEvent(e);
}

void TrackListHeader::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        emit HeaderClicked(logicalIndexAt(e->position().toPoint()), e->button());
        return;
    }
    QHeaderView::mousePressEvent(e);
}
