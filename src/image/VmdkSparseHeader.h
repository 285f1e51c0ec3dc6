// The fields of the VMDK sparse extent header that the readers use (little-endian, sector
// numbers in 512-byte sectors), decoded from the first sector of the file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vindaru {

class ReadOnlyFile;

inline constexpr std::uint32_t kVmdkSparseMagic = 0x564D444B; // "KDMV" in file order
inline constexpr std::size_t kVmdkMagicOffset = 0;
inline constexpr std::size_t kVmdkVersionOffset = 4;
inline constexpr std::size_t kVmdkFlagsOffset = 8;
inline constexpr std::size_t kVmdkCapacityOffset = 12;
inline constexpr std::size_t kVmdkGrainSizeOffset = 20;
inline constexpr std::size_t kVmdkDescriptorOffsetOffset = 28;
inline constexpr std::size_t kVmdkDescriptorSizeOffset = 36;
inline constexpr std::size_t kVmdkGtesPerGtOffset = 44;
inline constexpr std::size_t kVmdkRedundantDirectoryOffset = 48;
inline constexpr std::size_t kVmdkGrainDirectoryOffset = 56;
inline constexpr std::size_t kVmdkOverheadOffset = 64;
inline constexpr std::size_t kVmdkCompressAlgorithmOffset = 77;

// Header flags.
inline constexpr std::uint32_t kVmdkFlagRedundantDirectory = 1u << 1;
inline constexpr std::uint32_t kVmdkFlagZeroedGrainEntries = 1u << 2;
inline constexpr std::uint32_t kVmdkFlagCompressed = 1u << 16;
inline constexpr std::uint32_t kVmdkFlagMarkers = 1u << 17;
inline constexpr std::uint16_t kVmdkCompressDeflate = 1;
// A stream-optimized header says its grain directory lies in the footer at the end of the file.
inline constexpr std::uint64_t kVmdkDirectoryAtEnd = ~std::uint64_t{0};

// The published format always uses 512 entries per grain table; more are refused.
inline constexpr std::uint32_t kVmdkMaxGtesPerGrainTable = 512;
// Far above any grain a writer uses (they stay at or below 128 MiB); keeps offsets from
// overflowing when grain and in-grain sector are added.
inline constexpr std::uint64_t kVmdkMaxGrainSize = std::uint64_t{1} << 24;
// Embedded descriptors are a few KiB; a larger area is read only up to this much.
inline constexpr std::uint64_t kVmdkMaxDescriptorBytes = std::uint64_t{1} << 20;
// 2^24 directory entries map 64 TiB even with the smallest usual grain; more are not loaded.
inline constexpr std::uint64_t kVmdkMaxGrainDirectoryEntries = std::uint64_t{1} << 24;

struct VmdkSparseHeader {
    bool hasMagic = false;
    std::uint32_t version = 0;
    std::uint32_t flags = 0;
    std::uint64_t capacity = 0;
    std::uint64_t grainSize = 0;
    std::uint64_t descriptorOffset = 0;
    std::uint64_t descriptorSize = 0;
    std::uint32_t gtesPerGrainTable = 0;
    std::uint64_t redundantDirectorySector = 0;
    std::uint64_t grainDirectorySector = 0; // the primary one
    std::uint64_t overheadSectors = 0;
    std::uint16_t compressAlgorithm = 0;

    bool compressed() const { return (flags & kVmdkFlagCompressed) != 0; }
    bool hasMarkers() const { return (flags & kVmdkFlagMarkers) != 0; }
    // The writer kept the redundant directory up to date (some leave the flag clear and the
    // copy stale or absent).
    bool usesRedundantDirectory() const { return (flags & kVmdkFlagRedundantDirectory) != 0; }

    static VmdkSparseHeader decode(std::span<const std::uint8_t> sector);

    // Where the embedded descriptor lies in the file (bytes): present only when its offset and
    // size are both non-zero and below the capacity in bytes.
    struct Area {
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
    };
    std::optional<Area> descriptorArea() const;
};

// The embedded descriptor's text: the area's bytes up to the first NUL (bounded by the area,
// the file and kVmdkMaxDescriptorBytes). Empty when nothing could be read.
std::string readEmbeddedDescriptor(const ReadOnlyFile& file, const VmdkSparseHeader::Area& area);

inline std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    std::uint64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? UINT64_MAX : sum;
}

} // namespace vindaru
