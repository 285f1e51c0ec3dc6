// Engines report from worker threads far more often than a screen can show. This folds any
// number of updates into one delivery on the UI thread, at most one per interval, always ending
// with the latest state. Updates made on the UI thread itself are delivered at once.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <atomic>

namespace vindaru::app {

class UiThrottle : public QObject {
    Q_OBJECT
  public:
    explicit UiThrottle(int intervalMs = 100);
    ~UiThrottle() override;

    // UI thread: shows every throttled update still waiting, before something that holds the
    // user's eye (a message box) would leave the screen showing older states behind it.
    static void deliverAllPending();

  protected:
    // Any thread: the latest state has been stored; make sure the UI thread will show it.
    void requestDelivery();
    // UI thread: show the latest state.
    virtual void deliver() = 0;

  private:
    void onDeliver();

    std::atomic<bool> scheduled_{false};
    QElapsedTimer lastDelivery_;
    int intervalMs_;
};

} // namespace vindaru::app
