// LZNT1 decompression, as NTFS stores compressed files: a run of chunks, each with a 16-bit
// header (low 12 bits = chunk size including the header - 3, bit 15 = compressed). A compressed
// chunk is flag bytes, each governing eight items: a clear bit is a literal byte, a set bit a
// 16-bit back-reference whose split between offset and length bits depends on how far into the
// chunk's output it stands. Every reference is checked against what has been produced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/ByteLoader.h"

namespace vindaru {

// One chunk never decodes to more than this.
inline constexpr std::size_t kLznt1ChunkSize = 4096;

struct Lznt1Result {
    std::size_t produced = 0; // bytes written to the output
    bool ok = true;           // false: a chunk was damaged or claimed more bytes than the input
};

// Decodes `input` into `output`, stopping without error when the output is full (one
// compression unit) or at a chunk header whose size bits are 0. On a damaged chunk the output
// produced so far is kept and `ok` is false.
Lznt1Result lznt1Decompress(ByteSpan input, std::span<std::uint8_t> output);

} // namespace vindaru
