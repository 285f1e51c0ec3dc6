// How discovery and the FAT parsers recognise FAT12/16/32 and exFAT boot sectors. Each function
// looks at one boot sector's bytes only.
#pragma once

#include <cstdint>

#include "volume/FileSystemDriver.h"

namespace vindaru {

bool hasFatJump(ByteSpan sector); // EB 3C / EB 58 / EB 76
bool isExfatBootSector(ByteSpan sector);

// A FAT BIOS parameter block that any formatter writes, whatever its OEM name: jump 0xEB or
// 0xE9, bytes per sector a power of two from 512 to 4096, sectors per cluster a power of two up
// to 128, reserved sectors, one or two FATs, a sector count, 0x55AA at byte 510, and the
// sectors-per-FAT fields of FAT12/16 (16-bit field set) or FAT32 (16-bit field 0, 32-bit set).
enum class FatBpbKind { None, Fat16, Fat32 };
FatBpbKind validFatBpb(ByteSpan sector);

// The FAT family, by the MSDO OEM name or by a valid BPB: FAT32 when the 16-bit sectors-per-FAT
// is 0, else FAT16, or FAT12 when the BPB gives fewer than 4085 clusters. The size is the boot
// sector's count of its own sectors, in 512-byte ones.
enum class FatKind { None, Fat12, Fat16, Fat32 };
struct FatBootSector {
    FatKind kind = FatKind::None;
    std::uint64_t sizeSectors = 0;
    // Its bytes per sector, or 512 where the field gives no usable size (an MSDO boot sector is
    // taken without its BPB checks).
    std::uint32_t sectorBytes = 512;
};
FatBootSector classifyFatBootSector(ByteSpan sector);

// The scan's keys: the jumps a FAT boot sector starts with (the short one, or the near one some
// formatters write), and exFAT's short jump.
inline constexpr ProbeKey kFatBootSectorKey = {0, "\xEB\xE9"};
inline constexpr ProbeKey kExfatBootSectorKey = {0, "\xEB"};

// The driver rows' probes: Valid for a boot sector of their own kind, else nothing. exFAT
// counts its length in sectors of 2^shift bytes (the shift at byte 108, 9 to 12; 512-byte
// sectors where it says otherwise).
ProbeHit probeFat12BootSector(ByteSpan sector);
ProbeHit probeFat16BootSector(ByteSpan sector);
ProbeHit probeFat32BootSector(ByteSpan sector);
ProbeHit probeExfatBootSector(ByteSpan sector);

} // namespace vindaru
