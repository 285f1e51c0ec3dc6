#include "volume/Partition.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/DisplayFormat.h"
#include "volume/VolumeSweep.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kSector = 512;
// The standard discovery reads sectors 0 and 1 first (the MBR and, on a GPT disk, its header).
constexpr std::size_t kFirstReadBytes = 1024;
// A chain of extended boot records is followed for at most this many records.
constexpr int kMaxChainSteps = 50;
// The scan reads the disk in chunks of 1 MiB and tests every sector of each.
constexpr std::uint64_t kChunkSectors = 2048;
constexpr std::uint64_t kPieceSectors = 256;
constexpr std::int64_t kProgressScale = 1000;
// An HFS+ volume header lies two sectors into its volume; larger sizes are not believed.
constexpr std::uint64_t kHfsHeaderSector = 2;
constexpr std::uint64_t kHfsMaxMb = 0x13FFFFF;
constexpr std::uint64_t kMaxDiskSectors = static_cast<std::uint64_t>(INT64_MAX) / kSector;
// Logical sectors larger than this are not believed.
constexpr std::uint64_t kMaxLogicalSector = 64 * 1024;
constexpr char kGptSignature[] = "EFI PART";
constexpr std::size_t kMbrSignatureOffset = 510;

// An ext superblock, 1 KiB into its volume (offsets within the superblock).
constexpr std::size_t kExtSuperblockByte = 1024;
constexpr std::size_t kExtBlocksCountLo = 4;
constexpr std::size_t kExtLogBlockSize = 24;
constexpr std::size_t kExtBlocksPerGroup = 32;
constexpr std::size_t kExtMagicOffset = 56;
constexpr std::size_t kExtFeatureIncompat = 96;
constexpr std::size_t kExtBlocksCountHi = 0x150;
constexpr std::uint16_t kExtMagicValue = 0xEF53;
constexpr std::uint32_t kExtIncompat64Bit = 0x80;
constexpr std::uint32_t kExtMaxLogBlockSize = 6; // 64 KiB blocks
constexpr std::size_t kExtBlockGroupNumber = 0x5A; // 0 in the primary superblock, the group in a backup

int lastReadError() { return errno != 0 ? errno : EIO; }

// The sectors of the ext volume whose superblock is `superblock`, or 0 when it is no believable
// superblock (the two-byte magic alone is too weak).
std::uint64_t extVolumeSectors(ByteSpan superblock) {
    if (le16(superblock, kExtMagicOffset) != kExtMagicValue) return 0;
    const std::uint32_t log = le32(superblock, kExtLogBlockSize);
    if (log > kExtMaxLogBlockSize) return 0;
    const std::uint64_t blockBytes = std::uint64_t{1024} << log;
    if (le32(superblock, kExtBlocksPerGroup) != blockBytes * 8) return 0;
    std::uint64_t blocks = le32(superblock, kExtBlocksCountLo);
    if (le32(superblock, kExtFeatureIncompat) & kExtIncompat64Bit)
        blocks |= std::uint64_t{le32(superblock, kExtBlocksCountHi)} << 32;
    std::uint64_t sectors = 0;
    return checkedMul(blocks, blockBytes / kSector, sectors) ? sectors : 0;
}

// A sector that may be an ext superblock's first half: the cheap test the sweep makes of every sector.
bool mayBeExtSuperblock(ByteSpan sector) {
    return sector.size() > kExtMagicOffset + 1 && le16(sector, kExtMagicOffset) == kExtMagicValue;
}

// `sector` counts in logical sectors of `unit` × 512 bytes.
bool readSectors(const ByteSource& reader, std::uint64_t sector, std::span<std::uint8_t> out,
                 std::uint64_t unit = 1) {
    std::uint64_t position = 0;
    if (!checkedMul(sector, kSector * unit, position) ||
        position > static_cast<std::uint64_t>(INT64_MAX))
        return false;
    errno = 0;
    return reader.readAt(position, out);
}

std::string mbText(const char* format, std::uint64_t mb) {
    return formatText(format, static_cast<unsigned long long>(mb));
}

} // namespace

// Records of one standard discovery's walk over MBR and EBRs: the EBRs already read (a chain
// that links back to one of them is a loop) and the steps used so far.
struct Partition::ChainState {
    std::set<std::uint64_t> visited;
    int steps = 0;
};

Partition::Partition() = default;

