// The NTFS parser: turns one NTFS volume of the disk into a flat table of entries, one per MFT
// record slot, links them into a first-child / next-sibling tree, puts the root's children into
// the scan page's check-box tree, and reads any entry's times, size and content.
//
// It owns its entry table and every name in it; it reads the disk through a slice that begins at
// the volume's first byte. All positions are byte offsets from the start of the volume.
// One thread at a time: the scan runs on a worker; afterwards the page's threads call the
// describe/size/save operations one at a time (they share the parser's scratch buffers and the
// reader's cursor).
//
// How to use it (the Standard scan, mode 1):
//
//     ntfs parser(disk, volumeRecord, &statusSink, &progressSink);
//     parser.scanMode = 1;
//     parser.readBootSector();
//     status " ParsingBasedOnMFT is going on....", then parser.locateMft();
//     parser.readMftByRuns();
//     parser.parseAllEntries();                   // parses, links, orphans
//
// The tree's first level then comes from NtfsEntryView::topLevel (fs/parser/TreeFill.h).
//
// Stop: parser.control.requestStop() from any thread (the scan keeps what it found); the pause
// gate in `control` holds the worker at the same polling points.
//
// Iterating the entries after the scan (the table never changes shape again, so an index kept
// in a tree item stays valid for the parser's life):
//   - parser.entries[i] is entry i; parser.rootIndex is the root directory "." (== size() when
//     the volume has none); parser.orphanIndex is the ORPHAN_ENTRY entry (label "ORPHAN_ENTRY",
//     a directory, the root's last child unless the root has no child).
//   - children of i: entries[i].firstChild (0 = none), then nextSibling while it is > 0.
//     childrenOf(i) returns them in that order, cut at the first repeat (chains from disk are
//     a graph, not a tree). Note that the root's own "." record may be among its children (its
//     children are then the root's): recursive walks must enter each entry once.
//   - entryLabel(i) (UTF-8), isDirectory(i) (kind 'D'), isInUse(i) (record flag 0x0001; the page
//     draws the entry red when it is clear), hasChildren(i) (firstChild > 0).
//   - describeEntry(i): the creation, access and modification texts and the attribute text, and
//     the raw times (Windows file times and Unix seconds) for setting saved files' times.
//   - formatEntrySize(i) is the size text; entrySize(i) the size in bytes (what saveEntry writes).
//   - saveEntry(i, hostPath) writes the content to hostPath (created or truncated, never through
//     a symlink) and sets its access and modification times. The caller makes the name safe.
//     writeEntryContent(i, sink) gives the same bytes to a callback instead.
//
// What an entry's content is: the file's unnamed $DATA only (a named one is an alternate stream),
// resident or not, joined in VCN order over the base record and the extension records its
// $ATTRIBUTE_LIST names, cut at its real size; sparse runs, and bytes past the initialized size,
// read as zeros; LZNT1 units are decoded. An entry named from an extension record shows its base
// record's file. The size shown is the size written.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/UsedRanges.h"
#include "common/Sinks.h"
#include "common/StopControl.h"
#include "fs/ntfs/ClusterRun.h"
#include "fs/ntfs/DataAttributeInfo.h"
#include "fs/ntfs/MftEntry.h"
#include "fs/ntfs/MftRecord.h"
#include "image/readWriteInterface.h"
#include "volume/VolumeBytes.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

class ContentEmitter;
class ScratchBuffer;

inline constexpr const char* kOrphanEntryName = "ORPHAN_ENTRY";

// The list texts of one entry (Part of the entry view of the scan page).
struct EntryDescription {
    std::string creationText;
    std::string accessText;
    std::string modificationText;
    std::string attributeText; // "-R", "-H", "-S", "-A", "-C", "-E" in that order
    // Windows file times from $STANDARD_INFORMATION; all 0 when the record has none.
    bool hasTimes = false;
    std::uint64_t creationTime = 0;
    std::uint64_t modificationTime = 0;
    std::uint64_t accessTime = 0;
    std::int64_t creationUnix = 0;
    std::int64_t modificationUnix = 0;
    std::int64_t accessUnix = 0;
};

