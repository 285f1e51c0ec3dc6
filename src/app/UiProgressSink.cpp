#include "app/UiProgressSink.h"

#include <algorithm>
#include <cstdlib>

namespace vindaru::app {

namespace {
constexpr std::int64_t kBarLimit = 1'000'000'000; // well inside a QProgressBar's int range
}

void UiProgressSink::setRange(std::int64_t lower, std::int64_t upper) {
    {
        std::lock_guard lock(mutex_);
        lower_ = lower;
        upper_ = std::max(lower, upper);
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

void UiProgressSink::deliver() {
    std::int64_t lower, upper, position;
    {
        std::lock_guard lock(mutex_);
        lower = lower_;
        upper = upper_;
        position = position_;
    }
    if (!bar_) return;
    const std::int64_t magnitude = std::max({std::abs(lower), std::abs(upper), std::int64_t{1}});
    const std::int64_t scale = magnitude / kBarLimit + 1;
    const int lo = static_cast<int>(lower / scale);
    const int hi = static_cast<int>(upper / scale);
    bar_->setRange(lo, hi);
    bar_->setValue(
        static_cast<int>(std::clamp(position / scale, std::int64_t{lo}, std::int64_t{hi})));
}

} // namespace vindaru::app
