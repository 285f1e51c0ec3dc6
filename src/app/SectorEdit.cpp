#include "app/SectorEdit.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>

#include "pages/PopulateDriveLogic.h"

namespace vindaru::app {

SectorEdit::SectorEdit(QWidget* parent) : QWidget(parent) {
    edit_ = new QLineEdit(this);
    edit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,20}")), edit_));
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setFixedSize(18, 12);
        b->setAutoRepeat(true);
    }
    auto* arrows = new QVBoxLayout;
    arrows->setSpacing(0);
    arrows->setContentsMargins(0, 0, 0, 0);
    arrows->addWidget(up_);
    arrows->addWidget(down_);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    row->addWidget(edit_, 1);
    row->addLayout(arrows);
    connect(up_, &QToolButton::clicked, this, [this] { step(true); });
    connect(down_, &QToolButton::clicked, this, [this] { step(false); });
}

QString SectorEdit::text() const {
    return edit_->text();
}
void SectorEdit::setText(const QString& text) {
    edit_->setText(text);
}

void SectorEdit::step(bool up) {
    edit_->setText(
        QString::fromStdString(PopulateDriveLogic::stepEdit(edit_->text().toStdString(), up)));
}

} // namespace vindaru::app
