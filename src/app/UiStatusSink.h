// A status line fed by an engine's StatusSink from any thread.
#pragma once

#include <QLabel>
#include <QPointer>
#include <mutex>
#include <string>

#include "app/UiThrottle.h"
#include "common/Sinks.h"

namespace vindaru::app {

class UiStatusSink : public UiThrottle, public StatusSink {
    Q_OBJECT
  public:
    explicit UiStatusSink(QLabel* label) : label_(label) {}
    void setText(const std::string& text) override;

  signals:
    void shown(const QString& text);

  protected:
    void deliver() override;

  private:
    QPointer<QLabel> label_;
    std::mutex mutex_;
    std::string latest_;
};

} // namespace vindaru::app
