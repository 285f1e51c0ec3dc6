// The scan steps: superblock, group descriptors, inode tables, directory blocks, the entry map,
// the parent-child links and the tree's first level.
#include "fs/ext2/ext2Class.h"

#include <algorithm>
#include <set>

#include "common/DisplayFormat.h"
#include "fs/ext2/Ext2BlockMap.h"
#include "fs/ext2/Ext2Dirents.h"
#include "fs/ext2/Ext2InlineData.h"
#include "fs/ext2/Ext2Layout.h"
#include "volume/VolumeSweep.h"

namespace vindaru {

using namespace ext2layout;

namespace {

constexpr std::uint64_t kFirstProbe = 1024;
constexpr std::uint64_t kProbeStep = 512;
constexpr std::uint64_t kSmallestVolume = 1536;
constexpr std::uint64_t kProbePieceBytes = 256 * 1024;
// Metadata blocks a scan may read beyond one pass over the volume (maps of tiny volumes).
constexpr std::uint64_t kScanBlockSlack = 64;

unsigned long long ull(std::uint64_t v) { return static_cast<unsigned long long>(v); }

// Per-item status texts and progress go out for the first item, every 256th and the last: the
// status line shows the same words, without formatting a text per inode table or record.
bool reportItem(std::uint64_t index, std::uint64_t first, std::uint64_t last) {
    return index == first || index == last || (index - first) % 256 == 0;
}

} // namespace

ext2Class::ext2Class(const ByteSource& disk, VolumeRecord volume_, StatusSink* status,
                     ProgressSink* progress)
    : volume(std::move(volume_)), reader(volumeSlice(disk, volume)) {
    attachSinks(status, progress);
}

bool ext2Class::readBytes(std::uint64_t position, std::span<std::uint8_t> out) {
    return reader.readAt(position, out);
}

bool ext2Class::readBlocks(std::uint64_t block, std::span<std::uint8_t> out) {
    std::uint64_t position = 0;
    if (!checkedMul(block, geometry.blockSize, position)) return false;
    return readBytes(position, out);
}

bool ext2Class::attachVolume() { return reader.size() != 0; }

bool ext2Class::acceptProbe(std::uint64_t position, ByteSpan candidate) {
    superblock.assign(candidate.begin(), candidate.end());
    superblock.resize(kSuperblockSize, 0);
    const std::optional<Ext2Geometry> decoded = decodeSuperblock(superblock);
    if (!decoded) return false;
    geometry = *decoded;
    superblockOffset = position;
    // Groups that start past the disk's end hold nothing this disk has: a superblock that
    // claims billions of blocks does not size the group table.
    const std::uint64_t diskBlocks = reader.size() / geometry.blockSize + 1;
    if (diskBlocks > geometry.firstDataBlock) {
        const std::uint64_t data = diskBlocks - geometry.firstDataBlock;
        const std::uint64_t reachable = data / geometry.blocksPerGroup + 1;
        if (reachable < geometry.groupCount) geometry.groupCount = static_cast<std::uint32_t>(reachable);
    }
    return true;
}

bool ext2Class::findSuperblock() {
    if (volumeBytes <= kSmallestVolume) return false;
    std::vector<std::uint8_t> first(kSuperblockSize, 0);
    readBytes(kFirstProbe, first);
    if (acceptProbe(kFirstProbe, first)) return true;
    if (stopped()) {
        control.stopRequested.acknowledge();
        return false;
    }
    // A damaged primary: every 512-byte boundary is a candidate (a backup copy is found this
    // way), read in large pieces; a candidate's tail may run into the next piece.
    bool found = false;
    SweepRange range;
    range.begin = kFirstProbe + kProbeStep;
    range.end = volumeBytes;
    range.tailBytes = kSuperblockSize;
    range.skipHoles = true;
    // Small pieces, so a sparse image's holes are passed over without being read.
    range.pieceBytes = kProbePieceBytes;
    sweepVolume(reader, range, control, [&](const SweepPiece& piece) {
        for (std::uint64_t at = 0; at < piece.data.size(); at += kProbeStep) {
            const std::uint64_t p = piece.position + at;
            if (p + kProbeStep >= volumeBytes) return false;
            const ByteSpan candidate = subspan(piece.withTail, static_cast<std::size_t>(at), kSuperblockSize);
            if (hasExt2Magic(candidate) && acceptProbe(p, candidate)) {
                found = true;
                return false;
            }
        }
        return true;
    });
    if (!found) control.stopRequested.acknowledge();
    return found;
}

std::uint64_t ext2Class::descriptorBlock(std::uint64_t index) const {
    const std::uint64_t afterSuperblock = superblockOffset / geometry.blockSize + 1;
    if (!geometry.metaBg || index < geometry.firstMetaBg) return afterSuperblock + index;
    // With meta_bg each block of descriptors sits at the start of the first group it describes.
    const std::uint64_t group = index * (geometry.blockSize / geometry.descriptorSize);
    return geometry.groupFirstBlock(group) + (geometry.groupHasSuperblock(group) ? 1 : 0);
}

bool ext2Class::readGroupDescriptors() {
    groups.assign(geometry.groupCount, Ext2GroupInfo{});
    const std::uint32_t perBlock = geometry.blockSize / geometry.descriptorSize;
    const std::uint64_t tableBlocks =
        Ext2BlockMap::blocksForSize(std::uint64_t{geometry.inodesPerGroup} * geometry.inodeSize,
                                    geometry.blockSize);
    std::vector<std::uint8_t> block(geometry.blockSize);
    bool anyTable = false;
    for (std::uint64_t d = 0; d * perBlock < geometry.groupCount; ++d) {
        const std::uint64_t where = descriptorBlock(d);
        std::fill(block.begin(), block.end(), 0);
        if (where >= geometry.blocksCount || !readBlocks(where, block)) continue;
        for (std::uint32_t i = 0; i < perBlock && d * perBlock + i < geometry.groupCount; ++i) {
            const ByteSpan desc = subspan(block, std::size_t{i} * geometry.descriptorSize, geometry.descriptorSize);
            Ext2GroupInfo& info = groups[d * perBlock + i];
            info.inodeTable = le32(desc, kGdInodeTableLo);
            info.blockBitmap = le32(desc, kGdBlockBitmapLo);
            info.blocksUninitialised = geometry.tablesMayBeUninitialised && (le16(desc, kGdFlags) & kGroupBlockUninit);
            std::uint32_t unused = le16(desc, kGdItableUnusedLo);
            if (geometry.is64Bit) {
                info.inodeTable |= std::uint64_t{le32(desc, kGdInodeTableHi)} << 32;
                info.blockBitmap |= std::uint64_t{le32(desc, kGdBlockBitmapHi)} << 32;
                unused |= std::uint32_t{le16(desc, kGdItableUnusedHi)} << 16;
            }
            info.usedInodes = geometry.inodesPerGroup;
            // Tables that were never initialised may hold stale bytes from before mkfs.
            if (geometry.tablesMayBeUninitialised) {
                if (le16(desc, kGdFlags) & kGroupInodeUninit)
                    info.usedInodes = 0;
                else if (unused <= geometry.inodesPerGroup)
                    info.usedInodes = geometry.inodesPerGroup - unused;
            }
            std::uint64_t end = 0;
            std::uint64_t endByte = 0;
            info.tableOnVolume = info.inodeTable != 0 && checkedAdd(info.inodeTable, tableBlocks, end) &&
                                 end <= geometry.blocksCount && checkedMul(end, geometry.blockSize, endByte);
            anyTable = anyTable || info.tableOnVolume;
        }
    }
    return anyTable;
}

bool ext2Class::deletedState(ByteSpan inode) const {
    return le32(inode, kInDtime) != 0 || le16(inode, kInLinksCount) == 0;
}

void ext2Class::addDirectory(std::uint32_t number, ByteSpan inode, bool deleted) {
    const std::uint32_t flags = le32(inode, kInFlags);
    DirectoryInode dir;
    dir.number = number;
    dir.flags = flags;
    dir.size = fileSize(inode);
    dir.deleted = deleted;
    if (flags & kFlagInlineData) {
        // The entries after the parent's number, then those in the attribute, as one run.
        const ByteSpan map = subspan(inode, kInBlock + kInlineDirParentBytes, kInBlockBytes - kInlineDirParentBytes);
        const ByteSpan tail = inlineDataTail(inode);
        dir.inlineEntries.assign(map.begin(), map.end());
        dir.inlineSplit = map.size();
        dir.inlineEntries.insert(dir.inlineEntries.end(), tail.begin(), tail.end());
    } else {
        if (le32(inode, kInBlock) == 0) return;
        std::copy_n(inode.begin() + kInBlock, kInBlockBytes, dir.blockMap.begin());
    }
    directories_.push_back(std::move(dir));
}

bool ext2Class::readInodeTables() {
    directories_.clear();
    deletedInodes_.clear();
    firstInode_ = le32(superblock, kSbRevLevel) == 0 ? kGoodOldFirstInode : le32(superblock, kSbFirstIno);
    // Numbers below the usual first one are the system's own, whatever the superblock says.
    if (firstInode_ < kGoodOldFirstInode) firstInode_ = kGoodOldFirstInode;
    recordCount = geometry.recordCount();
    progress_->setRange(0, geometry.groupCount);
    const std::uint32_t inodeSize = geometry.inodeSize;
    const std::uint64_t perPiece = kReadPieceBytes / inodeSize;
    // Tables of a sound volume never add up to more than the volume: groups that share one
    // table are read once over.
    std::uint64_t budget = reader.size();
    Ext2Table<std::uint8_t> piece;
    for (std::uint32_t g = 0; g < geometry.groupCount; ++g) {
        if (stopped()) {
            control.stopRequested.acknowledge();
            break;
        }
        const std::uint64_t firstKey = std::uint64_t{g} * geometry.inodesPerGroup;
        if (firstKey >= recordCount) break;
        if (reportItem(g + 1, 1, geometry.groupCount)) {
            setStatus(formatText("parsing group %llu  of %llu ", ull(g + 1), ull(geometry.groupCount)));
            progress_->setPosition(g + 1);
        }
        const Ext2GroupInfo& info = groups[g];
        if (!info.tableOnVolume) continue;
        const std::uint64_t count = std::min<std::uint64_t>(info.usedInodes, recordCount - firstKey);
        const std::uint64_t tableStart = info.inodeTable * geometry.blockSize;
        for (std::uint64_t done = 0; done < count;) {
            const std::uint64_t n = std::min(perPiece, count - done);
            const std::uint64_t bytes = n * inodeSize;
            if (bytes > budget) return true;
            budget -= bytes;
            // The read fills the whole piece (what it cannot read as zeros): no clearing first.
            piece.resize(static_cast<std::size_t>(bytes));
            readBytes(tableStart + done * inodeSize, piece);
            for (std::uint64_t i = 0; i < n; ++i) {
                const ByteSpan inode = subspan(piece, static_cast<std::size_t>(i * inodeSize), inodeSize);
                const std::uint16_t type = le16(inode, kInMode) & kModeTypeMask;
                const std::uint32_t number = static_cast<std::uint32_t>(firstKey + done + i + 1);
                const bool deleted = type != 0 && number >= firstInode_ && deletedState(inode);
                if (deleted) deletedInodes_.push_back(number);
                if (type == kModeDirectory) addDirectory(number, inode, deleted);
            }
            done += n;
        }
    }
    return true;
}

void ext2Class::applyName(std::uint32_t inode, std::string_view name, std::uint16_t typeMode) {
    const bool dots = name == "." || name == "..";
    bool named = true;
    if (dots && !passFirst_) {
        if (name == ".") passParent_ = std::int64_t{inode} - 1;
        named = false;
    } else if (passFirst_) {
        passParent_ = inode;
        passFirst_ = false;
    }
    if (inode == 0 || inode > recordCount) return;
    if (!named && typeMode == 0) return;
    NameEvent event;
    event.inode = inode;
    event.mode = typeMode;
    if (named) {
        event.nameOffset = namePool_.size();
        event.nameLength = static_cast<std::uint16_t>(name.size());
        event.parent = passParent_;
        namePool_.append(name);
    }
    events_.push_back(event);
}

// A name the live chain does not show: kept for a deleted inode only (buildEntryMap decides).
void ext2Class::addName(std::uint32_t inode, std::string_view name, std::int64_t parent, bool hidden) {
    if (inode == 0 || inode > recordCount || name == "." || name == "..") return;
    if (hidden && !std::binary_search(deletedInodes_.begin(), deletedInodes_.end(), inode)) return;
    NameEvent event;
    event.inode = inode;
    event.nameOffset = namePool_.size();
    event.nameLength = static_cast<std::uint16_t>(name.size());
    event.parent = parent;
    namePool_.append(name);
    events_.push_back(event);
}

void ext2Class::scanSlack(ByteSpan block, std::size_t from, std::size_t to, std::int64_t parent) {
    scanDirentSlack(block, from, to, geometry.fileTypeInEntries, recordCount,
                    [&](const Ext2HiddenEntry& e) { addName(e.inode, e.name, parent, true); });
}

void ext2Class::walkDirectoryBlock(ByteSpan block, const WalkMode& mode) {
    const std::size_t size = block.size();
    for (std::size_t offset = 0; offset < size;) {
        if (!fits(block, offset, kDeHeaderSize)) break;
        const std::uint32_t inode = le32(block, offset + kDeInode);
        const std::uint16_t recLen = le16(block, offset + kDeRecLen);
        std::size_t nameLength = 0;
        std::size_t next = 0;
        std::uint16_t typeMode = 0;
        if (geometry.fileTypeInEntries) {
            nameLength = u8(block, offset + kDeNameLen);
            const std::uint8_t type = u8(block, offset + kDeFileType);
            // The entry's type sets the inode's mode even when the entry names nothing.
            if (!mode.hidden && inode > 0 && inode <= recordCount &&
                (type == kDeTypeDirectory || type == kDeTypeRegular))
                typeMode = type == kDeTypeDirectory ? kModeDirectory : kModeRegular;
            if (nameLength == 0 || recLen == 0 || inode > recordCount) {
                if (typeMode != 0) events_.push_back(NameEvent{0, -1, inode, 0, typeMode});
                break;
            }
            const std::size_t least = direntLength(nameLength);
            next = offset + (recLen < least + 4 ? least : recLen);
        } else {
            nameLength = le16(block, offset + kDeNameLen);
            if (nameLength == 0 || recLen == 0 || nameLength > kDeMaxNameLenWithoutTypes) break;
            next = offset + recLen;
        }
        // A name that runs past the block is not an entry.
        if (!fits(block, offset + kDeHeaderSize, nameLength)) {
            if (typeMode != 0) events_.push_back(NameEvent{0, -1, inode, 0, typeMode});
            break;
        }
        const auto* name = reinterpret_cast<const char*>(block.data() + offset + kDeHeaderSize);
        if (mode.pass)
            applyName(inode, std::string_view(name, nameLength), typeMode);
        else
            addName(inode, std::string_view(name, nameLength), mode.parent, mode.hidden);
        // What a deletion merged into this entry's record: the names it hid.
        const std::size_t used = offset + direntLength(nameLength);
        if (next > used + kDeHeaderSize) scanSlack(block, used, std::min(next, size), mode.pass ? passParent_ : mode.parent);
        offset = next;
    }
}

std::int64_t ext2Class::directoryKey(std::uint32_t inode) const {
    return inode == kRootInode ? std::int64_t{kExt2RootKey} : std::int64_t{inode} - 1;
}

void ext2Class::walkDirectory(const DirectoryInode& directory, std::vector<std::uint8_t>& buffer) {
    // A deleted folder's names attach to it by its number; the naming pass's rule is for the
    // live chain of folders.
    WalkMode mode;
    if (directory.deleted || !directory.inlineEntries.empty()) {
        mode.pass = false;
        mode.parent = directoryKey(directory.number);
        mode.hidden = directory.deleted;
    }
    if (!directory.inlineEntries.empty()) {
        const ByteSpan all(directory.inlineEntries);
        walkDirectoryBlock(all.first(directory.inlineSplit), mode);
        walkDirectoryBlock(all.subspan(directory.inlineSplit), mode);
        return;
    }
    const std::uint32_t bs = geometry.blockSize;
    const auto journalled = journalInodes_.find(directory.number);
    const std::uint32_t asOf = directory.fromJournal && journalled != journalInodes_.end() ? journalled->second.sequence : 0;
    Ext2BlockMap map(geometry, [&](std::uint64_t block, std::span<std::uint8_t> out) {
        if (scanBlockBudget_ == 0) return false;
        --scanBlockBudget_;
        return directory.fromJournal ? readNodeAsOf(block, asOf, out) : readBlocks(block, out);
    });
    const std::uint64_t perPiece = kReadPieceBytes / bs;
    // The kernel leaves a deleted folder's size at 0: its map alone says how far it went.
    const std::uint64_t limit = directory.deleted && directory.size == 0 ? geometry.blocksCount
                                                                         : Ext2BlockMap::blocksForSize(directory.size, bs);
    map.map(directory.blockMap, directory.flags, limit, [&](const Ext2Run& run) {
        if (run.zeros) return true;
        for (std::uint64_t done = 0; done < run.count;) {
            const std::uint64_t n = std::min({perPiece, run.count - done, scanBlockBudget_});
            if (n == 0) return false;
            scanBlockBudget_ -= n;
            if (journal_.usable) noteDirectoryBlocks(directory.number, run.physical + done, n);
            buffer.resize(static_cast<std::size_t>(n * bs));
            if (readBlocks(run.physical + done, buffer))
                for (std::uint64_t b = 0; b < n; ++b) {
                    // A deleted folder's block that another file holds now is that file's.
                    if (directory.deleted && blockInUse(run.physical + done + b)) continue;
                    walkDirectoryBlock(subspan(buffer, static_cast<std::size_t>(b * bs), bs), mode);
                }
            done += n;
        }
        return true;
    });
}

bool ext2Class::parseDirectories() {
    const std::uint64_t n = recordCount;
    if (n == 0) return false;
    progress_->setRange(0, static_cast<std::int64_t>(n));
    passParent_ = 0;
    passFirst_ = true;
    scanBlockBudget_ = reader.size() / geometry.blockSize + kScanBlockSlack;
    reserveForNames();
    std::vector<std::uint8_t> buffer;
    std::size_t next = 0;
    for (std::uint64_t a = 0; a < n; a += geometry.inodesPerGroup) {
        if (stopped()) break;
        if (reportItem(a / geometry.inodesPerGroup, 0, (n - 1) / geometry.inodesPerGroup)) {
            setStatus(formatText("parsing inode entry %llu  of %llu ", ull(a + 1), ull(n)));
            progress_->setPosition(static_cast<std::int64_t>(a + 1));
        }
        const std::uint64_t groupEnd = a + geometry.inodesPerGroup;
        while (next < directories_.size() && directories_[next].number <= groupEnd)
            walkDirectory(directories_[next++], buffer);
    }
    if (journal_.usable && !stopped()) walkJournalDirectories(buffer);
    setStatus(formatText("parsed inode entry %llu  of %llu ", ull(n), ull(n)));
    progress_->setPosition(static_cast<std::int64_t>(n));
    // The folders the journal holds belong to this step too: a stop it saw ends them as well,
    // and only as the step ends lets the next step go on.
    control.stopRequested.acknowledge();
    return true;
}

// Room for the names the folders' sizes promise, taken once: growing the tables entry by entry
// copies them over and over. Only what is filled in is touched, so a generous guess costs
// address space, not memory; sizes from a damaged volume cannot make it exceed the caps.
void ext2Class::reserveForNames() {
    std::uint64_t bytes = 0;
    for (const DirectoryInode& d : directories_)
        bytes += std::min<std::uint64_t>(d.size, reader.size()) + d.inlineEntries.size();
    bytes = std::min(bytes, reader.size());
    events_.reserve(static_cast<std::size_t>(std::min(bytes / direntLength(1), kMaxReservedEvents)));
    namePool_.reserve(static_cast<std::size_t>(namePool_.size() + std::min(bytes, kMaxReservedNameBytes)));
}

void ext2Class::buildEntryMap() {
    setStatus("clearing vector....");
    entries.clear();
    // The events by inode, each inode's in the order the pass met them: sorted as (inode,
    // position) pairs, so the events themselves stay where they are. Folders are walked by
    // number but name inodes all over the table, so the order is rarely there already.
    if (events_.size() > UINT32_MAX) events_.resize(UINT32_MAX);
    Ext2Table<std::uint64_t> order;
    order.reserve(events_.size());
    for (std::size_t i = 0; i < events_.size(); ++i) order.push_back(std::uint64_t{events_[i].inode} << 32 | i);
    if (!std::is_sorted(order.begin(), order.end())) std::sort(order.begin(), order.end());
    const auto event = [&](std::size_t i) -> const NameEvent& { return events_[order[i] & UINT32_MAX]; };
    // Per entry: a mode set by a directory entry's type (0: none), and whether the entry holds
    // its inode's last name (the one a directory keeps; a file keeps every name it has, so a
    // hard-linked file stands in each of its folders).
    std::vector<std::uint16_t> modeSet;
    std::vector<bool> lastName;
    entries.reserve(events_.size() + 1);
    modeSet.reserve(events_.size() + 1);
    lastName.reserve(events_.size() + 1);
    std::set<std::pair<std::int64_t, std::string_view>> seen;
    const auto addEntry = [&](const NameEvent& ev, std::uint16_t mode, bool last) {
        ext2Entry e;
        e.key = ev.inode - 1;
        e.nameOffset = ev.nameOffset;
        e.nameLength = ev.nameLength;
        e.parent = ev.parent;
        entries.push_back(e);
        modeSet.push_back(mode);
        lastName.push_back(last);
    };
    for (std::size_t i = 0; i < order.size();) {
        const std::uint32_t inode = event(i).inode;
        std::uint16_t mode = 0;
        std::size_t first = i;
        std::size_t named = 0;
        for (; i < order.size() && event(i).inode == inode; ++i) {
            if (event(i).mode != 0) mode = event(i).mode;
            named += event(i).named();
        }
        std::size_t last = i;
        while (last > first && !event(last - 1).named()) --last;
        if (named == 0) continue;
        if (named == 1) {
            // One name, as nearly every inode has: nothing to compare it with.
            addEntry(event(last - 1), mode, true);
            continue;
        }
        seen.clear();
        // The last name first, so a repeated name is kept at its last place.
        for (std::size_t k = last; k-- > first;) {
            const NameEvent& ev = event(k);
            if (!ev.named()) continue;
            const std::string_view name = std::string_view(namePool_).substr(ev.nameOffset, ev.nameLength);
            if (seen.emplace(ev.parent, name).second) addEntry(ev, mode, k + 1 == last);
        }
    }
    order.clear();
    order.shrink_to_fit();
    events_.clear();
    events_.shrink_to_fit();
    directories_.clear();
    directories_.shrink_to_fit();
    fillInodeFields();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (modeSet[i] != 0) entries[i].mode = modeSet[i];
        if (!lastName[i] && (entries[i].mode & kModeTypeMask) == kModeDirectory) continue;
        entries[kept++] = entries[i];
    }
    entries.resize(kept);
    if (!refOfKey(kExt2RootKey)) {
        const auto at = std::lower_bound(entries.begin(), entries.end(), kExt2RootKey,
                                         [](const ext2Entry& e, std::uint32_t key) { return e.key < key; });
        ext2Entry root;
        root.key = kExt2RootKey;
        root.nameOffset = namePool_.size();
        root.nameLength = static_cast<std::uint16_t>(std::string_view(kExt2RootName).size());
        root.mode = kModeDirectory;
        root.synthetic = true; // no inode of its own
        namePool_.append(kExt2RootName);
        entries.insert(at, root);
    }
    addOrphans();
}

