#include "image/VmdkGrainMarker.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "common/ByteLoader.h"

namespace vindaru {

std::optional<VmdkMarker> decodeVmdkMarker(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 16) return std::nullopt;
    VmdkMarker m;
    m.value = le64(bytes, kVmdkMarkerValueOffset);
    m.size = le32(bytes, kVmdkMarkerSizeOffset);
    m.type = le32(bytes, kVmdkMarkerTypeOffset);
    return m;
}

std::optional<VmdkSparseHeader> decodeVmdkStreamFooter(std::span<const std::uint8_t> tail) {
    if (tail.size() != kVmdkStreamTailBytes) return std::nullopt;
    const auto footerMarker = decodeVmdkMarker(tail.first(512));
    const auto endMarker = decodeVmdkMarker(tail.subspan(1024, 512));
    if (!footerMarker || footerMarker->isGrain() ||
        footerMarker->type != static_cast<std::uint32_t>(VmdkMarkerType::Footer))
        return std::nullopt;
    if (!endMarker || endMarker->value != 0 || endMarker->isGrain() ||
        endMarker->type != static_cast<std::uint32_t>(VmdkMarkerType::EndOfStream))
        return std::nullopt;
    VmdkSparseHeader footer = VmdkSparseHeader::decode(tail.subspan(512, 512));
    if (!footer.hasMagic) return std::nullopt;
    return footer;
}

bool inflateVmdkGrain(std::span<const std::uint8_t> in, std::uint64_t total, std::uint64_t skip,
                          std::span<std::uint8_t> out) {
    // zlib counts in 32-bit units; a window larger than that is filled in several calls.
    constexpr std::size_t kMax = std::numeric_limits<uInt>::max();
    if (in.size() > kMax || skip > total || out.size() > total - skip) return false;
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(in.data()); // zlib's interface is not const; it does not write
    z.avail_in = static_cast<uInt>(in.size());
    // The bytes before and after the window go through a small buffer and are dropped.
    std::uint8_t drop[16384];
    std::uint64_t produced = 0;
    int rc = Z_OK;
    while (rc == Z_OK) {
        std::uint8_t* to = drop;
        std::uint64_t room = sizeof drop;
        if (produced < skip) {
            room = std::min<std::uint64_t>(room, skip - produced);
        } else if (produced < skip + out.size()) {
            to = out.data() + (produced - skip);
            room = std::min<std::uint64_t>(skip + out.size() - produced, kMax);
        }
        z.next_out = to;
        z.avail_out = static_cast<uInt>(room);
        rc = inflate(&z, Z_NO_FLUSH);
        produced += room - z.avail_out;
        if (produced > total) break;
        // No progress with input left means the stream is cut short.
        if (rc == Z_BUF_ERROR || (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0)) break;
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END && produced == total;
}

} // namespace vindaru
