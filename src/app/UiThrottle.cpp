#include "app/UiThrottle.h"

#include <QThread>
#include <QTimer>

namespace vindaru::app {

void UiThrottle::requestDelivery() {
    if (QThread::currentThread() == thread()) {
        lastDelivery_.restart();
        deliver();
        return;
    }
    if (scheduled_.exchange(true)) return;
    QMetaObject::invokeMethod(this, &UiThrottle::onDeliver, Qt::QueuedConnection);
}

void UiThrottle::onDeliver() {
    if (lastDelivery_.isValid() && lastDelivery_.elapsed() < intervalMs_) {
        const int wait = intervalMs_ - static_cast<int>(lastDelivery_.elapsed());
        QTimer::singleShot(wait, this, &UiThrottle::onDeliver);
        return;
    }
    // Cleared before reading, so an update racing with this delivery schedules another one.
    scheduled_.store(false);
    lastDelivery_.restart();
    deliver();
}

} // namespace vindaru::app
