#include "fs/fat/Fat64Class.h"

#include <algorithm>
#include <cstring>

#include "common/ByteLoader.h"
#include "common/DisplayFormat.h"
#include "common/TextConvert.h"
#include "common/TimeConvert.h"

namespace vindaru {

namespace {

// Boot sector fields.
constexpr std::size_t kFileSystemName = 3;
constexpr std::size_t kFatOffset = 0x50;
constexpr std::size_t kFatLength = 0x54;
constexpr std::size_t kHeapOffset = 0x58;
constexpr std::size_t kClusterCount = 0x5C;
constexpr std::size_t kRootCluster = 0x60;
constexpr std::size_t kBytesPerSectorShift = 0x6C;
constexpr std::size_t kSectorsPerClusterShift = 0x6D;
constexpr unsigned kMinSectorShift = 9;
constexpr unsigned kMaxSectorShift = 12;
constexpr unsigned kMaxClusterShift = 25; // 32 MiB clusters

// Entry types, in use / deleted.
constexpr std::uint8_t kFileEntry = 0x85;
constexpr std::uint8_t kDeletedFileEntry = 0x05;
constexpr std::uint8_t kStreamEntry = 0xC0;
constexpr std::uint8_t kDeletedStreamEntry = 0x40;
constexpr std::uint8_t kNameEntry = 0xC1;
constexpr std::uint8_t kDeletedNameEntry = 0x41;
// File entry fields.
constexpr std::size_t kFileAttributes = 4;
constexpr std::size_t kCreateTimestamp = 8;
constexpr std::size_t kModifiedTimestamp = 12;
constexpr std::size_t kAccessedTimestamp = 16;
constexpr std::size_t kCreate10ms = 20;
constexpr std::size_t kModified10ms = 21;
constexpr std::size_t kCreateUtc = 22;
constexpr std::size_t kModifiedUtc = 23;
constexpr std::size_t kAccessedUtc = 24;
// Stream extension fields.
constexpr std::size_t kStreamFlags = 1;
constexpr std::size_t kStreamNameLength = 3;
constexpr std::size_t kStreamValidLength = 8;
constexpr std::size_t kStreamFirstCluster = 20;
constexpr std::size_t kStreamDataLength = 24;
constexpr std::uint8_t kFlagsFatChain = 1;
// The allocation bitmap's directory entry: its first cluster and length in bytes.
constexpr std::uint8_t kBitmapEntry = 0x81;
constexpr std::size_t kBitmapFirstCluster = 20;
constexpr std::size_t kBitmapLength = 24;
// The root clusters searched for the bitmap's entry (it is among the root's first entries).
constexpr std::uint64_t kBitmapSearchClusters = 16;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFF;
// A name is at most 255 characters (17 slots); longer runs are read past, not kept.
constexpr std::size_t kMaxNameSlots = 32;

constexpr const char* kNotExfat = "Selected Drive is not in exFat Format";
constexpr const char* kCantRead = "cant read file";
constexpr const char* kProcessing = "processing file and directory entries...";
constexpr const char* kFinding = "Finding Fat64 File And Directory entries recursively....";
constexpr const char* kCreatingTree = "creating tree Structure...";
constexpr const char* kDone = "done...";

using Slot = std::array<std::uint8_t, 32>;

Slot copySlot(const std::uint8_t* p) {
    Slot s;
    std::copy_n(p, s.size(), s.begin());
    return s;
}

bool isFileType(std::uint8_t t) { return t == kFileEntry || t == kDeletedFileEntry; }

std::string timestampText(std::uint32_t ts) {
    return dosDateTimeText(static_cast<std::uint16_t>(ts >> 16), static_cast<std::uint16_t>(ts));
}

std::int64_t timestampUnix(std::uint32_t ts) {
    return dosToUnix(static_cast<std::uint16_t>(ts >> 16), static_cast<std::uint16_t>(ts));
}

} // namespace

bool isExfatDirectoryAttribute(std::uint16_t attributes) {
    return (attributes & kFatAttrDirectory) != 0 && (attributes & kFatAttrVolumeLabel) == 0;
}

bool Fat64Class::checkBootSector() { return checkBootSectorAt(0); }

bool Fat64Class::checkBootSectorAt(std::uint64_t offset) {
    // A new geometry: the bitmap is looked for again when first needed.
    bitmapTried_ = bitmapRead_ = false;
    bitmap_.clear();
    if (!reader_.readAt(offset, boot_)) {
        if (sinks_.messages) sinks_.messages->infoNoCaption(kCantRead);
        return false;
    }
    const ByteSpan b(boot_);
    if (std::memcmp(&boot_[kFileSystemName], "EXFAT", 5) != 0) return false;
    const unsigned sectorShift = u8(b, kBytesPerSectorShift);
    const unsigned clusterShift = u8(b, kSectorsPerClusterShift);
    if (sectorShift < kMinSectorShift || sectorShift > kMaxSectorShift ||
        sectorShift + clusterShift > kMaxClusterShift)
        return false;
    bytesPerSector_ = std::uint64_t{1} << sectorShift;
    clusterSize_ = bytesPerSector_ << clusterShift;
    dataStart_ = std::uint64_t{le32(b, kHeapOffset)} * bytesPerSector_;
    rootCluster_ = le32(b, kRootCluster);
    fat_ = std::make_unique<FatTable>(reader_, std::uint64_t{le32(b, kFatOffset)} * bytesPerSector_,
                                      std::uint64_t{le32(b, kFatLength)} * bytesPerSector_, 32, false);
    setClusterLimit(le32(b, kClusterCount));
    return true;
}

FatFamilyBase::DirectoryRun Fat64Class::directoryRun(const ExfatEntryRecord& r) const {
    if (r.secondaryFlags == kFlagsFatChain)
        return chainRun(r.firstCluster, r.validDataLength / clusterSize_ + 1);
    const std::uint64_t length = std::max(r.dataLength, r.validDataLength);
    return consecutiveRun(r.firstCluster, length / clusterSize_ + (length % clusterSize_ != 0));
}

// The first allocation bitmap the root directory names (a volume with two FATs keeps a second
// one for the second FAT; the first serves the first FAT, which is the one read).
bool Fat64Class::loadAllocationBitmap() {
    if (bitmapTried_) return bitmapRead_;
    bitmapTried_ = true;
    if (clusterSize_ == 0 || clusterLimit_ <= 2 || !isDataCluster(rootCluster_)) return false;
    std::vector<std::uint8_t> cluster(static_cast<std::size_t>(clusterSize_));
    std::unordered_set<std::uint32_t> seen;
    std::uint32_t c = rootCluster_;
    for (std::uint64_t n = 0; n < kBitmapSearchClusters && isDataCluster(c) && seen.insert(c).second; ++n) {
        if (!reader_.readAt(clusterOffset(c), cluster)) return false;
        for (std::size_t at = 0; at + 32 <= cluster.size(); at += 32) {
            if (cluster[at] != kBitmapEntry) continue;
            const ByteSpan slot = ByteSpan(cluster).subspan(at, 32);
            const std::uint32_t first = le32(slot, kBitmapFirstCluster);
            const std::uint64_t needed = (std::uint64_t{clusterLimit_} - 2 + 7) / 8;
            const std::uint64_t length = le64(slot, kBitmapLength);
            if (!isDataCluster(first) || length < needed) return false;
            // The bitmap is contiguous (it has no FAT chain); only the bytes for the clusters
            // the volume has are read, which bounds the allocation by the cluster count.
            bitmap_.assign(static_cast<std::size_t>(needed), 0);
            bitmapRead_ = reader_.readAt(clusterOffset(first), bitmap_);
            if (!bitmapRead_) bitmap_.clear();
            return bitmapRead_;
        }
        const auto next = nextCluster(c);
        if (!next) break;
        c = *next;
    }
    return false;
}

std::optional<bool> Fat64Class::clusterAllocated(std::uint32_t cluster) {
    if (!isDataCluster(cluster) || !loadAllocationBitmap()) return std::nullopt;
    const std::uint64_t bit = std::uint64_t{cluster} - 2;
    if (bit / 8 >= bitmap_.size()) return std::nullopt;
    return (bitmap_[static_cast<std::size_t>(bit / 8)] >> (bit % 8) & 1) != 0;
}

FatFamilyBase::DeletedRule Fat64Class::deletedRule(const FatFamilyEntry& e, std::uint64_t clusters) {
    if (chainWholeAndFree(e, clusters)) return DeletedRule::Chain;
    return loadAllocationBitmap() ? DeletedRule::FreeClusters : DeletedRule::Consecutive;
}

bool Fat64Class::chainWholeAndFree(const FatFamilyEntry& e, std::uint64_t clusters) {
    if (!fat_ || clusters == 0) return false;
    std::unordered_set<std::uint32_t> seen;
    std::uint32_t c = e.firstCluster;
    for (std::uint64_t taken = 0;;) {
        const auto allocated = clusterAllocated(c);
        if (!allocated || *allocated || !seen.insert(c).second) return false;
        ++taken;
        const std::uint32_t next = fat_->entry(c);
        if (next == kEndOfChain) return taken == clusters;
        if (taken >= clusters) return false; // longer than the size needs
        c = next;
    }
}

void Fat64Class::readEntrySet(Frame& frame) {
    const Slot file = copySlot(peekSlot(frame));
    if (frame.marksTaken) takeSlot(frame.slotOffset());
    advanceSlot(frame);
    const ByteSpan f(file);
    ExfatEntryRecord& r = scratch_;
    r.entryType = file[0];
    r.attributes = le16(f, kFileAttributes);
    r.createTimestamp = le32(f, kCreateTimestamp);
    r.modifiedTimestamp = le32(f, kModifiedTimestamp);
    r.accessedTimestamp = le32(f, kAccessedTimestamp);
    r.create10ms = file[kCreate10ms];
    r.modified10ms = file[kModified10ms];
    r.createUtcOffset = file[kCreateUtc];
    r.modifiedUtcOffset = file[kModifiedUtc];
    r.accessedUtcOffset = file[kAccessedUtc];
    if (const std::uint8_t* p = peekSlot(frame); p && (p[0] == kStreamEntry || p[0] == kDeletedStreamEntry)) {
        const Slot stream = copySlot(p);
        if (frame.marksTaken) takeSlot(frame.slotOffset());
        advanceSlot(frame);
        const ByteSpan s(stream);
        r.streamEntryType = stream[0];
        r.secondaryFlags = stream[kStreamFlags];
        r.nameLength = stream[kStreamNameLength];
        r.validDataLength = le64(s, kStreamValidLength);
        r.firstCluster = le32(s, kStreamFirstCluster);
        r.dataLength = le64(s, kStreamDataLength);
    }
    std::u16string name;
    std::size_t slots = 0;
    while (const std::uint8_t* p = peekSlot(frame)) {
        if (p[0] != kNameEntry && p[0] != kDeletedNameEntry) break;
        if (frame.marksTaken) takeSlot(frame.slotOffset());
        if (slots++ < kMaxNameSlots)
            for (std::size_t i = 2; i + 1 < 32; i += 2) {
                const char16_t unit = static_cast<char16_t>(p[i] | (p[i + 1] << 8));
                if (unit == 0) break;
                name.push_back(unit);
            }
        advanceSlot(frame);
    }
    if (slots > 0) r.name = utf16ToUtf8(name);
    r.deleted = r.entryType == kDeletedFileEntry || (!frame.root && entries_[frame.dirIndex].deleted);
    r.directory = isExfatDirectoryAttribute(r.attributes);
    r.volumeLabel = false;
    r.size = r.validDataLength;
    r.contiguous = r.secondaryFlags != kFlagsFatChain;
    r.parentIndex = frame.dirIndex;
    r.selfIndex = static_cast<std::uint32_t>(entries_.size());
}

std::optional<FatFamilyBase::Descent> Fat64Class::parseUntilDescent(Frame& frame) {
    while (const std::uint8_t* p = peekSlot(frame)) {
        if (tableFull()) return std::nullopt;
        // Not a File entry, or one the rebuild has listed already from where its scan found it.
        if (!isFileType(p[0]) || skipTakenSlot(frame)) {
            advanceSlot(frame);
            continue;
        }
        readEntrySet(frame);
        if (frame.root && !placeholderDone_) {
            // The placeholder that stands for the root takes the first File entry's fields.
            ExfatEntryRecord placeholder = scratch_;
            placeholder.name = kDummyEntryName;
            placeholder.parentIndex = 0;
            placeholder.selfIndex = 0;
            placeholder.deleted = false;
            placeholder.directory = true;
            entries_.push_back(placeholder);
            placeholderDone_ = true;
            scratch_.selfIndex = 1;
        }
        ExfatEntryRecord r = scratch_;
        if (!r.directory) {
            entries_.push_back(std::move(r));
            continue;
        }
        const auto earlier = frame.directoriesByCluster.find(r.firstCluster);
        if (earlier != frame.directoriesByCluster.end()) {
            entries_[earlier->second].name = r.name;
            continue;
        }
        frame.directoriesByCluster.emplace(r.firstCluster, r.selfIndex);
        const std::uint32_t index = r.selfIndex;
        const bool deleted = r.deleted;
        const bool walkable = isDataCluster(r.firstCluster);
        const DirectoryRun run = walkable ? directoryRun(r) : DirectoryRun{};
        entries_.push_back(std::move(r));
        if (walkable) return Descent{index, run, deleted};
    }
    return std::nullopt;
}

ScanOutcome Fat64Class::scanStandard(CheckTree* tree, TreeItemId volumeItem) {
    ScanOutcome outcome;
    if (!checkBootSector()) {
        if (sinks_.messages) sinks_.messages->info(kNotExfat);
        outcome.rejected = true;
        return outcome;
    }
    entries_.clear();
    beginStandardScan();
    status(kProcessing);
    status(kFinding);
    walkFrom(chainRun(rootCluster_, clusterLimit_));
    linkEntries(false);
    status(kCreatingTree);
    fillTree(tree, volumeItem);
    outcome.endMessages = {kDone};
    outcome.recycle = RecycleLayout::Flat;
    return outcome;
}

EntryTexts Fat64Class::describeEntry(std::size_t index) const {
    if (!isValidIndex(index)) return {};
    const ExfatEntryRecord& r = entries_[index];
    return EntryTexts{timestampText(r.createTimestamp), timestampText(r.accessedTimestamp),
                      timestampText(r.modifiedTimestamp), fatAttributeText(r.attributes & 0xFF)};
}

EntryTimes Fat64Class::entryTimes(std::size_t index) const {
    EntryTimes t;
    if (!isValidIndex(index)) return t;
    const ExfatEntryRecord& r = entries_[index];
    t.known = true;
    t.accessSeconds = timestampUnix(r.accessedTimestamp);
    t.modificationSeconds = timestampUnix(r.modifiedTimestamp);
    return t;
}

} // namespace vindaru
