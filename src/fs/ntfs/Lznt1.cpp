#include "fs/ntfs/Lznt1.h"

#include <algorithm>

namespace vindaru {

namespace {

constexpr std::uint16_t kChunkSizeMask = 0x0FFF;
constexpr std::uint16_t kChunkCompressed = 0x8000;

// Splits a back-reference token: the further into the chunk, the more offset bits.
void splitToken(std::uint16_t token, std::size_t chunkPosition, std::size_t& offset,
                std::size_t& length) {
    unsigned lengthBits = 12;
    for (std::size_t p = chunkPosition - 1; p >= 0x10; p >>= 1) --lengthBits;
    offset = (static_cast<std::size_t>(token) >> lengthBits) + 1;
    length = (token & ((1u << lengthBits) - 1)) + 3;
}

// Decodes one compressed chunk's data into out[start, ...), at most one chunk's worth.
bool decodeChunk(ByteSpan data, std::span<std::uint8_t> output, std::size_t start,
                 std::size_t& produced) {
    const std::size_t limit = std::min(output.size(), start + kLznt1ChunkSize);
    std::size_t out = start;
    std::size_t in = 0;
    while (in < data.size() && out < limit) {
        const std::uint8_t flags = data[in++];
        for (int bit = 0; bit < 8 && in < data.size() && out < limit; ++bit) {
            if ((flags & (1u << bit)) == 0) {
                output[out++] = data[in++];
                continue;
            }
            if (in + 2 > data.size()) {
                produced = out - start;
                return false;
            }
            const std::uint16_t token = le16(data, in);
            in += 2;
            const std::size_t position = out - start;
            if (position == 0) {
                produced = 0;
                return false; // a reference before any byte of the chunk
            }
            std::size_t offset = 0;
            std::size_t length = 0;
            splitToken(token, position, offset, length);
            if (offset > position) {
                produced = position;
                return false;
            }
            for (std::size_t i = 0; i < length && out < limit; ++i, ++out)
                output[out] = output[out - offset];
        }
    }
    produced = out - start;
    return true;
}

} // namespace

Lznt1Result lznt1Decompress(ByteSpan input, std::span<std::uint8_t> output) {
    Lznt1Result result;
    std::size_t in = 0;
    while (result.produced < output.size() && in + 2 <= input.size()) {
        const std::uint16_t header = le16(input, in);
        const std::size_t dataSize = static_cast<std::size_t>(header & kChunkSizeMask) + 1;
        if ((header & kChunkSizeMask) == 0) break;
        in += 2;
        if (dataSize > input.size() - in) {
            result.ok = false;
            return result;
        }
        const ByteSpan data = input.subspan(in, dataSize);
        in += dataSize;
        if ((header & kChunkCompressed) == 0) {
            const std::size_t n = std::min(dataSize, output.size() - result.produced);
            std::copy_n(data.begin(), n, output.begin() + static_cast<std::ptrdiff_t>(result.produced));
            result.produced += n;
            continue;
        }
        std::size_t produced = 0;
        const bool ok = decodeChunk(data, output, result.produced, produced);
        if (!ok) {
            result.produced += produced;
            result.ok = false;
            return result;
        }
        // Every chunk stands for a whole 4096 bytes of output: one that decodes shorter is
        // followed by zeros when another chunk comes after it.
        const bool more = in + 2 <= input.size() && (le16(input, in) & kChunkSizeMask) != 0;
        if (more && produced < kLznt1ChunkSize) {
            const std::size_t end = std::min(output.size(), result.produced + kLznt1ChunkSize);
            std::fill(output.begin() + static_cast<std::ptrdiff_t>(result.produced + produced),
                      output.begin() + static_cast<std::ptrdiff_t>(end), 0);
            produced = end - result.produced;
        }
        result.produced += produced;
    }
    return result;
}

} // namespace vindaru
