#pragma once
#include <QHeaderView>
#include <QImage>

// The header: the window's bitmap stretched behind every section and the empty area, a
// light line at each section's left edge and a dark one at its right edge.
class TrackListHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit TrackListHeader(QWidget* parent = nullptr);
    QImage Background;

Q_SIGNALS:
    void HeaderClicked(int column, Qt::MouseButton button);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    void PaintBackground(QPainter* painter, const QRect& rect) const;
};
