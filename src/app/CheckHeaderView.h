// The list's header, with a check box in the first column that checks or clears every row and
// shows whether every row is checked. The box is drawn in the style's check-box look at the
// left of the first section; only a click on the box itself toggles it. A click elsewhere on
// the header sorts by that column, and a drag resizes or moves columns as usual.
#pragma once

#include <QHeaderView>

#include "common/CheckTree.h"

namespace vindaru::app {

class CheckHeaderView : public QHeaderView {
    Q_OBJECT
  public:
    explicit CheckHeaderView(QWidget* parent = nullptr);

    bool isChecked() const { return rule_.image() == kStateChecked; }
    // Rows changed: the box shows checked exactly when every row is checked.
    void rowsChanged(std::size_t rowCount, std::size_t checkedRows);
    void setModel(QAbstractItemModel* model) override;
    // Where the box is drawn, in the header's viewport coordinates.
    QRect checkBoxRect() const;

  signals:
    // The user clicked the box: every row must take this state.
    void toggled(bool checked);

  protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QSize boxSize() const;
    QRect boxRectIn(const QRect& section) const;
    // The first section's label leaves room for the box (a blank icon of its size).
    void reserveBoxSpace();
    ListHeaderCheck rule_;
    bool pressedOnBox_ = false;
};

} // namespace vindaru::app
