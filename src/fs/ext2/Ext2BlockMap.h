// Where an inode's logical blocks lie on the volume: the classic map (12 direct pointers, then
// single, double and triple indirect blocks) or an extent tree, walked in logical order and
// joined into runs. Holes are left out (the caller fills them with zeros); extents that were
// allocated but never written, and pointers outside the volume, come as runs of zeros.
//
// Every pointer is checked against the volume's block count before it is read; each indirect or
// extent-index block is read at most once per map (so a block that points to itself, or a tree
// whose nodes share children, cannot make the walk loop or fan out), the extent tree is followed
// at most five levels down, and nothing past `blockLimit` is visited.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <unordered_set>
#include <vector>

#include "common/ByteLoader.h"
#include "fs/ext2/Ext2Superblock.h"

namespace vindaru {

struct Ext2Run {
    std::uint64_t logical = 0;
    std::uint64_t physical = 0;
    std::uint64_t count = 0;
    bool zeros = false; // read as zeros: never written, or not on the volume
};

class Ext2BlockMap {
public:
    // Reads one block; false when it cannot be read (the map then treats it as damaged).
    using BlockReader = std::function<bool(std::uint64_t block, std::span<std::uint8_t> out)>;
    // Receives the runs in logical order; false stops the walk.
    using RunFn = std::function<bool(const Ext2Run&)>;

    struct Result {
        bool complete = true; // every pointer was in range and every node readable
        bool stopped = false; // the run callback ended the walk
        bool validRoot = true; // false: extents flagged but the inode holds no extent header
    };

    Ext2BlockMap(const Ext2Geometry& geometry, BlockReader readBlock)
        : geometry_(geometry), readBlock_(std::move(readBlock)) {}

    // `blockMap` is the inode's 60-byte i_block area, `flags` its i_flags.
    Result map(ByteSpan blockMap, std::uint32_t flags, std::uint64_t blockLimit, const RunFn& onRun);

    // Logical blocks a file of `size` bytes spans.
    static std::uint64_t blocksForSize(std::uint64_t size, std::uint32_t blockSize) {
        return size / blockSize + (size % blockSize != 0);
    }

private:
    bool inVolume(std::uint64_t physical, std::uint64_t count) const;
    // Adds one run (joined with the previous when they continue each other); false: stopped.
    bool add(std::uint64_t logical, std::uint64_t physical, std::uint64_t count, bool zeros);
    bool flush();
    bool readNode(std::uint64_t block, std::vector<std::uint8_t>& out);
    void mapIndirect(std::uint64_t block, int level, std::uint64_t logicalBase);
    void mapExtentNode(ByteSpan node, std::uint32_t expectedDepth, bool isRoot);

    const Ext2Geometry& geometry_;
    BlockReader readBlock_;
    const RunFn* onRun_ = nullptr;
    std::uint64_t limit_ = 0;
    Result result_;
    Ext2Run pending_;
    bool havePending_ = false;
    std::unordered_set<std::uint64_t> visitedNodes_;
};

} // namespace vindaru
