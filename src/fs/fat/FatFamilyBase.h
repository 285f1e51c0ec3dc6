// What the FAT16, FAT32 and exFAT parsers have in common: the volume's cluster geometry and its
// FAT (read through a cache), the directory walk with its parent stack, first-cluster and
// continuation parses, visited-cluster guard and duplicate test, the linking of the flat entry
// table into a tree, the top-level fill, the list's time and size texts, and the saving loops.
// Fat16Class, Fat32Class and Fat64Class add only their boot checks, their root directory and the
// decoding of their directory slots.
//
// Threads: the scan runs on one worker; afterwards the entry view serialises the reads.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/CheckTree.h"
#include "common/StopControl.h"
#include "fs/fat/FatEntryRecord.h"
#include "fs/fat/FatTable.h"
#include "fs/parser/EntryView.h"
#include "fs/parser/VolumeParser.h"

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
    FatFamilyBase(readWriteInterface& reader, VolumeRecord volume, ScanSinks sinks, bool driveFormatted);
    virtual ~FatFamilyBase() = default;
    FatFamilyBase(const FatFamilyBase&) = delete;
    FatFamilyBase& operator=(const FatFamilyBase&) = delete;

    // The scan page's thread for this file system, Standard mode.
    virtual ScanOutcome scanStandard(CheckTree* tree, TreeItemId volumeItem) = 0;
    // "fat12", "fat16", "fat32", "exfat".
    virtual std::string typeName() const = 0;

    void attachSinks(const ScanSinks& sinks) { sinks_ = sinks; }
    EngineControl& control() { return control_; }

    // The table.
    virtual std::size_t entryCount() const = 0;
    virtual const FatFamilyEntry& entry(std::size_t index) const = 0;
    virtual FatFamilyEntry& entry(std::size_t index) = 0;
    bool isValidIndex(std::uint64_t index) const { return index < entryCount(); }
    // The children of an entry in chain order (volume labels left out); a looping chain is cut.
    std::vector<std::uint32_t> childrenOf(std::uint32_t index) const;
    bool hasChildren(std::uint32_t index) const;

    // The list's texts and the saved copy's times.
    virtual EntryTexts describeEntry(std::size_t index) const = 0;
    virtual EntryTimes entryTimes(std::size_t index) const = 0;
    // The save loop: the content of a file in pieces, in order. False when less than its size
    // could be read or the sink stopped.
    bool writeEntryContent(std::size_t index, const ContentSink& sink);

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

    // Shared steps.
    void attachReader();
    // The directory walk from the root run: depth-first in slot order, a deleted directory
    // walked only after every live one, so a live folder keeps clusters a deleted one reused.
    void walkFrom(const DirectoryRun& rootRun);
    void linkEntries(bool withProgress);
    void fillTree(CheckTree* tree, TreeItemId volumeItem, const char* fillStatus);
    void status(const std::string& text);
    bool tableFull() const;

    // Directory slot access for parseUntilDescent: the 32 bytes at the frame's cursor, across
    // its pieces; null at the directory's end.
    const std::uint8_t* peekSlot(Frame& frame);
    void advanceSlot(Frame& frame) { frame.pos += 32; }

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

    readWriteInterface& reader_;
    VolumeRecord volume_;
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

private:
    std::optional<DirectoryUnit> nextUnit(DirectoryRun& run);
    bool loadUnit(Frame& frame, const DirectoryUnit& unit);
    // Where a deleted or live file's clusters lie: runs of consecutive clusters.
    std::vector<std::pair<std::uint32_t, std::uint64_t>> contentRuns(const FatFamilyEntry& e, std::uint64_t clusters);

    std::unordered_set<std::uint32_t> visitedClusters_;
    bool areaVisited_ = false;
};

} // namespace vindaru
