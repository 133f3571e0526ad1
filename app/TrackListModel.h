#pragma once
// The track list: a model over track indexes of the loaded track database. No text is
// stored; every cell is made from its track when the view asks for it.
#include <QAbstractItemModel>
#include "widgets/ListHeader.h"

#include <QHeaderView>
#include <QImage>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

class QTreeView;

namespace device {
class TiTunesDB;
class TTrackItem;
} // namespace device

// Track ids to the first track (in database order) that has each id. Built once per load so
// that a playlist view costs one lookup per entry instead of a scan of all tracks.
using TrackIdIndex = std::unordered_map<uint32_t, int32_t>;
TrackIdIndex BuildTrackIdIndex(const device::TiTunesDB& db);

class TrackListModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { ColState = 0, ColName, ColTime, ColArtist, ColAlbum, ColGenre, ColSize, ColumnCount };
    // The playing mark of column 0, painted by the view's delegate: as a decoration it would
    // make the rows taller while it shows.
    static constexpr int MarkRole = Qt::UserRole + 1;

    explicit TrackListModel(QObject* parent = nullptr);
    // The window's slot of the loaded track database; the model reads whatever it holds.
    void SetTrackDb(const std::unique_ptr<device::TiTunesDB>& db) { Db = &db; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The list's nodes: the track index of each row, in fill order (not sorted by any column).
    void SetRows(std::vector<int32_t> rows);
    void Clear();
    int Count() const { return int(Rows.size()); }
    int32_t TrackIndexAt(int row) const { return Rows[size_t(row)]; }
    const std::vector<int32_t>& TrackRows() const { return Rows; }

    // The text of one cell, as painted.
    static QString CellText(const device::TTrackItem& t, int column);

    // Sorts the rows by a column; equal keys keep their order. Column 0 is database order.
    void Sort(int column, bool ascending);
    int SortColumn = -1; // -1 while the rows are in fill order
    bool SortAscending = true;

    // Check marks live in the tracks; after bulk changes this repaints the boxes once.
    void ChecksChanged();
    void RowChanged(int row);

    QImage PlayingIcon;

Q_SIGNALS:
    // A user's click on a row's box; the window updates the track and the totals.
    void UserChecked(int row, bool checked);

private:
    device::TiTunesDB* TrackDb() const { return Db ? Db->get() : nullptr; }
    const std::unique_ptr<device::TiTunesDB>* Db = nullptr;
    std::vector<int32_t> Rows;
};

// Columns, widths, colours and selection of the track view.
void ConfigureTrackView(QTreeView* view, TrackListModel* model, TrackListHeader* header);

// The 11 x 11 pictures of the list's check boxes ("CheckImgs0" to "CheckImgs3": unchecked,
// checked, and both again for a disabled list).
QImage TrackCheckPicture(bool checked, bool enabled);
// Where a row's check box picture is drawn in the view's viewport: centred in the place the
// style gives the box, so that a click there toggles it.
QRect TrackCheckPictureRect(const QTreeView* view, const QModelIndex& index);
