// The HFS+ parser: turns one HFS+ (or HFSX) volume into a table of catalog entries, links them
// to their parent folders, puts the top level into the scan page's tree, and reads any file's
// times and content (following the extents overflow file past a fork's first eight extents).
//
// It owns its entries and every name; it reads the disk through a slice that begins at the
// volume's first byte. Positions are byte offsets from the start of the volume.
//
// The scan, in order (the HFS+ thread of the scan page):
//
//     HFSP parser(reader, volumeRecord, &status, &progress);
//     parser.readVolumeHeader();
//     normal mode: parser.scanExtentsOverflow() && parser.scanCatalogNodes()
//     deep mode:   parser.scanVolumeForLeafNodes(), then parser.scanExtentsOverflow()
//     parser.readCatalogRecords(); parser.linkParentChild();
//
// The normal mode reads the extents overflow file first: the catalog's own extents past its
// first eight are kept there, and a catalog that has grown is fragmented.
//
// After the scan `entries` is sorted by CNID and never changes shape; an entry's index is the
// reference tree items carry. Children: firstChild, then nextSibling, until -1 (indices).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "common/CheckTree.h"
#include "common/UsedRanges.h"
#include "common/Sinks.h"
#include "common/StopControl.h"
#include "fs/hfsplus/HfsPlusFormat.h"
#include "fs/parser/EntryView.h"
#include "image/readWriteInterface.h"
#include "volume/VolumeBytes.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

inline constexpr const char* kHfsOrphanEntryName = "ORPHAN_ENTRY";
inline constexpr std::int64_t kNoHfsEntry = -1;

struct hfsEntry {
    std::uint16_t type = 0; // kCatalogFolder, kCatalogFile
    std::uint64_t parentID = 0;
    std::uint64_t cnid = 0; // 64 bits: ORPHAN_ENTRY is the largest CNID plus one
    std::int64_t firstChild = kNoHfsEntry;  // index into `entries`
    std::int64_t nextSibling = kNoHfsEntry; // index into `entries`
    std::uint32_t totalBlocks = 0;
    std::u16string name;
    std::uint64_t nodePosition = 0; // byte position of the catalog node that held the record
    std::uint32_t recordOffset = 0;
    std::uint64_t size = 0;
    HfsExtentRecord extents{}; // the data fork's first eight extents (files)
    bool hasDates = false;     // false for ORPHAN_ENTRY
    std::uint32_t createDate = 0;
    std::uint32_t contentModDate = 0;
    std::uint32_t accessDate = 0;
    std::uint16_t fileMode = 0;
    // A hard link reads its size and content from this entry's fork ("iNode<number>");
    // otherwise the entry itself.
    bool hardLink = false;
    std::uint32_t linkNumber = 0;
    std::int64_t contentEntry = kNoHfsEntry;
    // The record lies in a catalog node in use (false: a node the catalog freed, whose blocks
    // may have been given to other files since).
    bool live = false;
};

struct nodeInfo {
    std::uint64_t number = 0;   // node number in the B-tree file; deep mode: the block where found
    std::uint64_t position = 0; // byte position on the volume
    std::int8_t kind = 0;
    std::uint8_t height = 0;
    std::uint16_t numRecords = 0;
    std::vector<std::uint16_t> offsets;
};

struct HfsDescription {
    std::string creationText;
    std::string accessText;
    std::string modificationText;
    std::string permissionText;
};

class HFSP {
public:
    HFSP(const ByteSource& disk, VolumeRecord volume, StatusSink* status = nullptr,
         ProgressSink* progress = nullptr);
    HFSP(const HFSP&) = delete;
    HFSP& operator=(const HFSP&) = delete;

    void attachSinks(StatusSink* status, ProgressSink* progress);
    // ---- Scan steps ----
    bool readVolumeHeader();
    bool scanCatalogNodes();
    bool scanVolumeForLeafNodes();
    bool scanExtentsOverflow();
    void readCatalogRecords();
    void linkParentChild();
    // The status text as the page's tree takes a first-level entry (fs/parser/TreeFill.h);
    // false when a Stop ends the fill.
    bool announceTopLevelEntry(std::size_t index);

