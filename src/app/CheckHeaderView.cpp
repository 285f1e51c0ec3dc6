#include "app/CheckHeaderView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QStyleOptionButton>

namespace vindaru::app {

CheckHeaderView::CheckHeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void CheckHeaderView::setModel(QAbstractItemModel* model) {
    QHeaderView::setModel(model);
    reserveBoxSpace();
}

void CheckHeaderView::rowsChanged(std::size_t rowCount, std::size_t checkedRows) {
    const bool before = isChecked();
    rule_.rowsChanged(rowCount, checkedRows);
    if (before != isChecked()) viewport()->update();
}

QSize CheckHeaderView::boxSize() const {
    QStyleOptionButton option;
    option.initFrom(this);
    return style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this).size();
}

QRect CheckHeaderView::boxRectIn(const QRect& section) const {
    const QSize size = boxSize();
    const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this);
    return QRect(QPoint(section.left() + margin, section.top() + (section.height() - size.height()) / 2),
                 size);
}

QRect CheckHeaderView::checkBoxRect() const {
    const int index = 0;
    return boxRectIn(QRect(sectionViewportPosition(index), 0, sectionSize(index), height()));
}

void CheckHeaderView::reserveBoxSpace() {
    if (!model()) return;
    QPixmap blank(boxSize());
    blank.fill(Qt::transparent);
    model()->setHeaderData(0, Qt::Horizontal, QIcon(blank), Qt::DecorationRole);
}

void CheckHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    if (logicalIndex != 0) return;
    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = boxRectIn(rect);
    option.state = QStyle::State_Enabled | (isChecked() ? QStyle::State_On : QStyle::State_Off);
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, painter, this);
}

void CheckHeaderView::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    pressedOnBox_ = event->button() == Qt::LeftButton && checkBoxRect().contains(at);
    if (pressedOnBox_) {
        event->accept();
        return;
    }
    QHeaderView::mousePressEvent(event);
}

void CheckHeaderView::mouseMoveEvent(QMouseEvent* event) {
    if (pressedOnBox_) {
        event->accept();
        return;
    }
    QHeaderView::mouseMoveEvent(event);
}

void CheckHeaderView::mouseReleaseEvent(QMouseEvent* event) {
    if (!pressedOnBox_) {
        QHeaderView::mouseReleaseEvent(event);
        return;
    }
    pressedOnBox_ = false;
    event->accept();
    // A press that wandered off the box before the release is no click on it.
    if (event->button() != Qt::LeftButton || !checkBoxRect().contains(event->position().toPoint()))
        return;
    const bool state = rule_.headerClicked();
    viewport()->update();
    emit toggled(state);
}

} // namespace vindaru::app
