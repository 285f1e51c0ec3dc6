// Hands a file's content to a sink in order, cut exactly at the file's real size, with the bytes
// past its initialized size given as zeros (they are not the file's data, whatever the disk holds
// there).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <span>

namespace vindaru {

class ContentEmitter {
public:
    using Sink = std::function<bool(std::span<const std::uint8_t>)>;

    ContentEmitter(const Sink& sink, std::uint64_t realSize, std::uint64_t initializedSize)
        : sink_(sink), realSize_(realSize), initializedSize_(std::min(initializedSize, realSize)) {}

    // False once the file is complete or the sink asked to stop.
    bool wantsMore() const { return ok_ && written_ < realSize_; }
    bool sinkOk() const { return ok_; }
    std::uint64_t written() const { return written_; }

    void emit(std::span<const std::uint8_t> data) {
        if (!wantsMore()) return;
        const std::uint64_t n = std::min<std::uint64_t>(data.size(), realSize_ - written_);
        const std::uint64_t valid =
            initializedSize_ > written_ ? std::min(n, initializedSize_ - written_) : 0;
        if (valid > 0) give(data.first(static_cast<std::size_t>(valid)));
        if (n > valid) zeros(n - valid);
    }

    void emitZeros(std::uint64_t count) {
        if (!wantsMore()) return;
        zeros(std::min(count, realSize_ - written_));
    }

private:
    void give(std::span<const std::uint8_t> data) {
        if (ok_ && !sink_(data)) ok_ = false;
        written_ += data.size();
    }
    void zeros(std::uint64_t count) {
        static const std::array<std::uint8_t, 65536> kZeros{};
        while (count > 0 && ok_) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, kZeros.size()));
            give(std::span<const std::uint8_t>(kZeros.data(), n));
            count -= n;
        }
    }

    const Sink& sink_;
    std::uint64_t realSize_;
    std::uint64_t initializedSize_;
    std::uint64_t written_ = 0;
    bool ok_ = true;
};

} // namespace vindaru
