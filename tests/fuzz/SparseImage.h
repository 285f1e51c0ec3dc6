// Image files that are mostly zeros (VHDX keeps its structures a MiB apart) as short fuzz inputs:
// the input is a little-endian u32 file length, then pieces, each a u32 offset, a u16 length and
// that many bytes, laid over zeros. Pieces past the length are cut off; the length is capped so
// that one input cannot ask for more than a few MiB. tests/fuzz/sparse_seed.py writes a real
// image (one made by qemu-img) in this form.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "common/ByteLoader.h"

namespace vindaru::fuzz {

inline constexpr std::uint32_t kMaxSparseImage = 24u << 20;

inline std::vector<std::uint8_t> expandSparseImage(std::span<const std::uint8_t> input,
                                                   std::uint32_t maxLength = kMaxSparseImage) {
    const std::uint32_t length = std::min(le32(input, 0), maxLength);
    std::vector<std::uint8_t> image(length);
    std::size_t at = 4;
    while (fits(input, at, 6)) {
        const std::uint32_t offset = le32(input, at);
        const std::size_t n = std::min<std::size_t>(le16(input, at + 4), input.size() - at - 6);
        if (offset < length) {
            const std::size_t inside = std::min<std::size_t>(n, length - offset);
            std::memcpy(image.data() + offset, input.data() + at + 6, inside);
        }
        at += 6 + n;
    }
    return image;
}

} // namespace vindaru::fuzz
