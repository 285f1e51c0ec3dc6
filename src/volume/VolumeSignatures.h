// Decoding of the on-disk structures volume discovery looks at: MBR and EBR entries, the GPT
// header and entry array, and the boot sectors / volume headers that name a file system. Each
// function takes the bytes of exactly one structure and never reads outside them, so they are
// unit-tested and fuzzed on their own; Partition does the reading.
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
inline constexpr std::uint8_t kMbrTypeFat12 = 0x01;
inline constexpr std::uint8_t kMbrTypeFat16Small = 0x04;
inline constexpr std::uint8_t kMbrTypeExtended = 0x05;
inline constexpr std::uint8_t kMbrTypeFat16 = 0x06;
inline constexpr std::uint8_t kMbrTypeNtfsOrExfat = 0x07;
inline constexpr std::uint8_t kMbrTypeFat32 = 0x0B;
inline constexpr std::uint8_t kMbrTypeFat32Lba = 0x0C;
inline constexpr std::uint8_t kMbrTypeFat16Lba = 0x0E;
inline constexpr std::uint8_t kMbrTypeExtendedLba = 0x0F;
inline constexpr std::uint8_t kMbrTypeDynamicDisk = 0x42;
inline constexpr std::uint8_t kMbrTypeLinux = 0x83;

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

// --- Boot sectors ---------------------------------------------------------------------------
enum class BootKind { None, Ntfs, Fat32, Fat16, Fat12, Exfat, HfsPlus };

struct BootSectorHit {
    BootKind kind = BootKind::None;
    // The volume's size in 512-byte sectors as the boot sector gives it (0 when it gives none):
    // its count of its own sectors, which on a disk of 4 KiB sectors are 4096 bytes each.
    std::uint64_t sizeSectors = 0;
    // The bytes of one of the volume's own sectors (NTFS, exFAT and the FAT family).
    std::uint32_t sectorBytes = 512;
    std::uint64_t sizeMb() const { return sizeSectors / 2048; }
};

bool hasFatJump(ByteSpan sector);  // EB 3C / EB 58 / EB 76
bool isExfatBootSector(ByteSpan sector);
bool isHfsPlusHeader(ByteSpan sector); // "H+" and a zero byte (the header two sectors in)
// The scan's stronger HFS+ test, since it looks at every sector: the signature, version 4, a
// power-of-two block size of 512 bytes to 1 MiB and a non-zero block count.
bool isHfsPlusVolumeHeader(ByteSpan sector);
// A FAT BIOS parameter block that any formatter writes, whatever its OEM name: jump 0xEB or
// 0xE9, bytes per sector a power of two from 512 to 4096, sectors per cluster a power of two up
// to 128, reserved sectors, one or two FATs, a sector count, 0x55AA at byte 510, and the
// sectors-per-FAT fields of FAT12/16 (16-bit field set) or FAT32 (16-bit field 0, 32-bit set).
enum class FatBpbKind { None, Fat16, Fat32 };
FatBpbKind validFatBpb(ByteSpan sector);
// The FAT family, by the MSDO OEM name or by a valid BPB: FAT32 when the 16-bit sectors-per-FAT
// is 0, else FAT16, or FAT12 when the BPB gives fewer than 4085 clusters.
BootSectorHit classifyFatBootSector(ByteSpan sector);
// The boot-sector scan's tests, in its order: NTFS (with the "NTFS" name, sectors of 512 or
// 4096 bytes), exFAT, the FAT family, the HFS+ volume header.
BootSectorHit classifyScanSector(ByteSpan sector);
// The test a GPT partition's first sector gets: NTFS by jump and 512- or 4096-byte sectors, the
// exFAT and FAT family; anything else is None (the caller then tries HFS+ two sectors in).
BootSectorHit classifyGptBootSector(ByteSpan sector);

} // namespace vindaru
