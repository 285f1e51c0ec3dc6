// A progress bar fed by an engine's ProgressSink from any thread. Ranges beyond what a
// QProgressBar holds (sector counts of large disks) are scaled down evenly. Beside the bar (the
// label WizardPage::makeProgressRow puts there) it shows the amount done and an estimate of the
// time left, from the pace since the range was set.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QString>
#include <cstdint>
#include <mutex>

#include "app/UiThrottle.h"
#include "common/Sinks.h"

namespace vindaru::app {

class UiProgressSink : public UiThrottle, public ProgressSink {
    Q_OBJECT
  public:
    // What the range counts, for the amount text.
    enum class Unit { Steps, Sectors, Files };

    explicit UiProgressSink(QProgressBar* bar);
    void setRange(std::int64_t lower, std::int64_t upper) override;
    void setPosition(std::int64_t position) override;
    void setUnit(Unit unit);
    // The bar to its end: the work is done (also when the engine's last report fell short).
    void complete();
    // An empty bar and no amount text: nothing of an earlier run shows before a new one starts.
    void reset();
    // While paused the amount says so, and the time spent paused does not count in the pace.
    void setPaused(bool paused);

    // "1.20 GB of 4.75 GB, about 3 min left"; empty before the first position.
    static QString amountText(Unit unit, std::int64_t done, std::int64_t total,
                              std::int64_t secondsLeft);
    static QString timeLeftText(std::int64_t seconds);

    static constexpr const char* kAmountLabelProperty = "vindaruAmountLabel";

    // The clock the pace is measured by, in milliseconds of a steady clock; any thread may read
    // it. Tests set their own (nullptr: the steady clock again).
    using Clock = std::int64_t (*)();
    static void setClock(Clock clock);

  protected:
    void deliver() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPointer<QProgressBar> bar_;
    QPointer<QLabel> amount_;
    std::mutex mutex_;
    std::int64_t lower_ = 0;
    std::int64_t upper_ = 100;
    std::int64_t position_ = 0;
    Unit unit_ = Unit::Steps;
    // The pace: the position and time when the range was set.
    std::int64_t startMs_ = 0;
    std::int64_t startPosition_ = 0;
    bool paused_ = false;
    bool amountHidden_ = false; // after reset, until the next range
    std::int64_t pausedSinceMs_ = 0;
    std::int64_t pausedMs_ = 0;
};

} // namespace vindaru::app
