#include "volume/Partition.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "common/DisplayFormat.h"
#include "volume/VolumeSweep.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kSectorsPerMb = 2048;
// The standard discovery reads sectors 0 and 1 first (the MBR and, on a GPT disk, its header).
constexpr std::size_t kFirstReadBytes = 1024;
// A chain of extended boot records is followed for at most this many records.
constexpr int kMaxChainSteps = 50;
// The scan reads the disk in chunks of 1 MiB and tests every sector of each.
constexpr std::uint64_t kChunkSectors = 2048;
constexpr std::uint64_t kPieceSectors = 256;
constexpr std::int64_t kProgressScale = 1000;
constexpr std::uint64_t kMaxDiskSectors = static_cast<std::uint64_t>(INT64_MAX) / kSector;
// Logical sectors larger than this are not believed.
constexpr std::uint64_t kMaxLogicalSector = 64 * 1024;
constexpr char kGptSignature[] = "EFI PART";
constexpr std::size_t kMbrSignatureOffset = 510;
// A table entry whose type no row names.
constexpr const char* kUnknownName = "Unknown";
constexpr const char* kUnknownStatus = "found UNKNOWN...";

int lastReadError() { return errno != 0 ? errno : EIO; }

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

// The sector a row's probe reads: `offset` bytes into the volume at 512-byte sector `start`.
bool readProbeSector(const ByteSource& reader, std::uint64_t start, std::uint64_t offset,
                     std::span<std::uint8_t> out) {
    std::uint64_t position = 0;
    if (!checkedMul(start, kSector, position) || !checkedAdd(position, offset, position) ||
        position > static_cast<std::uint64_t>(INT64_MAX))
        return false;
    return reader.readAt(position, out);
}

std::string mbText(const char* format, std::uint64_t mb) {
    return formatText(format, static_cast<unsigned long long>(mb));
}

std::string withCount(const char* text, std::uint64_t count) {
    std::string out = text;
    if (const std::size_t at = out.find("%d"); at != std::string::npos) out.replace(at, 2, std::to_string(count));
    return out;
}

bool bootSectorRow(const FileSystemDriver& row) { return row.probeOffset == 0; }

} // namespace

// Records of one standard discovery's walk over MBR and EBRs: the EBRs already read (a chain
// that links back to one of them is a loop) and the steps used so far.
struct Partition::ChainState {
    std::set<std::uint64_t> visited;
    int steps = 0;
};

// A row that recognised a volume, and what its probe said.
struct Partition::Probed {
    const FileSystemDriver* row = nullptr;
    ProbeHit hit;
};

Partition::Partition(FileSystemTable fileSystems)
    : fileSystems_(fileSystems), namedCounts_(fileSystems.size(), 0) {}

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

std::uint64_t Partition::countNamed(const FileSystemDriver& row) {
    return ++namedCounts_[static_cast<std::size_t>(&row - fileSystems_.data())];
}

Partition::Probed Partition::probeVolumeAt(const ByteSource& reader, std::uint64_t startSector,
                                           ProbeConfidence need, bool (*admits)(const FileSystemDriver&)) const {
    std::vector<std::uint8_t> sector(kSector);
    for (const FileSystemDriver& row : fileSystems_) {
        if (!row.probe || !admits(row) || !readProbeSector(reader, startSector, row.probeOffset, sector)) continue;
        if (const ProbeHit hit = row.probe(sector); hit.confidence >= need) return {&row, hit};
    }
    return {};
}

