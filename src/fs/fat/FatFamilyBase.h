// What the FAT16, FAT32 and exFAT parsers have in common: the volume's cluster geometry and its
// FAT (read through a cache), the directory walk with its parent stack, first-cluster and
// continuation parses, visited-cluster guard and duplicate test, the linking of the flat entry
// table into a tree, the top-level fill, the list's time and size texts, and the saving loops.
// Fat16Class, Fat32Class and Fat64Class add only their boot checks, their root directory and the
// decoding of their directory slots.
//
// The Advanced mode (a volume whose boot sector is damaged) has two stages: a search of the
// volume for sectors where a FAT (and, on exFAT, the cluster heap) may start, then a rebuild from
// the user's choice: every cluster is scanned for plausible directory slots, the geometry is set
// from the chosen FAT and cluster size, the root and every found directory are walked as the
// Standard mode walks them, and what no walk reached is listed under "ORPHAN ENTRY".
//
// Threads: the scan runs on one worker; afterwards the entry view serialises the reads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/CheckTree.h"
#include "common/UsedRanges.h"
#include "common/StopControl.h"
#include "fs/fat/FatEntryRecord.h"
#include "fs/fat/FatTable.h"
#include "fs/parser/EntryView.h"
#include "fs/parser/VolumeParser.h"
#include "volume/VolumeBytes.h"

namespace vindaru {

// Directory attribute bits as the slots store them.
inline constexpr std::uint16_t kFatAttrReadOnly = 0x01;
inline constexpr std::uint16_t kFatAttrHidden = 0x02;
inline constexpr std::uint16_t kFatAttrSystem = 0x04;
inline constexpr std::uint16_t kFatAttrVolumeLabel = 0x08;
inline constexpr std::uint16_t kFatAttrDirectory = 0x10;
inline constexpr std::uint16_t kFatAttrArchive = 0x20;

// The attribute text of the list: "-R", "-H", "-S", "-A" in that order.
std::string fatAttributeText(std::uint16_t attributes);
// "%02d/%02d/%d  %02d:%02d AM|PM" from a DOS date and time.
std::string dosDateTimeText(std::uint16_t date, std::uint16_t time);
std::string dosDateText(std::uint16_t date);

class FatFamilyBase {
public:
    FatFamilyBase(const ByteSource& disk, VolumeRecord volume, ScanSinks sinks, bool driveFormatted);
    virtual ~FatFamilyBase() = default;
    FatFamilyBase(const FatFamilyBase&) = delete;
    FatFamilyBase& operator=(const FatFamilyBase&) = delete;

    // The scan page's thread for this file system, Standard mode.
    virtual ScanOutcome scanStandard(CheckTree* tree, TreeItemId volumeItem) = 0;
    // The Advanced mode: the advance options page's search thread, what the page then lists,
    // and the scan page's Advanced thread with the user's choice.
    virtual void searchCandidates(std::uint64_t limit) = 0;
    virtual AdvancedLists advancedLists() const = 0;
    virtual ScanOutcome scanAdvanced(const AdvancedChoice& choice, CheckTree* tree, TreeItemId volumeItem) = 0;
    // The sectors per cluster of a number the command line may give beyond the page's list.
    virtual std::optional<std::uint64_t> clusterChoiceBeyondList(std::uint64_t number) const {
        (void)number;
        return std::nullopt;
    }
    // "fat12", "fat16", "fat32", "exfat".
    virtual std::string typeName() const = 0;

    void attachSinks(const ScanSinks& sinks) { sinks_ = sinks; }
    EngineControl& control() { return control_; }

    // The table.
    virtual std::size_t entryCount() const = 0;
    virtual const FatFamilyEntry& entry(std::size_t index) const = 0;
    virtual FatFamilyEntry& entry(std::size_t index) = 0;
    bool isValidIndex(std::uint64_t index) const { return index < entryCount(); }
    // "ORPHAN ENTRY", the folder the Advanced rebuild makes for what no directory reached.
    bool isPlaceholder(std::uint64_t index) const { return orphanIndex_ != 0 && index == orphanIndex_; }
    // The children of an entry in chain order (volume labels left out); a looping chain is cut.
    std::vector<std::uint32_t> childrenOf(std::uint32_t index) const;
    bool hasChildren(std::uint32_t index) const;

    // The list's texts and the saved copy's times.
    virtual EntryTexts describeEntry(std::size_t index) const = 0;
    virtual EntryTimes entryTimes(std::size_t index) const = 0;
    // The save loop: the content of a file in pieces, in order. False when less than its size
    // could be read or the sink stopped.
    bool writeEntryContent(std::size_t index, const ContentSink& sink);
    // The share of a deleted file's clusters (those its size needs, where saving reads them)
    // that no live file holds now; 1 for a file in use, nullopt for a directory or when the
    // volume cannot tell.
    std::optional<double> recoverableShare(std::size_t index);
    // Reads the boot sector and sets the geometry (and the FAT); false when the volume is not
    // of this file system.
    virtual bool checkBootSector() = 0;
    // The space before the data area (boot sectors, FATs, the FAT12/16 root area) and every
    // cluster a live file holds (its FAT entry is set; exFAT: its allocation bitmap bit), as
    // byte ranges. Checks the boot sector first when no scan did; nullopt when that fails or
    // the FAT or bitmap cannot be read.
    std::optional<UsedRanges> usedByteRanges();