std::uint64_t Partition::logicalSectorUnit(const ByteSource& reader) {
    const std::uint64_t declared = reader.logicalSectorSize();
    if (declared > kSector && declared % kSector == 0 && declared <= kMaxLogicalSector) return declared / kSector;
    // A raw disk says nothing of its sectors: a GPT header at byte 4096 rather than 512 shows
    // a disk of 4 KiB logical sectors.
    std::vector<std::uint8_t> probe(kSector);
    if (readSectors(reader, 1, probe) && std::memcmp(probe.data(), kGptSignature, 8) == 0) return 1;
    if (readSectors(reader, 8, probe) && std::memcmp(probe.data(), kGptSignature, 8) == 0) return 8;
    return 1;
}

bool Partition::toSectors(std::uint64_t lba, std::uint64_t lbaCount, VolumeRecord& record) const {
    std::uint64_t start = 0;
    std::uint64_t count = 0;
    if (!checkedMul(lba, unit_, start) || !checkedMul(lbaCount, unit_, count)) return false;
    record.startSector = start;
    record.sectorCount = count;
    record.sizeText = mbText("%llu   MB", count / 2048);
    return true;
}

void Partition::status(const std::string& text) {
    (statusTarget ? *statusTarget : static_cast<StatusSink&>(nullStatus_)).setText(text);
}

void Partition::addRecord(VolumeRecord record) {
    volumeList.push_back(record);
    if (volumeFound) volumeFound(volumeList.back());
}

// --- Standard discovery ---------------------------------------------------------------------

int Partition::readPartitionTable(const ByteSource& reader) {
    std::vector<std::uint8_t> first(kFirstReadBytes);
    const bool readOk = readSectors(reader, 0, first);
    unit_ = logicalSectorUnit(reader);
    if (readOk && gptMode) return readGptTable(reader);
    if (readOk && readBareVolume(reader, first)) return 0;
    return readMbrTable(reader);
}

bool Partition::readBareVolume(const ByteSource& reader, ByteSpan firstSectors) {
    // A disk that is one volume with no partition table (an image of a single partition): its
    // boot sector or superblock is at the very start. A boot sector is checked before anything
    // else is taken from sector 0, since its boot code may look like partition entries.
    VolumeRecord record;
    record.volumeName = "0";
    // The scan's tests (NTFS by its name too): boot code of a real MBR never passes them.
    const BootSectorHit boot = classifyScanSector(firstSectors.first(kSector));
    switch (boot.kind) {
    case BootKind::Ntfs:
        record.fileSystemName = "NTFS";
        break;
    case BootKind::Fat32:
        record.fileSystemName = "FAT32";
        break;
    case BootKind::Fat16:
        record.fileSystemName = "FAT16";
        break;
    case BootKind::Exfat:
        record.fileSystemName = "FAT64";
        break;
    default:
        break;
    }
    record.sectorCount = boot.sizeSectors;
    if (record.fileSystemName.empty()) {
        // A superblock counts only where sector 0 holds no partition table that lists a volume.
        for (const MbrEntry& entry : decodeMbrEntries(firstSectors.first(kSector)))
            if (u8(firstSectors, 510) == 0x55 && u8(firstSectors, 511) == 0xAA &&
                entry.type != kMbrTypeEmpty && entry.sectorCount != 0)
                return false;
        std::vector<std::uint8_t> superblock(kSector * 2);
        if (!readSectors(reader, kExtSuperblockByte / kSector, superblock)) return false;
        if (const std::uint64_t sectors = extVolumeSectors(superblock); sectors != 0) {
            record.fileSystemName = "extX";
            record.sectorCount = sectors;
        } else if (const BootSectorHit hfs = classifyScanSector(ByteSpan(superblock).first(kSector));
                   hfs.kind == BootKind::HfsPlus) {
            record.fileSystemName = "HFS+";
            record.sectorCount = hfs.sizeSectors;
        } else {
            return false;
        }
    }
    if (record.sectorCount == 0) return false;
    record.sizeText = mbText("%llu   MB", record.sectorCount / 2048);
    status("found " + record.fileSystemName + " at sector 0, without a partition table...");
    addRecord(std::move(record));
    return true;
}

