#include "app/TrackListModel.h"

#include "device/Format.h"
#include "device/TrackDb.h"

#include <QApplication>
#include <QCollator>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <algorithm>

TrackIdIndex BuildTrackIdIndex(const device::TiTunesDB& db) {
    TrackIdIndex index;
    const int n = db.Tracks.Count();
    index.reserve(size_t(n));
    for (int i = 0; i < n; ++i)
        index.emplace(db.Tracks.GetItem(i).TrackId, i); // keeps the first of equal ids
    return index;
}

TrackListModel::TrackListModel(QObject* parent) : QAbstractItemModel(parent) {}

QModelIndex TrackListModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || row < 0 || row >= Count() || column < 0 || column >= ColumnCount)
        return {};
    return createIndex(row, column);
}

QModelIndex TrackListModel::parent(const QModelIndex&) const {
    return {};
}

int TrackListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int TrackListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString TrackListModel::CellText(const device::TTrackItem& t, int column) {
    switch (column) {
    case ColName: return t.Title;
    case ColTime: return QString::fromLatin1(device::FormatTimeText(t.Length));
    case ColArtist: return t.Artist;
    case ColAlbum: return t.Album;
    case ColGenre: return t.Genre;
    case ColSize: return QString::fromLatin1(device::FormatSizeText(int64_t(t.Size)));
    default: return {};
    }
}

QVariant TrackListModel::data(const QModelIndex& idx, int role) const {
    if (!idx.isValid() || !TrackDb() || idx.row() >= Count())
        return {};
    const int32_t ti = Rows[size_t(idx.row())];
    if (ti < 0 || ti >= TrackDb()->Tracks.Count())
        return {};
    const device::TTrackItem& t = TrackDb()->Tracks.GetItem(ti);
    switch (role) {
    case Qt::DisplayRole: return CellText(t, idx.column());
    case Qt::CheckStateRole:
        if (idx.column() == ColName)
            return t.Selected ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::TextAlignmentRole:
        if (idx.column() == ColTime || idx.column() == ColSize)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::BackgroundRole:
        if (idx.column() == ColState)
            return QColor(0xEE, 0xEE, 0xEE);
        return (idx.row() % 2 == 0) ? QColor(241, 245, 250) : QColor(Qt::white);
    case MarkRole:
        if (idx.column() == ColState && TrackDb()->PlayingIndex == ti && !PlayingIcon.isNull())
            return PlayingIcon;
        return {};
    default: return {};
    }
}

bool TrackListModel::setData(const QModelIndex& idx, const QVariant& value, int role) {
    if (!idx.isValid() || role != Qt::CheckStateRole || idx.column() != ColName || !TrackDb())
        return false;
    const auto state = Qt::CheckState(value.toInt());
    emit UserChecked(idx.row(), state == Qt::Checked);
    return true;
}

