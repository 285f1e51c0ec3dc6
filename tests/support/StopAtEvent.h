// Presses Stop at one exact moment of an engine's run, as a user could: every status text and
// progress call the engine reports is an event, numbered in order, and the test names the event
// during which Stop is pressed. A run is deterministic, so a first run without a press tells the
// events of each step (the last report of one step is the moment between its last look at the
// stop flag and the next step's first one).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/Sinks.h"
#include "image/ByteSource.h"

namespace vindaru::test {

class StopAtEvent : public StatusSink, public ProgressSink {
public:
    // Events read "status <text>", "range <lower> <upper>" or "position <p>".
    std::vector<std::string> events;
    // Called once, during the event numbered `pressAt` (none: never).
    std::function<void()> press;
    std::optional<std::size_t> pressAt;

    void setText(const std::string& text) override { note("status " + text); }
    void setRange(std::int64_t lower, std::int64_t upper) override {
        note("range " + std::to_string(lower) + " " + std::to_string(upper));
    }
    void setPosition(std::int64_t position) override { note("position " + std::to_string(position)); }

    // The events after the press.
    std::vector<std::string> afterPress() const {
        if (!pressAt || *pressAt >= events.size()) return {};
        return {events.begin() + static_cast<std::ptrdiff_t>(*pressAt) + 1, events.end()};
    }
    // Events after the press that begin with `prefix`.
    std::size_t countAfterPress(const std::string& prefix) const {
        std::size_t n = 0;
        for (const std::string& e : afterPress())
            if (e.starts_with(prefix)) ++n;
        return n;
    }

    void note(std::string event) {
        events.push_back(std::move(event));
        if (pressAt && events.size() == *pressAt + 1 && press) press();
    }
};

// A disk whose reads are events too ("read <offset> <length>"), for steps that report nothing
// after their last look at the stop flag: their last read is then the moment to press Stop.
class ReadEvents {
public:
    mutable StopAtEvent* events = nullptr;
};

template <class Disk>
class ReadsAsEvents : public Disk, public ReadEvents {
public:
    using Disk::Disk;

protected:
    bool readRange(std::uint64_t at, std::span<std::uint8_t> out, ReadReport* report) const override {
        if (events) events->note("read " + std::to_string(at) + " " + std::to_string(out.size()));
        return Disk::readRange(at, out, report);
    }
};

// The number of the last event before `before` (exclusive) that begins with `prefix`.
inline std::optional<std::size_t> lastEventBefore(const std::vector<std::string>& events, const std::string& prefix,
                                                  std::size_t before) {
    for (std::size_t i = std::min(before, events.size()); i-- > 0;)
        if (events[i].starts_with(prefix)) return i;
    return std::nullopt;
}

// The number of the first event from `from` on that begins with `prefix`.
inline std::optional<std::size_t> firstEventFrom(const std::vector<std::string>& events, const std::string& prefix,
                                                 std::size_t from = 0) {
    for (std::size_t i = from; i < events.size(); ++i)
        if (events[i].starts_with(prefix)) return i;
    return std::nullopt;
}

} // namespace vindaru::test
