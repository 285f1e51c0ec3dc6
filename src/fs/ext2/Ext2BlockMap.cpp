#include "fs/ext2/Ext2BlockMap.h"

#include "fs/ext2/Ext2Layout.h"

namespace vindaru {

using namespace ext2layout;

bool Ext2BlockMap::inVolume(std::uint64_t physical, std::uint64_t count) const {
    std::uint64_t end = 0;
    return physical != 0 && checkedAdd(physical, count, end) && end <= geometry_.blocksCount;
}

bool Ext2BlockMap::flush() {
    if (!havePending_) return true;
    havePending_ = false;
    if (!(*onRun_)(pending_)) result_.stopped = true;
    return !result_.stopped;
}

bool Ext2BlockMap::add(std::uint64_t logical, std::uint64_t physical, std::uint64_t count, bool zeros) {
    if (result_.stopped || count == 0 || logical >= limit_) return !result_.stopped;
    if (count > limit_ - logical) count = limit_ - logical;
    if (!zeros && !inVolume(physical, count)) {
        result_.complete = false;
        zeros = true;
    }
    if (havePending_ && pending_.zeros == zeros && pending_.logical + pending_.count == logical &&
        (zeros || pending_.physical + pending_.count == physical)) {
        pending_.count += count;
        return true;
    }
    if (!flush()) return false;
    pending_ = Ext2Run{logical, zeros ? 0 : physical, count, zeros};
    havePending_ = true;
    return true;
}

bool Ext2BlockMap::readNode(std::uint64_t block, std::vector<std::uint8_t>& out) {
    if (!inVolume(block, 1) || !visitedNodes_.insert(block).second) {
        result_.complete = false;
        return false;
    }
    out.assign(geometry_.blockSize, 0);
    if (!readBlock_(block, out)) {
        result_.complete = false;
        return false;
    }
    return true;
}

// `level` 1 holds data pointers, 2 and 3 hold pointers to the level below.
void Ext2BlockMap::mapIndirect(std::uint64_t block, int level, std::uint64_t logicalBase) {
    std::vector<std::uint8_t> node;
    if (!readNode(block, node)) return;
    const std::uint64_t perBlock = geometry_.blockSize / 4;
    std::uint64_t span = 1;
    for (int i = 1; i < level; ++i) span *= perBlock;
    for (std::uint64_t i = 0; i < perBlock && !result_.stopped; ++i) {
        const std::uint64_t logical = logicalBase + i * span;
        if (logical >= limit_) break;
        const std::uint32_t pointer = le32(node, static_cast<std::size_t>(i * 4));
        if (pointer == 0) continue;
        if (level == 1)
            add(logical, pointer, 1, false);
        else
            mapIndirect(pointer, level - 1, logical);
    }
}

void Ext2BlockMap::mapExtentNode(ByteSpan node, std::uint32_t expectedDepth, bool isRoot) {
    if (le16(node, kEhMagic) != kExtentMagic) {
        if (isRoot) result_.validRoot = false;
        result_.complete = false;
        return;
    }
    const std::uint32_t depth = le16(node, kEhDepth);
    if ((isRoot && depth > kMaxExtentDepth) || (!isRoot && depth != expectedDepth)) {
        result_.complete = false;
        return;
    }
    std::uint32_t entries = le16(node, kEhEntries);
    const std::size_t room = (node.size() - kExtentHeaderSize) / kExtentEntrySize;
    if (entries > room) {
        entries = static_cast<std::uint32_t>(room);
        result_.complete = false;
    }
    for (std::uint32_t e = 0; e < entries && !result_.stopped; ++e) {
        const std::size_t at = kExtentHeaderSize + std::size_t{e} * kExtentEntrySize;
        const std::uint64_t logical = le32(node, at + kEeBlock);
        if (logical >= limit_) continue;
        if (depth == 0) {
            std::uint32_t length = le16(node, at + kEeLen);
            const bool uninitialised = length > kExtentInitMaxLen;
            if (uninitialised) length -= kExtentInitMaxLen;
            const std::uint64_t start =
                (std::uint64_t{le16(node, at + kEeStartHi)} << 32) | le32(node, at + kEeStartLo);
            add(logical, start, length, uninitialised);
        } else {
            const std::uint64_t child =
                (std::uint64_t{le16(node, at + kEiLeafHi)} << 32) | le32(node, at + kEiLeafLo);
            std::vector<std::uint8_t> block;
            if (readNode(child, block)) mapExtentNode(block, depth - 1, false);
        }
    }
}

Ext2BlockMap::Result Ext2BlockMap::map(ByteSpan blockMap, std::uint32_t flags,
                                       std::uint64_t blockLimit, const RunFn& onRun) {
    onRun_ = &onRun;
    limit_ = blockLimit;
    result_ = Result{};
    havePending_ = false;
    visitedNodes_.clear();
    if (flags & kFlagExtents) {
        mapExtentNode(subspan(blockMap, 0, kInBlockBytes), 0, true);
    } else {
        for (std::uint32_t i = 0; i < kDirectBlocks && !result_.stopped; ++i) {
            const std::uint32_t pointer = le32(blockMap, i * 4);
            if (pointer != 0) add(i, pointer, 1, false);
        }
        const std::uint64_t perBlock = geometry_.blockSize / 4;
        const std::uint64_t bases[3] = {kDirectBlocks, kDirectBlocks + perBlock,
                                        kDirectBlocks + perBlock + perBlock * perBlock};
        for (int level = 1; level <= 3 && !result_.stopped; ++level) {
            const std::uint32_t pointer = le32(blockMap, (kSingleIndirect + level - 1) * 4);
            if (pointer != 0 && bases[level - 1] < limit_) mapIndirect(pointer, level, bases[level - 1]);
        }
    }
    if (!result_.stopped) flush();
    return result_;
}

} // namespace vindaru