Qt::ItemFlags TrackListModel::flags(const QModelIndex& idx) const {
    if (!idx.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (idx.column() == ColName)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant TrackListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    static const char* const captions[ColumnCount] = {"", "Name", "Time", "Artist", "Album", "Genre", "Size"};
    if (role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QString::fromLatin1(captions[section]);
    if (role == Qt::ToolTipRole && section == ColState)
        return QStringLiteral("state");
    if (role == Qt::TextAlignmentRole)
        return int((section == ColTime || section == ColSize ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    return {};
}

void TrackListModel::SetRows(std::vector<int32_t> rows) {
    beginResetModel();
    Rows = std::move(rows);
    SortColumn = -1;
    SortAscending = true;
    endResetModel();
}

void TrackListModel::Clear() {
    if (Rows.empty() && SortColumn < 0)
        return;
    SetRows({});
}

void TrackListModel::ChecksChanged() {
    if (!Rows.empty())
        emit dataChanged(index(0, ColName), index(Count() - 1, ColName), {Qt::CheckStateRole});
}

void TrackListModel::RowChanged(int row) {
    if (row >= 0 && row < Count())
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void TrackListModel::Sort(int column, bool ascending) {
    if (!TrackDb() || Rows.size() < 2)
        return;
    const auto& tracks = TrackDb()->Tracks;
    std::vector<size_t> order(Rows.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    auto sortBy = [&](auto less) {
        if (ascending)
            std::stable_sort(order.begin(), order.end(), less);
        else
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return less(b, a); });
    };
    if (column == ColName || column == ColArtist || column == ColAlbum || column == ColGenre) {
        // One collation key per row, made once per sort; folded first, since a collator
        // without locale data compares case-sensitively.
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::vector<QCollatorSortKey> keys;
        keys.reserve(Rows.size());
        for (int32_t ti : Rows) {
            const device::TTrackItem& t = tracks.GetItem(ti);
            const QString& s = column == ColName     ? t.Title
                               : column == ColArtist ? t.Artist
                               : column == ColAlbum  ? t.Album
                                                     : t.Genre;
            keys.push_back(collator.sortKey(s.toCaseFolded()));
        }
        sortBy([&](size_t a, size_t b) { return keys[a].compare(keys[b]) < 0; });
    } else {
        std::vector<uint64_t> keys;
        keys.reserve(Rows.size());
        for (int32_t ti : Rows) {
            const device::TTrackItem& t = tracks.GetItem(ti);
            keys.push_back(column == ColTime ? t.Length : column == ColSize ? t.Size : uint64_t(ti));
        }
        sortBy([&](size_t a, size_t b) { return keys[a] < keys[b]; });
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<int32_t> sorted(Rows.size());
    std::vector<int> newRowOf(Rows.size());
    for (size_t i = 0; i < order.size(); ++i) {
        sorted[i] = Rows[order[i]];
        newRowOf[order[i]] = int(i);
    }
    Rows = std::move(sorted);
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& p : before)
        after.append(p.isValid() ? index(newRowOf[size_t(p.row())], p.column()) : QModelIndex());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

namespace {

QRect CheckIndicatorRect(const QStyleOptionViewItem& opt) {
    const QWidget* w = opt.widget;
    const QStyle* st = w ? w->style() : QApplication::style();
    return st->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, w);
}

QRect CentredPictureRect(const QRect& box) {
    return QRect(box.x() + (box.width() - 11) / 2, box.y() + (box.height() - 11) / 2, 11, 11);
}

// Cells without a focus rectangle, the check boxes drawn from the list's own pictures, and the
// vertical grid line at each cell's right.
class TrackDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& idx) const override {
        QStyleOptionViewItem opt(option);
        opt.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(p, opt, idx);
        p->save();
        const QVariant state = idx.data(Qt::CheckStateRole);
        if (state.isValid()) {
            QStyleOptionViewItem full(opt);
            initStyleOption(&full, idx);
            const QRect box = CheckIndicatorRect(full);
            // The style's own box is covered with the cell's background, then our picture.
            QBrush under;
            if (full.state & QStyle::State_Selected)
                under = full.palette.brush(full.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive,
                                           QPalette::Highlight);
            else if (const QVariant bg = idx.data(Qt::BackgroundRole); bg.isValid())
                under = bg.value<QColor>();
            else
                under = full.palette.base();
            p->fillRect(box, under);
            p->drawImage(CentredPictureRect(box).topLeft(),
                         TrackCheckPicture(state.toInt() == Qt::Checked, full.state & QStyle::State_Enabled));
        }
        if (const QVariant mark = idx.data(TrackListModel::MarkRole); mark.isValid()) {
            const QImage picture = mark.value<QImage>();
            QRect box(QPoint(0, 0), picture.size());
            box.moveCenter(opt.rect.center());
            // The blue mark all but vanishes on the blue selection: a ring of the selection's
            // text colour keeps its outline in view on the row that Play plays.
            if (opt.state & QStyle::State_Selected) {
                p->save();
                p->setRenderHint(QPainter::Antialiasing);
                p->setPen(Qt::NoPen);
                p->setBrush(opt.palette.color(QPalette::HighlightedText));
                p->drawEllipse(QRectF(box).adjusted(-1, -1, 1, 1));
                p->restore();
            }
            p->drawImage(box.topLeft(), picture);
        }
        p->setPen(QColor(0xE0, 0xE3, 0xE8));
        p->drawLine(opt.rect.topRight(), opt.rect.bottomRight());
        p->restore();
    }
};

// Column 1 takes up the spare width whenever the view changes its width.
class SpareWidthFilter : public QObject {
public:
    SpareWidthFilter(QTreeView* view) : QObject(view), View(view) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Resize) {
            const int w = View->viewport()->width();
            if (w != Last) {
                QHeaderView* h = View->header();
                int others = 0;
                for (int c = 0; c < h->count(); ++c)
                    if (c != TrackListModel::ColName)
                        others += h->sectionSize(c);
                h->resizeSection(TrackListModel::ColName, std::max(80, w - others));
            }
            Last = w;
        }
        return false;
    }
    QTreeView* View;
    int Last = 0;
};

// A size cell's widest text. Sizes are 32-bit, so KB and MB show at most four whole digits
// ("1024.00 MB") and GB only up to 4.00; the widest digit stands for every digit.
QString WidestSizeText(const QFontMetrics& fm) {
    QChar wide = u'0';
    for (char16_t d = u'1'; d <= u'9'; ++d)
        if (fm.horizontalAdvance(QChar(d)) > fm.horizontalAdvance(wide))
            wide = QChar(d);
    const QString digits = QString(4, wide) + u'.' + QString(2, wide);
    const QString kb = digits + QStringLiteral(" KB"), mb = digits + QStringLiteral(" MB");
    return fm.horizontalAdvance(kb) > fm.horizontalAdvance(mb) ? kb : mb;
}

} // namespace