// One entry of an $ATTRIBUTE_LIST that names a $DATA piece.
struct AttributeListItem {
    std::uint64_t recordNumber = 0; // low 48 bits of the file reference
    std::uint64_t startingVcn = 0;
    std::uint8_t nameLength = 0; // 0: the unnamed $DATA (the file's content)
};

class ntfs {
public:
    // Receives content bytes in order; returns false to stop writing.
    using ContentSink = std::function<bool(std::span<const std::uint8_t>)>;

    ntfs(const ByteSource& disk, VolumeRecord volume, StatusSink* status = nullptr,
         ProgressSink* progress = nullptr);
    ntfs(const ntfs&) = delete;
    ntfs& operator=(const ntfs&) = delete;

    // ---- Scan steps, in this order ----
    // Where status texts and progress go from now on (the scan page takes over the parser the
    // advance options page searched with). Null: nowhere.
    void attachSinks(StatusSink* status, ProgressSink* progress) {
        status_ = status ? status : &nullStatus_;
        progress_ = progress ? progress : &nullProgress_;
    }
    bool readBootSector();
    // The "ParsingBasedOnMFT" step: the MFT's runs from the boot sector. A boot sector without
    // "NTFS" is handed to the corrupt-boot scan.
    bool locateMft();
    void readMftByRuns();
    void parseAllEntries();

    // ---- Steps and helpers the scan is made of (public for the page and for tests) ----
    std::vector<ClusterRun> getAttributeRuns(std::uint64_t position, std::uint32_t type);
    // After `mftRuns` was taken from the $MFT record at `position`: appends the runs that the
    // record's $ATTRIBUTE_LIST keeps in extension records (a much fragmented MFT), in VCN order.
    void addMftExtensionRuns(std::uint64_t position);
    bool parseEntry(std::uint64_t position, std::uint64_t index);
    void linkChild(std::uint64_t index);
    void linkOrphans();
    // Parses one record already in memory into entries[index] (what parseEntry does after its
    // read; the scan feeds records from large MFT reads through it).
    void parseRecordAttributes(ByteSpan raw, std::uint64_t index, bool readable);

    // ---- Sector scans for MFT records (ntfsSectorScans.cpp) ----
    // Every 512-byte boundary of the volume is checked for a record, in 10 MiB chunks.
    // Corrupt boot sector: the first record named "$MF..." that yields runs gives the MFT's runs.
    bool scanCorruptBoot();
    // Deep mode: every named record, in disk order, into `entries` (always returns false).
    bool scanMftRecordsDeep();
    // Advanced mode: records 7 slots before a "$Boot" record and named "$MFT" become
    // `mftCandidates`, until `limit` of them are found. Returns their count.
    std::uint64_t findMftCandidates(std::uint64_t limit);
    // The chosen candidate's $DATA runs become the MFT's; true when there is at least one.
    bool runsFromCandidate(std::uint64_t index);
    // Frees the names and empties the entry table, before a scan that fills it afresh.
    void clearEntries();
    // Deep mode's tree (ntfsDeepLinking.cpp). The records a deep scan found are placed under
    // their parents by the record numbers they carry (NTFS 3.1 on), checking sequence numbers;
    // linkByDiskOrder, run by linkOrphans in mode 3, then groups what could not be placed under
    // ORPHAN_ENTRY by disk order.
    void linkDeepEntries();
    void linkByDiskOrder();
    // The entry of an MFT record number (a parent, base or extension reference): the number
    // itself, except after a deep scan, whose entries are in disk order; entries.size() when the
    // scan met no such record.
    std::uint64_t indexOfRecordNumber(std::uint64_t recordNumber) const;

