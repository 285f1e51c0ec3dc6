// What the browser asks of one entry after the scan: its inode (through a small cache of inode
// table pieces), the list texts, its times, and its content.
#include <algorithm>

#include "common/DisplayFormat.h"
#include "common/TimeConvert.h"
#include "fs/ext2/Ext2BlockMap.h"
#include "fs/ext2/Ext2InlineData.h"
#include "fs/ext2/Ext2Layout.h"
#include "fs/ext2/ext2Class.h"

namespace vindaru {

using namespace ext2layout;

namespace {

// Inode tables are read in aligned pieces of this size; a folder's files sit close together.
constexpr std::uint64_t kInodeChunkBytes = 64 * 1024;
constexpr std::size_t kInodeCacheSlots = 16;
// Fast symlinks keep their target in the block map area.
constexpr std::uint64_t kInlineBytes = kInBlockBytes;
constexpr std::uint32_t kNanosecondsPerSecond = 1'000'000'000;

struct InodeTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
};

// A 32-bit signed time, extended by the epoch bits and nanoseconds of its extra field when the
// inode is large enough to hold one.
InodeTime inodeTime(ByteSpan inode, std::size_t field, std::size_t extraField) {
    InodeTime t;
    t.seconds = static_cast<std::int32_t>(le32(inode, field));
    const std::size_t extraEnd = kInodeBaseSize + le16(inode, kInExtraIsize);
    if (inode.size() > kInodeBaseSize && extraField + 4 <= extraEnd && fits(inode, extraField, 4)) {
        const std::uint32_t extra = le32(inode, extraField);
        t.seconds += static_cast<std::int64_t>(extra & 3) << 32;
        const std::uint32_t ns = extra >> 2;
        t.nanoseconds = ns < kNanosecondsPerSecond ? ns : 0;
    }
    return t;
}

// The list's creation time: the birth time where the inode's extra part holds one (ext4 with
// large inodes); older inodes have none, and show their change time there instead.
InodeTime inodeCreationTime(ByteSpan inode) {
    const std::size_t extraEnd = kInodeBaseSize + le16(inode, kInExtraIsize);
    if (inode.size() > kInodeBaseSize && kInCrtime + 4 <= extraEnd && fits(inode, kInCrtime, 4))
        return inodeTime(inode, kInCrtime, kInCrtimeExtra);
    return inodeTime(inode, kInCtime, kInCtimeExtra);
}


std::string permissionText(std::uint16_t mode) {
    static const char* const kBits[] = {"-OE", "-OW", "-OR", "-GE", "-GW", "-GR", "-UE", "-UW", "-UR"};
    std::string out;
    for (std::size_t bit = 0; bit < std::size(kBits); ++bit)
        if (mode & (1u << bit)) out += kBits[bit];
    return out;
}

// Zeros for holes, shared by every save.
ByteSpan zeroPiece() {
    static const std::vector<std::uint8_t> zeros(kReadPieceBytes, 0);
    return zeros;
}

} // namespace

std::uint64_t ext2Class::fileSize(ByteSpan inode) const {
    std::uint64_t size = le32(inode, kInSizeLo);
    const std::uint16_t type = le16(inode, kInMode) & kModeTypeMask;
    // On directories the high half was the ACL block before large directories existed.
    if (type != kModeDirectory || geometry.largeDir)
        size |= std::uint64_t{le32(inode, kInSizeHigh)} << 32;
    return size;
}

bool ext2Class::readInode(std::uint32_t number, std::vector<std::uint8_t>& out) {
    const std::optional<ByteSpan> inode = inodeAt(number);
    if (!inode) return false;
    out.assign(inode->begin(), inode->end());
    return true;
}

