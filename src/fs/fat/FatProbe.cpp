#include "fs/fat/FatProbe.h"

#include "fs/fat/FatBootFields.h"

namespace vindaru {

using namespace fatboot;

namespace {

constexpr std::size_t kJump = 0;
constexpr std::size_t kBootSignature = 510;
constexpr std::uint16_t kBootSignatureValue = 0xAA55;
constexpr std::size_t kExfatVolumeLength = 72;
constexpr std::size_t kExfatBytesPerSectorShift = 108;
constexpr std::uint8_t kJumpShort = 0xEB;
constexpr std::uint8_t kJumpNear = 0xE9;

bool oemIs(ByteSpan sector, const char (&text)[5]) {
    for (std::size_t i = 0; i < 4; ++i)
        if (u8(sector, kOemName + i) != static_cast<std::uint8_t>(text[i])) return false;
    return true;
}

// FAT12 is told apart from FAT16 by its cluster count; a BPB too damaged to count keeps FAT16.
bool hasFat12ClusterCount(ByteSpan sector, std::uint64_t totalSectors) {
    const std::uint64_t bytesPerSector = le16(sector, kBytesPerSector);
    const std::uint64_t perCluster = u8(sector, kSectorsPerCluster);
    if (bytesPerSector < 512 || bytesPerSector > 4096 || !isPowerOfTwo(bytesPerSector)) return false;
    if (!isPowerOfTwo(perCluster)) return false;
    const std::uint64_t rootSectors =
        (std::uint64_t{le16(sector, kRootEntries)} * 32 + bytesPerSector - 1) / bytesPerSector;
    const std::uint64_t overhead = std::uint64_t{le16(sector, kReservedSectors)} +
                                   std::uint64_t{u8(sector, kFatCount)} * le16(sector, kSectorsPerFat16) +
                                   rootSectors;
    if (overhead >= totalSectors) return false;
    return (totalSectors - overhead) / perCluster < kFat12ClusterLimit;
}

std::uint32_t fatSectorBytes(ByteSpan sector) {
    const std::uint16_t bytesPerSector = le16(sector, kBytesPerSector);
    return bytesPerSector >= 512 && bytesPerSector <= 4096 && isPowerOfTwo(bytesPerSector) ? bytesPerSector : 512;
}

ProbeHit fatOfKind(ByteSpan sector, FatKind kind) {
    const FatBootSector boot = classifyFatBootSector(sector);
    if (boot.kind != kind) return {};
    return {ProbeConfidence::Valid, boot.sizeSectors, boot.sectorBytes};
}

} // namespace

bool hasFatJump(ByteSpan sector) {
    const std::uint8_t target = u8(sector, kJump + 1);
    return u8(sector, kJump) == kJumpShort && (target == 0x3C || target == 0x58 || target == 0x76);
}

bool isExfatBootSector(ByteSpan sector) { return hasFatJump(sector) && oemIs(sector, "EXFA"); }

FatBpbKind validFatBpb(ByteSpan sector) {
    const std::uint8_t jump = u8(sector, kJump);
    if (jump != kJumpShort && jump != kJumpNear) return FatBpbKind::None;
    if (le16(sector, kBootSignature) != kBootSignatureValue) return FatBpbKind::None;
    const std::uint16_t bytesPerSector = le16(sector, kBytesPerSector);
    if (bytesPerSector < 512 || bytesPerSector > 4096 || !isPowerOfTwo(bytesPerSector)) return FatBpbKind::None;
    const std::uint8_t perCluster = u8(sector, kSectorsPerCluster);
    if (!isPowerOfTwo(perCluster) || perCluster > 128) return FatBpbKind::None;
    if (le16(sector, kReservedSectors) == 0) return FatBpbKind::None;
    const std::uint8_t fats = u8(sector, kFatCount);
    if (fats != 1 && fats != 2) return FatBpbKind::None;
    if (le16(sector, kTotalSectors16) == 0 && le32(sector, kTotalSectors32) == 0) return FatBpbKind::None;
    if (le16(sector, kSectorsPerFat16) != 0) return FatBpbKind::Fat16;
    return le32(sector, kSectorsPerFat32) != 0 ? FatBpbKind::Fat32 : FatBpbKind::None;
}

FatBootSector classifyFatBootSector(ByteSpan sector) {
    const bool msdos = hasFatJump(sector) && oemIs(sector, "MSDO");
    if (!msdos && validFatBpb(sector) == FatBpbKind::None) return {};
    const std::uint32_t sectorBytes = fatSectorBytes(sector);
    if (le16(sector, kSectorsPerFat16) == 0)
        return {FatKind::Fat32, in512Sectors(le32(sector, kTotalSectors32), sectorBytes), sectorBytes};
    const std::uint16_t total16 = le16(sector, kTotalSectors16);
    const std::uint64_t total = total16 != 0 ? total16 : le32(sector, kTotalSectors32);
    return {hasFat12ClusterCount(sector, total) ? FatKind::Fat12 : FatKind::Fat16, in512Sectors(total, sectorBytes),
            sectorBytes};
}

ProbeHit probeFat12BootSector(ByteSpan sector) { return fatOfKind(sector, FatKind::Fat12); }
ProbeHit probeFat16BootSector(ByteSpan sector) { return fatOfKind(sector, FatKind::Fat16); }
ProbeHit probeFat32BootSector(ByteSpan sector) { return fatOfKind(sector, FatKind::Fat32); }

ProbeHit probeExfatBootSector(ByteSpan sector) {
    if (!isExfatBootSector(sector)) return {};
    const std::uint8_t shift = u8(sector, kExfatBytesPerSectorShift);
    const std::uint32_t sectorBytes = shift >= 9 && shift <= 12 ? std::uint32_t{1} << shift : 512;
    return {ProbeConfidence::Valid, in512Sectors(le64(sector, kExfatVolumeLength), sectorBytes), sectorBytes};
}

} // namespace vindaru
