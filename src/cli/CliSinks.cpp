#include "cli/CliSinks.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <unistd.h>

#include "common/DisplayFormat.h"

namespace vindaru::cli {

namespace {
constexpr int kBarWidth = 30;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// Long labels are cut so the bar line does not wrap on an ordinary terminal.
constexpr std::size_t kMaxLabel = 50;
// Before this, the rate is mostly start-up cost and the estimate would jump about.
constexpr auto kEstimateAfter = std::chrono::seconds(1);
// A damaged volume can raise one message per file; what a failure reprints is bounded.
constexpr std::size_t kMaxHeldMessages = 200;

std::atomic<bool> verboseOutput{false};

struct HeldMessages {
    std::mutex mutex;
    std::vector<std::string> texts;
    std::size_t dropped = 0;
};

HeldMessages& held() {
    static HeldMessages messages;
    return messages;
}

void holdMessage(const std::string& text) {
    HeldMessages& h = held();
    std::lock_guard lock(h.mutex);
    if (h.texts.size() < kMaxHeldMessages)
        h.texts.push_back(text);
    else
        ++h.dropped;
}

std::string groupedCount(std::uint64_t value) {
    std::string digits = std::to_string(value);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

std::string durationText(std::chrono::seconds left) {
    const auto s = left.count();
    if (s >= 3600) return formatText("%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                                     static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
    return formatText("%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
}

} // namespace

void setVerbose(bool on) {
    verboseOutput.store(on);
}

bool verbose() {
    return verboseOutput.load();
}

void printHeldMessages() {
    HeldMessages& h = held();
    std::lock_guard lock(h.mutex);
    for (const auto& text : h.texts) std::fprintf(stderr, "%s\n", text.c_str());
    if (h.dropped) std::fprintf(stderr, "(%zu more messages; --verbose prints every one)\n", h.dropped);
    h.texts.clear();
    h.dropped = 0;
    std::fflush(stderr);
}

MessageAnswer CliMessageSink::show(const Message& message) {
    std::lock_guard lock(mutex_);
    ++shown_;
    const bool question = message.buttons == MessageButtons::YesNo;
    std::string text = message.text;
    if (question)
        text += assumeYes_ ? " [answered Yes (--yes)]" : " [answered No; --yes answers Yes]";
    if (verbose() || message.icon == MessageIcon::Warning || message.icon == MessageIcon::Error) {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    } else {
        holdMessage(text);
    }
    if (!question) return MessageAnswer::Ok;
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
    position_ = lower;
    phaseStart_ = std::chrono::steady_clock::now();
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

void CliProgressSink::setUnit(ProgressUnit unit) {
    std::lock_guard lock(mutex_);
    unit_ = std::move(unit);
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

std::string CliProgressSink::amountText(std::int64_t lower, std::int64_t upper, std::int64_t position,
                                        const ProgressUnit& unit, std::chrono::milliseconds elapsed) {
    if (upper <= lower) return "";
    const auto total = static_cast<std::uint64_t>(upper - lower);
    const auto done = static_cast<std::uint64_t>(std::clamp(position, lower, upper) - lower);
    std::string text;
    if (unit.bytesPerStep) {
        // Sizes as the program writes them elsewhere; a step count that would overflow as bytes
        // is shown as steps.
        if (total <= UINT64_MAX / unit.bytesPerStep)
            text = formatSizeText(done * unit.bytesPerStep) + " / " + formatSizeText(total * unit.bytesPerStep);
        else
            text = groupedCount(done) + " / " + groupedCount(total);
    } else if (unit.totalBytes) {
        const double fraction = static_cast<double>(done) / static_cast<double>(total);
        text = formatSizeText(static_cast<std::uint64_t>(fraction * static_cast<double>(unit.totalBytes))) +
               " / " + formatSizeText(unit.totalBytes);
    } else {
        text = groupedCount(done) + " / " + groupedCount(total);
        if (!unit.itemName.empty()) text += " " + unit.itemName;
    }
    if (done > 0 && done < total && elapsed >= kEstimateAfter) {
        const double left = static_cast<double>(elapsed.count()) * static_cast<double>(total - done) /
                            static_cast<double>(done) / 1000.0;
        text += "  ETA " + durationText(std::chrono::seconds(static_cast<long long>(left + 0.5)));
    }
    return text;
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
    const std::string amount = amountText(
        lower_, upper_, position_, unit_,
        std::chrono::duration_cast<std::chrono::milliseconds>(now - phaseStart_));
    // \r returns to the line start, \x1b[K clears what a longer previous line left behind.
    std::fprintf(stderr, "\r[%s] %3d%%  %s%s%s\x1b[K", bar.c_str(), static_cast<int>(fraction * 100),
                 amount.c_str(), amount.empty() ? "" : "  ", label_.c_str());
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
    if (!verbose()) return;
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
