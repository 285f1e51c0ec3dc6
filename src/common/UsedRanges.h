// Byte ranges of a volume, [begin, end), as the allocation maps of file systems give them: the
// space live files and the file system's own structures use. Carving that looks only at free
// space takes a list of these.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vindaru {

using UsedRanges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// A volume's used space as a free-space-only carve asks for it: the ranges, or none and the
// message that tells the user why.
struct UsedSpace {
    std::optional<UsedRanges> ranges;
    std::string message;
};

// How a bitmap numbers its bits: NTFS, exFAT and ext count from the lowest bit of each byte,
// HFS+ from the highest.
enum class BitOrder { LowFirst, HighFirst };

// Bit `bit` of a bitmap, in the byte that holds it (bit / 8 of the bitmap), counted as `order` says.
inline bool isBitSet(std::uint8_t byte, std::uint64_t bit, BitOrder order) {
    const unsigned shift = static_cast<unsigned>(order == BitOrder::LowFirst ? bit % 8 : 7 - bit % 8);
    return (byte >> shift & 1) != 0;
}

// Appends [begin, end), joined with the last range when they touch; empty ranges are left out.
void appendByteRange(UsedRanges& ranges, std::uint64_t begin, std::uint64_t end);

// Appends the byte ranges of the set bits among the first `bits` bits of `bitmap` (fewer when
// the bitmap is shorter): bit n stands for bytes [base + n * unit, base + (n + 1) * unit).
// Positions that would pass 2^64 are cut there.
void appendSetBitRanges(UsedRanges& ranges, std::span<const std::uint8_t> bitmap, std::uint64_t bits,
                        BitOrder order, std::uint64_t base, std::uint64_t unit);

} // namespace vindaru
