// The Advanced mode of FAT12/16 and FAT32: the search for FAT starts, and the rebuild of a
// volume whose boot sector cannot be trusted from the user's FAT and cluster size.
#include <algorithm>
#include <array>
#include <cstring>

#include "common/ByteLoader.h"
#include "common/DisplayFormat.h"
#include "fs/fat/FatBootFields.h"
#include "fs/fat/FatDirectoryParser.h"
#include "volume/VolumeSweep.h"

namespace vindaru {

namespace {

constexpr const char* kSearchDone = "Parsing done.Click Next to continue.";
constexpr const char* kBuilding = "Maintaining directory Structure in AdvanceScanning";
constexpr const char* kSectorStatus = "currently at sector %lld of %lld";
constexpr const char* kFoundCount = "found file or directory =  %d ";
constexpr const char* kCompleted = "Scanning process completed...";
constexpr const char* kOrphanName = "ORPHAN ENTRY";

constexpr std::uint64_t kSector = 512;
// FAT12/16's root directory when no boot sector tells its size: 512 slots.
constexpr std::uint64_t kDefaultRootBytes = 16384;
// The rebuild keeps at most this many found slots (a volume full of slot-like bytes).
constexpr std::size_t kMaxFound = 4u << 20;
// Distinct data starts the dot entries may imply before the rest are not counted.
constexpr std::size_t kMaxVotes = 4096;
constexpr std::uint64_t kScanPieceBytes = 512u << 10;
// A found slot is read with the slots after it: a long name of 20 slots and its short slot.
constexpr std::size_t kFoundReadSlots = 21;
constexpr std::uint8_t kDot = 0x2E;

// What a slot's attribute byte makes of it in the scan.
enum SlotKind : std::uint8_t { kReject, kLongName, kDirectory, kFile };

struct SlotTables {
    std::array<SlotKind, 256> kinds{};
    std::array<bool, 256> alnum{};
};

SlotTables makeTables(bool fat32) {
    SlotTables t;
    for (int a : {0x10, 0x11, 0x12, 0x14, 0x15, 0x16, 0x30})
        t.kinds[a] = kDirectory;
    t.kinds[0x0F] = kLongName;
    t.kinds[0x20] = kFile;
    if (!fat32) t.kinds[0x26] = kFile;
    for (int c = 0x41; c <= 0x5B; ++c)
        t.alnum[c] = true;
    for (int c = fat32 ? 0x5F : 0x61; c <= 0x7A; ++c)
        t.alnum[c] = true;
    for (int c = 0x30; c <= 0x39; ++c)
        t.alnum[c] = true;
    return t;
}

const SlotTables kFat16Tables = makeTables(false);
const SlotTables kFat32Tables = makeTables(true);

bool validDate(std::uint16_t d) {
    const unsigned day = d & 0x1F, month = (d >> 5) & 0x0F;
    return day >= 1 && month >= 1 && month <= 12;
}

bool validTime(std::uint16_t t) {
    return (t >> 11) < 24 && ((t >> 5) & 0x3F) < 60 && (t & 0x1F) < 30;
}

std::uint16_t at16(const std::uint8_t* p, std::size_t i) {
    return static_cast<std::uint16_t>(p[i] | (p[i + 1] << 8));
}
std::uint32_t at32(const std::uint8_t* p, std::size_t i) {
    return p[i] | (std::uint32_t{p[i + 1]} << 8) | (std::uint32_t{p[i + 2]} << 16) |
           (std::uint32_t{p[i + 3]} << 24);
}

// A slot's first cluster; FAT12/16 slots have no high half.
std::uint32_t slotCluster(const std::uint8_t* p, bool fat32) {
    return fat32 ? (std::uint32_t{at16(p, kSlotClusterHigh)} << 16) | at16(p, kSlotClusterLow)
                 : at16(p, kSlotClusterLow);
}

bool validDatesAndTimes(const std::uint8_t* p) {
    return validDate(at16(p, kSlotCreationDate)) && validDate(at16(p, kSlotAccessDate)) &&
           validDate(at16(p, kSlotWriteDate)) && validTime(at16(p, kSlotCreationTime)) &&
           validTime(at16(p, kSlotWriteTime));
}

bool timesNonZero(const std::uint8_t* p) {
    return p[kSlotCreationTenths] != 0 && at16(p, kSlotCreationTime) != 0 &&
           at16(p, kSlotCreationDate) != 0 && at16(p, kSlotAccessDate) != 0 &&
           at16(p, kSlotWriteTime) != 0 && at16(p, kSlotWriteDate) != 0;
}

// The second byte of a name: a letter or digit, or one of the few marks names start with.
bool secondByteOk(const SlotTables& t, std::uint8_t b) {
    return t.alnum[b] || b == 0x20 || b == 0x7E || b == 0x2E || b == 0x29 || b == 0xE5;
}

// Whether a 32-byte slot looks like a directory slot of a FAT16 or FAT32 directory.
bool plausibleSlot(const std::uint8_t* p, bool fat32, std::uint64_t clusters) {
    const SlotTables& t = fat32 ? kFat32Tables : kFat16Tables;
    const SlotKind kind = t.kinds[p[kSlotAttribute]];
    if (kind == kReject) return false;
    const std::uint8_t b0 = p[0], b1 = p[1];
    if (kind == kLongName) {
        if (p[kSlotCaseFlags] != 0 || p[kSlotClusterLow] != 0) return false;
        if (secondByteOk(t, b1) || (fat32 && b1 == 0x2C)) return true;
        return b1 == 0x5F && (fat32 || b0 != kDeletedMarker);
    }
    const std::uint32_t cluster = slotCluster(p, fat32);
    const std::uint32_t size = at32(p, kSlotSize);
    const bool deleted = b0 == kDeletedMarker;
    if (kind == kDirectory) {
        if (!(t.alnum[b0] || b0 == 0xE5 || b0 == 0x7E || b0 == 0x24) || !secondByteOk(t, b1))
            return false;
        if (!validDatesAndTimes(p)) return false;
        if (fat32)
            return cluster != 0 && cluster < clusters && timesNonZero(p) && (deleted || size == 0);
        return deleted || (size == 0 && cluster != 0 && cluster < clusters);
    }
    if (!(t.alnum[b0] || b0 == 0xE5 || b0 == 0x7E) || !secondByteOk(t, b1)) return false;
    if (p[kSlotCaseFlags] != 0 && p[kSlotCaseFlags] != 0x18) return false;
    if (cluster >= clusters || !validDatesAndTimes(p)) return false;
    if (fat32) return b1 != 0x29 && cluster != 0 && size != 0 && timesNonZero(p);
    return true;
}

// FAT32's volume label (or recycle bin folder) slot, where the scan finds the data start.
bool labelLikeSlot(const std::uint8_t* p) {
    const std::uint8_t a = p[kSlotAttribute];
    if (a == kLongNameAttribute) return false;
    if (a != kFatAttrVolumeLabel && std::memcmp(p + 1, "RECYCLE", 7) != 0) return false;
    auto letter = [](std::uint8_t c) {
        return (c >= 0x41 && c <= 0x5A) || (c >= 0x61 && c <= 0x7A) || (c >= 0x30 && c <= 0x39);
    };
    const std::uint8_t b0 = p[0], b1 = p[1];
    if (!(letter(b0) || b0 == 0xE5 || b0 == 0x7E || b0 == 0x24)) return false;
    if (!(letter(b1) || b1 == 0x20 || b1 == 0x7E || b1 == 0x2E || b1 == 0x29 || b1 == 0xE5))
        return false;
    return (p[kSlotCaseFlags] == 0 || p[kSlotCaseFlags] == 0x18) && p[kSlotSize] == 0;
}

// A directory's "." slot followed by its ".." slot: the first cluster of the directory.
std::uint32_t dotEntryCluster(const std::uint8_t* p, bool fat32) {
    if (p[0] != kDot || (p[kSlotAttribute] & kFatAttrDirectory) == 0) return 0;
    for (int i = 1; i < 11; ++i)
        if (p[i] != ' ') return 0;
    if (p[32] != kDot || p[33] != kDot) return 0;
    return slotCluster(p, fat32);
}

// A cluster of 1 to 128 sectors, a power of two.
bool validClusterSectors(std::uint64_t sectors) { return isPowerOfTwo(sectors) && sectors <= 128; }

} // namespace

std::optional<std::uint64_t> FatDirectoryParser::clusterChoiceBeyondList(std::uint64_t number) const {
    if (!validClusterSectors(number)) return std::nullopt;
    return number;
}

void FatDirectoryParser::searchCandidates(std::uint64_t limit) {
    const AdvancedRules& rules = advancedRules();
    bootPassed_ = checkBootSector() || checkBackupBootSector();
    bootGeometry_ = {};
    if (bootPassed_)
        bootGeometry_ = {clusterSize_, dataStart_,   rootAreaOffset_,
                         rootBytes_,   rootCluster_, entryBits_};
    if (rules.searchStatus) status(rules.searchStatus);
    fatCandidates_ = findFatCandidates(rules.pattern, rules.mask, limit, rules.positionStatus);
    control_.stopRequested.acknowledge();
}

AdvancedLists FatDirectoryParser::advancedLists() const {
    const AdvancedRules& rules = advancedRules();
    AdvancedLists lists;
    lists.candidateItemsLabel = rules.itemsLabel;
    for (std::size_t i = 0; i < fatCandidates_.size(); ++i)
        lists.candidates.push_back(formatText(rules.candidateItem, static_cast<int>(i)));
    // The boot sector's own cluster size first, in 512-byte sectors.
    const std::uint64_t own = bootGeometry_.clusterSize / kSector;
    if (bootPassed_ && validClusterSectors(own)) addClusterItem(lists, own, own);
    for (const std::uint64_t sectors : rules.clusterChoices) addClusterItem(lists, sectors, sectors);
    lists.countMessage =
        fatCandidates_.empty() && rules.noCandidateMessage
            ? rules.noCandidateMessage
            : formatText(rules.countMessage, static_cast<int>(fatCandidates_.size()));
    lists.endStatus = kSearchDone;
    return lists;
}

FatDirectoryParser::FoundSlots FatDirectoryParser::scanForEntries(std::uint64_t clusterSize,
                                                                  std::uint64_t clusters) {
    const bool fat32 = isFat32();
    FoundSlots found;
    SweepRange range;
    range.end = sweepLength();
    range.pieceBytes = std::max(kScanPieceBytes / clusterSize, std::uint64_t{1}) * clusterSize;
    range.tailBytes = 32; // a dot entry's ".." slot
    range.skipHoles = true;
    range.trimGranule = kSector; // zero slots are never entries
    const std::int64_t progressEnd = fat32 ? 1000 : 100000;
    if (sinks_.progress) sinks_.progress->setRange(0, progressEnd);
    sweepVolume(reader_, range, control_, [&](const SweepPiece& piece) {
        const auto data = piece.withTail;
        const std::size_t slots = piece.data.size() / 32;
        const SlotTables& tables = fat32 ? kFat32Tables : kFat16Tables;
        for (std::size_t i = 0; i < slots; ++i) {
            const std::uint8_t* p = data.data() + i * 32;
            // Most slots of a volume are file data: one look at the attribute byte, the first
            // and the second byte ends them.
            const bool candidate = tables.kinds[p[kSlotAttribute]] != kReject;
            const bool label = fat32 && !found.labelSlot &&
                               (p[kSlotAttribute] == kFatAttrVolumeLabel || p[1] == 'R');
            if (!candidate && !label && p[0] != kDot) continue;
            const std::uint64_t offset = piece.position + i * 32;
            if (p[0] == kDot) {
                if (i * 32 + 64 > data.size()) continue;
                const std::uint32_t c = dotEntryCluster(p, fat32);
                const std::uint64_t before = c >= 2 ? (c - 2ull) * clusterSize : 0;
                if (c >= 2 && c < clusters && offset >= before &&
                    (found.dataStartVotes.size() < kMaxVotes ||
                     found.dataStartVotes.count(offset - before)))
                    ++found.dataStartVotes[offset - before];
                continue;
            }
            if (label && labelLikeSlot(p)) found.labelSlot = offset;
            if (candidate && found.offsets.size() < kMaxFound && plausibleSlot(p, fat32, clusters))
                found.offsets.push_back(offset);
        }
        const std::uint64_t done = piece.end;
        if (sinks_.progress && range.end)
            sinks_.progress->setPosition(static_cast<std::int64_t>(
                done * static_cast<std::uint64_t>(progressEnd) / range.end));
        if (fat32)
            status(formatText(kFoundCount, static_cast<int>(found.offsets.size())));
        else
            status(formatText(kSectorStatus, static_cast<long long>(done / kSector),
                              static_cast<long long>(range.end / kSector)));
        return true;
    });
    return found;
}

void FatDirectoryParser::prepareFromCandidate(std::uint64_t fatOffset, std::uint64_t clusterSize,
                                              std::uint64_t clusters, const FoundSlots& found) {
    const bool fat32 = isFat32();
    bytesPerSector_ = kSector;
    clusterSize_ = clusterSize;
    // Where cluster 2 starts: the boot sector's when it passed; else where the directories'
    // dot entries say (each "." slot tells its own cluster number); else the layout's guess.
    std::optional<std::uint64_t> dataStart;
    if (bootPassed_) {
        dataStart = bootGeometry_.dataStart;
    } else if (!found.dataStartVotes.empty()) {
        const auto best = std::max_element(found.dataStartVotes.begin(), found.dataStartVotes.end(),
                                           [](const auto& a, const auto& b) {
                                               return a.second != b.second ? a.second < b.second
                                                                           : a.first > b.first;
                                           });
        dataStart = best->first;
    }
    // Two FATs found one FAT's length apart: what follows the second is the root (FAT12/16) or
    // the data area (FAT32). A volume without folders has no dot entries to tell.
    std::optional<std::uint64_t> afterFats;
    if (fatCandidates_.size() >= 2 && fatOffset == fatCandidates_[0] &&
        fatCandidates_[1] > fatCandidates_[0])
        afterFats = 2 * fatCandidates_[1] - fatCandidates_[0];
    if (fat32) {
        if (!dataStart && found.labelSlot) dataStart = *found.labelSlot;
        if (!dataStart && afterFats) dataStart = *afterFats;
        if (!dataStart && !found.offsets.empty() && found.offsets.front() >= 32)
            dataStart = found.offsets.front() - 32;
        dataStart_ = dataStart.value_or(0);
        rootCluster_ = bootPassed_ ? bootGeometry_.rootCluster : 2;
        entryBits_ = 32;
        rootAreaEnd_ = dataStart_ + clusterSize;
    } else {
        if (bootPassed_) {
            rootAreaOffset_ = bootGeometry_.rootOffset;
            rootBytes_ = bootGeometry_.rootBytes;
        } else if (dataStart) {
            rootBytes_ = kDefaultRootBytes;
            rootAreaOffset_ = *dataStart >= rootBytes_ ? *dataStart - rootBytes_ : 0;
        } else if (afterFats) {
            rootBytes_ = kDefaultRootBytes;
            rootAreaOffset_ = *afterFats;
            dataStart = rootAreaOffset_ + rootBytes_;
        } else {
            // Two FATs of two bytes a cluster, each rounded up past a whole sector, after a
            // reserved area of four sectors each; then the root's 512 slots.
            const std::uint64_t fatBytes = 2 * clusters;
            rootBytes_ = kDefaultRootBytes;
            rootAreaOffset_ = 2 * (fatBytes + (kSector - fatBytes % kSector) + 2048);
            dataStart = rootAreaOffset_ + rootBytes_;
        }
        dataStart_ = dataStart.value_or(rootAreaOffset_ + rootBytes_);
        entryBits_ = bootPassed_ ? bootGeometry_.entryBits : 16;
        rootAreaEnd_ = std::max(rootAreaOffset_ + clusterSize, rootAreaOffset_ + rootBytes_);
    }
    const std::uint64_t fatBytes =
        entryBits_ == 12 ? (clusters + 2) * 3 / 2 + 1 : (clusters + 2) * (entryBits_ / 8);
    fat_ = std::make_unique<FatTable>(reader_, fatOffset, fatBytes, entryBits_);
    setClusterLimit(clusters);
}

std::optional<FatEntryRecord> FatDirectoryParser::recordAtFound(std::uint64_t offset, bool take) {
    Frame frame = foundEntryFrame(offset, kFoundReadSlots, take);
    const std::uint8_t* p = peekSlot(frame);
    if (!p) return std::nullopt;
    if (p[kSlotAttribute] == kLongNameAttribute) {
        gatherLongName(frame);
        p = peekSlot(frame);
        if (!p || p[0] == 0 || p[0] == kDot || p[kSlotAttribute] == kLongNameAttribute)
            return std::nullopt;
    }
    if (p[0] == 0 || p[0] == kDot) return std::nullopt;
    FatSlot slot;
    std::copy_n(p, slot.size(), slot.begin());
    FatEntryRecord r = recordFromSlot(slot);
    if (r.volumeLabel) return std::nullopt;
    const bool deleted = slot[0] == kDeletedMarker;
    if (frame.pendingName && frame.pendingDeleted == deleted && !frame.pendingName->empty())
        r.name = std::move(*frame.pendingName);
    else
        r.name = fatShortName(slot);
    r.deleted = deleted;
    return r;
}

void FatDirectoryParser::buildFromEntries(const FoundSlots& found,
                                          std::uint64_t foundDirectoryUnits) {
    // The two placeholders, with the fields of the entry the first found slot belongs to (past
    // a long name's slots, whose "times" are name characters): the root and the orphans' folder.
    std::optional<FatEntryRecord> first;
    if (!found.offsets.empty()) first = recordAtFound(found.offsets.front(), false);
    FatEntryRecord dummy = first ? std::move(*first) : recordFromSlot(FatSlot{});
    dummy.name = kDummyEntryName;
    dummy.attribute = kLongNameAttribute;
    dummy.directory = true;
    dummy.volumeLabel = false;
    dummy.deleted = false;
    dummy.size = 0;
    FatEntryRecord orphan = dummy;
    orphan.name = kOrphanName;
    orphan.attribute = kFatAttrDirectory;
    orphan.selfIndex = 1;
    entries_.push_back(dummy);
    entries_.push_back(orphan);
    orphanIndex_ = 1;
    placeholderDone_ = true;

    // The root as the Standard mode walks it, so that what it holds keeps its place.
    const DirectoryRun root = rootRun();
    if (root.kind == DirectoryRun::Kind::Area ? root.areaLength != 0
                                              : isDataCluster(root.startCluster))
        walkDirectory(0, root, true);

    for (const std::uint64_t offset : found.offsets) {
        if (control_.stopRequested.load() || tableFull()) break;
        if (slotTaken(offset)) continue;
        takeSlot(offset);
        std::optional<FatEntryRecord> r = recordAtFound(offset, true);
        if (!r) continue;
        r->selfIndex = static_cast<std::uint32_t>(entries_.size());
        r->parentIndex = offset >= rootAreaEnd_ ? orphanIndex_ : 0;
        const std::uint32_t index = r->selfIndex;
        const bool walk = r->directory && isDataCluster(r->firstCluster);
        const std::uint32_t cluster = r->firstCluster;
        entries_.push_back(std::move(*r));
        if (walk) walkDirectory(index, chainRun(cluster, foundDirectoryUnits), false);
    }
}

ScanOutcome FatDirectoryParser::scanAdvanced(const AdvancedChoice& choice, CheckTree* tree,
                                             TreeItemId volumeItem) {
    const AdvancedRules& rules = advancedRules();
    ScanOutcome outcome;
    outcome.endMessages = {kCompleted};
    if (isFat32()) outcome.recycle = RecycleLayout::Flat;
    control_.stopRequested.acknowledge();
    entries_.clear();
    beginRebuild();
    std::uint64_t sectors = choice.sectorsPerCluster;
    if (!validClusterSectors(sectors)) sectors = rules.clusterChoices.front();
    const std::uint64_t clusterSize = sectors * kSector;
    const std::uint64_t clusters =
        std::min<std::uint64_t>(sweepLength() / clusterSize, UINT32_MAX - 16);
    if (choice.candidate >= fatCandidates_.size()) return outcome;
    const FoundSlots found = scanForEntries(clusterSize, clusters);
    // A stop ends the scan; what it found is still built.
    control_.stopRequested.acknowledge();
    prepareFromCandidate(fatCandidates_[choice.candidate], clusterSize, clusters, found);
    status(kBuilding);
    buildFromEntries(found, rules.foundDirectoryUnits);
    status(rules.treeStatus);
    linkEntries(false);
    fillTree(tree, volumeItem);
    return outcome;
}

} // namespace vindaru
