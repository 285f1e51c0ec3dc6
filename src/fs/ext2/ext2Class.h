// The ext2 parser (also for the ext3 and ext4 volumes it meets): finds the superblock, reads the
// group descriptors and inode tables, names inodes from the directory blocks, builds the entry
// map, links parents and children, and reads any entry's times, size and content.
//
// It owns its entry table and every name in it; it reads the disk through a slice that begins at
// the volume's first byte. All positions are byte offsets from the start of the volume.
//
// How a Standard scan uses it (the only mode ext volumes offer):
//
//     ext2Class parser(reader, volumeRecord, &statusSink, &progressSink);
//     parser.attachVolume();                 // false for a volume with no bytes
//     parser.volumeBytes = ...;              // the volume's length in bytes
//     if (parser.findSuperblock() && parser.readGroupDescriptors()) {
//         parser.readInodeTables(); parser.parseDirectories();
//         parser.buildEntryMap(); parser.linkParentChild();
//     }
//
// The entries: `entries` is ordered by key (inode number - 1); an EntryRef is a position in it.
// The synthetic "ROOT" entry has key 2; the root directory's own record (key 1) is named "." and
// is one of ROOT's children, with no children of its own, because the root's other entries are
// all attached to ROOT. Children come in descending key order.
//
// Threads: the scan on one worker; afterwards the describe/size/content operations one at a time
// (they share the inode cache and the reader).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/UsedRanges.h"
#include "common/CheckTree.h"
#include "common/Sinks.h"
#include "common/StopControl.h"
#include "fs/ext2/Ext2BlockMap.h"
#include "fs/ext2/Ext2Journal.h"
#include "fs/ext2/Ext2Superblock.h"
#include "fs/ext2/Ext2TableAllocator.h"
#include "fs/parser/EntryView.h"
#include "image/readWriteInterface.h"
#include "volume/VolumeBytes.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

inline constexpr std::uint32_t kExt2NoEntry = 0xFFFFFFFFu;
inline constexpr std::uint32_t kExt2RootKey = 2;
inline constexpr const char* kExt2RootName = "ROOT";
inline constexpr const char* kExt2OrphanName = "ORPHAN_ENTRY";

// The scan's large tables: see Ext2TableAllocator.
template <class T>
using Ext2Table = std::vector<T, Ext2TableAllocator<T>>;

struct ext2Entry {
    std::uint64_t nameOffset = 0; // into the parser's name pool
    std::int64_t parent = -1;     // the parent's key
    std::uint64_t size = 0;
    std::uint32_t key = 0; // inode number - 1
    // Links as positions in `entries`; kExt2NoEntry for none.
    std::uint32_t firstChild = kExt2NoEntry;
    std::uint32_t nextSibling = kExt2NoEntry;
    std::uint16_t mode = 0;
    // Names are at most 1024 bytes (255 with file types in the entries); the flags share the
    // field, so a volume of many files keeps a small table.
    std::uint16_t nameLength : 14 = 0;
    std::uint16_t deleted : 1 = 0;   // the inode has a deletion time or no links
    std::uint16_t synthetic : 1 = 0; // ROOT and ORPHAN_ENTRY: no inode of their own
};

// What one group descriptor says about the group's inode table.
struct Ext2GroupInfo {
    std::uint64_t inodeTable = 0;       // first block
    std::uint32_t usedInodes = 0;       // the table's first entries that were ever initialised
    bool tableOnVolume = false;         // the table lies inside the volume
    std::uint64_t blockBitmap = 0;
    bool blocksUninitialised = false;   // no bitmap written yet: every data block is free
};

class ext2Class {
public:
    ext2Class(const ByteSource& disk, VolumeRecord volume, StatusSink* status = nullptr,
              ProgressSink* progress = nullptr);
    ext2Class(const ext2Class&) = delete;
    ext2Class& operator=(const ext2Class&) = delete;

    // ---- Scan steps, in this order ----
    bool attachVolume();
    void attachSinks(StatusSink* status, ProgressSink* progress) {
        status_ = status ? status : &nullStatus_;
        progress_ = progress ? progress : &nullProgress_;
    }
    bool findSuperblock();
    bool readGroupDescriptors();
    bool readInodeTables();
    // ext3/ext4: older copies of inode-table and directory blocks from the journal (inode 8),
    // for deleted inodes whose block map the deletion cleared. Skipped with a note when the
    // journal is missing or damaged.
    void readJournal();
    bool parseDirectories();
    void buildEntryMap();
    void linkParentChild();
    // The status text while the page's tree takes the first level (fs/parser/TreeFill.h).
    void announceTreeFill() { setStatus("filling root entries in  tree...."); }

