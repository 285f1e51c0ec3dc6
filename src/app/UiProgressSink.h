// A progress bar fed by an engine's ProgressSink from any thread. Ranges beyond what a
// QProgressBar holds (sector counts of large disks) are scaled down evenly.
#pragma once

#include <QPointer>
#include <QProgressBar>
#include <cstdint>
#include <mutex>

#include "app/UiThrottle.h"
#include "common/Sinks.h"

namespace vindaru::app {

class UiProgressSink : public UiThrottle, public ProgressSink {
    Q_OBJECT
  public:
    explicit UiProgressSink(QProgressBar* bar) : bar_(bar) {}
    void setRange(std::int64_t lower, std::int64_t upper) override;
    void setPosition(std::int64_t position) override;

  protected:
    void deliver() override;

  private:
    QPointer<QProgressBar> bar_;
    std::mutex mutex_;
    std::int64_t lower_ = 0;
    std::int64_t upper_ = 100;
    std::int64_t position_ = 0;
};

} // namespace vindaru::app
