#include "fs/fat/FatDirectoryParser.h"

#include <algorithm>

#include "common/ByteLoader.h"
#include "common/DisplayFormat.h"
#include "common/TextConvert.h"
#include "common/TimeConvert.h"
#include "fs/fat/FatBootFields.h"

namespace vindaru {

namespace {

// A long name of 255 characters takes 20 slots; a longer run starts a new name.
constexpr std::size_t kMaxLongNameSlots = 20;
constexpr std::uint8_t kDotEntry = 0x2E;
constexpr std::uint8_t kKanjiE5 = 0x05; // a stored 0x05 stands for a first byte 0xE5
constexpr std::uint8_t kLowerBase = 0x08;
constexpr std::uint8_t kLowerExtension = 0x10;
constexpr std::size_t kLongNameRanges[3][2] = {{1, 5}, {14, 6}, {28, 2}};

constexpr const char* kMaintaining = "maintaining tree Structure in vector...";
constexpr const char* kCreatingTree = "Creating Tree Structure....";
constexpr const char* kTreeCreated = "Tree Structure Created.";
constexpr const char* kDone = "done...";

// Appends slot bytes [from, to) as UTF-8, without their trailing blanks, A-Z lowered when asked;
// false when nothing was left.
bool appendNamePart(std::string& out, const FatSlot& slot, std::size_t from, std::size_t to,
                    bool lower) {
    while (to > from && slot[to - 1] == ' ')
        --to;
    for (std::size_t i = from; i < to; ++i) {
        std::uint8_t c = slot[i];
        if (lower && c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c - 'A' + 'a');
        appendUtf8(out, cp1252CodePoint(c));
    }
    return to > from;
}

} // namespace

bool isFatDirectoryAttribute(std::uint8_t attribute) {
    return (attribute & kFatAttrDirectory) != 0 && (attribute & kFatAttrVolumeLabel) == 0;
}

std::string fatShortName(const FatSlot& slot) {
    // At most eleven characters of up to three bytes each, and the dot.
    std::string name;
    name.reserve(36);
    std::size_t from = 0;
    const std::uint8_t first = slot[0];
    if (first >= 0x80) {
        // The first byte is a signed character: 0xE5 and every other byte from 0x80 on shows as
        // U+FF80..U+FFFF.
        appendUtf8(name, 0xFF00 | first);
        from = 1;
    } else if (first == kKanjiE5) {
        appendUtf8(name, cp1252CodePoint(kDeletedMarker));
        from = 1;
    }
    appendNamePart(name, slot, from, 8, (slot[kSlotCaseFlags] & kLowerBase) != 0);
    const std::size_t baseEnd = name.size();
    name.push_back('.');
    if (!appendNamePart(name, slot, 8, 11, (slot[kSlotCaseFlags] & kLowerExtension) != 0))
        name.resize(baseEnd);
    return name;
}

std::u16string fatLongNamePiece(const FatSlot& slot) {
    std::u16string piece;
    for (const auto& range : kLongNameRanges)
        for (std::size_t i = 0; i < range[1]; ++i) {
            const std::size_t at = range[0] + 2 * i;
            const char16_t unit = static_cast<char16_t>(slot[at] | (slot[at + 1] << 8));
            if (unit == 0) return piece;
            piece.push_back(unit);
        }
    return piece;
}

bool FatDirectoryParser::applyGeometry(std::uint64_t fatSectors, std::uint64_t rootBytes, bool fat32) {
    using namespace fatboot;
    const ByteSpan b(boot_);
    bytesPerSector_ = le16(b, kBytesPerSector);
    const std::uint64_t perCluster = u8(b, kSectorsPerCluster);
    if (!isPowerOfTwo(bytesPerSector_) || bytesPerSector_ < 512 || bytesPerSector_ > 4096 ||
        !isPowerOfTwo(perCluster))
        return false;
    clusterSize_ = bytesPerSector_ * perCluster;
    const std::uint64_t reserved = le16(b, kReservedSectors);
    rootAreaOffset_ = bytesPerSector_ * (u8(b, kFatCount) * fatSectors + reserved);
    dataStart_ = rootAreaOffset_ + (rootBytes + bytesPerSector_ - 1) / bytesPerSector_ * bytesPerSector_;
    const std::uint64_t total16 = le16(b, kTotalSectors16);
    const std::uint64_t totalSectors = total16 != 0 ? total16 : le32(b, kTotalSectors32);
    const std::uint64_t dataSectorsStart = dataStart_ / bytesPerSector_;
    const std::uint64_t clusters =
        totalSectors > dataSectorsStart ? (totalSectors - dataSectorsStart) / perCluster : 0;
    rootBytes_ = rootBytes;
    // FAT12 by the FAT rules themselves: fewer than 4085 clusters.
    entryBits_ = fat32 ? 32 : clusters != 0 && clusters < kFat12ClusterLimit ? 12 : 16;
    fat_ = std::make_unique<FatTable>(reader_, bytesPerSector_ * reserved, fatSectors * bytesPerSector_, entryBits_);
    setClusterLimit(clusters);
    return true;
}

FatEntryRecord FatDirectoryParser::recordFromSlot(const FatSlot& slot) const {
    const ByteSpan s(slot);
    FatEntryRecord r;
    r.attribute = slot[kSlotAttribute];
    r.creationTenths = slot[kSlotCreationTenths];
    r.creationTime = le16(s, kSlotCreationTime);
    r.creationDate = le16(s, kSlotCreationDate);
    r.accessDate = le16(s, kSlotAccessDate);
    // FAT12/16 keep other data in the high word.
    r.firstClusterHigh = entryBits_ == 32 ? le16(s, kSlotClusterHigh) : 0;
    r.writeTime = le16(s, kSlotWriteTime);
    r.writeDate = le16(s, kSlotWriteDate);
    r.firstClusterLow = le16(s, kSlotClusterLow);
    r.size = le32(s, kSlotSize);
    r.firstCluster = (std::uint32_t{r.firstClusterHigh} << 16) | r.firstClusterLow;
    r.directory = isFatDirectoryAttribute(r.attribute);
    r.volumeLabel = !r.directory && (r.attribute & kFatAttrVolumeLabel) != 0;
    return r;
}

void FatDirectoryParser::gatherLongName(Frame& frame) {
    frame.pendingName.reset();
    std::vector<std::u16string> pieces;
    bool deleted = false;
    while (pieces.size() < kMaxLongNameSlots) {
        const std::uint8_t* p = peekSlot(frame);
        if (!p || p[kSlotAttribute] != kLongNameAttribute) break;
        FatSlot slot;
        std::copy_n(p, slot.size(), slot.begin());
        if (frame.marksTaken) takeSlot(frame.slotOffset());
        if (pieces.empty()) deleted = slot[0] == kDeletedMarker;
        pieces.push_back(fatLongNamePiece(slot));
        advanceSlot(frame);
    }
    std::u16string name;
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) name += *it;
    frame.pendingName = utf16ToUtf8(name);
    frame.pendingDeleted = deleted;
}