std::optional<ByteSpan> ext2Class::inodeAt(std::uint32_t number) {
    if (number == 0 || number > recordCount || geometry.inodesPerGroup == 0) return std::nullopt;
    const std::uint64_t index = number - 1;
    const std::uint64_t g = index / geometry.inodesPerGroup;
    const std::uint64_t i = index % geometry.inodesPerGroup;
    if (g >= groups.size() || !groups[g].tableOnVolume) return std::nullopt;
    if (i >= groups[g].usedInodes) {
        zeroInode_.assign(geometry.inodeSize, 0);
        return ByteSpan(zeroInode_);
    }
    const std::uint64_t position = groups[g].inodeTable * geometry.blockSize + i * geometry.inodeSize;
    const std::uint64_t chunk = position - position % kInodeChunkBytes;
    // Entries come by key, so the next inode is nearly always in the piece the last one was.
    auto slot = inodeCache_.begin() + static_cast<std::ptrdiff_t>(lastCacheSlot_);
    if (lastCacheSlot_ >= inodeCache_.size() || slot->position != chunk)
        slot = std::find_if(inodeCache_.begin(), inodeCache_.end(), [&](const InodeChunk& c) { return c.position == chunk; });
    if (slot == inodeCache_.end()) {
        if (inodeCache_.size() < kInodeCacheSlots) {
            inodeCache_.emplace_back();
            slot = inodeCache_.end() - 1;
        } else {
            slot = inodeCache_.begin() + static_cast<std::ptrdiff_t>(nextCacheSlot_);
            nextCacheSlot_ = (nextCacheSlot_ + 1) % kInodeCacheSlots;
        }
        // The read fills the whole piece (what it cannot read as zeros): no clearing first.
        slot->bytes.resize(kInodeChunkBytes);
        if (!readBytes(chunk, slot->bytes)) {
            slot->position = UINT64_MAX;
            return std::nullopt;
        }
        slot->position = chunk;
    }
    lastCacheSlot_ = static_cast<std::size_t>(slot - inodeCache_.begin());
    // Inode sizes are powers of two no larger than a block: an inode never crosses a piece's end.
    return subspan(slot->bytes, static_cast<std::size_t>(position - chunk), geometry.inodeSize);
}

// Files written together share their time stamps: each second's text is made once.
const std::string& ext2Class::dateText(std::int64_t seconds) {
    auto it = dateTexts_.find(seconds);
    if (it != dateTexts_.end()) return it->second;
    if (dateTexts_.size() >= kMaxDateTexts) dateTexts_.clear();
    const std::optional<std::tm> local = unixToLocal(seconds);
    return dateTexts_.emplace(seconds, local ? formatDateTimeText(*local) : std::string()).first->second;
}

EntryTexts ext2Class::describeEntry(EntryRef ref) {
    EntryTexts texts;
    const std::optional<ByteSpan> found = isValidRef(ref) ? entryInode(entries[ref]) : std::nullopt;
    if (!found) return texts;
    const ByteSpan inode = *found;
    texts.creation = dateText(inodeCreationTime(inode).seconds);
    texts.access = dateText(inodeTime(inode, kInAtime, kInAtimeExtra).seconds);
    texts.modification = dateText(inodeTime(inode, kInMtime, kInMtimeExtra).seconds);
    texts.attributes = permissionText(le16(inode, kInMode));
    return texts;
}

std::string ext2Class::formatEntrySize(EntryRef ref) { return formatSizeText(entrySize(ref)); }

std::uint64_t ext2Class::entrySize(EntryRef ref) const {
    return isValidRef(ref) ? entries[ref].size : 0;
}

EntryTimes ext2Class::entryTimes(EntryRef ref) {
    EntryTimes times;
    const std::optional<ByteSpan> found = isValidRef(ref) ? entryInode(entries[ref]) : std::nullopt;
    if (!found) return times;
    const ByteSpan inode = *found;
    const InodeTime access = inodeTime(inode, kInAtime, kInAtimeExtra);
    const InodeTime modification = inodeTime(inode, kInMtime, kInMtimeExtra);
    times.known = true;
    times.accessSeconds = access.seconds;
    times.accessNanoseconds = access.nanoseconds;
    times.modificationSeconds = modification.seconds;
    times.modificationNanoseconds = modification.nanoseconds;
    return times;
}

Ext2BlockMap::Result ext2Class::mapEntryBlocks(const ext2Entry& e, ByteSpan inode, std::uint64_t blockLimit,
                                               const Ext2BlockMap::RunFn& onRun) {
    const auto journalled = e.deleted ? journalInodes_.find(e.key + 1) : journalInodes_.end();
    // A journal copy's map nodes are read as the journal kept them at that time, where it did.
    Ext2BlockMap map(geometry, [&](std::uint64_t block, std::span<std::uint8_t> out) {
        return journalled != journalInodes_.end() ? readNodeAsOf(block, journalled->second.sequence, out)
                                                  : readBlocks(block, out);
    });
    return map.map(subspan(inode, kInBlock, kInBlockBytes), le32(inode, kInFlags), blockLimit, onRun);
}

bool ext2Class::contentInInode(ByteSpan inode) const {
    const std::uint32_t flags = le32(inode, kInFlags);
    return (flags & kFlagInlineData) || ((le16(inode, kInMode) & kModeTypeMask) == kModeSymlink &&
                                         fileSize(inode) < kInlineBytes && !(flags & kFlagExtents));
}