bool Partition::listProbed(const Probed& found, VolumeRecord record) {
    const FileSystemDriver& row = *found.row;
    const std::uint64_t size = found.hit.sizeSectors;
    const auto report = [&] {
        const std::uint64_t count = countNamed(row);
        if (row.foundStatus) status(withCount(row.foundStatus, count));
    };
    if (row.statusBeforeSize) report();
    if (size == 0 || size < row.minimumSectors) return false;
    record.fileSystemName = row.recordName;
    record.sectorCount = size;
    record.sizeText = std::to_string(size / kSectorsPerMb) + row.foundSizeUnit;
    addRecord(std::move(record));
    if (!row.statusBeforeSize) report();
    return true;
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
    // else is taken from sector 0, since its boot code may look like partition entries; only a
    // valid one counts, since the boot code of a real MBR never passes the probes' full tests.
    Probed found = probeVolumeAt(reader, 0, ProbeConfidence::Valid, [](const FileSystemDriver& row) {
        return row.onBareDisk && bootSectorRow(row);
    });
    if (!found.row) {
        // A superblock counts only where sector 0 holds no partition table that lists a volume.
        for (const MbrEntry& entry : decodeMbrEntries(firstSectors.first(kSector)))
            if (u8(firstSectors, 510) == 0x55 && u8(firstSectors, 511) == 0xAA &&
                entry.type != kMbrTypeEmpty && entry.sectorCount != 0)
                return false;
        found = probeVolumeAt(reader, 0, ProbeConfidence::Valid, [](const FileSystemDriver& row) {
            return row.onBareDisk && !bootSectorRow(row);
        });
    }
    if (!found.row || found.hit.sizeSectors == 0) return false;
    VolumeRecord record;
    record.volumeName = "0";
    record.fileSystemName = found.row->recordName;
    record.sectorCount = found.hit.sizeSectors;
    record.sizeText = mbText("%llu   MB", record.sectorCount / kSectorsPerMb);
    status("found " + record.fileSystemName + " at sector 0, without a partition table...");
    addRecord(std::move(record));
    return true;
}

std::string Partition::mbrTypeName(const ByteSource& reader, std::uint8_t type,
                                   std::uint64_t start, bool logical) {
    // The rows the type points to, in table order.
    std::vector<std::pair<const FileSystemDriver*, const MbrTypeCode*>> named;
    for (const FileSystemDriver& row : fileSystems_)
        for (const MbrTypeCode& code : row.mbrTypes)
            if (code.type == type && !(logical && code.primaryOnly)) {
                named.emplace_back(&row, &code);
                break;
            }
    if (named.empty()) {
        status(kUnknownStatus);
        return kUnknownName;
    }
    // A type that several file systems share: the partition's own first sectors tell which it
    // holds, and the first row of the type is taken when none of them says.
    auto chosen = named.front();
    std::uint64_t firstSector = 0; // `start` counts logical sectors
    if (named.size() > 1 && checkedMul(start, unit_, firstSector)) {
        std::vector<std::uint8_t> sector(kSector);
        for (const auto& candidate : named) {
            const FileSystemDriver& row = *candidate.first;
            if (row.probe && readProbeSector(reader, firstSector, row.probeOffset, sector) &&
                row.probe(sector).confidence != ProbeConfidence::None) {
                chosen = candidate;
                break;
            }
        }
    }
    const std::uint64_t count = countNamed(*chosen.first);
    if (const char* text = logical ? chosen.second->logicalStatus : chosen.second->status) status(withCount(text, count));
    return chosen.first->recordName;
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
    for (std::size_t i = 0; i < limit; ++i) {
        const GptEntry entry = decodeGptEntry(ByteSpan(entries).subspan(i * kGptEntrySize, kGptEntrySize));
        if (isUnusedGptEntry(entry) || entry.name == kMicrosoftReservedName) continue;
        // Positions in 512-byte sectors. An entry that points past the disk is still listed;
        // scanning it is refused by the volume's slice, with a message.
        std::uint64_t first = 0;
        if (!checkedMul(static_cast<std::uint64_t>(entry.firstLba), unit_, first)) continue;
        VolumeRecord record;
        record.volumeName = std::to_string(counter);
        record.startSector = first;
        // A boot sector names and sizes the volume. A partition whose first sector cannot be
        // read (past the disk's end) is still a partition of the table: it is listed under its
        // name like an unrecognised one.
        const Probed boot = probeVolumeAt(reader, first, ProbeConfidence::Signature, [](const FileSystemDriver& row) {
            return row.inGptPartitions && bootSectorRow(row);
        });
        if (boot.row) {
            if (listProbed(boot, std::move(record))) ++counter;
            if (control.stopRequested.load()) break;
            continue;
        }
        // A superblock or volume header further in names the partition; the table sizes it.
        const Probed header = probeVolumeAt(reader, first, ProbeConfidence::Signature, [](const FileSystemDriver& row) {
            return row.inGptPartitions && !bootSectorRow(row);
        });
        record.fileSystemName = header.row ? std::string(header.row->recordName) : gptNameThroughCodePage(entry.name);
        // The partition holds first..last inclusive.
        const std::uint64_t firstLba = static_cast<std::uint64_t>(entry.firstLba);
        const std::uint64_t lbas = entry.lastLba >= firstLba ? entry.lastLba - firstLba + 1 : 0;
        const std::uint64_t sectors = lbas > kMaxDiskSectors / unit_ ? kMaxDiskSectors : lbas * unit_;
        record.sizeText = mbText("%llu", sectors / kSectorsPerMb);
        record.sectorCount = sectors;
        addRecord(std::move(record));
        ++counter;
    }
    return 0;
}

