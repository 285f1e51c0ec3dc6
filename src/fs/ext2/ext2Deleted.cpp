// Deleted files: which blocks no live inode holds (the block bitmaps), the journal's older
// copies of inode-table and directory blocks, and the last live copy of a deleted inode.
#include <algorithm>
#include <array>

#include "fs/ext2/Ext2Dirents.h"
#include "fs/ext2/Ext2Layout.h"
#include "fs/ext2/ext2Class.h"
#include "volume/VolumeSweep.h"

namespace vindaru {

using namespace ext2layout;

namespace {

bool emptyMap(ByteSpan inode) {
    const std::uint32_t flags = le32(inode, kInFlags);
    const ByteSpan map = subspan(inode, kInBlock, kInBlockBytes);
    if (flags & kFlagInlineData) return false;
    if (flags & kFlagExtents) return le16(map, kEhMagic) != kExtentMagic || le16(map, kEhEntries) == 0;
    return std::all_of(map.begin(), map.end(), [](std::uint8_t b) { return b == 0; });
}

} // namespace

bool ext2Class::blockInUse(std::uint64_t block) {
    if (geometry.blocksPerGroup == 0 || block < geometry.firstDataBlock || block >= geometry.blocksCount) return true;
    const std::uint64_t relative = block - geometry.firstDataBlock;
    const std::uint64_t group = relative / geometry.blocksPerGroup;
    const std::uint64_t bit = relative % geometry.blocksPerGroup;
    if (group >= groups.size()) return true;
    const Ext2GroupInfo& info = groups[group];
    if (info.blocksUninitialised) return false;
    auto it = bitmaps_.find(group);
    if (it == bitmaps_.end()) {
        if (bitmaps_.size() >= kMaxBitmapGroups) bitmaps_.clear();
        std::vector<std::uint8_t> bits;
        if (!readBlockBitmap(info, bits)) bits.clear();
        it = bitmaps_.emplace(group, std::move(bits)).first;
    }
    // An unreadable bitmap cannot vouch for any block.
    if (it->second.empty() || bit / 8 >= it->second.size()) return true;
    return isBitSet(it->second[static_cast<std::size_t>(bit / 8)], bit, BitOrder::LowFirst);
}

bool ext2Class::runInUse(std::uint64_t physical, std::uint64_t count) {
    for (std::uint64_t b = 0; b < count; ++b)
        if (blockInUse(physical + b)) return true;
    return false;
}

bool ext2Class::readBlockBitmap(const Ext2GroupInfo& info, std::vector<std::uint8_t>& out) {
    if (info.blockBitmap == 0 || info.blockBitmap >= geometry.blocksCount) return false;
    out.assign(geometry.blockSize, 0);
    return readBlocks(info.blockBitmap, out);
}

std::optional<double> ext2Class::recoverableShare(EntryRef ref) {
    if (!isValidRef(ref) || isDirectory(ref)) return std::nullopt;
    const ext2Entry& e = entries[ref];
    if (!e.deleted) return 1.0;
    std::vector<std::uint8_t> inode;
    if (e.synthetic || geometry.blockSize == 0 || !readEntryInode(e, inode)) return std::nullopt;
    const std::uint64_t size = fileSize(inode);
    if (size == 0 || contentInInode(inode)) return 1.0;
    const std::uint64_t needed = Ext2BlockMap::blocksForSize(size, geometry.blockSize);
    std::uint64_t mapped = 0;
    std::uint64_t free = 0;
    std::uint64_t zeros = 0;
    const Ext2BlockMap::Result result = mapEntryBlocks(e, inode, needed, [&](const Ext2Run& run) {
        if (run.logical >= needed) return false;
        const std::uint64_t count = std::min(run.count, needed - run.logical);
        if (run.zeros) {
            zeros += count;
            return true;
        }
        mapped += count;
        for (std::uint64_t b = 0; b < count; ++b) free += !blockInUse(run.physical + b);
        return true;
    });
    // Runs of zeros are extents never written (nothing to lose) in a sound map; in a map with
    // pointers off the volume (an indirect block a later file overwrote) they are lost blocks.
    // Holes hold nothing; a map the deletion cleared (no journal copy) leaves nothing at all.
    const std::uint64_t total = mapped + zeros;
    if (total == 0) return 0.0;
    if (result.complete) free += zeros;
    return static_cast<double>(free) / static_cast<double>(total);
}

std::optional<UsedRanges> ext2Class::usedByteRanges() {
    if (groups.empty() || geometry.blockSize == 0 || geometry.blocksPerGroup == 0) return std::nullopt;
    const std::uint64_t bs = geometry.blockSize;
    UsedRanges ranges;
    // The boot block of 1 KiB-block volumes comes before the first group.
    appendByteRange(ranges, 0, std::uint64_t{geometry.firstDataBlock} * bs);
    std::vector<std::uint8_t> bits;
    bool anyKnown = false;
    for (std::uint64_t g = 0; g < groups.size(); ++g) {
        if (stopped()) return std::nullopt;
        const std::uint64_t first = geometry.firstDataBlock + g * geometry.blocksPerGroup;
        if (first >= geometry.blocksCount) break;
        const std::uint64_t count = std::min<std::uint64_t>(geometry.blocksPerGroup, geometry.blocksCount - first);
        const Ext2GroupInfo& info = groups[g];
        if (info.blocksUninitialised) {
            anyKnown = true;
            continue;
        }
        if (!readBlockBitmap(info, bits)) {
            // A bitmap that cannot be read cannot vouch for any block of its group.
            appendByteRange(ranges, first * bs, (first + count) * bs);
            continue;
        }
        anyKnown = true;
        appendSetBitRanges(ranges, bits, count, BitOrder::LowFirst, first * bs, bs);
    }
    if (!anyKnown) return std::nullopt;
    return ranges;
}

bool ext2Class::readEntryInode(const ext2Entry& e, std::vector<std::uint8_t>& out) {
    const std::optional<ByteSpan> inode = entryInode(e);
    if (!inode) return false;
    out.assign(inode->begin(), inode->end());
    return true;
}

std::optional<ByteSpan> ext2Class::entryInode(const ext2Entry& e) {
    if (e.synthetic) return std::nullopt;
    const std::optional<ByteSpan> inode = inodeAt(e.key + 1);
    if (!inode || !e.deleted) return inode;
    const auto copy = journalInodes_.find(e.key + 1);
    if (copy != journalInodes_.end()) return ByteSpan(copy->second.bytes);
    return inode;
}

bool ext2Class::readJournalBlocks(std::uint64_t first, std::span<std::uint8_t> out) {
    const std::uint32_t bs = geometry.blockSize;
    if (out.size() < bs) {
        // The head of one block.
        const auto run = std::upper_bound(journalRuns_.begin(), journalRuns_.end(), first,
                                          [](std::uint64_t l, const Ext2Run& r) { return l < r.logical; });
        if (run == journalRuns_.begin() || first >= std::prev(run)->logical + std::prev(run)->count ||
            std::prev(run)->zeros)
            return false;
        const Ext2Run& r = *std::prev(run);
        return readBytes((r.physical + (first - r.logical)) * bs, out);
    }
    const std::uint64_t count = out.size() / bs;
    bool ok = true;
    for (std::uint64_t done = 0; done < count;) {
        const std::uint64_t logical = first + done;
        const auto run = std::upper_bound(journalRuns_.begin(), journalRuns_.end(), logical,
                                          [](std::uint64_t l, const Ext2Run& r) { return l < r.logical; });
        std::uint64_t n = 1;
        const std::span<std::uint8_t> piece = out.subspan(static_cast<std::size_t>(done * bs));
        if (run == journalRuns_.begin() || logical >= std::prev(run)->logical + std::prev(run)->count ||
            std::prev(run)->zeros) {
            std::fill_n(piece.begin(), bs, 0);
        } else {
            const Ext2Run& r = *std::prev(run);
            n = std::min(count - done, r.logical + r.count - logical);
            if (!readBlocks(r.physical + (logical - r.logical), piece.first(static_cast<std::size_t>(n * bs)))) ok = false;
        }
        done += n;
    }
    return ok;
}

bool ext2Class::readJournalCopy(const Ext2JournalCopy& copy, std::span<std::uint8_t> out) {
    if (!readJournalBlocks(copy.journalBlock, out.first(geometry.blockSize))) return false;
    Ext2JournalReader::unescape(out, copy.escaped);
    return true;
}

bool ext2Class::readNodeAsOf(std::uint64_t block, std::uint32_t sequence, std::span<std::uint8_t> out) {
    const auto begin = std::lower_bound(journal_.copies.begin(), journal_.copies.end(), block,
                                        [](const Ext2JournalCopy& c, std::uint64_t b) { return c.fsBlock < b; });
    const Ext2JournalCopy* best = nullptr;
    for (auto it = begin; it != journal_.copies.end() && it->fsBlock == block && it->sequence <= sequence; ++it)
        best = &*it;
    if (best) return readJournalCopy(*best, out);
    return readBlocks(block, out);
}

void ext2Class::noteDirectoryBlocks(std::uint32_t inode, std::uint64_t physical, std::uint64_t count) {
    for (std::uint64_t b = 0; b < count; ++b) directoryBlocks_.emplace(physical + b, inode);
}

void ext2Class::readJournal() {
    journalNote.clear();
    journalCopies = 0;
    journal_ = Ext2JournalScan{};
    journalRuns_.clear();
    journalInodes_.clear();
    directoryBlocks_.clear();
    journalBlockKinds_.clear();
    if (!(le32(superblock, kSbFeatureCompat) & kCompatHasJournal) || deletedInodes_.empty()) return;
    if (le32(superblock, kSbJournalInum) != kJournalInode) {
        journalNote = "journal not in inode 8 (external journals are not read)";
        setStatus(journalNote);
        return;
    }
    std::vector<std::uint8_t> inode;
    if (!readInode(kJournalInode, inode)) {
        journalNote = "journal inode unreadable";
        setStatus(journalNote);
        return;
    }
    const std::uint32_t bs = geometry.blockSize;
    // The map is followed no further than a journal can be long, nor than the volume is.
    const std::uint64_t limit =
        std::min({Ext2BlockMap::blocksForSize(fileSize(inode), bs), kMaxJournalBlocks, geometry.blocksCount});
    Ext2BlockMap map(geometry, [&](std::uint64_t block, std::span<std::uint8_t> out) { return readBlocks(block, out); });
    std::uint64_t mapped = 0;
    map.map(subspan(inode, kInBlock, kInBlockBytes), le32(inode, kInFlags), limit, [&](const Ext2Run& run) {
        journalRuns_.push_back(run);
        mapped = run.logical + run.count;
        return true;
    });
    // Whether each block reads as a folder block is seen as the scan passes it, so the copies
    // need not be read again to find the folder blocks among them.
    journalBlockKinds_.assign(static_cast<std::size_t>(mapped), 0);
    journal_ = Ext2JournalReader::scan(
        bs, mapped, geometry.blocksCount,
        [&](std::uint64_t first, std::span<std::uint8_t> out) { return readJournalBlocks(first, out); },
        [&] { return stopped(); },
        [&](std::uint64_t j, ByteSpan block) {
            if (j < journalBlockKinds_.size())
                journalBlockKinds_[j] = looksLikeDirectoryBlock(block, geometry.fileTypeInEntries, recordCount) ? 2 : 1;
        });
    if (!journal_.usable) {
        journalNote = "journal skipped: " + journal_.note;
        setStatus(journalNote);
        return;
    }
    journalCopies = journal_.copies.size();
    findJournalInodes();
}

// For each deleted inode whose map the deletion cleared: its newest journalled copy in which it
// was live with a map, of the same life (generation) as the deleted one.
void ext2Class::findJournalInodes() {
    const std::uint32_t bs = geometry.blockSize;
    const std::uint32_t perBlock = bs / geometry.inodeSize;
    const std::uint64_t tableBlocks = Ext2BlockMap::blocksForSize(std::uint64_t{geometry.inodesPerGroup} * geometry.inodeSize, bs);
    // Inode tables by first block, to find which table a copied block belongs to.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> tables;
    for (std::uint32_t g = 0; g < groups.size(); ++g)
        if (groups[g].tableOnVolume) tables.emplace_back(groups[g].inodeTable, g);
    std::sort(tables.begin(), tables.end());
    std::vector<std::uint8_t> block(bs), current;
    std::vector<std::uint32_t> pending;
    const std::vector<Ext2JournalCopy>& copies = journal_.copies;
    for (std::size_t groupEnd = 0, groupStart = 0; groupStart < copies.size(); groupStart = groupEnd) {
        const std::uint64_t fsBlock = copies[groupStart].fsBlock;
        for (groupEnd = groupStart + 1; groupEnd < copies.size() && copies[groupEnd].fsBlock == fsBlock;) ++groupEnd;
        auto t = std::upper_bound(tables.begin(), tables.end(), std::make_pair(fsBlock, UINT32_MAX));
        if (t == tables.begin()) continue;
        --t;
        if (fsBlock - t->first >= tableBlocks) continue;
        const std::uint64_t firstNumber = std::uint64_t{t->second} * geometry.inodesPerGroup +
                                          (fsBlock - t->first) * perBlock + 1;
        pending.clear();
        for (auto it = std::lower_bound(deletedInodes_.begin(), deletedInodes_.end(), firstNumber);
             it != deletedInodes_.end() && *it < firstNumber + perBlock; ++it)
            pending.push_back(*it);
        // Copies of one block come oldest first: each deleted inode takes the newest copy in
        // which it was live, so they are looked at newest first until every one has its copy.
        for (std::size_t k = groupEnd; k-- > groupStart && !pending.empty();) {
            if (!readJournalCopy(copies[k], block)) continue;
            std::erase_if(pending, [&](std::uint32_t number) {
                const ByteSpan old = subspan(block, static_cast<std::size_t>((number - firstNumber) * geometry.inodeSize),
                                             geometry.inodeSize);
                if (le16(old, kInLinksCount) == 0 || le32(old, kInDtime) != 0 || emptyMap(old)) return false;
                if (!readInode(number, current) || !emptyMap(current)) return false;
                if (le32(old, kInGeneration) != le32(current, kInGeneration)) return false;
                if ((le16(old, kInMode) & kModeTypeMask) != (le16(current, kInMode) & kModeTypeMask)) return false;
                JournalInode& j = journalInodes_[number];
                j.sequence = copies[k].sequence;
                j.bytes.assign(old.begin(), old.end());
                return true;
            });
        }
    }
    // Deleted folders get their names from the copy's map.
    for (const auto& [number, copy] : journalInodes_) {
        if ((le16(copy.bytes, kInMode) & kModeTypeMask) != kModeDirectory) continue;
        addDirectory(number, copy.bytes, true);
        directories_.back().fromJournal = true;
    }
    std::stable_sort(directories_.begin(), directories_.end(),
                     [](const DirectoryInode& a, const DirectoryInode& b) { return a.number < b.number; });
}

// Which journal copies read as directory blocks: as the journal scan saw them, or where it did
// not (an escaped copy, whose first bytes differ from the stored ones, or a block it could not
// read in its piece) by reading them in the order they lie in the journal, neighbours in one
// read: in block order they come one at a time from all over the log, a read call each.
std::vector<bool> ext2Class::journalDirectoryCopies() {
    const std::vector<Ext2JournalCopy>& copies = journal_.copies;
    const std::uint32_t bs = geometry.blockSize;
    std::vector<bool> looks(copies.size(), false);
    // An escaped copy starts with the journal's magic, which as an inode number is past every
    // inode of a volume this size: no such copy reads as a directory block then.
    std::array<std::uint8_t, 4> magic{};
    Ext2JournalReader::unescape(magic, true);
    const bool escapedNeverDirectory = le32(magic, 0) > recordCount;
    // A journal holds at most kMaxJournalBlocks copies: their positions fit 32 bits.
    std::vector<std::uint32_t> order;
    for (std::size_t i = 0; i < copies.size(); ++i) {
        const Ext2JournalCopy& copy = copies[i];
        const std::uint8_t kind = copy.journalBlock < journalBlockKinds_.size() ? journalBlockKinds_[copy.journalBlock] : 0;
        if (copy.escaped ? escapedNeverDirectory : kind != 0)
            looks[i] = !copy.escaped && kind == 2;
        else
            order.push_back(static_cast<std::uint32_t>(i));
    }
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return copies[a].journalBlock < copies[b].journalBlock; });
    const std::size_t pieceBlocks = std::max<std::size_t>(1, static_cast<std::size_t>(kJournalPieceBytes / bs));
    std::vector<std::uint8_t> piece;
    for (std::size_t a = 0; a < order.size();) {
        if (stopped()) break;
        std::size_t b = a + 1;
        while (b < order.size() && b - a < pieceBlocks &&
               copies[order[b]].journalBlock == copies[order[b - 1]].journalBlock + 1)
            ++b;
        piece.resize((b - a) * bs);
        const bool whole = readJournalBlocks(copies[order[a]].journalBlock, piece);
        for (std::size_t k = a; k < b; ++k) {
            const Ext2JournalCopy& copy = copies[order[k]];
            const std::span<std::uint8_t> block = std::span(piece).subspan((k - a) * bs, bs);
            // A piece with an unreadable block: each block of it as it reads alone.
            if (!whole && !readJournalBlocks(copy.journalBlock, block)) continue;
            Ext2JournalReader::unescape(block, copy.escaped);
            looks[order[k]] = looksLikeDirectoryBlock(block, geometry.fileTypeInEntries, recordCount);
        }
        a = b;
    }
    return looks;
}

