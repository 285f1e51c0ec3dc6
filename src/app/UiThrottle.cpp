#include "app/UiThrottle.h"

#include <QThread>
#include <QTimer>
#include <vector>

namespace vindaru::app {

namespace {
// The throttles alive; created and destroyed on the UI thread.
std::vector<UiThrottle*>& liveThrottles() {
    static std::vector<UiThrottle*> live;
    return live;
}
} // namespace

UiThrottle::UiThrottle(int intervalMs) : intervalMs_(intervalMs) {
    liveThrottles().push_back(this);
}

UiThrottle::~UiThrottle() {
    std::erase(liveThrottles(), this);
}

void UiThrottle::deliverAllPending() {
    for (UiThrottle* throttle : liveThrottles()) {
        if (!throttle->scheduled_.load() || throttle->thread() != QThread::currentThread()) continue;
        // The delivery already queued still comes; it shows the same state again.
        throttle->lastDelivery_.restart();
        throttle->deliver();
    }
}

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
