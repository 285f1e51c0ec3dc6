#include "app/PageWorker.h"

namespace vindaru::app {

void PageWorker::start(std::function<void()> job, std::function<void()> finished) {
    join();
    running_.store(true);
    QPointer<QObject> page = page_;
    thread_ = std::thread([this, page, job = std::move(job), finished = std::move(finished)] {
        job();
        running_.store(false);
        if (finished && page)
            QMetaObject::invokeMethod(page.data(), finished, Qt::QueuedConnection);
    });
}

void PageWorker::join() {
    if (thread_.joinable()) thread_.join();
}

} // namespace vindaru::app
