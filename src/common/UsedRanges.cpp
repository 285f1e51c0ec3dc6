#include "common/UsedRanges.h"

#include <algorithm>
#include <limits>

namespace vindaru {

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

std::uint64_t position(std::uint64_t base, std::uint64_t index, std::uint64_t unit) {
    if (unit != 0 && index > (kMax - base) / unit) return kMax;
    return base + index * unit;
}

} // namespace

void appendByteRange(UsedRanges& ranges, std::uint64_t begin, std::uint64_t end) {
    if (end <= begin) return;
    if (!ranges.empty() && begin <= ranges.back().second && begin >= ranges.back().first) {
        ranges.back().second = std::max(ranges.back().second, end);
        return;
    }
    ranges.emplace_back(begin, end);
}

void appendSetBitRanges(UsedRanges& ranges, std::span<const std::uint8_t> bitmap, std::uint64_t bits,
                        BitOrder order, std::uint64_t base, std::uint64_t unit) {
    bits = std::min<std::uint64_t>(bits, std::uint64_t{bitmap.size()} * 8);
    std::uint64_t at = 0;
    while (at < bits) {
        const std::uint8_t byte = bitmap[static_cast<std::size_t>(at / 8)];
        // Whole bytes of one value are passed in one step.
        if (at % 8 == 0 && at + 8 <= bits && (byte == 0 || byte == 0xFF)) {
            if (byte == 0xFF) appendByteRange(ranges, position(base, at, unit), position(base, at + 8, unit));
            at += 8;
            continue;
        }
        if (isBitSet(byte, at, order)) appendByteRange(ranges, position(base, at, unit), position(base, at + 1, unit));
        ++at;
    }
}

} // namespace vindaru
