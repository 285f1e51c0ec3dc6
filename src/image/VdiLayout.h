// The on-disk layout of a VDI image header (all fields little-endian, version 1.1 layout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vindaru::vdi {

inline constexpr std::size_t kHeaderSize = 472;

inline constexpr std::size_t kSignature = 64;        // u32 0xBEDA107F
inline constexpr std::size_t kVersion = 68;          // u32
inline constexpr std::size_t kHeaderLength = 72;     // u32, must be non-zero
inline constexpr std::size_t kImageType = 76;        // u32, one of the image types below
inline constexpr std::size_t kBlockMapOffset = 340;  // u32
inline constexpr std::size_t kDataOffset = 344;      // u32
inline constexpr std::size_t kCylinders = 348;       // u32
inline constexpr std::size_t kHeads = 352;           // u32
inline constexpr std::size_t kSectors = 356;         // u32
inline constexpr std::size_t kDiskSize = 368;        // u64, bytes
inline constexpr std::size_t kBlockSize = 376;       // u32, bytes
inline constexpr std::size_t kBlockExtraData = 380;  // u32, bytes kept before each block's data
inline constexpr std::size_t kBlockCount = 384;      // u32, entries in the block map
inline constexpr std::size_t kAllocatedBlocks = 388; // u32
inline constexpr std::size_t kUuidCreate = 392;      // 16 bytes, this image's id
inline constexpr std::size_t kUuidModify = 408;      // 16 bytes
inline constexpr std::size_t kUuidLink = 424;        // 16 bytes, the parent's id (zero: none)
inline constexpr std::size_t kUuidParentModify = 440; // 16 bytes
inline constexpr std::size_t kUuidBytes = 16;

inline constexpr std::uint32_t kTypeDynamic = 1;
inline constexpr std::uint32_t kTypeStatic = 2;
inline constexpr std::uint32_t kTypeUndo = 3;
inline constexpr std::uint32_t kTypeDifferencing = 4;

inline constexpr std::uint32_t kSignatureValue = 0xBEDA107F;
inline constexpr std::uint32_t kAbsentBlock = 0xFFFFFFFF;
inline constexpr std::uint32_t kZeroBlock = 0xFFFFFFFE; // a block that was discarded: all zeros

// A UUID as the format's own tools write it: the first three groups stored little-endian.
inline std::string uuidText(std::span<const std::uint8_t> id) {
    static const char digits[] = "0123456789abcdef";
    static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::string out;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        const std::uint8_t b = static_cast<std::size_t>(order[i]) < id.size() ? id[static_cast<std::size_t>(order[i])] : 0;
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

inline bool isNullUuid(std::span<const std::uint8_t> id) {
    for (std::uint8_t b : id)
        if (b != 0) return false;
    return true;
}

} // namespace vindaru::vdi
