// Stop flag and pause gate: the UI thread sets them, an engine polls them in its loops.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vindaru {

// The stop flag. Every press of Stop is a request of its own, counted; looking at the flag marks
// the requests made so far as seen. A step that was stopped and lets the next step go on with what
// it found calls acknowledge(): that forgets only the requests seen, so a Stop pressed after the
// engine last looked (just before the step ended, or between two steps) still stops the next
// step. reset() forgets every request; it belongs where a new run is started, before its worker
// runs, so that a Stop pressed once the run has begun is never wiped.
class StopFlag {
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

public:
    // Async-signal-safe (one lock-free increment): the command line raises it from SIGINT.
    void raise() { requests_.fetch_add(1); }
    void acknowledge() { acknowledged_.store(seen_.load()); }
    void reset() {
        const std::uint64_t requests = requests_.load();
        seen_.store(requests);
        acknowledged_.store(requests);
    }
    bool load() const {
        const std::uint64_t requests = requests_.load();
        if (requests == acknowledged_.load()) return false;
        std::uint64_t seen = seen_.load();
        while (seen < requests && !seen_.compare_exchange_weak(seen, requests)) {
        }
        return true;
    }

private:
    std::atomic<std::uint64_t> requests_{0};
    mutable std::atomic<std::uint64_t> seen_{0};
    std::atomic<std::uint64_t> acknowledged_{0};
};

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
    void wait(const StopFlag& stop) {
        std::unique_lock lock(mutex_);
        while (paused_ && !stop.load())
            cv_.wait_for(lock, std::chrono::milliseconds(50));
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool paused_ = false;
};

// Every engine owns one of these; `stopRequested` keeps the engines' own name for the flag.
struct EngineControl {
    StopFlag stopRequested;
    PauseGate pauseGate;

    // The engines' polling point: waits while paused, then tells whether to stop.
    bool shouldStop() {
        pauseGate.wait(stopRequested);
        return stopRequested.load();
    }
    void requestStop() {
        stopRequested.raise();
        pauseGate.resume();
    }
};

} // namespace vindaru
