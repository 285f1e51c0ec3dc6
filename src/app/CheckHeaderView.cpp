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
    showBox();
}

void CheckHeaderView::rowsChanged(std::size_t rowCount, std::size_t checkedRows) {
    const bool before = isChecked();
    rule_.rowsChanged(rowCount, checkedRows);
    if (before != isChecked()) showBox();
}

QIcon CheckHeaderView::boxIcon(bool checked) const {
    QStyleOptionButton option;
    option.initFrom(this);
    const QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap(indicator.size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    option.rect = QRect(QPoint(0, 0), indicator.size());
    option.state = QStyle::State_Enabled | (checked ? QStyle::State_On : QStyle::State_Off);
    QPainter painter(&pixmap);
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, this);
    return QIcon(pixmap);
}

void CheckHeaderView::showBox() {
    if (model())
        model()->setHeaderData(0, Qt::Horizontal, boxIcon(isChecked()), Qt::DecorationRole);
}

void CheckHeaderView::mousePressEvent(QMouseEvent* event) {
    if (logicalIndexAt(event->position().toPoint()) == 0 && event->button() == Qt::LeftButton) {
        const bool state = rule_.headerClicked();
        showBox();
        emit toggled(state);
        event->accept();
        return;
    }
    QHeaderView::mousePressEvent(event);
}

} // namespace vindaru::app
