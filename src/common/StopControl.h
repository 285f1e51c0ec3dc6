// Stop flag and pause gate: the UI thread sets them, an engine polls them in its loops.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vindaru {

// The stop flag. Raising it is a request; looking at it marks the requests so far as seen.
// Lowering it (the steps that clear the flag so that the next step goes on with what was found)
// forgets only the requests that were seen: a Stop pressed after the engine last looked, even
// one pressed just before the clearing, stays raised for the next step. reset() forgets every
// request, for the start of a new run.
class StopFlag {
public:
    void store(bool raise, std::memory_order = std::memory_order_seq_cst) {
        if (raise)
            requests_.fetch_add(1);
        else
            acknowledged_.store(seen_.load());
    }
    StopFlag& operator=(bool raise) {
        store(raise);
        return *this;
    }
    bool load(std::memory_order = std::memory_order_seq_cst) const {
        const std::uint64_t requests = requests_.load();
        if (requests == acknowledged_.load()) return false;
        std::uint64_t seen = seen_.load();
        while (seen < requests && !seen_.compare_exchange_weak(seen, requests)) {
        }
        return true;
    }
    operator bool() const { return load(); }
    void reset() {
        const std::uint64_t requests = requests_.load();
        seen_.store(requests);
        acknowledged_.store(requests);
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
        stopRequested.store(true);
        pauseGate.resume();
    }
};

} // namespace vindaru