// Mode, size and state of every named inode, read in key order so the tables stream by.
void ext2Class::fillInodeFields() {
    for (ext2Entry& e : entries) fillInodeFields(e);
}

void ext2Class::fillInodeFields(ext2Entry& e) {
    if (e.synthetic) return;
    std::optional<ByteSpan> inode = inodeAt(e.key + 1);
    if (!inode) return;
    e.deleted = deletedState(*inode);
    // A cleared inode keeps its mode; its size is the last live copy's.
    if (e.deleted) inode = entryInode(e);
    e.mode = le16(*inode, kInMode);
    e.size = fileSize(*inode);
}

// Deleted inodes that no name reaches, as INODE_N under ORPHAN_ENTRY (the last key).
void ext2Class::addOrphans() {
    orphanKey_ = kExt2NoEntry;
    if (recordCount >= kExt2NoEntry) return;
    std::vector<std::uint8_t> inode;
    const std::size_t named = entries.size();
    for (std::uint32_t number : deletedInodes_) {
        const std::uint32_t key = number - 1;
        const auto at = std::lower_bound(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(named), key,
                                         [](const ext2Entry& e, std::uint32_t k) { return e.key < k; });
        if (at != entries.begin() + static_cast<std::ptrdiff_t>(named) && at->key == key) continue;
        ext2Entry e;
        e.key = key;
        const std::string name = "INODE_" + std::to_string(number);
        e.nameOffset = namePool_.size();
        e.nameLength = static_cast<std::uint16_t>(name.size());
        namePool_.append(name);
        e.parent = static_cast<std::int64_t>(recordCount);
        fillInodeFields(e);
        entries.push_back(e);
    }
    std::inplace_merge(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(named), entries.end(),
                       [](const ext2Entry& a, const ext2Entry& b) { return a.key < b.key; });
    const bool anyOrphan = entries.size() > named;
    ext2Entry orphan;
    orphan.key = static_cast<std::uint32_t>(recordCount);
    orphan.nameOffset = namePool_.size();
    orphan.nameLength = static_cast<std::uint16_t>(std::string_view(kExt2OrphanName).size());
    orphan.mode = kModeDirectory;
    orphan.parent = kExt2RootKey;
    orphan.synthetic = true;
    entries.push_back(orphan);
    const bool anyPlaced = placeUnreachable();
    if (!anyOrphan && !anyPlaced) {
        entries.pop_back();
        return;
    }
    namePool_.append(kExt2OrphanName);
    orphanKey_ = orphan.key;
}