    // ---- The entry view ----
    std::size_t entryCount() const { return entries.size(); }
    bool isValidIndex(std::uint64_t index) const { return index < entries.size(); }
    std::u16string_view entryName(std::uint64_t index) const;
    std::string entryLabel(std::uint64_t index) const;
    bool hasName(std::uint64_t index) const;
    bool isDirectory(std::uint64_t index) const;
    bool isInUse(std::uint64_t index) const;
    bool hasChildren(std::uint64_t index) const;
    // Deep mode: the entry's folder was chosen by disk order, not named by its record.
    bool isPathGuessed(std::uint64_t index) const {
        return index < entries.size() && entries[index].orphan == kGuessedFolder;
    }
    std::vector<std::uint64_t> childrenOf(std::uint64_t index) const;
    // Gives entry `index` a new name, kept in the parser's name pool (the recycle bin's former
    // names). False for an index outside the table.
    bool renameEntry(std::uint64_t index, std::u16string_view name);

    EntryDescription describeEntry(std::uint64_t index);
    std::string formatEntrySize(std::uint64_t index);
    std::uint64_t entrySize(std::uint64_t index);
    bool saveEntry(std::uint64_t index, const std::filesystem::path& destination);
    // The content saveEntry writes, handed to `sink` in order. False when the record cannot be
    // read, is not a "FILE" record, or the content cannot be decoded (what was given stays).
    bool writeEntryContent(std::uint64_t index, const ContentSink& sink);
    // The share of a deleted file's clusters (those its size needs) that the volume's $Bitmap
    // shows free now; 1 for a file in use or without clusters; nullopt for a directory or when
    // the $Bitmap cannot be read (it is read once, when first needed).
    std::optional<double> recoverableShare(std::uint64_t index);
    // The clusters the $Bitmap marks in use, as byte ranges of the volume. Works before a scan
    // (boot sector, MFT runs, record 6); nullopt when the $Bitmap cannot be read whole.
    std::optional<UsedRanges> usedByteRanges();

    // ---- Content helpers ----
    // The record of entry `index`, fixed up, with its attribute headers; nullopt if unreadable.
    std::optional<MftRecord> readRecord(std::uint64_t index);
    // The entry whose record holds the file's base attributes: the entry itself, or the base
    // record its record names when the name was found in an extension record.
    std::uint64_t baseRecordIndex(std::uint64_t index);
    // The file's unnamed $DATA, over the base record and its attribute list's extension records.
    DataAttributeInfo dataAttributeInfo(std::uint64_t index);
    // The $DATA pieces an $ATTRIBUTE_LIST names (empty when the record has no list).
    std::vector<AttributeListItem> readAttributeList(const MftRecord& record);
    // Every cluster of the record's non-resident unnamed $DATA, -1 for a sparse cluster; capped
    // at `maxClusters` elements.
    std::vector<std::int64_t> dataClusterList(std::uint64_t index, std::size_t maxClusters);
    // Writes non-resident content from runs in VCN order (plain or LZNT1-compressed).
    bool writeFromRuns(const DataAttributeInfo& info, const ContentSink& sink);

    // ---- State (read it; the scan steps set it) ----
    VolumeRecord volume;
    VolumeSlice reader; // the volume's bytes, from its first sector on
    EngineControl control; // control.stopRequested is the stop flag
    std::int32_t scanMode = 1; // 1 Standard, 2 Advanced, 3 Deep
    std::vector<std::uint8_t> bootSector; // empty until read
    std::uint64_t clusterSize = 4096;
    std::uint32_t recordSize = kMftRecordSize; // from the boot sector: 1024 or 4096
    std::uint64_t volumeSize = 0;
    std::vector<ClusterRun> mftRuns;
    bool mftRunKnown = false;
    bool runPending = true;
    std::uint32_t runClusterCount = 0;
    std::vector<MftEntry> entries;
    std::uint64_t orphanIndex = 0;
    std::uint64_t rootIndex = 0;
    std::vector<MftEntry> mftCandidates; // copies, in the order the candidate search found them

private:
    // One extent of a non-resident $DATA: the runs of one attribute record, decoded on their own.
    struct DataExtent {
        std::uint64_t firstVcn = 0;
        std::uint64_t lastVcn = 0;
        std::vector<ClusterRun> runs;
    };