std::string Partition::mbrTypeName(const ByteSource& reader, std::uint8_t type,
                                   std::uint64_t start, bool logical) {
    switch (type) {
    case kMbrTypeFat12:
        return "FAT12";
    case kMbrTypeFat16Small:
    case kMbrTypeFat16:
    case kMbrTypeFat16Lba:
        status("found FAT 16...");
        return "FAT16";
    case kMbrTypeFat32:
    case kMbrTypeFat32Lba:
        status("found FAT 32...");
        return "FAT32";
    case kMbrTypeNtfsOrExfat: {
        std::vector<std::uint8_t> boot(kSector);
        if (readSectors(reader, start, boot, unit_) && isExfatBootSector(boot)) {
            status("found FAT64...");
            return "FAT64";
        }
        ++ntfsCounter_;
        status(logical ? std::string("found NTFS...") : formatText("found NTFS %d...", ntfsCounter_));
        return "NTFS";
    }
    case kMbrTypeDynamicDisk:
        if (logical) break;
        ++ntfsCounter_;
        status("NTFS...");
        return "NTFS";
    case kMbrTypeLinux:
        status(logical ? "found extx..." : "found ext2...");
        return "extX";
    default:
        break;
    }
    status("found UNKNOWN...");
    return "Unknown";
}

int Partition::readMbrTable(const ByteSource& reader) {
    std::vector<std::uint8_t> sector(kSector);
    if (!readSectors(reader, 0, sector)) return lastReadError();
    // Without its signature the first sector holds no partition table (a container's header, a
    // blank or foreign sector): its bytes would make up volumes.
    if (sector[kMbrSignatureOffset] != 0x55 || sector[kMbrSignatureOffset + 1] != 0xAA) return 0;
    ChainState chain;
    // Every entry is looked at: an empty slot or an extended partition before a primary one
    // must not hide that primary volume.
    for (const MbrEntry& entry : decodeMbrEntries(sector)) {
        if (entry.type == kMbrTypeEmpty) continue;
        if (isExtendedType(entry.type)) {
            if (const int rc = walkExtendedChain(reader, entry.startLba, chain); rc != 0) return rc;
            continue;
        }
        VolumeRecord record;
        record.fileSystemName = mbrTypeName(reader, entry.type, entry.startLba, false);
        record.volumeName = std::to_string(volumeList.size());
        if (!toSectors(entry.startLba, entry.sectorCount, record)) continue;
        addRecord(std::move(record));
    }
    return 0;
}

int Partition::walkExtendedChain(const ByteSource& reader, std::uint64_t extendedBase,
                                 ChainState& chain) {
    std::uint64_t current = extendedBase;
    std::vector<std::uint8_t> ebr(kSector);
    while (chain.steps < kMaxChainSteps && chain.visited.insert(current).second) {
        ++chain.steps;
        if (!readSectors(reader, current, ebr, unit_)) return lastReadError();
        bool linked = false;
        for (const MbrEntry& entry : decodeMbrEntries(ebr)) {
            if (entry.type == kMbrTypeEmpty) continue;
            if (isExtendedType(entry.type)) {
                // Links are relative to the extended partition, volumes to their own EBR.
                current = extendedBase + entry.startLba;
                linked = true;
                break;
            }
            const std::uint64_t start = current + entry.startLba;
            VolumeRecord record;
            record.fileSystemName = mbrTypeName(reader, entry.type, start, true);
            record.volumeName = std::to_string(volumeList.size());
            if (start >= current && toSectors(start, entry.sectorCount, record)) addRecord(std::move(record));
        }
        if (!linked) break;
    }
    return 0;
}

