// The FAT12/16/32 part that Fat16Class and Fat32Class share: the 32-byte directory slot, long
// names, short names, the "DUMMY ENTRY" placeholder, the duplicate test, the FatEntryRecord
// table and its texts. Each class adds its boot check, its root and its stopping rules.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <unordered_map>

#include "fs/fat/FatFamilyBase.h"

namespace vindaru {

// Slot fields (byte offsets within the 32-byte directory slot).
inline constexpr std::size_t kSlotAttribute = 11;
inline constexpr std::size_t kSlotCaseFlags = 12;
inline constexpr std::size_t kSlotCreationTenths = 13;
inline constexpr std::size_t kSlotCreationTime = 14;
inline constexpr std::size_t kSlotCreationDate = 16;
inline constexpr std::size_t kSlotAccessDate = 18;
inline constexpr std::size_t kSlotClusterHigh = 20;
inline constexpr std::size_t kSlotWriteTime = 22;
inline constexpr std::size_t kSlotWriteDate = 24;
inline constexpr std::size_t kSlotClusterLow = 26;
inline constexpr std::size_t kSlotSize = 28;
inline constexpr std::uint8_t kLongNameAttribute = 0x0F;
inline constexpr std::uint8_t kDeletedMarker = 0xE5;

using FatSlot = std::array<std::uint8_t, 32>;

// The name a short slot shows: name and extension without their padding, joined by a dot when
// there is an extension, lower-cased where the slot's case flags say so. A deleted slot's lost
// first letter shows as U+FFE5 (the deleted marker read as a signed character).
std::string fatShortName(const FatSlot& slot);
// The 13 UTF-16 units of a long-name slot, up to the first zero unit.
std::u16string fatLongNamePiece(const FatSlot& slot);
// The directory test of every FAT walk, list, save and search: the directory bit, and not a
// volume label.
bool isFatDirectoryAttribute(std::uint8_t attribute);

class FatDirectoryParser : public FatFamilyBase {
public:
    using FatFamilyBase::FatFamilyBase;

    std::size_t entryCount() const override { return entries_.size(); }
    const FatFamilyEntry& entry(std::size_t index) const override { return entries_[index]; }
    FatFamilyEntry& entry(std::size_t index) override { return entries_[index]; }
    const FatEntryRecord& record(std::size_t index) const { return entries_[index]; }

    EntryTexts describeEntry(std::size_t index) const override;
    EntryTimes entryTimes(std::size_t index) const override;
    bool isFat12() const { return entryBits_ == 12; }

    void searchCandidates(std::uint64_t limit) override;
    AdvancedLists advancedLists() const override;
    ScanOutcome scanAdvanced(const AdvancedChoice& choice, CheckTree* tree, TreeItemId volumeItem) override;
    // Any power of two from 1 to 128 sectors.
    std::optional<std::uint64_t> clusterChoiceBeyondList(std::uint64_t number) const override;

    // What FAT16 and FAT32 differ in, in the Advanced mode.
    struct AdvancedRules {
        std::span<const std::uint8_t> pattern; // a FAT's first bytes
        std::span<const std::uint8_t> mask;    // the bits of them that must match
        const char* searchStatus;              // before the search, or null
        bool positionStatus;                   // "Parsing Disk Currently at position ..." per piece
        const char* candidateItem;             // "FAT_ENTRY:%d", "FAT32_ENTRY:%d"
        const char* itemsLabel;                // the text above the combo boxes, or ""
        std::span<const std::uint64_t> clusterChoices; // sectors per cluster
        const char* countMessage;
        const char* noCandidateMessage; // or null: the count message with 0
        const char* treeStatus;
        std::uint64_t foundDirectoryUnits; // clusters of a found directory parsed by the rebuild
    };

protected:
    // The Standard thread shared by FAT16 and FAT32; the class gives its texts and steps.
    struct ThreadTexts {
        const char* rejected;
        const char* finding;
    };
    ScanOutcome runStandard(CheckTree* tree, TreeItemId volumeItem, const ThreadTexts& texts);
    // The boot sector's backup (FAT32), tried by the Advanced mode when the boot sector fails.
    virtual bool checkBackupBootSector() { return false; }
    virtual bool isFat32() const { return false; }
    // The fixed root area (FAT12/16) or the root cluster's chain (FAT32).
    DirectoryRun rootRun() const {
        return isFat32() ? chainRun(rootCluster_, clusterLimit_) : areaRun(rootAreaOffset_, rootBytes_);
    }

    virtual const AdvancedRules& advancedRules() const = 0;
    // The geometry of the BPB in boot_: false when it is unusable. FAT12 and FAT16 are told
    // apart by the cluster count; `rootBytes` is the fixed root area (0 on FAT32).
    bool applyGeometry(std::uint64_t fatSectors, std::uint64_t rootBytes, bool fat32);
    std::uint64_t rootAreaOffset() const { return rootAreaOffset_; }

    bool expectDotEntry() const override { return true; }
    std::optional<Descent> parseUntilDescent(Frame& frame) override;

    std::vector<FatEntryRecord> entries_;
    std::array<std::uint8_t, 512> boot_{};
    unsigned entryBits_ = 16;
    std::uint64_t rootAreaOffset_ = 0;
    std::uint64_t rootBytes_ = 0;     // FAT12/16
    std::uint32_t rootCluster_ = 0;   // FAT32

private:
    // What the entry scan of the rebuild gathers.
    struct FoundSlots {
        std::vector<std::uint64_t> offsets;
        // Data starts that directories' dot entries imply, with the number of dot entries that
        // imply each.
        std::unordered_map<std::uint64_t, std::uint32_t> dataStartVotes;
        std::optional<std::uint64_t> labelSlot; // FAT32: the first volume-label-like slot
    };
    // The geometry the boot sector gave when the search's check passed.
    struct BootGeometry {
        std::uint64_t clusterSize = 0, dataStart = 0, rootOffset = 0, rootBytes = 0;
        std::uint32_t rootCluster = 0;
        unsigned entryBits = 16;
    };
    void gatherLongName(Frame& frame);
    FatEntryRecord recordFromSlot(const FatSlot& slot) const;
    FoundSlots scanForEntries(std::uint64_t clusterSize, std::uint64_t clusters);
    void prepareFromCandidate(std::uint64_t fatOffset, std::uint64_t clusterSize, std::uint64_t clusters,
                              const FoundSlots& found);
    void buildFromEntries(const FoundSlots& found, std::uint64_t foundDirectoryUnits);
    // The record a found slot gives (a long-name run gives the record of the short slot after
    // it), or nullopt when it gives none; `take` marks the slots it read as taken.
    std::optional<FatEntryRecord> recordAtFound(std::uint64_t offset, bool take);

    BootGeometry bootGeometry_;
    std::uint64_t rootAreaEnd_ = 0;
};

} // namespace vindaru
