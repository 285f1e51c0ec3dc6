#include "image/VmdkSparseHeader.h"

#include <algorithm>
#include <vector>

#include "common/ByteLoader.h"
#include "image/ReadOnlyFile.h"

namespace vindaru {

VmdkSparseHeader VmdkSparseHeader::decode(std::span<const std::uint8_t> sector) {
    VmdkSparseHeader h;
    h.hasMagic = le32(sector, kVmdkMagicOffset) == kVmdkSparseMagic;
    h.version = le32(sector, kVmdkVersionOffset);
    h.flags = le32(sector, kVmdkFlagsOffset);
    h.capacity = le64(sector, kVmdkCapacityOffset);
    h.grainSize = le64(sector, kVmdkGrainSizeOffset);
    h.descriptorOffset = le64(sector, kVmdkDescriptorOffsetOffset);
    h.descriptorSize = le64(sector, kVmdkDescriptorSizeOffset);
    h.gtesPerGrainTable = le32(sector, kVmdkGtesPerGtOffset);
    h.redundantDirectorySector = le64(sector, kVmdkRedundantDirectoryOffset);
    h.grainDirectorySector = le64(sector, kVmdkGrainDirectoryOffset);
    h.overheadSectors = le64(sector, kVmdkOverheadOffset);
    h.compressAlgorithm = le16(sector, kVmdkCompressAlgorithmOffset);
    return h;
}

std::optional<VmdkSparseHeader::Area> VmdkSparseHeader::descriptorArea() const {
    std::uint64_t d = 0, s = 0, c = 0;
    if (!checkedMul(descriptorOffset, 512, d) || !checkedMul(descriptorSize, 512, s)) return std::nullopt;
    // A capacity whose byte count overflows is larger than any offset that does not.
    if (!checkedMul(capacity, 512, c)) c = UINT64_MAX;
    if (d == 0 || d >= c || s == 0 || s >= c) return std::nullopt;
    return Area{d, s};
}

std::string readEmbeddedDescriptor(const ReadOnlyFile& file, const VmdkSparseHeader::Area& area) {
    const std::uint64_t inFile = area.offset < file.length() ? file.length() - area.offset : 0;
    const std::uint64_t size = std::min({area.size, inFile, kVmdkMaxDescriptorBytes});
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    const std::int64_t got = file.readAt(area.offset, bytes);
    if (got <= 0) return {};
    bytes.resize(static_cast<std::size_t>(got));
    // The descriptor ends at its first NUL; an area without one is bounded by its size.
    const auto nul = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return std::string(bytes.begin(), nul);
}

} // namespace vindaru