std::optional<FatFamilyBase::Descent> FatDirectoryParser::parseUntilDescent(Frame& frame) {
    while (const std::uint8_t* p = peekSlot(frame)) {
        if (tableFull()) return std::nullopt;
        if (skipTakenSlot(frame)) {
            // The rebuild has listed this slot already, from where its scan found it.
            frame.pendingName.reset();
            advanceSlot(frame);
            continue;
        }
        FatSlot slot;
        std::copy_n(p, slot.size(), slot.begin());
        if (frame.root && !placeholderDone_) {
            // The placeholder that stands for the root takes the first slot's fields.
            FatEntryRecord placeholder = recordFromSlot(slot);
            placeholder.name = kDummyEntryName;
            placeholder.parentIndex = 0;
            placeholder.selfIndex = 0;
            placeholder.deleted = false;
            placeholder.directory = true;
            placeholder.volumeLabel = false;
            entries_.push_back(std::move(placeholder));
            placeholderDone_ = true;
        }
        const std::uint8_t first = slot[0];
        const std::uint8_t attribute = slot[kSlotAttribute];
        if (first == 0x00) {
            frame.pendingName.reset();
            // A never-used slot does not end the directory: entries after it (deleted ones, or
            // live ones on a damaged volume) are still found.
            advanceSlot(frame);
            continue;
        }
        if (attribute == kLongNameAttribute) {
            gatherLongName(frame);
            continue;
        }
        advanceSlot(frame);
        if (first == kDotEntry) {
            frame.pendingName.reset();
            continue;
        }
        FatEntryRecord r = recordFromSlot(slot);
        const bool shortDeleted = first == kDeletedMarker;
        // A long name belongs to the slot after it only when both tell the same state; a
        // left-over run before a reused slot is not this file's name.
        if (frame.pendingName && frame.pendingDeleted == shortDeleted && !frame.pendingName->empty()) {
            r.name = std::move(*frame.pendingName);
        } else {
            r.name = fatShortName(slot);
        }
        frame.pendingName.reset();
        // Whatever lies inside a deleted directory is deleted with it.
        r.deleted = shortDeleted || (!frame.root && entries_[frame.dirIndex].deleted);
        r.parentIndex = frame.dirIndex;
        r.selfIndex = static_cast<std::uint32_t>(entries_.size());
        if (r.directory) {
            const auto earlier = frame.directoriesByCluster.find(r.firstCluster);
            if (earlier != frame.directoriesByCluster.end()) {
                // Two directory slots with one first cluster: one record, named after the later.
                FatEntryRecord& kept = entries_[earlier->second];
                kept.name = r.name;
                if (frame.root) kept.deleted = r.deleted;
                continue;
            }
            frame.directoriesByCluster.emplace(r.firstCluster, r.selfIndex);
            const std::uint32_t index = r.selfIndex;
            const std::uint32_t cluster = r.firstCluster;
            const bool deleted = r.deleted;
            entries_.push_back(std::move(r));
            if (isDataCluster(cluster)) return Descent{index, chainRun(cluster, UINT64_MAX), deleted};
            continue;
        }
        entries_.push_back(std::move(r));
    }
    return std::nullopt;
}

