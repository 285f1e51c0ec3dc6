// Stop flag and pause gate: the UI thread sets them, an engine polls them in its loops.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace vindaru {

// Pause/Resume without suspending a thread: the engine waits at the gate at the same points
// where it polls its stop flag, so it never stops while holding a file or allocator lock.
class PauseGate {
public:
    void pause() {
        std::lock_guard lock(mutex_);
        paused_ = true;
    }
    void resume() {
        {
            std::lock_guard lock(mutex_);
            paused_ = false;
        }
        cv_.notify_all();
    }
    bool paused() const {
        std::lock_guard lock(mutex_);
        return paused_;
    }
    // Blocks while paused; returns early when the stop flag is raised.
    void wait(const std::atomic<bool>& stop) {
        std::unique_lock lock(mutex_);
        while (paused_ && !stop.load(std::memory_order_relaxed))
            cv_.wait_for(lock, std::chrono::milliseconds(50));
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool paused_ = false;
};

// Every engine owns one of these; `stopRequested` keeps the engines' own name for the flag.
struct EngineControl {
    std::atomic<bool> stopRequested{false};
    PauseGate pauseGate;

    // The engines' polling point: waits while paused, then tells whether to stop.
    bool shouldStop() {
        pauseGate.wait(stopRequested);
        return stopRequested.load(std::memory_order_relaxed);
    }
    void requestStop() {
        stopRequested.store(true);
        pauseGate.resume();
    }
};

} // namespace vindaru
