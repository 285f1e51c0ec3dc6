// Engines' message boxes on screen. A box is always shown by the UI thread; a worker that asks
// waits for the answer, but gives up (answering No / OK) once the page abandons the sink, so a
// page that is closing can stop and join its worker without a deadlock.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <functional>

#include "common/Sinks.h"

class QMessageBox;

namespace vindaru::app {

class UiMessageSink : public QObject, public MessageSink {
    Q_OBJECT
  public:
    explicit UiMessageSink(QWidget* owner);

    MessageAnswer show(const Message& message) override;
    // From now on workers get the default answer at once and nothing more is shown.
    void abandon() { abandoned_.store(true); }
    void reopen() { abandoned_.store(false); }

    // The box itself (UI thread): caption the application title or none, the given icon.
    static MessageAnswer showBox(QWidget* parent, const Message& message);
    // Keeps a box wide enough for its whole caption.
    static void keepCaptionWhole(QMessageBox& box);

    // Runs `dialog` on the UI thread and gives its answer to the calling thread (any thread),
    // or `fallback` once the sink is abandoned: a worker's question in a dialog of its own.
    int ask(const std::function<int(QWidget* owner)>& dialog, int fallback);

  private:
    QPointer<QWidget> owner_;
    std::atomic<bool> abandoned_{false};
};

} // namespace vindaru::app