int Partition::readGptTable(const ByteSource& reader) {
    std::vector<std::uint8_t> header(kSector);
    if (!readSectors(reader, 1, header, unit_)) return lastReadError();
    std::vector<std::uint8_t> entries(kGptArrayReadBytes);
    if (!readSectors(reader, le64(header, kGptHeaderEntryArrayLba), entries, unit_)) return lastReadError();

    const std::size_t limit = gptEntryLimit(entries);
    std::uint64_t counter = 0;
    std::vector<std::uint8_t> boot(kSector);
    for (std::size_t i = 0; i < limit; ++i) {
        const GptEntry entry = decodeGptEntry(ByteSpan(entries).subspan(i * kGptEntrySize, kGptEntrySize));
        if (isUnusedGptEntry(entry) || entry.name == kMicrosoftReservedName) continue;
        // Positions in 512-byte sectors. An entry that points past the disk is still listed;
        // scanning it is refused by the volume's slice, with a message.
        std::uint64_t first = 0;
        if (!checkedMul(static_cast<std::uint64_t>(entry.firstLba), unit_, first)) continue;
        // A partition whose first sector cannot be read (past the disk's end) is still a
        // partition of the table: it is listed under its name like an unrecognised one.
        const bool bootRead = readSectors(reader, first, boot);
        const BootSectorHit hit = bootRead ? classifyGptBootSector(boot) : BootSectorHit{};

        VolumeRecord record;
        record.volumeName = std::to_string(counter);
        record.startSector = first;
        record.sectorCount = hit.sizeSectors;
        switch (hit.kind) {
        case BootKind::Ntfs:
            ++counter;
            if (hit.sizeMb() > 0) {
                record.fileSystemName = "NTFS";
                record.sizeText = mbText("%llu   MB", hit.sizeMb());
                addRecord(std::move(record));
                status(formatText("found NTFS %d...", ++ntfsCounter_));
            }
            break;
        case BootKind::Fat32:
        case BootKind::Fat16:
        case BootKind::Fat12:
        case BootKind::Exfat:
            record.fileSystemName = hit.kind == BootKind::Fat32   ? "FAT32"
                                    : hit.kind == BootKind::Fat16 ? "FAT16"
                                    : hit.kind == BootKind::Fat12 ? "FAT12"
                                                                  : "FAT64";
            status(hit.kind == BootKind::Fat32   ? "found FAT 32..."
                   : hit.kind == BootKind::Fat16 ? "found FAT 16..."
                   : hit.kind == BootKind::Fat12 ? "found unknown..."
                                                 : "found FAT 64...");
            if (hit.sizeMb() > 0) {
                record.sizeText = mbText("%llu  MB", hit.sizeMb());
                addRecord(std::move(record));
                ++counter;
            }
            break;
        default: {
            std::vector<std::uint8_t> hfs(kSector);
            const bool isHfs = first <= UINT64_MAX - kHfsHeaderSector &&
                               readSectors(reader, first + kHfsHeaderSector, hfs) && isHfsPlusHeader(hfs);
            record.fileSystemName = isHfs ? "HFS+" : gptNameThroughCodePage(entry.name);
            // The partition holds first..last inclusive.
            const std::uint64_t firstLba = static_cast<std::uint64_t>(entry.firstLba);
            const std::uint64_t lbas = entry.lastLba >= firstLba ? entry.lastLba - firstLba + 1 : 0;
            const std::uint64_t sectors = lbas > kMaxDiskSectors / unit_ ? kMaxDiskSectors : lbas * unit_;
            record.sizeText = mbText("%llu", sectors / 2048);
            record.sectorCount = sectors;
            addRecord(std::move(record));
            ++counter;
            continue;
        }
        }
        if (control.stopRequested.load()) break;
    }
    return 0;
}

// --- Advanced discovery: the boot-sector scan ---------------------------------------------------

std::uint64_t Partition::scanSector(ByteSpan sector, std::uint64_t sectorNumber) {
    if (mayBeExtSuperblock(sector)) return scanExtSuperblock(sector, sectorNumber);
    const BootSectorHit hit = classifyScanSector(sector);
    if (hit.kind == BootKind::None) return 0;
    VolumeRecord record;
    record.startSector = sectorNumber;
    record.sectorCount = hit.sizeSectors;
    switch (hit.kind) {
    case BootKind::Ntfs:
        if (hit.sizeMb() == 0) return 0;
        record.fileSystemName = "NTFS";
        record.sizeText = mbText("%llu   MB", hit.sizeMb());
        break;
    case BootKind::HfsPlus:
        // A volume smaller than 1 MiB is still listed (as 0 MB): the header test is strict
        // enough not to need the size as a filter.
        if (hit.sizeSectors <= kHfsHeaderSector || hit.sizeMb() > kHfsMaxMb || sectorNumber < kHfsHeaderSector)
            return 0;
        record.fileSystemName = "HFS+";
        record.sizeText = mbText("%llu  MB", hit.sizeMb());
        record.startSector = sectorNumber - kHfsHeaderSector;
        break;
    default:
        // The FAT family reports its find before its size is judged.
        status(hit.kind == BootKind::Fat32   ? "found FAT 32..."
               : hit.kind == BootKind::Fat16 ? "found FAT 16..."
               : hit.kind == BootKind::Exfat ? "found FAT 64..."
                                             : "found unknown...");
        if (hit.sizeMb() == 0) return 0;
        record.fileSystemName = hit.kind == BootKind::Fat32   ? "FAT32"
                                : hit.kind == BootKind::Fat16 ? "FAT16"
                                : hit.kind == BootKind::Exfat ? "FAT64"
                                                              : "FAT12";
        record.sizeText = mbText("%llu  MB", hit.sizeMb());
        break;
    }
    record.volumeName = std::to_string(scanVolumeCounter_++);
    addRecord(std::move(record));
    if (hit.kind == BootKind::Ntfs) status(formatText("found NTFS %d...", ++ntfsCounter_));
    if (hit.kind == BootKind::HfsPlus) status("found HFS+...");
    // The sectors from this one to the volume's end: an NTFS volume's backup boot sector lies
    // in the (NTFS) sector just past its sector count, an HFS+ header two sectors into the volume.
    if (hit.kind == BootKind::Ntfs)
        return hit.sizeSectors >= UINT64_MAX - hit.sectorBytes / kSector ? UINT64_MAX
                                                                         : hit.sizeSectors + hit.sectorBytes / kSector;
    if (hit.kind == BootKind::HfsPlus) return hit.sizeSectors - kHfsHeaderSector;
    return hit.sizeSectors;
}