QImage TrackCheckPicture(bool checked, bool enabled) {
    static const QImage pictures[4] = {QImage(QStringLiteral(":/CheckImgs0")), QImage(QStringLiteral(":/CheckImgs1")),
                                       QImage(QStringLiteral(":/CheckImgs2")), QImage(QStringLiteral(":/CheckImgs3"))};
    return pictures[(checked ? 1 : 0) + (enabled ? 0 : 2)];
}

QRect TrackCheckPictureRect(const QTreeView* view, const QModelIndex& index) {
    if (!view || !index.isValid())
        return {};
    QStyleOptionViewItem opt;
    opt.initFrom(view);
    opt.widget = view;
    opt.rect = view->visualRect(index);
    opt.font = view->font();
    opt.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    opt.text = index.data(Qt::DisplayRole).toString();
    opt.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    opt.decorationSize = view->iconSize().isValid() ? view->iconSize() : QSize(16, 16);
    return CentredPictureRect(CheckIndicatorRect(opt));
}

void ConfigureTrackView(QTreeView* view, TrackListModel* model, TrackListHeader* header) {
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    // The model sorts on the window's header clicks; the view's own sorting stays off. In Qt 6
    // turning it off also makes the header unclickable and hides its arrow, so both come back.
    view->setSortingEnabled(false);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    // A refilled list is in fill order: no column's arrow until the next header click.
    QObject::connect(model, &QAbstractItemModel::modelReset, header,
                     [header] { header->setSortIndicator(-1, Qt::AscendingOrder); });
    view->setItemDelegate(new TrackDelegate(view));
    QFont f = view->font();
    f.setPixelSize(11);
    view->setFont(f);
    QPalette pal = view->palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Highlight, QColor(0x3D, 0x80, 0xDF));
    pal.setColor(QPalette::HighlightedText, Qt::white);
    pal.setColor(QPalette::Inactive, QPalette::Highlight, QColor(0x7D, 0xAA, 0xEA));
    view->setPalette(pal);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(18);
    int widths[TrackListModel::ColumnCount] = {18, 295, 50, 120, 120, 60, 60};
    // The desktop's sans-serif font is wider than the one the widths were made for: the size
    // column gets the room the style gives its widest text.
    QStyleOptionViewItem opt;
    opt.initFrom(view);
    opt.widget = view;
    opt.font = f;
    opt.fontMetrics = QFontMetrics(f);
    opt.features = QStyleOptionViewItem::HasDisplay;
    opt.displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
    opt.text = WidestSizeText(opt.fontMetrics);
    widths[TrackListModel::ColSize] =
        std::max(widths[TrackListModel::ColSize],
                 view->style()->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), view).width());
    for (int c = 0; c < TrackListModel::ColumnCount; ++c) {
        header->setSectionResizeMode(c, c == 0 ? QHeaderView::Fixed : QHeaderView::Interactive);
        header->resizeSection(c, widths[c]);
    }
    view->viewport()->installEventFilter(new SpareWidthFilter(view));
}
