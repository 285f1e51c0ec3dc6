// What the scan page, the advance options page and the command line need of any file-system
// parser. Each file system's folder under src/fs/ has one class that implements it (over the
// parser class the system names: ntfs, Fat16Class, ...) and one factory function that the
// driver table (browser/FileSystemDrivers) lists.
//
// Life of a parser: the factory creates it from the volume record and the session reader; the
// page's worker calls scan() once (or, in the Advanced mode, the advance options page's worker
// first calls advanced()->searchCandidates(), and the scan page's worker then calls scan() with
// the user's choice); afterwards the page's threads browse and save through view(). The parser
// reads its volume through a slice of the disk that it makes from the volume record once; it
// never moves anything in the disk reader.
//
// Threads: scan() and searchCandidates() on one worker at a time; control() from any thread;
// view() after the scan has returned.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/UsedRanges.h"
#include "common/CheckTree.h"
#include "common/Sinks.h"
#include "common/StopControl.h"
#include "fs/parser/EntryView.h"
#include "image/readWriteInterface.h"
#include "volume/FileSystemDriver.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

inline constexpr int kScanModeStandard = 1;
inline constexpr int kScanModeAdvanced = 2;
inline constexpr int kScanModeDeep = 3;

// Where a parser reports: the status line, the progress bar and message boxes.
struct ScanSinks {
    StatusSink* status = nullptr;
    ProgressSink* progress = nullptr;
    MessageSink* messages = nullptr;
};

// What the factory is given.
struct ParserSetup {
    const ByteSource& reader; // the disk (the session reader); outlives the parser
    VolumeRecord volume;        // a copy of the chosen volume's record
    ScanSinks sinks;
    bool driveFormatted = false; // "Is Drive Formated..?" on the recovery mode page
};

// What the user chose on the advance options page (or on the command line), as numbers.
struct AdvancedChoice {
    std::uint64_t candidate = 0;         // the index of the chosen item of "TFS :"
    std::uint64_t sectorsPerCluster = 0; // of the chosen "Sector Per Cluster :" item; 0: none
    std::uint64_t heapCandidate = 0;     // the index of the chosen item of "Heap Offset :" (exFAT)
};

struct ScanRequest {
    int mode = kScanModeStandard;
    CheckTree* tree = nullptr;
    // The volume item (labelled with the session's root item name), inserted by the page before
    // the scan; the parser puts the first level of the tree under it.
    TreeItemId volumeItem = kNoTreeItem;
    AdvancedChoice choice; // Advanced mode only
};

// Which recycle-bin layout the common end restores former names from.
enum class RecycleLayout {
    None,
    PerUserFolders, // NTFS: $RECYCLE.BIN/<user SID>/$I...
    Flat            // FAT32 and exFAT: $RECYCLE.BIN/$I...
};

// How a scan ended, and what the page's common end then does.
struct ScanOutcome {
    // The parser refused the volume and showed its own message: the page only enables Back.
    bool rejected = false;
    // The message boxes of the common end, in order ("Scanning process completed...", "done...").
    std::vector<std::string> endMessages;
    bool addPlaceholders = true;
    // The status line's last text; empty: "Processing done...".
    std::string endStatus;
    RecycleLayout recycle = RecycleLayout::None;
};

// The lists and texts of the advance options page after a candidate search.
struct AdvancedLists {
    std::string candidateItemsLabel;      // text above the combo boxes, empty: unchanged
    std::vector<std::string> candidates;  // "TFS :" ("MFT_ENTRY:%d", "FAT_ENTRY:%d", ...)
    std::vector<std::string> clusters;    // "Sector Per Cluster :", in the page's order
    std::vector<std::uint64_t> clusterSectors; // the sectors per cluster of each of clusters
    std::vector<std::string> heaps;       // "Heap Offset :" ("HEAP_OFFSET_ENTRY:%d")
    bool heapListShown = false;           // exFAT shows the third list
    std::string countMessage;             // the message box after the search
    std::string endStatus;                // "Parsing done.Click Next to continue.", ...
};

// The Advanced mode's candidate search; the rebuild is scan() with mode Advanced.
class AdvancedPart {
public:
    virtual ~AdvancedPart() = default;
    // The search thread: attaches the reader, checks the boot sector, then searches for at
    // most `limit` candidates (of each kind), writing its status texts and progress.
    virtual void searchCandidates(std::uint64_t limit) = 0;
    // What the page shows once the search has returned.
    virtual AdvancedLists lists() const = 0;
    // The sectors per cluster of a number the command line may give for "Sector Per Cluster :"
    // although the list does not hold it (cluster sizes a formatter uses that the page leaves
    // out), the number read as the list's items are; nullopt when the file system takes none.
    virtual std::optional<std::uint64_t> clusterChoiceBeyondList(std::uint64_t number) const {
        (void)number;
        return std::nullopt;
    }
};

// One item of the "Sector Per Cluster :" list: its text and its sectors per cluster.
inline void addClusterItem(AdvancedLists& lists, std::uint64_t shown, std::uint64_t sectorsPerCluster) {
    lists.clusters.push_back(std::to_string(shown));
    lists.clusterSectors.push_back(sectorsPerCluster);
}

// The sectors per cluster of a "Sector Per Cluster :" value a user typed (the command line's
// --cluster-sectors): of the list's item with that text, else of a plain decimal number the file
// system takes beyond the list; nullopt for anything else.
inline std::optional<std::uint64_t> typedClusterChoice(const AdvancedPart& part, const AdvancedLists& lists,
                                                       const std::string& typed) {
    for (std::size_t i = 0; i < lists.clusters.size() && i < lists.clusterSectors.size(); ++i)
        if (lists.clusters[i] == typed) return lists.clusterSectors[i];
    // Digits only, without leading zeros, short of overflowing: the way the list writes numbers.
    if (typed.empty() || typed.size() > 19 || (typed.size() > 1 && typed[0] == '0')) return std::nullopt;
    std::uint64_t number = 0;
    for (const char c : typed) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return part.clusterChoiceBeyondList(number);
}

class VolumeParser {
public:
    virtual ~VolumeParser() = default;

    virtual FileSystemKind kind() const = 0;
    // The sinks from now on (the scan page takes over the advance options page's parser). Null
    // sinks detach the parser from the page that goes away, its tree included.
    virtual void attachSinks(const ScanSinks& sinks) = 0;
    // The scan thread's procedure for request.mode, with the file system's status texts; returns
    // when done or stopped, with what the common end needs.
    virtual ScanOutcome scan(const ScanRequest& request) = 0;
    virtual EntryView& view() = 0;
    // Stop flag and pause gate of the parser's loops.
    virtual EngineControl& control() = 0;
    // Null for file systems without an Advanced mode.
    virtual AdvancedPart* advanced() { return nullptr; }
    // The byte ranges of the volume (from its first byte) that live files and the file system's
    // own structures use, by its allocation map; free-space-only carving looks at the rest. It
    // reads what it needs itself, so it may be called instead of a scan. Nullopt when the map
    // cannot be read (or the file system keeps none).
    virtual std::optional<UsedRanges> usedByteRanges() { return std::nullopt; }
};

// ParserFactory, the type of each file system's factory, is declared with the driver row
// (volume/FileSystemDriver.h).

} // namespace vindaru