bool ext2Class::writeEntryContent(EntryRef ref, const ContentSink& sink) {
    std::vector<std::uint8_t> inode;
    if (!isValidRef(ref) || entries[ref].synthetic || !readEntryInode(entries[ref], inode))
        return false;
    const std::uint32_t flags = le32(inode, kInFlags);
    const ByteSpan blockMap = subspan(inode, kInBlock, kInBlockBytes);
    if (contentInInode(inode)) {
        const std::uint64_t size = fileSize(inode);
        // The bytes live in the inode itself: the block map area, then for inline data the
        // rest in the "system.data" attribute.
        if (size == 0) return true;
        const std::size_t head = static_cast<std::size_t>(std::min(size, kInlineBytes));
        if (!sink(blockMap.first(head))) return false;
        if (size <= kInlineBytes) return true;
        if (!(flags & kFlagInlineData)) return false;
        const ByteSpan tail = inlineDataTail(inode);
        const std::size_t rest = static_cast<std::size_t>(std::min<std::uint64_t>(size - kInlineBytes, tail.size()));
        if (rest > 0 && !sink(tail.first(rest))) return false;
        return rest == size - kInlineBytes;
    }
    const ext2Entry& entry = entries[ref];

    const std::uint32_t bs = geometry.blockSize;
    // No map reaches past this many blocks, whatever the size field claims.
    const std::uint64_t perBlock = bs / 4;
    const std::uint64_t mapBlocks = (flags & kFlagExtents)
                                        ? (std::uint64_t{1} << 32)
                                        : kDirectBlocks + perBlock + perBlock * perBlock +
                                              perBlock * perBlock * perBlock;
    const std::uint64_t size = std::min(fileSize(inode) / bs, mapBlocks) == mapBlocks
                                   ? mapBlocks * bs
                                   : fileSize(inode);
    std::uint64_t handed = 0; // bytes given to the sink
    bool whole = true;
    bool sinkOk = true;
    auto zerosTo = [&](std::uint64_t end) {
        const ByteSpan zeros = zeroPiece();
        while (sinkOk && handed < end) {
            const std::uint64_t n = std::min<std::uint64_t>(end - handed, zeros.size());
            sinkOk = sink(zeros.first(static_cast<std::size_t>(n)));
            handed += n;
        }
        return sinkOk;
    };
    std::vector<std::uint8_t> buffer;
    const Ext2BlockMap::Result result =
        mapEntryBlocks(entry, inode, Ext2BlockMap::blocksForSize(size, bs), [&](const Ext2Run& run) {
            std::uint64_t start = run.logical * bs;
            const std::uint64_t endBlock = run.logical + run.count;
            const std::uint64_t end = endBlock > size / bs ? size : endBlock * bs;
            // Runs that go back over what was written already (a damaged tree) are cut.
            if (end <= handed) return true;
            std::uint64_t physical = run.physical;
            if (start < handed) {
                physical += (handed - start) / bs;
                start += (handed - start) / bs * bs;
            }
            if (!zerosTo(start)) return false;
            if (run.zeros) return zerosTo(end);
            // A deleted file's block that a live file holds now may hold that file's bytes.
            if (entry.deleted && runInUse(physical, Ext2BlockMap::blocksForSize(end - start, bs))) whole = false;
            while (handed < end) {
                const std::uint64_t n = std::min<std::uint64_t>(end - handed, kReadPieceBytes);
                const std::uint64_t blocks = Ext2BlockMap::blocksForSize(n, bs);
                // The read fills the whole piece (holes of the image as zeros): no clearing first.
                if (buffer.size() < blocks * bs) buffer.resize(static_cast<std::size_t>(blocks * bs));
                const std::span<std::uint8_t> piece = std::span(buffer).first(static_cast<std::size_t>(blocks * bs));
                if (!readBlocks(physical, piece)) {
                    whole = false;
                    std::fill(piece.begin(), piece.end(), 0);
                }
                if (!sink(ByteSpan(piece).first(static_cast<std::size_t>(n)))) return sinkOk = false;
                handed += n;
                physical += blocks;
            }
            return true;
        });
    // An extent flag over something that is not an extent tree: nothing can be placed.
    if (!result.validRoot) return false;
    if (!result.stopped) zerosTo(size);
    return sinkOk && whole && result.complete;
}

} // namespace vindaru
