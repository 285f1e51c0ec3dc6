// BIOS parameter block fields of FAT12/16/32 boot sectors (byte offsets, little-endian).
#pragma once

#include <cstddef>

namespace vindaru::fatboot {

inline constexpr std::size_t kOemName = 3;
inline constexpr std::size_t kBytesPerSector = 0x0B;
inline constexpr std::size_t kSectorsPerCluster = 0x0D;
inline constexpr std::size_t kReservedSectors = 0x0E;
inline constexpr std::size_t kFatCount = 0x10;
inline constexpr std::size_t kRootEntries = 0x11;
inline constexpr std::size_t kTotalSectors16 = 0x13;
inline constexpr std::size_t kSectorsPerFat16 = 0x16;
inline constexpr std::size_t kTotalSectors32 = 0x20;
inline constexpr std::size_t kSectorsPerFat32 = 0x24;
inline constexpr std::size_t kRootCluster = 0x2C;
inline constexpr std::size_t kBootSectorBytes = 512;
// Fewer clusters than this make a FAT12 volume.
inline constexpr std::uint64_t kFat12ClusterLimit = 4085;

} // namespace vindaru::fatboot
