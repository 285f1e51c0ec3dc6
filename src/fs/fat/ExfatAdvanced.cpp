// The Advanced mode of exFAT: the search for FAT and cluster heap starts, and the rebuild of a
// volume whose boot sector cannot be trusted from the user's FAT, heap and cluster size.
#include <algorithm>
#include <bit>
#include <cstring>

#include "common/ByteLoader.h"
#include "common/DisplayFormat.h"
#include "fs/fat/Fat64Class.h"
#include "volume/VolumeSweep.h"

namespace vindaru {

namespace {

constexpr const char* kFinding = "Finding Fat64 entries....";
constexpr const char* kFoundEntry = "found Entry %d ";
constexpr const char* kCandidateItem = "FAT64_ENTRY:%d";
constexpr const char* kHeapItem = "HEAP_OFFSET_ENTRY:%d";
constexpr const char* kItemsLabel = "Total fat64 Entries Found:";
constexpr const char* kCountMessage =
    "Number of FAT64-ENTRY found = %d and Number of HeapOffset-ENTRY found =  %d  . Please select "
    "the choice from ( "
    "Entry and Heap ) Combobox and click Parse button to proceed.";
constexpr const char* kSearchDone = "Parsing done.Click Next to continue.";
constexpr const char* kTreeStatus = "Maintaining TreeStructure for Tree Control";
constexpr const char* kCompleted = "Scanning process completed...";
constexpr const char* kOrphanName = "ORPHAN ENTRY";
constexpr unsigned kClusterChoices[] = {8, 9, 10, 11};

constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kBackupBootSector = 12;
// The command line's shifts beyond the list; the rebuild takes any that gives clusters of at
// most 32 MiB (a boot sector's own shift may be larger than the list's).
constexpr unsigned kMaxChoiceShift = 11;
constexpr int kMaxShift = 16;
constexpr std::uint64_t kDefaultShift = 8;
constexpr std::size_t kMaxFound = 4u << 20;
constexpr std::uint64_t kScanPieceBytes = 512u << 10;
// A File entry, its Stream Extension and at most 17 File Name entries.
constexpr std::size_t kSetSlots = 19;

constexpr std::uint8_t kFatStart[] = {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::uint8_t kHeapStart[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::uint8_t kAllBits[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

bool allZero(const std::uint8_t* p, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
        if (p[i] != 0) return false;
    return true;
}

bool fileAttributeOk(std::uint8_t a) {
    return a == 0x10 || a == 0x11 || a == 0x12 || a == 0x13 || a == 0x15 || a == 0x20 || a == 0x30;
}

// How many slots from `p` (at most `available`) an entry-set test examined, and whether the set
// it begins is valid.
struct SetTest {
    std::size_t examined = 1;
    bool valid = false;
};

SetTest testEntrySet(const std::uint8_t* p, std::size_t available) {
    SetTest t;
    if (!fileAttributeOk(p[4]) || p[6] != 0 || p[7] != 0 || !allZero(p, 25, 32)) return t;
    if (available < 2) return t;
    const std::uint8_t* s = p + 32;
    t.examined = 2;
    if ((s[0] != 0xC0 && s[0] != 0x40) || s[2] != 0 || s[6] != 0 || s[7] != 0 ||
        !allZero(s, 16, 20) || (s[1] != 1 && s[1] != 3))
        return t;
    const std::size_t names = (s[3] + 14u) / 15u;
    if (names == 0) return t;
    for (std::size_t k = 0; k < names; ++k) {
        if (2 + k >= available) return t;
        const std::uint8_t* n = p + (2 + k) * 32;
        t.examined = 3 + k;
        if ((n[0] != 0xC1 && n[0] != 0x41) || n[1] > 3) return t;
    }
    t.valid = true;
    return t;
}

// The allocation bitmap's entry, which every root directory holds, followed by the up-case
// table's.
bool bitmapEntry(const std::uint8_t* p, std::size_t available) {
    return available >= 2 && p[0] == 0x81 && p[1] <= 1 && allZero(p, 2, 20) &&
           (p[20] | p[21] << 8 | p[22] << 16 | static_cast<std::uint32_t>(p[23]) << 24) >= 2 &&
           p[32] == 0x82;
}

// The list shows sectors per cluster as shifts.
void addShiftItem(AdvancedLists& lists, unsigned shift) { addClusterItem(lists, shift, std::uint64_t{1} << shift); }

} // namespace

std::optional<std::uint64_t> Fat64Class::clusterChoiceBeyondList(std::uint64_t number) const {
    if (number > kMaxChoiceShift) return std::nullopt;
    return std::uint64_t{1} << number;
}

void Fat64Class::searchCandidates(std::uint64_t limit) {
    bootPassed_ = checkBootSectorAt(0) || checkBootSectorAt(kBackupBootSector * kSector);
    bootHeapStart_ = bootPassed_ ? dataStart_ : 0;
    bootClusterSize_ = bootPassed_ ? clusterSize_ : 0;
    bootRootCluster_ = bootPassed_ ? rootCluster_ : 0;
    status(kFinding);
    fatCandidates_ = findFatCandidates(kFatStart, kAllBits, limit, false);
    heapCandidates_ = findHeapCandidates(limit);
    if (bootPassed_ && !heapCandidates_.empty()) heapCandidates_.front() = bootHeapStart_;
    control_.stopRequested.acknowledge();
}

std::vector<std::uint64_t> Fat64Class::findHeapCandidates(std::uint64_t limit) {
    // The heap begins with the allocation bitmap, whose first clusters are in use: one more
    // candidate than asked for.
    PatternSearch heap;
    heap.pattern = kHeapStart;
    heap.mask = kAllBits;
    heap.limit = limit + 1;
    return findSectorPattern(heap);
}

AdvancedLists Fat64Class::advancedLists() const {
    AdvancedLists lists;
    lists.candidateItemsLabel = kItemsLabel;
    for (std::size_t i = 0; i < fatCandidates_.size(); ++i)
        lists.candidates.push_back(formatText(kCandidateItem, static_cast<int>(i)));
    for (std::size_t i = 0; i < heapCandidates_.size(); ++i)
        lists.heaps.push_back(formatText(kHeapItem, static_cast<int>(i)));
    lists.heapListShown = true;
    // The boot sector's own cluster size first, as a shift of 512-byte sectors.
    if (bootPassed_ && bootClusterSize_ >= kSector) {
        unsigned shift = 0;
        while ((kSector << shift) < bootClusterSize_)
            ++shift;
        addShiftItem(lists, shift);
    }
    for (const unsigned shift : kClusterChoices) addShiftItem(lists, shift);
    lists.countMessage = formatText(kCountMessage, static_cast<int>(fatCandidates_.size()),
                                    static_cast<int>(heapCandidates_.size()));
    lists.endStatus = kSearchDone;
    return lists;
}

Fat64Class::FoundSets Fat64Class::scanForEntries(std::uint64_t clusterSize) {
    FoundSets found;
    SweepRange range;
    range.end = sweepLength();
    range.pieceBytes = std::max(kScanPieceBytes / clusterSize, std::uint64_t{1}) * clusterSize;
    range.tailBytes = kSetSlots * 32; // a set that runs past the piece
    range.skipHoles = true;
    range.trimGranule = kSectorSize; // zero slots are never entries
    if (sinks_.progress) sinks_.progress->setRange(0, 1000);
    std::uint64_t resume = 0; // the walk goes on after the last slot a set test examined
    sweepVolume(reader_, range, control_, [&](const SweepPiece& piece) {
        const auto data = piece.withTail;
        const std::size_t slots = piece.data.size() / 32;
        const std::size_t all = data.size() / 32;
        std::size_t i =
            resume > piece.position ? static_cast<std::size_t>((resume - piece.position) / 32) : 0;
        for (; i < slots; ++i) {
            const std::uint8_t* p = data.data() + i * 32;
            const std::uint8_t type = p[0];
            const std::uint64_t offset = piece.position + i * 32;
            if (type == 0x83 && allZero(p, 24, 32)) {
                found.labelSlot = offset;
            } else if (type == 0x81) {
                if (!found.bitmapSlot && bitmapEntry(p, all - i)) found.bitmapSlot = offset;
            } else if (type == 0x85 || type == 0x05) {
                const SetTest t = testEntrySet(p, all - i);
                if (t.valid && found.offsets.size() < kMaxFound) found.offsets.push_back(offset);
                i += t.examined - 1;
            }
        }
        resume = piece.position + i * 32;
        if (sinks_.progress && range.end)
            sinks_.progress->setPosition(static_cast<std::int64_t>(piece.end * 1000 / range.end));
        status(formatText(kFoundEntry, static_cast<int>(found.offsets.size())));
        return true;
    });
    return found;
}

ExfatEntryRecord Fat64Class::recordAtFound(std::uint64_t offset, bool take) {
    scratch_ = ExfatEntryRecord{};
    Frame frame = foundEntryFrame(offset, kSetSlots, take);
    if (peekSlot(frame)) readEntrySet(frame);
    return scratch_;
}

void Fat64Class::buildFromEntries(const FoundSets& found, std::uint64_t heapStart,
                                  std::uint64_t fatOffset) {
    const std::uint64_t clusters = sweepLength() / clusterSize_;
    dataStart_ = heapStart;
    bitmapTried_ = bitmapRead_ = false; // a new geometry: no bitmap known (the root is found later)
    bitmap_.clear();
    fat_ = std::make_unique<FatTable>(reader_, fatOffset, (clusters + 2) * 4, 32, false);
    setClusterLimit(clusters);
    const std::optional<std::uint64_t> rootSlot =
        found.labelSlot ? found.labelSlot : found.bitmapSlot;
    const std::uint64_t first =
        found.offsets.empty() ? rootSlot.value_or(0) : found.offsets.front();
    rootAreaEnd_ = found.labelSlot.value_or(first) + clusterSize_;

    // The two placeholders carry the first found File entry's fields.
    ExfatEntryRecord dummy =
        found.offsets.empty() ? ExfatEntryRecord{} : recordAtFound(first, false);
    dummy.name = kDummyEntryName;
    dummy.parentIndex = 0;
    dummy.selfIndex = 0;
    dummy.deleted = false;
    dummy.directory = true;
    dummy.size = dummy.validDataLength = dummy.dataLength = 0;
    ExfatEntryRecord orphan = dummy;
    orphan.name = kOrphanName;
    orphan.attributes = kFatAttrDirectory;
    orphan.selfIndex = 1;
    entries_.push_back(dummy);
    entries_.push_back(orphan);
    orphanIndex_ = 1;
    placeholderDone_ = true;

    // The root as the Standard mode walks it: the boot sector's root cluster, or the cluster
    // that holds the volume label (or the allocation bitmap's entry).
    const std::uint32_t root = bootPassed_ ? bootRootCluster_ : rootSlot ? clusterAt(*rootSlot) : 0;
    if (isDataCluster(root)) walkDirectory(0, chainRun(root, clusterLimit_), true);

    for (const std::uint64_t offset : found.offsets) {
        if (control_.stopRequested.load() || tableFull()) break;
        if (slotTaken(offset)) continue;
        takeSlot(offset);
        ExfatEntryRecord r = recordAtFound(offset, true);
        r.deleted = r.entryType == 0x05;
        r.selfIndex = static_cast<std::uint32_t>(entries_.size());
        r.parentIndex = offset >= rootAreaEnd_ ? orphanIndex_ : 0;
        const std::uint32_t index = r.selfIndex;
        const bool walk = r.directory && isDataCluster(r.firstCluster);
        const DirectoryRun run = walk ? directoryRun(r) : DirectoryRun{};
        entries_.push_back(std::move(r));
        if (walk) walkDirectory(index, run, false);
    }
}

ScanOutcome Fat64Class::scanAdvanced(const AdvancedChoice& choice, CheckTree* tree,
                                     TreeItemId volumeItem) {
    ScanOutcome outcome;
    outcome.endMessages = {kCompleted};
    outcome.recycle = RecycleLayout::Flat;
    control_.stopRequested.acknowledge();
    entries_.clear();
    beginRebuild();
    // The chosen sectors per cluster as a shift; anything else, the default.
    int shift = kDefaultShift;
    if (isPowerOfTwo(choice.sectorsPerCluster) && std::countr_zero(choice.sectorsPerCluster) <= kMaxShift)
        shift = std::countr_zero(choice.sectorsPerCluster);
    bytesPerSector_ = kSector;
    clusterSize_ = kSector << shift;
    const FoundSets found = scanForEntries(clusterSize_);
    // A stop ends the scan; what it found is still built.
    control_.stopRequested.acknowledge();
    status(kTreeStatus);
    const std::uint64_t heap =
        choice.heapCandidate < heapCandidates_.size() ? heapCandidates_[choice.heapCandidate] : 0;
    const std::uint64_t fat =
        choice.candidate < fatCandidates_.size() ? fatCandidates_[choice.candidate] : 0;
    if (heap > 0 && fat > 0) {
        buildFromEntries(found, heap, fat);
        linkEntries(false);
        fillTree(tree, volumeItem);
    }
    return outcome;
}

} // namespace vindaru
