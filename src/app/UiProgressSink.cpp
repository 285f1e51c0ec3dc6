#include "app/UiProgressSink.h"

#include <QEvent>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>

#include "common/DisplayFormat.h"

namespace vindaru::app {

namespace {
constexpr std::int64_t kBarLimit = 1'000'000'000; // well inside a QProgressBar's int range
// Too early a guess swings wildly: none before this much time and work.
constexpr std::int64_t kFirstEstimateMs = 1500;
constexpr std::int64_t kSectorBytes = 512;

std::int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
std::atomic<UiProgressSink::Clock> clock{&steadyMs};
std::int64_t nowMs() {
    return clock.load()();
}
} // namespace

void UiProgressSink::setClock(Clock c) {
    clock.store(c ? c : &steadyMs);
}

UiProgressSink::UiProgressSink(QProgressBar* bar) : bar_(bar) {
    startMs_ = nowMs();
    if (!bar) return;
    amount_ = qobject_cast<QLabel*>(bar->property(kAmountLabelProperty).value<QObject*>());
    if (amount_) {
        amount_->setVisible(bar->isVisible());
        bar->installEventFilter(this);
    }
}

bool UiProgressSink::eventFilter(QObject* watched, QEvent* event) {
    if (watched == bar_ && amount_ && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        amount_->setVisible(event->type() == QEvent::Show);
    return false;
}

void UiProgressSink::setUnit(Unit unit) {
    std::lock_guard lock(mutex_);
    unit_ = unit;
}

void UiProgressSink::setRange(std::int64_t lower, std::int64_t upper) {
    {
        std::lock_guard lock(mutex_);
        lower_ = lower;
        upper_ = std::max(lower, upper);
        amountHidden_ = false;
        position_ = std::clamp(position_, lower_, upper_);
        startPosition_ = lower_;
        // A new range is a new pace: time paused before it does not count against it.
        startMs_ = nowMs();
        pausedMs_ = 0;
        if (paused_) pausedSinceMs_ = startMs_;
    }
    requestDelivery();
}

void UiProgressSink::setPosition(std::int64_t position) {
    {
        std::lock_guard lock(mutex_);
        position_ = position;
    }
    requestDelivery();
}

void UiProgressSink::complete() {
    {
        std::lock_guard lock(mutex_);
        position_ = upper_;
    }
    requestDelivery();
}

void UiProgressSink::reset() {
    {
        std::lock_guard lock(mutex_);
        // An empty bar (not the busy indicator an empty range draws), and no amount beside it.
        lower_ = position_ = startPosition_ = 0;
        upper_ = 1;
        amountHidden_ = true;
        pausedMs_ = 0;
        paused_ = false;
        startMs_ = nowMs();
    }
    requestDelivery();
}

void UiProgressSink::setPaused(bool paused) {
    {
        std::lock_guard lock(mutex_);
        if (paused == paused_) return;
        paused_ = paused;
        if (paused)
            pausedSinceMs_ = nowMs();
        else
            pausedMs_ += nowMs() - pausedSinceMs_;
    }
    requestDelivery();
}

QString UiProgressSink::timeLeftText(std::int64_t seconds) {
    if (seconds < 60) return QStringLiteral("about %1 s left").arg(std::max<std::int64_t>(seconds, 1));
    if (seconds < 3600) return QStringLiteral("about %1 min left").arg((seconds + 30) / 60);
    return QStringLiteral("about %1 h %2 min left").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

QString UiProgressSink::amountText(Unit unit, std::int64_t done, std::int64_t total,
                                   std::int64_t secondsLeft) {
    QString amount;
    switch (unit) {
    case Unit::Sectors:
        amount = QStringLiteral("%1 of %2")
                     .arg(QString::fromStdString(formatSizeText(static_cast<std::uint64_t>(done) * kSectorBytes)),
                          QString::fromStdString(formatSizeText(static_cast<std::uint64_t>(total) * kSectorBytes)));
        break;
    case Unit::Files:
        amount = QStringLiteral("%1 of %2 files").arg(done).arg(total);
        break;
    case Unit::Steps:
        amount = QStringLiteral("%1%").arg(total > 0 ? done * 100 / total : 100);
        break;
    }
    if (done >= total) return amount;
    if (secondsLeft >= 0) amount += QStringLiteral(", ") + timeLeftText(secondsLeft);
    return amount;
}

void UiProgressSink::deliver() {
    std::int64_t lower, upper, position, start, elapsed;
    Unit unit;
    bool paused;
    bool hidden;
    {
        std::lock_guard lock(mutex_);
        lower = lower_;
        upper = upper_;
        position = position_;
        start = startPosition_;
        const std::int64_t now = nowMs();
        elapsed = now - startMs_ - pausedMs_ - (paused_ ? now - pausedSinceMs_ : 0);
        unit = unit_;
        paused = paused_;
        hidden = amountHidden_;
    }
    if (!bar_) return;
    const std::int64_t magnitude = std::max({std::abs(lower), std::abs(upper), std::int64_t{1}});
    const std::int64_t scale = magnitude / kBarLimit + 1;
    const int lo = static_cast<int>(lower / scale);
    const int hi = static_cast<int>(upper / scale);
    bar_->setRange(lo, hi);
    bar_->setValue(
        static_cast<int>(std::clamp(position / scale, std::int64_t{lo}, std::int64_t{hi})));
    if (!amount_) return;
    const std::int64_t done = std::clamp(position, lower, upper) - lower;
    const std::int64_t total = upper - lower;
    std::int64_t secondsLeft = -1;
    const std::int64_t progressed = position - start;
    if (!paused && elapsed >= kFirstEstimateMs && progressed > 0 && position < upper) {
        const long double perUnitMs = static_cast<long double>(elapsed) / progressed;
        secondsLeft = static_cast<std::int64_t>(perUnitMs * (upper - position) / 1000.0L);
    }
    QString text = total > 0 && !hidden ? amountText(unit, done, total, secondsLeft) : QString();
    if (paused) text += text.isEmpty() ? QStringLiteral("Paused") : QStringLiteral(", paused");
    amount_->setText(text);
}

} // namespace vindaru::app
