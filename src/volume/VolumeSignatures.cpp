#include "volume/VolumeSignatures.h"

#include <algorithm>

#include "common/TextConvert.h"

namespace vindaru {

namespace {

// Boot sector fields.
constexpr std::size_t kJump0 = 0;
constexpr std::size_t kJump1 = 1;
constexpr std::size_t kOemName = 3;
constexpr std::size_t kBytesPerSector = 11;
constexpr std::size_t kSectorsPerCluster = 13;
constexpr std::size_t kReservedSectors = 14;
constexpr std::size_t kFatCount = 16;
constexpr std::size_t kRootEntries = 17;
constexpr std::size_t kTotalSectors16 = 19;
constexpr std::size_t kSectorsPerFat16 = 22;
constexpr std::size_t kTotalSectors32 = 32;
constexpr std::size_t kSectorsPerFat32 = 36;
constexpr std::size_t kBootSignature = 510;
constexpr std::uint16_t kBootSignatureValue = 0xAA55;
constexpr std::size_t kNtfsTotalSectors = 40;
constexpr std::size_t kExfatVolumeLength = 72;
constexpr std::size_t kExfatBytesPerSectorShift = 108;
// HFS+ volume header fields (big-endian).
constexpr std::size_t kHfsVersion = 2;
constexpr std::uint8_t kHfsPlusVersion = 4;
constexpr std::uint32_t kHfsMaxBlockSize = 1u << 20;
constexpr std::size_t kHfsBlockSize = 40;
constexpr std::size_t kHfsTotalBlocks = 44;

constexpr std::uint8_t kJumpShort = 0xEB;
constexpr std::uint8_t kJumpNear = 0xE9;
constexpr std::uint8_t kNtfsJumpTarget = 0x52;
// A FAT volume with fewer clusters than this is FAT12 by the FAT rules themselves.
constexpr std::uint64_t kFat12ClusterLimit = 4085;

bool oemIs(ByteSpan sector, const char (&text)[5]) {
    for (std::size_t i = 0; i < 4; ++i)
        if (u8(sector, kOemName + i) != static_cast<std::uint8_t>(text[i])) return false;
    return true;
}

// NTFS as formatted on disks of 512-byte and of 4 KiB logical sectors.
bool isNtfsJump(ByteSpan sector) {
    const std::uint16_t bytesPerSector = le16(sector, kBytesPerSector);
    return u8(sector, kJump0) == kJumpShort && u8(sector, kJump1) == kNtfsJumpTarget &&
           (bytesPerSector == 512 || bytesPerSector == 4096);
}

// `count` sectors of `sectorBytes` each, in 512-byte sectors; UINT64_MAX where that overflows.
std::uint64_t in512Sectors(std::uint64_t count, std::uint64_t sectorBytes) {
    std::uint64_t sectors = 0;
    return checkedMul(count, sectorBytes / 512, sectors) ? sectors : UINT64_MAX;
}

// The bytes per sector of a FAT boot sector, or 512 where the field gives no usable size (an
// MSDO boot sector is taken without its BPB checks).
std::uint64_t fatSectorBytes(ByteSpan sector) {
    const std::uint64_t bytesPerSector = le16(sector, kBytesPerSector);
    return bytesPerSector >= 512 && bytesPerSector <= 4096 && isPowerOfTwo(bytesPerSector) ? bytesPerSector : 512;
}

BootSectorHit ntfsHit(ByteSpan sector) {
    const std::uint32_t bytesPerSector = le16(sector, kBytesPerSector);
    return {BootKind::Ntfs, in512Sectors(le64(sector, kNtfsTotalSectors), bytesPerSector), bytesPerSector};
}

// exFAT gives its length in sectors of 2^shift bytes (512 to 4096).
BootSectorHit exfatHit(ByteSpan sector) {
    const std::uint8_t shift = u8(sector, kExfatBytesPerSectorShift);
    const std::uint64_t sectorBytes = shift >= 9 && shift <= 12 ? std::uint64_t{1} << shift : 512;
    return {BootKind::Exfat, in512Sectors(le64(sector, kExfatVolumeLength), sectorBytes),
            static_cast<std::uint32_t>(sectorBytes)};
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

} // namespace

std::array<MbrEntry, kMbrEntryCount> decodeMbrEntries(ByteSpan sector) {
    std::array<MbrEntry, kMbrEntryCount> entries{};
    for (std::size_t i = 0; i < kMbrEntryCount; ++i) {
        const std::size_t at = kMbrEntryTable + i * kMbrEntrySize;
        entries[i].type = u8(sector, at + kMbrEntryType);
        entries[i].startLba = le32(sector, at + kMbrEntryStartLba);
        entries[i].sectorCount = le32(sector, at + kMbrEntrySectorCount);
    }
    return entries;
}

bool isExtendedType(std::uint8_t type) {
    return type == kMbrTypeExtended || type == kMbrTypeExtendedLba;
}

bool isProtectiveMbr(ByteSpan sector) {
    if (sector.size() < 512 || u8(sector, 510) != 0x55 || u8(sector, 511) != 0xAA) return false;
    return u8(sector, kMbrEntryTable + kMbrEntryType) == kMbrTypeGptProtective;
}

GptEntry decodeGptEntry(ByteSpan entry) {
    GptEntry out;
    for (std::size_t i = 0; i < out.typeGuid.size(); ++i) out.typeGuid[i] = u8(entry, i);
    out.firstLba = les64(entry, kGptEntryFirstLba);
    out.lastLba = le64(entry, kGptEntryLastLba);
    out.name = utf16leToUtf8(subspan(entry, kGptEntryName, kGptEntryNameBytes), true);
    return out;
}

bool isUnusedGptEntry(const GptEntry& entry) {
    return std::all_of(entry.typeGuid.begin(), entry.typeGuid.end(),
                       [](std::uint8_t b) { return b == 0; });
}

bool gptEntryCounts(const GptEntry& entry) {
    for (std::size_t i = 0; i < 4; ++i)
        if (entry.typeGuid[i] == 0x30) return false;
    return entry.firstLba > 2;
}

std::size_t gptEntryLimit(ByteSpan entryArray) {
    const std::size_t slots = std::min(entryArray.size(), kGptArrayUsableBytes) / kGptEntrySize;
    std::size_t limit = 0;
    for (std::size_t i = 0; i < slots; ++i) {
        const GptEntry entry = decodeGptEntry(entryArray.subspan(i * kGptEntrySize, kGptEntrySize));
        if (isUnusedGptEntry(entry)) continue;
        if (!gptEntryCounts(entry)) break;
        limit = i + 1;
    }
    return limit;
}

std::string gptNameThroughCodePage(const std::string& utf8Name) {
    std::string out;
    for (char32_t cp : utf8ToUtf16(utf8Name)) {
        bool representable = cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF);
        if (!representable) {
            for (std::uint8_t b = 0x80; b <= 0x9F; ++b) {
                const std::uint8_t one[1] = {b};
                const std::u16string back = utf8ToUtf16(cp1252ToUtf8(ByteSpan(one, 1)));
                if (!back.empty() && back[0] == cp) representable = true;
            }
        }
        if (representable)
            appendUtf8(out, cp);
        else
            out.push_back('?');
    }
    return out;
}

bool hasFatJump(ByteSpan sector) {
    const std::uint8_t target = u8(sector, kJump1);
    return u8(sector, kJump0) == kJumpShort && (target == 0x3C || target == 0x58 || target == 0x76);
}

bool isExfatBootSector(ByteSpan sector) { return hasFatJump(sector) && oemIs(sector, "EXFA"); }

bool isHfsPlusHeader(ByteSpan sector) {
    return u8(sector, 0) == 0x48 && u8(sector, 1) == 0x2B && u8(sector, 2) == 0x00 &&
           sector.size() >= 3;
}

bool isHfsPlusVolumeHeader(ByteSpan sector) {
    const std::uint32_t blockSize = be32(sector, kHfsBlockSize);
    return isHfsPlusHeader(sector) && u8(sector, kHfsVersion + 1) == kHfsPlusVersion && isPowerOfTwo(blockSize) &&
           blockSize >= 512 && blockSize <= kHfsMaxBlockSize && be32(sector, kHfsTotalBlocks) > 0;
}

FatBpbKind validFatBpb(ByteSpan sector) {
    const std::uint8_t jump = u8(sector, kJump0);
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

BootSectorHit classifyFatBootSector(ByteSpan sector) {
    const bool msdos = hasFatJump(sector) && oemIs(sector, "MSDO");
    if (!msdos && validFatBpb(sector) == FatBpbKind::None) return {};
    const std::uint64_t sectorBytes = fatSectorBytes(sector);
    const auto bytes = static_cast<std::uint32_t>(sectorBytes);
    if (le16(sector, kSectorsPerFat16) == 0)
        return {BootKind::Fat32, in512Sectors(le32(sector, kTotalSectors32), sectorBytes), bytes};
    const std::uint16_t total16 = le16(sector, kTotalSectors16);
    const std::uint64_t total = total16 != 0 ? total16 : le32(sector, kTotalSectors32);
    return {hasFat12ClusterCount(sector, total) ? BootKind::Fat12 : BootKind::Fat16,
            in512Sectors(total, sectorBytes), bytes};
}

BootSectorHit classifyScanSector(ByteSpan sector) {
    if (isNtfsJump(sector) && oemIs(sector, "NTFS")) return ntfsHit(sector);
    if (isExfatBootSector(sector)) return exfatHit(sector);
    if (const BootSectorHit fat = classifyFatBootSector(sector); fat.kind != BootKind::None)
        return fat;
    if (isHfsPlusVolumeHeader(sector)) {
        const std::uint64_t bytes = std::uint64_t{be32(sector, kHfsBlockSize)} * be32(sector, kHfsTotalBlocks);
        return {BootKind::HfsPlus, bytes / 512};
    }
    return {};
}

BootSectorHit classifyGptBootSector(ByteSpan sector) {
    if (isNtfsJump(sector)) return ntfsHit(sector);
    if (isExfatBootSector(sector)) return exfatHit(sector);
    return classifyFatBootSector(sector);
}

} // namespace vindaru