// Deleted entries whose parent chain never reaches the root (a folder lost with no name, or
// folders that name each other) go under ORPHAN_ENTRY, at the place where their chain breaks,
// so each such subtree stays whole. The orphan folder is the last entry.
bool ext2Class::placeUnreachable() {
    enum : std::uint8_t { Unknown, OnPath, Reaches, Lost };
    std::vector<std::uint8_t> state(entries.size(), Unknown);
    const std::size_t orphan = entries.size() - 1;
    state[orphan] = Reaches;
    if (const auto root = rootRef()) state[*root] = Reaches;
    bool placed = false;
    std::vector<std::size_t> path;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        path.clear();
        std::size_t at = i;
        std::uint8_t end = Lost;
        while (true) {
            if (state[at] == Reaches || state[at] == Lost) {
                end = state[at];
                break;
            }
            if (state[at] == OnPath) {
                // A loop closes here: it is cut at this entry when it was deleted.
                if (entries[at].deleted) {
                    entries[at].parent = entries[orphan].key;
                    placed = true;
                    end = Reaches;
                }
                break;
            }
            state[at] = OnPath;
            path.push_back(at);
            const std::int64_t parent = entries[at].parent;
            const std::optional<EntryRef> p =
                parent < 1 || parent > UINT32_MAX ? std::nullopt : refOfKey(static_cast<std::uint32_t>(parent));
            if (!p || *p == at) {
                if (entries[at].deleted) {
                    entries[at].parent = entries[orphan].key;
                    placed = true;
                    end = Reaches;
                }
                break;
            }
            at = static_cast<std::size_t>(*p);
        }
        for (std::size_t k : path) state[k] = end;
    }
    return placed;
}

