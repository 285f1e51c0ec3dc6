// The on-disk layout of a VDI image header (all fields little-endian, version 1.1 layout).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vindaru::vdi {

inline constexpr std::size_t kHeaderSize = 472;

inline constexpr std::size_t kSignature = 64;        // u32 0xBEDA107F
inline constexpr std::size_t kVersion = 68;          // u32
inline constexpr std::size_t kHeaderLength = 72;     // u32, must be non-zero
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

inline constexpr std::uint32_t kSignatureValue = 0xBEDA107F;
inline constexpr std::uint32_t kAbsentBlock = 0xFFFFFFFF;
inline constexpr std::uint32_t kZeroBlock = 0xFFFFFFFE; // a block that was discarded: all zeros

} // namespace vindaru::vdi
