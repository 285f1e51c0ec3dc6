// The one worker thread of a page. The job runs on a std::thread; when it ends, the page is told
// on the UI thread (unless the page is gone by then). The destructor waits for the job, so a
// page must first tell its engines to stop (and abandon its message sink) before it dies.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <thread>

namespace vindaru::app {

class PageWorker {
  public:
    explicit PageWorker(QObject* page) : page_(page) {}
    ~PageWorker() { join(); }
    PageWorker(const PageWorker&) = delete;
    PageWorker& operator=(const PageWorker&) = delete;

    // Starts `job` on a new thread; `finished` then runs on the page's thread. A previous job
    // must have ended (the pages never run two at once).
    void start(std::function<void()> job, std::function<void()> finished = {});
    bool running() const { return running_.load(); }
    void join();

  private:
    QPointer<QObject> page_;
    std::thread thread_;
    std::atomic<bool> running_{false};
};

} // namespace vindaru::app
