#include "cli/CliSinks.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace vindaru::cli {

namespace {
constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// Long labels are cut so the bar line does not wrap on an ordinary terminal.
constexpr std::size_t kMaxLabel = 70;
} // namespace

MessageAnswer CliMessageSink::show(const Message& message) {
    std::lock_guard lock(mutex_);
    ++shown_;
    if (message.buttons != MessageButtons::YesNo) {
        std::fprintf(stderr, "%s\n", message.text.c_str());
        std::fflush(stderr);
        return MessageAnswer::Ok;
    }
    std::fprintf(stderr, "%s [%s]\n", message.text.c_str(),
                 assumeYes_ ? "answered Yes (--yes)" : "answered No; --yes answers Yes");
    std::fflush(stderr);
    return assumeYes_ ? MessageAnswer::Yes : MessageAnswer::No;
}

std::size_t CliMessageSink::shownCount() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

bool CliProgressSink::stderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

CliProgressSink::CliProgressSink(bool active) : active_(active) {}

CliProgressSink::~CliProgressSink() {
    finish();
}

void CliProgressSink::setRange(std::int64_t lower, std::int64_t upper) {
    std::lock_guard lock(mutex_);
    lower_ = lower;
    upper_ = upper;
    drawLocked(true);
}

void CliProgressSink::setPosition(std::int64_t position) {
    std::lock_guard lock(mutex_);
    position_ = position;
    drawLocked(false);
}

void CliProgressSink::setLabel(const std::string& label) {
    std::lock_guard lock(mutex_);
    label_ = label.substr(0, kMaxLabel);
    drawLocked(false);
}

void CliProgressSink::finish(bool complete) {
    std::lock_guard lock(mutex_);
    if (!active_ || !drawn_) return;
    if (complete) position_ = upper_;
    drawLocked(true);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    drawn_ = false;
}

void CliProgressSink::drawLocked(bool force) {
    if (!active_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && drawn_ && now - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = now;
    drawn_ = true;
    double fraction = 0.0;
    if (upper_ > lower_)
        fraction = std::clamp(static_cast<double>(position_ - lower_) /
                                  static_cast<double>(upper_ - lower_),
                              0.0, 1.0);
    const int filled = static_cast<int>(fraction * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    // \r returns to the line start, \x1b[K clears what a longer previous label left behind.
    std::fprintf(stderr, "\r[%s] %3d%%  %s\x1b[K", bar.c_str(), static_cast<int>(fraction * 100),
                 label_.c_str());
    std::fflush(stderr);
}

CliStatusSink::CliStatusSink(CliProgressSink* bar, std::chrono::milliseconds interval)
    : bar_(bar && bar->active() ? bar : nullptr), interval_(interval) {}

CliStatusSink::~CliStatusSink() {
    flush();
}

void CliStatusSink::setText(const std::string& text) {
    if (bar_) {
        bar_->setLabel(text);
        return;
    }
    std::lock_guard lock(mutex_);
    if (text == lastPrinted_ && !hasPending_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPrint_ < interval_) {
        pending_ = text;
        hasPending_ = true;
        return;
    }
    printLocked(text);
}

void CliStatusSink::flush() {
    std::lock_guard lock(mutex_);
    if (hasPending_ && pending_ != lastPrinted_) printLocked(pending_);
    hasPending_ = false;
}

void CliStatusSink::printLocked(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    lastPrinted_ = text;
    hasPending_ = false;
    lastPrint_ = std::chrono::steady_clock::now();
}

} // namespace vindaru::cli
