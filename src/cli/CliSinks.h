// The command line's sinks: messages and status texts go to stderr, progress is a bar on stderr
// when that is a terminal. Engines report through these exactly as they do to the wizard.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/Sinks.h"

namespace vindaru::cli {

// Prints every message's text as it is, one per line. A question is answered Yes only when the
// user said so beforehand (`--yes`); the answer is printed after the question.
class CliMessageSink : public MessageSink {
  public:
    explicit CliMessageSink(bool assumeYes = false) : assumeYes_(assumeYes) {}
    MessageAnswer show(const Message& message) override;
    std::size_t shownCount() const;

  private:
    bool assumeYes_;
    mutable std::mutex mutex_;
    std::size_t shown_ = 0;
};

// Draws "[#####.....]  42%  label" on stderr, redrawn at most every 100 ms. Inactive (draws
// nothing) when stderr is not a terminal, so logs and pipes stay clean.
class CliProgressSink : public ProgressSink {
  public:
    explicit CliProgressSink(bool active = stderrIsTerminal());
    ~CliProgressSink() override;
    void setRange(std::int64_t lower, std::int64_t upper) override;
    void setPosition(std::int64_t position) override;
    // Text shown after the bar (the engine's latest status text).
    void setLabel(const std::string& label);
    // Draws the final state and ends the line; `complete` fills the bar (the engine moves it
    // only every few MiB, so its last position may fall short of the end).
    void finish(bool complete = false);
    bool active() const { return active_; }
    static bool stderrIsTerminal();

  private:
    void drawLocked(bool force);

    bool active_;
    std::mutex mutex_;
    std::int64_t lower_ = 0;
    std::int64_t upper_ = 0;
    std::int64_t position_ = 0;
    std::string label_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// Prints status texts to stderr, one per line, dropping repeats and printing at most one text
// per `interval` (the last one held back is printed by flush() or the destructor). With a
// progress bar attached, the texts become the bar's label instead.
class CliStatusSink : public StatusSink {
  public:
    explicit CliStatusSink(CliProgressSink* bar = nullptr,
                           std::chrono::milliseconds interval = std::chrono::milliseconds(250));
    ~CliStatusSink() override;
    void setText(const std::string& text) override;
    void flush();

  private:
    void printLocked(const std::string& text);

    CliProgressSink* bar_;
    std::chrono::milliseconds interval_;
    std::mutex mutex_;
    std::string lastPrinted_;
    std::string pending_;
    bool hasPending_ = false;
    std::chrono::steady_clock::time_point lastPrint_{};
};

} // namespace vindaru::cli
