#include "app/UiStatusSink.h"

namespace vindaru::app {

void UiStatusSink::setText(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        latest_ = text;
    }
    requestDelivery();
}

void UiStatusSink::deliver() {
    QString text;
    {
        std::lock_guard lock(mutex_);
        text = QString::fromStdString(latest_);
    }
    if (label_) label_->setText(text);
    emit shown(text);
}

} // namespace vindaru::app