    bool stopped() { return control.shouldStop(); }
    bool hasNtfsSignature() const;
    std::uint64_t bootClusterSize() const;
    std::uint64_t scanClusterSize() const;
    std::uint64_t bootSectorBytes() const;
    std::uint32_t bootRecordSize() const;
    void setStatus(const std::string& text) { status_->setText(text); }
    std::uint64_t maxEntries() const;
    bool readAt(std::uint64_t position, std::span<std::uint8_t> out);
    void appendSlot(ByteSpan raw, std::uint64_t position);
    // A record read from several places: (position, length) pieces in order.
    using SlotPieces = std::vector<std::pair<std::uint64_t, std::uint32_t>>;
    std::optional<std::uint64_t> mftRecordPosition(std::uint64_t number) const;
    void readRunSlots(const ClusterRun& run, ScratchBuffer& chunk, SlotPieces& carry);
    void appendJoinedSlot(const SlotPieces& pieces);
    void appendParsedSlot(ByteSpan raw, std::uint64_t position);
    // readMftByRuns parsed every slot it read; parseAllEntries then only links.
    bool slotsParsed_ = false;
    bool readPieces(const SlotPieces& pieces, std::span<std::uint8_t> out);
    // Reads the 1024 bytes of entry `index`'s record slot, joining a record split between runs.
    bool readSlot(std::uint64_t index, std::span<std::uint8_t> out);
    // One link of a record (a $FILE_NAME outside the DOS namespace) that its entry does not show.
    struct ExtraName {
        std::uint64_t of = 0;
        std::uint64_t parent = 0;
        std::uint16_t parentSequence = 0;
        std::uint64_t nameOffset = 0;
        std::uint16_t nameLength = 0;
        std::uint8_t kind = 0;
        std::uint64_t allocatedSize = 0;
    };
    struct FileNameLink {
        ExtraName name;
        std::uint8_t nameSpace = 0;
    };
    void applyFileName(ByteSpan fixed, const AttributeHeader& header, std::uint64_t index,
                       bool& firstFileName, std::vector<FileNameLink>& links);
    void keepExtraNames(std::uint64_t index, ByteSpan fixed, const std::vector<FileNameLink>& links);
    void listMftRecord();
    void addExtraNameEntries();
    void nameUnnamedDeletedFiles();
    void findNameHolders();
    void linkAllEntries();
    bool parentAccepts(std::uint64_t index, std::uint64_t parent) const;
    // A parent or base reference's sequence number still names `target`'s file.
    static bool referenceMatches(std::uint16_t referenceSequence, const MftEntry& target);
    std::uint64_t shownParent(std::uint64_t parent) const;
    bool namesFileNameElsewhere(const MftRecord& record, std::uint64_t recordNumber);
    void walkAttributeList(const MftRecord& record, const std::function<void(ByteSpan, std::size_t)>& visit);
    std::uint64_t slotCount_ = 0;
    std::vector<ExtraName> extraNames_;
    // A base record without a name of its own, and the extension entry that shows its file.
    std::unordered_map<std::uint64_t, std::uint64_t> nameHolder_;
    void ensureLinkTables();
    std::uint64_t storeName(std::u16string_view name);
    void addOrphanEntry();
    void findRoot();
    void takeDataAttributes(const MftRecord& record, DataAttributeInfo& info,
                            std::vector<DataExtent>& extents, bool& haveSizes);
    void joinExtents(std::vector<DataExtent>& extents, DataAttributeInfo& info) const;
    ByteSpan cachedRecord(std::uint64_t position);
    bool writePlainRuns(const DataAttributeInfo& info, ContentEmitter& out);
    bool writeCompressedRuns(const DataAttributeInfo& info, ContentEmitter& out);
    bool readClusters(std::int64_t lcn, std::span<std::uint8_t> out);
    // After a deep scan: the entry of each MFT record number met (its newest copy).
    std::unordered_map<std::uint64_t, std::uint64_t> deepRecordIndex_;
    // Deep mode, by entry index: the record number the record carries (kNoRecordNumber when it
    // carries none) and its log sequence number, which orders copies of one record.
    struct DeepRecord {
        std::uint64_t number = kNoRecordNumber;
        std::uint64_t logSequence = 0;
    };
    static constexpr std::uint64_t kNoRecordNumber = ~0ull;
    std::vector<DeepRecord> deepRecords_;
    // Every entry found with a record number, newest first.
    std::unordered_map<std::uint64_t, std::vector<std::uint64_t>> deepCopies_;
    void chooseNewestCopies();
    std::uint64_t deepParentOf(std::uint64_t index) const;
    bool deepNumberKnown(std::uint64_t index) const {
        return index < deepRecords_.size() && deepRecords_[index].number != kNoRecordNumber;
    }
    // The volume's $Bitmap (record 6), one bit per cluster.
    bool loadVolumeBitmap();
    bool loadVolumeBitmapFromMft();
    std::vector<std::uint8_t> volumeBitmap_;
    bool volumeBitmapTried_ = false;
    bool volumeBitmapRead_ = false;
    // The sector scans' shared chunk loop (ntfsSectorScans.cpp).
    struct ScanPass;
    void scanVolumeChunks(ScanPass& pass);
    std::uint64_t appendFoundRecord(std::uint64_t position, ByteSpan record);
    void rememberRecordNumber(std::uint64_t position, ByteSpan record, std::uint64_t index);
    std::vector<std::uint8_t> readNonResidentBytes(const MftRecord& record, const AttributeHeader& h,
                                                   std::uint64_t limit);

