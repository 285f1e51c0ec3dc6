// The exFAT parser (the system's "FAT64"): File, Stream Extension and File Name entry sets;
// directories and files with a FAT chain or, when their stream says so, as consecutive
// clusters; the root directory's whole cluster chain.
#pragma once

#include <array>
#include <optional>

#include "fs/fat/FatFamilyBase.h"

namespace vindaru {

// The exFAT directory test: the directory bit of the File entry's 16-bit attributes.
bool isExfatDirectoryAttribute(std::uint16_t attributes);

class Fat64Class : public FatFamilyBase {
public:
    using FatFamilyBase::FatFamilyBase;

    ScanOutcome scanStandard(CheckTree* tree, TreeItemId volumeItem) override;
    std::string typeName() const override { return "exfat"; }
    // "EXFAT" at byte 3 and shifts that give sectors of 512 to 4096 bytes and clusters of at
    // most 32 MiB; sets the geometry. An unreadable sector gives "cant read file".
    bool checkBootSector() override;

    void searchCandidates(std::uint64_t limit) override;
    AdvancedLists advancedLists() const override;
    ScanOutcome scanAdvanced(const AdvancedChoice& choice, CheckTree* tree, TreeItemId volumeItem) override;
    // Any sectors-per-cluster shift from 0 to 11 (the list shows shifts).
    std::optional<std::uint64_t> clusterChoiceBeyondList(std::uint64_t number) const override;

    std::size_t entryCount() const override { return entries_.size(); }
    const FatFamilyEntry& entry(std::size_t index) const override { return entries_[index]; }
    FatFamilyEntry& entry(std::size_t index) override { return entries_[index]; }
    const ExfatEntryRecord& record(std::size_t index) const { return entries_[index]; }
    EntryTexts describeEntry(std::size_t index) const override;
    EntryTimes entryTimes(std::size_t index) const override;

    // The allocation bitmap's bit for a data cluster; nullopt when the volume's bitmap could not
    // be read (it is read on first use).
    std::optional<bool> clusterAllocated(std::uint32_t cluster);

protected:
    std::optional<Descent> parseUntilDescent(Frame& frame) override;
    // A deleted file's chain is followed only when it is whole: exactly the clusters its size
    // needs, each inside the heap, met once and free in the allocation bitmap. Otherwise (its
    // writer may clear the chain when it deletes) the clusters after its first one that the
    // bitmap shows free; without a bitmap the clusters after its first one.
    DeletedRule deletedRule(const FatFamilyEntry& e, std::uint64_t clusters) override;
    bool chainWholeAndFree(const FatFamilyEntry& e, std::uint64_t clusters);
    // exFAT's FAT holds no entries for contiguous files: the bitmap tells what is in use.
    std::optional<bool> clusterTaken(std::uint32_t cluster) override { return clusterAllocated(cluster); }

private:
    // What the entry scan of the rebuild gathers.
    struct FoundSets {
        std::vector<std::uint64_t> offsets;           // File entries that begin a valid set
        std::optional<std::uint64_t> labelSlot;       // the last volume label entry
        std::optional<std::uint64_t> bitmapSlot;      // the first allocation bitmap entry
    };
    bool checkBootSectorAt(std::uint64_t offset);
    // Sectors whose first 8 bytes are all set, where the cluster heap may start.
    std::vector<std::uint64_t> findHeapCandidates(std::uint64_t limit);
    FoundSets scanForEntries(std::uint64_t clusterSize);
    void buildFromEntries(const FoundSets& found, std::uint64_t heapStart, std::uint64_t fatOffset);
    // The entry set a found File entry begins, read through a frame of its own.
    ExfatEntryRecord recordAtFound(std::uint64_t offset, bool take);
    void readEntrySet(Frame& frame);
    // The clusters a directory's stream gives: its FAT chain, cut after valid data length /
    // cluster size continuations, or its data length as consecutive clusters.
    DirectoryRun directoryRun(const ExfatEntryRecord& r) const;

    std::vector<ExfatEntryRecord> entries_;
    std::array<std::uint8_t, 512> boot_{};
    std::uint32_t rootCluster_ = 0;
    // The record being filled: a set without a stream or names keeps the previous set's.
    ExfatEntryRecord scratch_;
    // The boot sector's values when the search's check passed.
    std::uint64_t bootHeapStart_ = 0;
    std::uint64_t bootClusterSize_ = 0;
    std::uint32_t bootRootCluster_ = 0;
    std::uint64_t rootAreaEnd_ = 0;
    // The allocation bitmap, one bit per data cluster from cluster 2; read on first use.
    bool loadAllocationBitmap();
    std::vector<std::uint8_t> bitmap_;
    bool bitmapTried_ = false;
    bool bitmapRead_ = false;
};

} // namespace vindaru
