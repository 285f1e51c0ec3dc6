// Decoding of the partition tables volume discovery reads: MBR and EBR entries, the GPT header
// and entry array. (The boot sectors and superblocks that name a file system are each file
// system's own: its driver row's probe.) Each function takes the bytes of exactly one structure
// and never reads outside them, so they are unit-tested and fuzzed on their own; Partition does
// the reading.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/ByteLoader.h"

namespace vindaru {

// --- MBR / EBR ---------------------------------------------------------------------------
inline constexpr std::size_t kMbrEntryTable = 446;
inline constexpr std::size_t kMbrEntrySize = 16;
inline constexpr std::size_t kMbrEntryCount = 4;
inline constexpr std::size_t kMbrEntryType = 4;
inline constexpr std::size_t kMbrEntryStartLba = 8;
inline constexpr std::size_t kMbrEntrySectorCount = 12;

inline constexpr std::uint8_t kMbrTypeEmpty = 0x00;
inline constexpr std::uint8_t kMbrTypeExtended = 0x05;
inline constexpr std::uint8_t kMbrTypeExtendedLba = 0x0F;

struct MbrEntry {
    std::uint8_t type = 0;
    std::uint32_t startLba = 0;
    std::uint32_t sectorCount = 0;
};

// The four entries of an MBR or EBR sector (zeros where the span is short).
std::array<MbrEntry, kMbrEntryCount> decodeMbrEntries(ByteSpan sector);
bool isExtendedType(std::uint8_t type);
inline constexpr std::uint8_t kMbrTypeGptProtective = 0xEE;
// A GUID-partitioned disk's sector 0: the boot signature and a first entry of type 0xEE.
bool isProtectiveMbr(ByteSpan sector);

// --- GPT -----------------------------------------------------------------------------------
inline constexpr std::size_t kGptHeaderEntryArrayLba = 72;
inline constexpr std::size_t kGptEntrySize = 128;
inline constexpr std::size_t kGptEntryFirstLba = 32;
inline constexpr std::size_t kGptEntryLastLba = 40;
inline constexpr std::size_t kGptEntryName = 56;
inline constexpr std::size_t kGptEntryNameBytes = 72;
// The entry array is read as 80 entries; entries are taken from its first 9216 bytes (72).
inline constexpr std::size_t kGptArrayReadBytes = 10240;
inline constexpr std::size_t kGptArrayUsableBytes = 9216;
inline constexpr const char* kMicrosoftReservedName = "Microsoft reserved partition";

struct GptEntry {
    std::array<std::uint8_t, 16> typeGuid{};
    std::int64_t firstLba = 0;
    std::uint64_t lastLba = 0;
    std::string name; // UTF-8, up to the first NUL
};

GptEntry decodeGptEntry(ByteSpan entry);
bool isUnusedGptEntry(const GptEntry& entry);
// The entries of the array that discovery lists, in array order: a used entry counts while no
// byte of its type GUID's first four is 0x30 and its first LBA is above 2; the first used entry
// that fails ends the list. Unused (all-zero type) entries are passed over, so a gap left by a
// deleted partition does not hide the partitions after it.
std::size_t gptEntryLimit(ByteSpan entryArray);
bool gptEntryCounts(const GptEntry& entry);
// The name as the system shows an unrecognised GPT partition: through the 8-bit code page and
// back, so characters the code page lacks become '?'.
std::string gptNameThroughCodePage(const std::string& utf8Name);

} // namespace vindaru