ScanOutcome FatDirectoryParser::runStandard(CheckTree* tree, TreeItemId volumeItem, const ThreadTexts& texts) {
    ScanOutcome outcome;
    if (!checkBootSector()) {
        if (sinks_.messages) sinks_.messages->info(texts.rejected);
        outcome.rejected = true;
        return outcome;
    }
    entries_.clear();
    beginStandardScan();
    status(texts.finding);
    walkFrom(rootRun());
    status(kMaintaining);
    linkEntries(true);
    status(kCreatingTree);
    fillTree(tree, volumeItem);
    status(kTreeCreated);
    outcome.endMessages = {kDone};
    return outcome;
}

EntryTexts FatDirectoryParser::describeEntry(std::size_t index) const {
    if (!isValidIndex(index)) return {};
    const FatEntryRecord& r = entries_[index];
    return EntryTexts{dosDateTimeText(r.creationDate, r.creationTime), dosDateText(r.accessDate),
                      dosDateTimeText(r.writeDate, r.writeTime), fatAttributeText(r.attribute)};
}

EntryTimes FatDirectoryParser::entryTimes(std::size_t index) const {
    EntryTimes t;
    if (!isValidIndex(index)) return t;
    const FatEntryRecord& r = entries_[index];
    t.known = true;
    t.accessSeconds = dosToUnix(r.accessDate, 0);
    t.modificationSeconds = dosToUnix(r.writeDate, r.writeTime);
    return t;
}

} // namespace vindaru