    // ---- Entries ----
    std::optional<std::size_t> indexOfCnid(std::uint64_t cnid) const;
    std::vector<std::size_t> childrenOf(std::size_t index) const;
    std::string entryLabel(std::size_t index) const;
    HfsDescription describeEntry(std::size_t index) const;
    std::string formatEntrySize(std::size_t index) const;
    EntryTimes entryTimes(std::size_t index) const;
    // The data fork's extents in file order: the entry's own eight, then the overflow records
    // (cnid, blocks so far) while fewer than totalBlocks are listed. Extents that leave the
    // volume end the list.
    std::vector<HfsExtent> fileExtents(std::size_t index) const;
    // The entry whose data fork is the file's content (a hard link's target, or itself).
    std::size_t contentOf(std::size_t index) const;
    std::uint64_t contentSize(std::size_t index) const;
    // The data fork's bytes, cut at the logical size, handed to `sink` in order. False when the
    // extents hold fewer bytes than the size, a read failed, or the sink stopped.
    bool writeEntryContent(std::size_t index, const ContentSink& sink);
    // The allocation blocks the allocation file marks in use, as byte ranges of the volume.
    // Reads the volume header (and the extents overflow file, for a fragmented allocation
    // file) when no scan did; nullopt when the allocation file cannot be read whole.
    std::optional<UsedRanges> usedByteRanges();
    // How intact a file is: 1 for a record of a catalog node in use; for one from a freed node
    // the share of the blocks its size needs that the allocation file shows free. Nullopt for
    // folders, in the deep mode (which cannot tell nodes in use), or without an allocation file.
    std::optional<double> recoverableShare(std::size_t index);

    // ---- State ----
    VolumeRecord volume;
    VolumeSlice reader; // the volume's bytes, from its first sector on
    EngineControl control;
    HfsVolumeHeader header;
    bool headerRead = false;
    std::uint64_t blockSize = 0;
    std::uint32_t catalogNodeSize = 0; // 0 in the deep mode when the header node is unreadable
    std::uint32_t extentsNodeSize = 0;
    bool deepMode = false;
    std::vector<nodeInfo> catalogNodes;
    std::vector<nodeInfo> extentsNodes;
    std::vector<hfsEntry> entries;
    // (fileID, forkType, startBlock) -> the overflow record's eight extents.
    std::map<std::tuple<std::uint32_t, std::uint8_t, std::uint32_t>, HfsExtentRecord> overflowIndex;
    std::uint64_t orphanKey = 0;

private:
    struct PendingRecord {
        CatalogRecord record;
        std::uint64_t nodePosition = 0;
        std::uint32_t recordOffset = 0;
        std::uint64_t nodeNumber = 0;
        bool live = false;
    };
    struct PendingExtent {
        ExtentOverflowRecord record;
        std::uint64_t nodeNumber = 0;
        bool live = false;
    };
    // One B-tree file read through its fork.
    struct BTreeFile {
        std::vector<HfsExtent> extents;
        std::uint64_t bytes = 0; // what the extents hold
        std::uint32_t nodeSize = 0;
        std::uint64_t nodeCount = 0;
        BTreeHeader header;
    };
    using NodeFn = void (HFSP::*)(ByteSpan node, const nodeInfo& info);

    bool stopped() { return control.shouldStop(); }
    void setStatus(const std::string& text) { status_->setText(text); }
    std::uint64_t volumeBlockLimit() const;
    std::vector<HfsExtent> checkedExtents(const HfsExtentRecord& record, std::uint64_t& blocks) const;
    std::vector<HfsExtent> forkExtents(std::uint32_t fileId, const HfsFork& fork) const;
    bool readForkBytes(const std::vector<HfsExtent>& extents, std::uint64_t offset,
                       std::span<std::uint8_t> out);
    std::optional<BTreeFile> openBTree(std::vector<HfsExtent> extents, std::uint64_t logicalSize);
    std::uint64_t forkPosition(const std::vector<HfsExtent>& extents, std::uint64_t offset) const;
    // Reads every node by position, records its nodeInfo and hands leaves to `onLeaf`; returns
    // the leaf chain from the header's first leaf (the nodes still in use).
    std::vector<bool> walkNodes(const BTreeFile& tree, std::vector<nodeInfo>& infos, NodeFn onLeaf);
    void takeCatalogLeaf(ByteSpan node, const nodeInfo& info);
    void takeExtentsLeaf(ByteSpan node, const nodeInfo& info);
    void scanPieceForLeaves(ByteSpan piece, std::uint64_t position, std::uint64_t pieceBytes);
    std::uint32_t leafSizeAt(ByteSpan bytes) const;
    bool isAncestor(std::size_t candidate, std::size_t folder) const;
    void resolveHardLinks();
    void linkNormal();
    void linkDeep();

    StatusSink* status_;
    ProgressSink* progress_;
    NullStatusSink nullStatus_;
    NullProgressSink nullProgress_;
    std::vector<PendingRecord> pending_;
    std::vector<PendingExtent> pendingExtents_;
    std::vector<std::uint8_t> contentBuffer_;
    bool loadAllocationBitmap();
    bool allocationTried_ = false;
    bool liveRecordsSeen_ = false; // some record came from a node on the catalog's leaf chain
    std::vector<std::uint8_t> allocationBitmap_;
};

} // namespace vindaru
