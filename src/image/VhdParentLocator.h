// The parent of a differencing VHD, as its dynamic header names it: the parent's unique id, its
// file name (UTF-16BE), and up to eight parent locators, each a path to the parent written for
// one platform (Windows relative and absolute paths in UTF-16LE or in 8-bit text, a Mac alias, a
// Mac file URL) and kept in the file where the locator entry says.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/ReadOnlyFile.h"
#include "image/VhdLayout.h"

namespace vindaru::vhd {

// Dynamic header fields of a differencing disk.
inline constexpr std::size_t kHeaderParentUniqueId = 40;   // 16 bytes
inline constexpr std::size_t kHeaderParentTimeStamp = 56;  // u32
inline constexpr std::size_t kHeaderParentName = 64;       // 512 bytes, UTF-16BE
inline constexpr std::size_t kParentNameBytes = 512;
inline constexpr std::size_t kHeaderLocators = 576;        // 8 entries of 24 bytes
inline constexpr std::size_t kLocatorCount = 8;
inline constexpr std::size_t kLocatorEntrySize = 24;
// Locator entry fields.
inline constexpr std::size_t kLocatorCode = 0;       // u32, the platform
inline constexpr std::size_t kLocatorDataSpace = 4;  // u32
inline constexpr std::size_t kLocatorDataLength = 8; // u32, bytes
inline constexpr std::size_t kLocatorDataOffset = 16; // u64, bytes in the file

inline constexpr std::uint32_t kPlatformNone = 0;
inline constexpr std::uint32_t kPlatformWi2r = 0x57693272; // relative, 8-bit text (deprecated)
inline constexpr std::uint32_t kPlatformWi2k = 0x5769326B; // absolute, 8-bit text (deprecated)
inline constexpr std::uint32_t kPlatformW2ru = 0x57327275; // relative, UTF-16LE
inline constexpr std::uint32_t kPlatformW2ku = 0x57326B75; // absolute, UTF-16LE
inline constexpr std::uint32_t kPlatformMac = 0x4D616320;  // a Mac OS alias record
inline constexpr std::uint32_t kPlatformMacX = 0x4D616358; // a file URL, UTF-8

// A path is a few hundred bytes; a locator claiming more is read no further than this.
inline constexpr std::uint32_t kMaxLocatorBytes = 64 * 1024;

struct ParentLocator {
    std::uint32_t code = 0;
    std::string path; // decoded, as written (may be absolute, may use backslashes)
};

struct VhdParent {
    std::string uniqueId; // the id the parent's footer must carry, as text
    std::string name;     // the header's parent name
    std::vector<ParentLocator> locators; // in the order a search should try them
};

// 16 id bytes as "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in file order.
std::string uniqueIdText(std::span<const std::uint8_t> id16);

// Decodes the parent of the dynamic header `header` (1024 bytes), reading the locators' data
// from `file`. Locators that point outside the file or decode to nothing are left out.
VhdParent decodeParent(std::span<const std::uint8_t> header, const ReadOnlyFile& file);

// The path a locator's bytes hold for its platform; empty when it holds none.
std::string decodeLocatorPath(std::uint32_t code, std::span<const std::uint8_t> data);

const char* platformName(std::uint32_t code);

} // namespace vindaru::vhd