    // Geometry, for tests and the view.
    std::uint64_t clusterSize() const { return clusterSize_; }
    std::uint32_t clusterLimit() const { return clusterLimit_; }
    std::uint64_t volumeSizeBytes() const { return volumeSize_; }

protected:
    // One piece of a directory: its first cluster, a following one, or the FAT12/16 root area.
    struct DirectoryUnit {
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
        std::uint32_t cluster = 0; // 0 for the fixed root area
        bool first = false;
    };
    // Where a directory's pieces come from.
    struct DirectoryRun {
        enum class Kind { Area, Chain, Consecutive } kind = Kind::Chain;
        std::uint64_t areaOffset = 0;
        std::uint64_t areaLength = 0;
        std::uint32_t startCluster = 0;
        std::uint64_t maxUnits = 0; // units handed out at most (chain bound or run length)
        // Progress.
        std::uint64_t unitsTaken = 0;
        std::uint32_t lastCluster = 0;
        bool ended = false;
    };
    // A directory being parsed: one level of the parent stack.
    struct Frame {
        std::uint32_t dirIndex = 0; // the records found here get this parent index
        bool root = false;
        std::uint32_t depth = 0;
        DirectoryRun run;
        DirectoryUnit unit;
        bool haveUnit = false;
        bool reload = false; // the buffer was given back while a subdirectory was walked
        std::vector<std::uint8_t> buffer;
        std::size_t pos = 0;
        // The duplicate test: a directory's first cluster → the record that has it.
        std::unordered_map<std::uint32_t, std::uint32_t> directoriesByCluster;
        // A long name waiting for its short slot (FAT12/16/32).
        std::optional<std::string> pendingName;
        bool pendingDeleted = false;
        // The Advanced rebuild reads a found entry through a frame of its own: every slot it
        // takes is then marked as taken.
        bool marksTaken = false;
        std::uint64_t slotOffset() const { return unit.offset + pos; }
    };
    // A subdirectory found by a parse, to be walked next.
    struct Descent {
        std::uint32_t recordIndex = 0;
        DirectoryRun run;
        bool deleted = false;
    };

    // The differences.
    virtual bool expectDotEntry() const { return false; }
    // A continuation cluster that an earlier directory already parsed is passed over (true) or
    // ends the chain (false).
    virtual bool skipVisitedContinuation() const { return true; }
    // Parses the frame's slots until a subdirectory is found or the directory ends.
    virtual std::optional<Descent> parseUntilDescent(Frame& frame) = 0;
    virtual std::size_t appendedCount() const { return entryCount(); }
    // Whether a live file holds a data cluster now: its FAT entry is set (exFAT: its bit in the
    // allocation bitmap); nullopt when that cannot be read.
    virtual std::optional<bool> clusterTaken(std::uint32_t cluster) {
        if (!fat_ || driveFormatted_) return std::nullopt;
        return fat_->entry(cluster) != 0;
    }
    // Where a deleted file's data are read: its FAT chain, the clusters after its first one,
    // or the clusters after its first one that no live file holds (clusterTaken).
    enum class DeletedRule { Chain, Consecutive, FreeClusters };
    // FAT12/16/32: the chain while its first entry is still set, else the free clusters.
    virtual DeletedRule deletedRule(const FatFamilyEntry& e, std::uint64_t clusters) {
        (void)clusters;
        return fat_->entry(e.firstCluster) == 0 ? DeletedRule::FreeClusters : DeletedRule::Chain;
    }

    // Shared steps.
    // The directory walk from the root run: depth-first in slot order, a deleted directory
    // walked only after every live one, so a live folder keeps clusters a deleted one reused.
    void walkFrom(const DirectoryRun& rootRun);
    // The same walk below one directory record (the Advanced rebuild's found directories and
    // root); the clusters parsed so far stay parsed.
    void walkDirectory(std::uint32_t recordIndex, const DirectoryRun& run, bool root);
    // Forgets which clusters were parsed.
    void resetWalk();
    void linkEntries(bool withProgress);
    // The first level into the page's tree through the generic fill, with this family's status.
    void fillTree(CheckTree* tree, TreeItemId volumeItem);
    void status(const std::string& text);
    bool tableFull() const;

    // Directory slot access for parseUntilDescent: the 32 bytes at the frame's cursor, across
    // its pieces; null at the directory's end.
    const std::uint8_t* peekSlot(Frame& frame);
    void advanceSlot(Frame& frame) { frame.pos += 32; }

