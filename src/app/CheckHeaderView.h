// The list's header, with a check box in the first column that checks or clears every row and
// shows whether every row is checked. The box is the first section's icon, drawn in the style's
// check-box look.
#pragma once

#include <QHeaderView>
#include <QIcon>

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

  signals:
    // The user clicked the first column's header: every row must take this state.
    void toggled(bool checked);

  protected:
    void mousePressEvent(QMouseEvent* event) override;

  private:
    QIcon boxIcon(bool checked) const;
    void showBox();
    ListHeaderCheck rule_;
};

} // namespace vindaru::app