    StatusSink* status_;
    ProgressSink* progress_;
    NullStatusSink nullStatus_;
    NullProgressSink nullProgress_;

    // Names of every entry, UTF-16, back to back; entries keep offset and length.
    std::u16string namePool_;
    // Records that straddle two runs of the MFT, by entry index (only with clusters < 1024).
    std::map<std::uint64_t, SlotPieces> splitSlots_;
    // Tail of each parent's child chain, so appending a child never walks the chain.
    std::vector<std::uint64_t> chainTail_;
    std::vector<std::uint8_t> linked_;
    std::vector<AttributeHeader> scratchHeaders_;
    std::array<std::uint8_t, kMaxMftRecordSize> fixedScratch_{};
    std::vector<FileNameLink> scratchLinks_;
    EntryDescription describeRecord(std::uint64_t index);
    const std::string& timeText(std::uint64_t filetime);
    std::unordered_map<std::uint64_t, std::string> minuteTexts_;
    // The record read last by the describe/size/save operations, by entry index.
    const MftRecord* loadRecord(std::uint64_t index);
    MftRecord loaded_;
    std::uint64_t loadedIndex_ = 0;
    bool loadedValid_ = false;
    // Drops what is remembered about entries by index (the table is being refilled).
    void forgetEntryCaches();
    std::optional<std::pair<std::uint64_t, EntryDescription>> lastDescribed_;
    std::uint64_t lastSizedIndex_ = ~0ull;
    std::uint64_t lastSize_ = 0;
    // The last block of records read by the describe/size/save operations.
    std::vector<std::uint8_t> recordCache_;
    std::uint64_t recordCacheStart_ = 0;
    bool recordCacheValid_ = false;
};

} // namespace vindaru