// Every journalled copy that reads as a directory block: its names, live and hidden, attach to
// the folder that owns the block ("." names it in a folder's first block).
void ext2Class::walkJournalDirectories(std::vector<std::uint8_t>& buffer) {
    const std::uint32_t bs = geometry.blockSize;
    const std::vector<bool> looks = journalDirectoryCopies();
    buffer.assign(bs, 0);
    for (std::size_t i = 0; i < journal_.copies.size(); ++i) {
        if (stopped()) return;
        const Ext2JournalCopy& copy = journal_.copies[i];
        if (!looks[i] || !readJournalCopy(copy, buffer)) continue;
        std::uint32_t owner = 0;
        if (u8(buffer, kDeNameLen) == 1 && u8(buffer, kDeHeaderSize) == '.') {
            owner = le32(buffer, kDeInode);
        } else {
            const auto it = directoryBlocks_.find(copy.fsBlock);
            if (it != directoryBlocks_.end()) owner = it->second;
        }
        // Names whose folder is unknown are left; their inodes still show under ORPHAN_ENTRY.
        if (owner == 0 || owner > recordCount) continue;
        WalkMode mode;
        mode.pass = false;
        mode.parent = directoryKey(owner);
        mode.hidden = true;
        walkDirectoryBlock(buffer, mode);
    }
}

} // namespace vindaru
