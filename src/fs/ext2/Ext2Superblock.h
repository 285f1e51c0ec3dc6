// The geometry of an ext2/ext3/ext4 volume as its superblock gives it, checked once: every later
// step sizes its reads, loops and allocations from these values only.
#pragma once

#include <cstdint>
#include <optional>

#include "common/ByteLoader.h"

namespace vindaru {

struct Ext2Geometry {
    std::uint32_t blockSize = 0;
    std::uint64_t blocksCount = 0; // with the high half on 64bit volumes
    std::uint32_t firstDataBlock = 0;
    std::uint32_t blocksPerGroup = 0;
    std::uint32_t inodesPerGroup = 0;
    std::uint32_t inodesCount = 0;
    std::uint32_t inodeSize = 0;
    std::uint32_t descriptorSize = 0;
    // Groups including a trailing partial one, at most kMaxGroupCount.
    std::uint32_t groupCount = 0;
    std::uint32_t firstMetaBg = 0;
    bool fileTypeInEntries = false;
    bool is64Bit = false;
    bool metaBg = false;
    bool sparseSuper = false;
    bool largeDir = false;
    // Group descriptors say how much of each inode table was ever used (uninit_bg, metadata_csum).
    bool tablesMayBeUninitialised = false;

    // Inodes that records can stand for: every group's table, as far as s_inodes_count goes.
    std::uint64_t recordCount() const;
    std::uint64_t groupFirstBlock(std::uint64_t group) const;
    bool groupHasSuperblock(std::uint64_t group) const;
};

// The magic alone, as the probe tests it first.
bool hasExt2Magic(ByteSpan superblock);
// The block size the superblock names, 0 when its shift is out of range.
std::uint32_t superblockBlockSize(ByteSpan superblock);
// nullopt unless the magic is there, the block size is 1 to 8 KiB and every count and size the
// later steps use is in range.
std::optional<Ext2Geometry> decodeSuperblock(ByteSpan superblock);

} // namespace vindaru