// --- Advanced discovery: the boot-sector scan ---------------------------------------------------

// The rows the scan tries, and which of them each sector goes to by the rows' key bytes.
struct Partition::ScanRows {
    // Rows keyed by a byte are told apart by a bit each; more rows than bits are tried on every
    // sector.
    static constexpr std::size_t kKeyedRows = 64;

    explicit ScanRows(FileSystemTable table) {
        for (const FileSystemDriver& row : table) {
            if (!row.probe) continue;
            const std::size_t index = rows.size();
            rows.push_back(&row);
            if (index >= kKeyedRows) continue;
            const std::uint64_t bit = std::uint64_t{1} << index;
            if (row.scanKey.bytes.empty()) {
                everySector |= bit;
                continue;
            }
            auto key = std::find_if(keys.begin(), keys.end(), [&](const Key& k) { return k.at == row.scanKey.at; });
            if (key == keys.end()) key = keys.insert(keys.end(), Key{row.scanKey.at, {}});
            for (const char byte : row.scanKey.bytes) key->rowsByByte[static_cast<std::uint8_t>(byte)] |= bit;
        }
    }

    // Whether any row may take `sector`: most sectors of a disk hold no row's key byte.
    // The keyed rows `sector` goes to, one bit each.
    std::uint64_t candidates(ByteSpan sector) const {
        std::uint64_t found = everySector;
        for (const Key& key : keys)
            if (key.at < sector.size()) found |= key.rowsByByte[sector[key.at]];
        return found;
    }

    struct Key {
        std::size_t at = 0;
        std::array<std::uint64_t, 256> rowsByByte{};
    };
    std::vector<const FileSystemDriver*> rows; // in table order
    std::vector<Key> keys;
    std::uint64_t everySector = 0;
};

std::uint64_t Partition::scanSector(const ScanRows& rows, std::uint64_t candidates, ByteSpan sector,
                                     std::uint64_t sectorNumber) {
    // Every sector is taken in turn for each row's probed sector: a boot sector, or a superblock
    // or volume header some sectors into its volume.
    for (std::size_t i = 0; i < rows.rows.size(); ++i) {
        if (i < ScanRows::kKeyedRows && (candidates >> i & 1) == 0) continue;
        const FileSystemDriver& row = *rows.rows[i];
        const ProbeHit hit = row.probe(sector);
        if (hit.confidence != ProbeConfidence::Valid) continue;
        const std::uint64_t lead = row.probeOffset / kSector;
        if (sectorNumber < lead) return 0;
        VolumeRecord record;
        record.startSector = sectorNumber - lead;
        record.volumeName = std::to_string(scanVolumeCounter_);
        if (!listProbed({&row, hit}, std::move(record))) return 0;
        ++scanVolumeCounter_;
        // The sectors from this one to the volume's end, and past what the file system keeps
        // just after it in sectors of its own (an NTFS volume's backup boot sector).
        const std::uint64_t rest = hit.sizeSectors > lead ? hit.sizeSectors - lead : 0;
        std::uint64_t trailing = 0;
        std::uint64_t passOver = 0;
        return checkedMul(row.trailingSectors, hit.sectorBytes / kSector, trailing) &&
                       checkedAdd(rest, trailing, passOver)
                   ? passOver
                   : UINT64_MAX;
    }
    return 0;
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
    const ScanRows scanRows(fileSystems_);
    // A stop seen right after a sector was tested ends the scan without the "Scanned" text.
    bool stoppedAfterTest = false;
    const auto onPiece = [&](const SweepPiece& piece) {
        const std::uint64_t first = piece.position / kSector;
        for (std::uint64_t i = 0; i < piece.data.size() / kSector; ++i) {
            const ByteSpan sector = piece.data.subspan(i * kSector, kSector);
            // A sector no row may take is passed untested; a Stop is then seen at the next test
            // or at the next piece.
            const std::uint64_t candidates = scanRows.candidates(sector);
            if (candidates == 0 && scanRows.rows.size() <= ScanRows::kKeyedRows) continue;
            if (control.stopRequested.load()) return false;
            const std::uint64_t passOver = scanSector(scanRows, candidates, sector, first + i);
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