    // ---- The entry view ----
    std::size_t entryCount() const { return entries.size(); }
    bool isValidRef(EntryRef ref) const { return ref < entries.size(); }
    std::optional<EntryRef> refOfKey(std::uint32_t key) const;
    std::optional<EntryRef> rootRef() const { return refOfKey(kExt2RootKey); }
    std::string_view entryName(EntryRef ref) const;
    bool isDirectory(EntryRef ref) const;
    bool isDeleted(EntryRef ref) const { return isValidRef(ref) && entries[ref].deleted; }
    // The folder that holds deleted inodes no name reaches.
    bool isOrphanFolder(EntryRef ref) const { return isValidRef(ref) && entries[ref].key == orphanKey_ && orphanKey_ != kExt2NoEntry; }
    bool hasChildren(EntryRef ref) const {
        return isValidRef(ref) && entries[ref].firstChild != kExt2NoEntry;
    }
    std::vector<EntryRef> childrenOf(EntryRef ref) const;

    // Creation (i_ctime), access and modification texts, and the permission text.
    EntryTexts describeEntry(EntryRef ref);
    std::string formatEntrySize(EntryRef ref);
    std::uint64_t entrySize(EntryRef ref) const;
    // The inode's access and modification times as Unix times, with nanoseconds where the
    // inode keeps them.
    EntryTimes entryTimes(EntryRef ref);
    // The file's bytes in order, exactly `size` of them: holes and never-written extents as
    // zeros at their place. False when some block could not be read (zeros stand in for it) or
    // the sink stopped.
    bool writeEntryContent(EntryRef ref, const ContentSink& sink);
    // How intact a deleted file is: the share of the blocks its map gives (from the journal's
    // copy where the deletion cleared the map) that no live inode holds by the block bitmaps.
    // 1 for a file in use or whose bytes live in the inode; 0 for a deleted file whose map is
    // gone; nullopt for a directory.
    std::optional<double> recoverableShare(EntryRef ref);
    // The volume's blocks the block bitmaps mark in use (and the boot blocks before the first
    // group), as byte ranges; a group whose bitmap cannot be read counts as wholly in use.
    // Nullopt before the group descriptors are read or when no bitmap can be read.
    std::optional<UsedRanges> usedByteRanges();

    // ---- State (read it; the scan steps set it) ----
    VolumeRecord volume;
    VolumeSlice reader; // the volume's bytes, from its first sector on
    EngineControl control; // control.stopRequested is the stop flag
    std::uint64_t volumeBytes = 0;
    std::uint64_t superblockOffset = 0;
    std::vector<std::uint8_t> superblock; // the accepted (or last probed) copy
    Ext2Geometry geometry;
    std::vector<Ext2GroupInfo> groups;
    std::uint64_t recordCount = 0; // N: inodes 1..N can be named
    Ext2Table<ext2Entry> entries;
    // What the journal pass found, and why it was skipped (empty when there is no journal).
    std::string journalNote;
    std::size_t journalCopies = 0;

private:
    // A directory inode found by readInodeTables, walked by parseDirectories.
    struct DirectoryInode {
        std::uint32_t number = 0;
        std::uint32_t flags = 0;
        std::uint64_t size = 0;
        std::array<std::uint8_t, 60> blockMap{};
        bool deleted = false;     // its names are kept only for inodes deleted too
        bool fromJournal = false; // the map is a journal copy's: its nodes may be journalled too
        std::vector<std::uint8_t> inlineEntries; // inline data: i_block after the parent, then the attribute
        std::size_t inlineSplit = 0;             // where the attribute's entries start
    };
    // How a directory block's names are attached: by the naming pass's "." rule, or to a known
    // parent; `hidden` names (slack, deleted folders, journal copies) name deleted inodes only.
    struct WalkMode {
        bool pass = true;
        std::int64_t parent = -1;
        bool hidden = false;
    };
    // One directory entry's effect on an inode's record, in the order the pass met them.
    struct NameEvent {
        std::uint64_t nameOffset = 0;
        std::int64_t parent = -1;
        std::uint32_t inode = 0;
        // 0 when the entry only sets the mode: every name has at least one byte.
        std::uint16_t nameLength = 0;
        std::uint16_t mode = 0; // a mode set by the entry's file type; 0 for none
        bool named() const { return nameLength != 0; }
    };
    struct InodeChunk {
        std::uint64_t position = UINT64_MAX;
        std::vector<std::uint8_t> bytes;
    };

