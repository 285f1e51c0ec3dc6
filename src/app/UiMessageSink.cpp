#include "app/UiMessageSink.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QThread>

#include "app/UiThrottle.h"
#include <chrono>
#include <future>

namespace vindaru::app {

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

MessageAnswer defaultAnswer(const Message& message) {
    return message.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

} // namespace

UiMessageSink::UiMessageSink(QWidget* owner) : owner_(owner) {}

void UiMessageSink::keepCaptionWhole(QMessageBox& box) {
    // A box as narrow as a short text would cut its caption to "V...": it is kept as wide as
    // the caption needs, with room for the window's buttons.
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    const int wanted = box.fontMetrics().horizontalAdvance(box.windowTitle()) + 160;
    grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

MessageAnswer UiMessageSink::showBox(QWidget* parent, const Message& message) {
    QMessageBox box(parent);
    box.setWindowTitle(message.withCaption ? QString::fromUtf8(kApplicationTitle) : QString());
    box.setText(QString::fromStdString(message.text));
    box.setIcon(boxIcon(message.icon));
    if (message.buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    keepCaptionWhole(box);
    const int result = box.exec();
    if (message.buttons == MessageButtons::YesNo)
        return result == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
    return MessageAnswer::Ok;
}

MessageAnswer UiMessageSink::show(const Message& message) {
    const int fallback = static_cast<int>(defaultAnswer(message));
    return static_cast<MessageAnswer>(
        ask([message](QWidget* owner) { return static_cast<int>(showBox(owner, message)); },
            fallback));
}

int UiMessageSink::ask(const std::function<int(QWidget* owner)>& dialog, int fallback) {
    if (abandoned_.load()) return fallback;
    if (QThread::currentThread() == thread()) {
        UiThrottle::deliverAllPending();
        return dialog(owner_.data());
    }

    // A worker asks: the UI thread shows the dialog; the worker polls so that it can give up.
    auto answer = std::make_shared<std::promise<int>>();
    auto future = answer->get_future();
    QMetaObject::invokeMethod(
        this,
        [this, answer, dialog, fallback] {
            if (abandoned_.load()) {
                answer->set_value(fallback);
                return;
            }
            // The status line and the bar show what the worker last told them.
            UiThrottle::deliverAllPending();
            answer->set_value(dialog(owner_.data()));
        },
        Qt::QueuedConnection);
    while (future.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        if (abandoned_.load()) return fallback;
    }
    return future.get();
}

} // namespace vindaru::app
