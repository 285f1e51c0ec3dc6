// The FAT12/16/32 part that Fat16Class and Fat32Class share: the 32-byte directory slot, long
// names, short names, the "DUMMY ENTRY" placeholder, the duplicate test, the FatEntryRecord
// table and its texts. Each class adds its boot check, its root and its stopping rules.
#pragma once

#include <array>

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

protected:
    // The Standard thread shared by FAT16 and FAT32; the class gives its texts and steps.
    struct ThreadTexts {
        const char* rejected;
        const char* finding;
    };
    ScanOutcome runStandard(CheckTree* tree, TreeItemId volumeItem, const ThreadTexts& texts);
    virtual bool checkBootSector() = 0;
    virtual DirectoryRun rootRun() = 0;
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

private:
    void gatherLongName(Frame& frame);
    FatEntryRecord recordFromSlot(const FatSlot& slot) const;
};

} // namespace vindaru