void ext2Class::linkParentChild() {
    setStatus("Maintaining Parent Child....");
    const std::size_t total = entries.size();
    progress_->setRange(0, static_cast<std::int64_t>(total));
    for (std::size_t c = 0; c < total; ++c) {
        if (stopped()) break;
        if (reportItem(c, 0, total - 1)) {
            setStatus(formatText("Maintaining Parent Child for record %llu of %llu....", ull(c), ull(total)));
            progress_->setPosition(static_cast<std::int64_t>(c + 1));
        }
        ext2Entry& e = entries[c];
        if (e.parent < 1 || e.parent > UINT32_MAX) continue;
        const std::optional<EntryRef> parent = refOfKey(static_cast<std::uint32_t>(e.parent));
        if (!parent || *parent == c) continue;
        ext2Entry& p = entries[*parent];
        e.nextSibling = p.firstChild;
        p.firstChild = static_cast<std::uint32_t>(c);
    }
}

std::optional<EntryRef> ext2Class::refOfKey(std::uint32_t key) const {
    const auto at = std::lower_bound(entries.begin(), entries.end(), key,
                                     [](const ext2Entry& e, std::uint32_t k) { return e.key < k; });
    if (at == entries.end() || at->key != key) return std::nullopt;
    return static_cast<EntryRef>(at - entries.begin());
}

std::string_view ext2Class::entryName(EntryRef ref) const {
    if (!isValidRef(ref)) return {};
    const ext2Entry& e = entries[ref];
    return std::string_view(namePool_).substr(e.nameOffset, e.nameLength);
}

bool ext2Class::isDirectory(EntryRef ref) const {
    return isValidRef(ref) && (entries[ref].mode & kModeTypeMask) == kModeDirectory;
}

std::vector<EntryRef> ext2Class::childrenOf(EntryRef ref) const {
    std::vector<EntryRef> out;
    if (!isValidRef(ref)) return out;
    // The links are built here and cannot loop; the bound only guards against a fault of ours.
    for (std::uint32_t c = entries[ref].firstChild; c != kExt2NoEntry && out.size() < entries.size();
         c = entries[c].nextSibling)
        out.push_back(c);
    return out;
}

} // namespace vindaru