    bool stopped() { return control.shouldStop(); }
    void setStatus(const std::string& text) { status_->setText(text); }
    bool readBytes(std::uint64_t position, std::span<std::uint8_t> out);
    bool readBlocks(std::uint64_t block, std::span<std::uint8_t> out);
    bool acceptProbe(std::uint64_t position, ByteSpan candidate);
    std::uint64_t descriptorBlock(std::uint64_t index) const;
    // Reads inode `number` into out (inodeSize bytes): zeros for one that was never initialised;
    // false when its table is not on the volume.
    bool readInode(std::uint32_t number, std::vector<std::uint8_t>& out);
    // The same bytes where they lie in the cache: valid until the next inode is read.
    std::optional<ByteSpan> inodeAt(std::uint32_t number);
    void addDirectory(std::uint32_t number, ByteSpan inode, bool deleted);
    void reserveForNames();
    void walkDirectory(const DirectoryInode& directory, std::vector<std::uint8_t>& buffer);
    void walkDirectoryBlock(ByteSpan block, const WalkMode& mode);
    void applyName(std::uint32_t inode, std::string_view name, std::uint16_t typeMode);
    void addName(std::uint32_t inode, std::string_view name, std::int64_t parent, bool hidden);
    void scanSlack(ByteSpan block, std::size_t from, std::size_t to, std::int64_t parent);
    void fillInodeFields();
    void fillInodeFields(ext2Entry& e);
    void addOrphans();
    bool placeUnreachable();
    // The entry's inode: for a deleted one whose map was cleared, its last live journal copy.
    bool readEntryInode(const ext2Entry& e, std::vector<std::uint8_t>& out);
    // The same without a copy: valid until the next inode is read; nullopt for ROOT and
    // ORPHAN_ENTRY.
    std::optional<ByteSpan> entryInode(const ext2Entry& e);
    // Walks the entry's block map (a deleted entry's journal copy reads its map nodes as of
    // that copy) up to `blockLimit` logical blocks.
    Ext2BlockMap::Result mapEntryBlocks(const ext2Entry& e, ByteSpan inode, std::uint64_t blockLimit,
                                        const Ext2BlockMap::RunFn& onRun);
    // Inline data and fast symlinks: the bytes are in the inode, no block holds them.
    bool contentInInode(ByteSpan inode) const;
    std::int64_t directoryKey(std::uint32_t inode) const;
    bool deletedState(ByteSpan inode) const;
    // A group's block bitmap, one block; false when the descriptor names no block of the volume
    // or it cannot be read.
    bool readBlockBitmap(const Ext2GroupInfo& info, std::vector<std::uint8_t>& out);
    // Block bitmap: false for a block no live inode holds (outside the volume: in use).
    bool blockInUse(std::uint64_t block);
    bool runInUse(std::uint64_t physical, std::uint64_t count);
    // Journal helpers.
    bool readJournalBlocks(std::uint64_t first, std::span<std::uint8_t> out);
    bool readJournalCopy(const Ext2JournalCopy& copy, std::span<std::uint8_t> out);
    // Reads a map node: the newest journal copy no newer than `sequence`, else the volume's block.
    bool readNodeAsOf(std::uint64_t block, std::uint32_t sequence, std::span<std::uint8_t> out);
    void findJournalInodes();
    void walkJournalDirectories(std::vector<std::uint8_t>& buffer);
    std::vector<bool> journalDirectoryCopies();
    void noteDirectoryBlocks(std::uint32_t inode, std::uint64_t physical, std::uint64_t count);
    std::uint64_t fileSize(ByteSpan inode) const;
    const std::string& dateText(std::int64_t seconds);

    StatusSink* status_;
    ProgressSink* progress_;
    NullStatusSink nullStatus_;
    NullProgressSink nullProgress_;

    static constexpr std::uint64_t kMaxReservedEvents = 1u << 21;
    static constexpr std::uint64_t kMaxReservedNameBytes = 32u << 20;
    std::basic_string<char, std::char_traits<char>, Ext2TableAllocator<char>> namePool_;
    std::vector<DirectoryInode> directories_;
    Ext2Table<NameEvent> events_;
    // The naming pass's parent and first flag live for the whole pass.
    std::int64_t passParent_ = 0;
    bool passFirst_ = true;
    // Blocks the scan may still read for directories and their maps: about the volume once.
    std::uint64_t scanBlockBudget_ = 0;
    static constexpr std::size_t kMaxDateTexts = 1u << 16;
    std::unordered_map<std::int64_t, std::string> dateTexts_; // by Unix time
    std::vector<InodeChunk> inodeCache_;
    std::size_t nextCacheSlot_ = 0;
    std::size_t lastCacheSlot_ = 0;
    std::vector<std::uint8_t> zeroInode_; // what an inode never initialised reads as

    // Deleted files.
    std::uint32_t firstInode_ = 11;           // the first inode that is not reserved
    std::vector<std::uint32_t> deletedInodes_; // used once, free now; ascending
    std::uint32_t orphanKey_ = kExt2NoEntry;
    static constexpr std::size_t kMaxBitmapGroups = 1024;
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> bitmaps_; // by group
    std::vector<Ext2Run> journalRuns_;    // the journal inode's blocks
    Ext2JournalScan journal_;
    struct JournalInode {
        std::uint32_t sequence = 0;
        std::vector<std::uint8_t> bytes;
    };
    std::unordered_map<std::uint32_t, JournalInode> journalInodes_; // by inode number
    std::unordered_map<std::uint64_t, std::uint32_t> directoryBlocks_; // block -> directory inode
    // Per journal block, what the journal scan saw of it: 0 not read there, 1 not a folder
    // block, 2 a folder block (as stored).
    std::vector<std::uint8_t> journalBlockKinds_;
};

} // namespace vindaru