    // The Advanced mode's shared steps.
    // The volume's length for the whole-volume sweeps: its sector count when discovery knew it,
    // else its size in MB, else the disk from the volume's start; never past the disk's end.
    std::uint64_t sweepLength() const;
    // Offsets that are multiples of 512 where `pattern` stands (in the bits `mask` selects), in
    // increasing order, at most `limit`. `onPiece` is told each piece's position, `onHit` the
    // count so far; the search ends early when stopped.
    struct PatternSearch {
        std::span<const std::uint8_t> pattern;
        std::span<const std::uint8_t> mask; // per byte: the bits that must match
        std::uint64_t limit = 0;
        std::function<void(std::uint64_t position)> onPiece;
        std::function<void(std::uint64_t count)> onHit;
    };
    std::vector<std::uint64_t> findSectorPattern(const PatternSearch& search);
    // The search for FAT starts with the page's progress (0..1000) and "found fat entry" texts;
    // `positionStatus` adds the position text per piece.
    std::vector<std::uint64_t> findFatCandidates(std::span<const std::uint8_t> pattern,
                                                 std::span<const std::uint8_t> mask, std::uint64_t limit,
                                                 bool positionStatus);
    // A frame over the `slots` slots at `offset`, for reading one found entry; `take` marks
    // every slot read from it as taken.
    Frame foundEntryFrame(std::uint64_t offset, std::size_t slots, bool take);
    // Starts a rebuild: the parsed clusters and the taken slots are cleared.
    void beginRebuild();
    // Starts a Standard scan after a rebuild may have run.
    void beginStandardScan();
    // True when a walk has already read the slot at `offset` (its cluster or the root area
    // was parsed) or a found entry took it.
    bool slotTaken(std::uint64_t offset) const;
    void takeSlot(std::uint64_t offset) { takenSlots_.insert(offset); }
    // During the rebuild, a slot that a found entry took is passed over by a directory parse.
    bool skipTakenSlot(const Frame& frame) const {
        return advancedMode_ && !takenSlots_.empty() && takenSlots_.count(frame.slotOffset()) != 0;
    }
    // The cluster that holds `offset`, or 0 before the data area.
    std::uint32_t clusterAt(std::uint64_t offset) const;

    DirectoryRun chainRun(std::uint32_t firstCluster, std::uint64_t maxUnits) const;
    DirectoryRun consecutiveRun(std::uint32_t firstCluster, std::uint64_t count) const;
    DirectoryRun areaRun(std::uint64_t offset, std::uint64_t length) const;
    bool isDataCluster(std::uint64_t cluster) const { return cluster >= 2 && cluster < clusterLimit_; }
    std::uint64_t clusterOffset(std::uint32_t cluster) const {
        return dataStart_ + (std::uint64_t{cluster} - 2) * clusterSize_;
    }
    // The next cluster of a chain, or nullopt at its end (always at the end when the drive is
    // taken as formatted: no chain is followed then).
    std::optional<std::uint32_t> nextCluster(std::uint32_t cluster);
    // Sets the cluster bound from the volume's cluster count, the FAT's length and the disk.
    void setClusterLimit(std::uint64_t clustersFromBoot);

    VolumeRecord volume_;
    VolumeSlice reader_; // the volume's bytes, from its first sector on
    ScanSinks sinks_;
    bool driveFormatted_ = false;
    EngineControl control_;
    std::int64_t volumeSize_ = 0;

    // Geometry, set by the boot check.
    std::uint64_t bytesPerSector_ = 512;
    std::uint64_t clusterSize_ = 0;
    std::uint64_t dataStart_ = 0;
    std::uint32_t clusterLimit_ = 2;
    std::uint64_t diskEnd_ = UINT64_MAX; // relative to the volume's start
    std::unique_ptr<FatTable> fat_;

    bool placeholderDone_ = false;

    // The Advanced mode.
    bool advancedMode_ = false;
    std::vector<std::uint64_t> fatCandidates_; // byte offsets from the volume start, increasing
    std::vector<std::uint64_t> heapCandidates_;
    bool bootPassed_ = false; // the boot sector check of the search passed
    std::uint32_t orphanIndex_ = 0;

private:
  // Calls visit(child) for the listed children of a record in order, until it returns false.
  template <typename Visit> void forEachChild(std::uint32_t index, Visit visit) const;
  std::optional<DirectoryUnit> nextUnit(DirectoryRun& run);
  bool loadUnit(Frame& frame, const DirectoryUnit& unit);
  // Where a deleted or live file's clusters lie: runs of consecutive clusters.
  std::vector<std::pair<std::uint32_t, std::uint64_t>> contentRuns(const FatFamilyEntry& e,
                                                                   std::uint64_t clusters);

  std::unordered_set<std::uint32_t> visitedClusters_;
  bool areaVisited_ = false;
  std::uint64_t parsedAreaOffset_ = 0; // the fixed root area, once a walk parsed it
  std::uint64_t parsedAreaLength_ = 0;
  std::unordered_set<std::uint64_t> takenSlots_;
};

} // namespace vindaru
