// A byte buffer that a thread keeps between uses. Scans that read large pieces over and over
// (volume after volume on the scan page, the tests, the fuzz targets) would otherwise pay for
// fresh pages every time. A use that begins while another is active on the same thread gets a
// buffer of its own, so nested scans never share one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vindaru {

class ScratchBuffer {
  public:
    ScratchBuffer() : useKept_(!keptInUse()) {
        if (useKept_) keptInUse() = true;
    }
    ~ScratchBuffer() {
        if (useKept_) keptInUse() = false;
    }
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;

    // The first `n` bytes of the buffer, which grows to hold them; what they hold is left over.
    std::span<std::uint8_t> first(std::size_t n) {
        std::vector<std::uint8_t>& b = useKept_ ? kept() : own_;
        if (b.size() < n + kAlign) b.resize(n + kAlign);
        const auto at = reinterpret_cast<std::uintptr_t>(b.data());
        const std::size_t skip = static_cast<std::size_t>((kAlign - at % kAlign) % kAlign);
        return std::span(b).subspan(skip, n);
    }

  private:
    // Where the bytes start: on a page, as the kernel copies into most quickly.
    static constexpr std::size_t kAlign = 4096;
    static std::vector<std::uint8_t>& kept() {
        thread_local std::vector<std::uint8_t> bytes;
        return bytes;
    }
    static bool& keptInUse() {
        thread_local bool inUse = false;
        return inUse;
    }

    bool useKept_;
    std::vector<std::uint8_t> own_;
};

} // namespace vindaru
