// The command line's sinks. Quiet by default: status texts and the engines' informational
// message boxes are printed only with --verbose; warnings and errors always. Messages held back
// are printed when the command fails, so a failure is never left unexplained. On a terminal a
// progress bar shows the amount done and an estimate of the time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/Sinks.h"

namespace vindaru::cli {

// --verbose, for the whole process (set once while the arguments are read).
void setVerbose(bool verbose);
bool verbose();
// Prints the messages held back in quiet mode (main calls it when a command fails).
void printHeldMessages();

// Prints a message's text, one per line, or holds it back (see above). A question is answered
// Yes only when the user said so beforehand (`--yes`); the answer is printed after it.
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

// What one step of the engine's progress range stands for, so the bar can show an amount.
struct ProgressUnit {
    std::uint64_t bytesPerStep = 0; // non-zero: the range counts this many bytes per step
    std::uint64_t totalBytes = 0;   // else non-zero: the whole range stands for this many bytes
    std::string itemName;           // else, when set: the range counts these ("files")

    static ProgressUnit bytes(std::uint64_t perStep) { return {perStep, 0, {}}; }
    static ProgressUnit wholeRange(std::uint64_t total) { return {0, total, {}}; }
    static ProgressUnit items(std::string name) { return {0, 0, std::move(name)}; }
};

// Draws "[#####.....]  42%  1.2 GB / 2.9 GB  ETA 0:12  label" on stderr, redrawn at most every
// 100 ms. Inactive (draws nothing) when stderr is not a terminal, so logs and pipes stay clean.
class CliProgressSink : public ProgressSink {
  public:
    explicit CliProgressSink(bool active = stderrIsTerminal());
    ~CliProgressSink() override;
    // A new range starts a new phase: its clock for the estimate starts again.
    void setRange(std::int64_t lower, std::int64_t upper) override;
    void setPosition(std::int64_t position) override;
    // Text shown after the bar (the engine's latest status text).
    void setLabel(const std::string& label);
    void setUnit(ProgressUnit unit);
    // Draws the final state and ends the line; `complete` fills the bar (the engine moves it
    // only every few MiB, so its last position may fall short of the end).
    void finish(bool complete = false);
    bool active() const { return active_; }
    static bool stderrIsTerminal();

    // The text after the bar's percentage for a phase `elapsed` old: the amount done and, once
    // the phase has run long enough to judge, the time left. Public for the tests.
    static std::string amountText(std::int64_t lower, std::int64_t upper, std::int64_t position,
                                  const ProgressUnit& unit, std::chrono::milliseconds elapsed);

  private:
    void drawLocked(bool force);

    bool active_;
    std::mutex mutex_;
    std::int64_t lower_ = 0;
    std::int64_t upper_ = 0;
    std::int64_t position_ = 0;
    std::string label_;
    ProgressUnit unit_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::chrono::steady_clock::time_point phaseStart_ = std::chrono::steady_clock::now();
};

// Prints status texts to stderr with --verbose, one per line, dropping repeats and printing at
// most one text per `interval` (the last one held back is printed by flush() or the
// destructor). With a progress bar attached, the texts become the bar's label instead.
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
