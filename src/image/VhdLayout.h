// The on-disk layout of a VHD image (all fields big-endian): the 512-byte footer, kept at the end
// of every VHD and copied to the start of a dynamic one, and the dynamic disk header.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "image/ReadOnlyFile.h"

namespace vindaru::vhd {

inline constexpr std::uint64_t kFooterSize = 512;
inline constexpr std::uint64_t kDynamicHeaderSize = 1024;

// Footer fields.
inline constexpr std::size_t kFooterCookie = 0;           // "conectix"
inline constexpr std::size_t kFooterFormatVersion = 12;   // u32
inline constexpr std::size_t kFooterDataOffset = 16;      // u64, the dynamic header
inline constexpr std::size_t kFooterOriginalSize = 40;    // u64
inline constexpr std::size_t kFooterCurrentSize = 48;     // u64, the disk size
inline constexpr std::size_t kFooterCylinders = 56;       // u16
inline constexpr std::size_t kFooterHeads = 58;           // u8
inline constexpr std::size_t kFooterSectorsPerTrack = 59; // u8
inline constexpr std::size_t kFooterDiskType = 60;        // u32
inline constexpr std::size_t kFooterUniqueId = 68;        // 16 bytes

inline constexpr std::uint32_t kDiskTypeFixed = 2;
inline constexpr std::uint32_t kDiskTypeDynamic = 3;
inline constexpr std::uint32_t kDiskTypeDifferencing = 4;

// Dynamic header fields.
inline constexpr std::size_t kHeaderCookie = 0;           // "cxsparse"
inline constexpr std::size_t kHeaderTableOffset = 16;     // u64, the block allocation table
inline constexpr std::size_t kHeaderMaxTableEntries = 28; // u32
inline constexpr std::size_t kHeaderBlockSize = 32;       // u32

// Where the layout puts things when the header does not say (or says nonsense).
inline constexpr std::uint64_t kDefaultHeaderOffset = 512;
inline constexpr std::uint64_t kDefaultTableOffset = 1536;
inline constexpr std::uint64_t kDefaultBlockSize = 2u << 20;
// Block sizes are powers of two; beyond 1 GiB nothing real exists and the bitmap math gets silly.
inline constexpr std::uint64_t kMinBlockSize = 512;
inline constexpr std::uint64_t kMaxBlockSize = 1u << 30;

inline constexpr std::uint32_t kAbsentBlock = 0xFFFFFFFF;

struct Footer {
    std::uint8_t bytes[kFooterSize] = {};
    bool atEnd = false; // taken from the end of the file (no usable copy at the start)
    bool hasCookie = false;
};

// The footer a reader should trust: a fixed-disk footer at the end of the file, else the copy at
// the start when it carries the cookie, else the one at the end when that does, else the start
// anyway (a damaged copy still tells a size).
Footer readFooter(const ReadOnlyFile& file);

bool hasCookie(std::span<const std::uint8_t> bytes, const char* cookie);

} // namespace vindaru::vhd
