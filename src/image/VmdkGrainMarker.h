// The framing of a stream-optimized VMDK extent: every grain is a marker (its first disk sector
// and the length of the deflate data that follows) and every table a metadata marker sector
// before it; the file ends with a footer (a copy of the header that knows where the grain
// directory went) and an end-of-stream marker. Decoding only; the extent reader does the I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "image/VmdkSparseHeader.h"

namespace vindaru {

inline constexpr std::size_t kVmdkMarkerValueOffset = 0; // grain: first disk sector; metadata: sectors that follow
inline constexpr std::size_t kVmdkMarkerSizeOffset = 8;  // grain: deflate bytes; metadata: 0
inline constexpr std::size_t kVmdkMarkerTypeOffset = 12; // metadata markers only
// The deflate data of a grain starts right after the marker's value and size.
inline constexpr std::size_t kVmdkGrainMarkerHeader = 12;
// The footer marker, the footer and the end-of-stream marker close the file, a sector each.
inline constexpr std::size_t kVmdkStreamTailBytes = 3 * 512;

enum class VmdkMarkerType : std::uint32_t { EndOfStream = 0, GrainTable = 1, GrainDirectory = 2, Footer = 3 };

struct VmdkMarker {
    std::uint64_t value = 0;
    std::uint32_t size = 0;
    std::uint32_t type = 0;
    bool isGrain() const { return size != 0; }
    // The sectors the whole marker takes: a grain's header and data rounded up to sectors, or a
    // metadata marker's own sector (the table it announces follows separately).
    std::uint64_t sectors() const { return isGrain() ? (kVmdkGrainMarkerHeader + size + 511) / 512 : 1; }
};

// The marker at the start of `bytes` (16 bytes are enough); nullopt when fewer are given.
std::optional<VmdkMarker> decodeVmdkMarker(std::span<const std::uint8_t> bytes);

// The header kept in the footer of a stream-optimized extent, from the file's last 1536 bytes:
// footer marker, footer, end-of-stream marker, each checked. nullopt when any is not there.
std::optional<VmdkSparseHeader> decodeVmdkStreamFooter(std::span<const std::uint8_t> tail);

// Bytes [skip, skip + out.size()) of a grain whose zlib stream must give exactly `total` bytes
// (the whole grain when skip is 0 and `out` holds `total`), without holding more of it than
// `out`. false when the stream is corrupt, cut short, or of another length.
bool inflateVmdkGrain(std::span<const std::uint8_t> in, std::uint64_t total, std::uint64_t skip,
                          std::span<std::uint8_t> out);

} // namespace vindaru