// An ext volume has no boot sector to find: its primary superblock, 1 KiB in, names it (a
// backup superblock further in says which group holds it, and is passed over).
std::uint64_t Partition::scanExtSuperblock(ByteSpan sector, std::uint64_t sectorNumber) {
    constexpr std::uint64_t superblockSector = kExtSuperblockByte / kSector;
    const std::uint64_t sectors = extVolumeSectors(sector);
    if (sectors <= superblockSector || sectorNumber < superblockSector || le16(sector, kExtBlockGroupNumber) != 0)
        return 0;
    VolumeRecord record;
    record.startSector = sectorNumber - superblockSector;
    record.sectorCount = sectors;
    record.fileSystemName = "extX";
    record.sizeText = mbText("%llu  MB", sectors / 2048);
    record.volumeName = std::to_string(scanVolumeCounter_++);
    addRecord(std::move(record));
    status("found extX...");
    return sectors - superblockSector;
}

void Partition::scanForVolumes(const ByteSource& reader) {
    ProgressSink& progress = progressTarget ? *progressTarget : nullProgress_;
    status("Scanning partition.....");
    // Byte positions must fit a signed 64-bit offset; a larger disk size is not believed.
    const std::uint64_t diskEnd = std::min(diskSectorCount, kMaxDiskSectors);
    const bool hasEnd = customEndSector > 0;
    progress.setRange(0, kProgressScale);
    if (customStartSector >= diskEnd) return;

    // The disk is swept in pieces small enough to stay in the CPU cache while their sectors are
    // tested; progress moves by whole chunks (counted from the scan's start), and a skip over a
    // volume just found passes over its sectors unread.
    SweepRange range;
    range.begin = customStartSector * kSector;
    range.end = (hasEnd ? std::min(customEndSector, diskEnd) : diskEnd) * kSector;
    range.pieceBytes = kPieceSectors * kSector;
    range.skipHoles = true; // every test needs a signature in the sector: zeros never match
    std::uint64_t shownChunk = 0;
    // A stop seen right after a sector was tested ends the scan without the "Scanned" text.
    bool stoppedAfterTest = false;
    const auto onPiece = [&](const SweepPiece& piece) {
        const std::uint64_t first = piece.position / kSector;
        for (std::uint64_t i = 0; i < piece.data.size() / kSector; ++i) {
            if (control.stopRequested.load()) return false;
            const ByteSpan sector = piece.data.subspan(i * kSector, kSector);
            std::uint64_t passOver = 0;
            if (sector[0] == 0xEB || sector[0] == 0x48 || mayBeExtSuperblock(sector)) // nothing else is tested
                passOver = scanSector(sector, first + i);
            if (control.stopRequested.load()) {
                stoppedAfterTest = true;
                return false;
            }
            if (skipVolumeSize && passOver != 0) {
                // Go on right after the volume just found; one that reaches past the disk ends
                // the scan.
                const std::uint64_t next = first + i >= diskEnd || passOver >= diskEnd - (first + i)
                                               ? diskEnd
                                               : first + i + passOver;
                piece.skipTo = next * kSector;
                return true;
            }
        }
        return true;
    };
    const auto onProgress = [&](std::uint64_t done, std::uint64_t total) {
        const std::uint64_t chunk = done / (kChunkSectors * kSector);
        if (chunk == shownChunk && done < total) return;
        shownChunk = chunk;
        const std::uint64_t reached = done >= total ? diskEnd : customStartSector + chunk * kChunkSectors;
        progress.setPosition(static_cast<std::int64_t>(std::min(reached, diskEnd) * kProgressScale / diskEnd));
    };
    const SweepEnd end = sweepVolume(reader, range, control, onPiece, onProgress);
    if (end == SweepEnd::Stopped && !stoppedAfterTest) status("Scanned Partitions");
}

} // namespace vindaru
