#include "fs/ext2/Ext2Superblock.h"

#include "fs/ext2/Ext2Layout.h"

namespace vindaru {

using namespace ext2layout;

namespace {

bool isPowerOf(std::uint64_t value, std::uint64_t base) {
    while (value > 1 && value % base == 0) value /= base;
    return value == 1;
}

} // namespace

std::uint64_t Ext2Geometry::recordCount() const {
    const std::uint64_t tables = std::uint64_t{groupCount} * inodesPerGroup;
    return inodesCount < tables ? inodesCount : tables;
}

std::uint64_t Ext2Geometry::groupFirstBlock(std::uint64_t group) const {
    return firstDataBlock + group * blocksPerGroup;
}

bool Ext2Geometry::groupHasSuperblock(std::uint64_t group) const {
    if (!sparseSuper || group <= 1) return true;
    return isPowerOf(group, 3) || isPowerOf(group, 5) || isPowerOf(group, 7);
}

bool hasExt2Magic(ByteSpan superblock) { return le16(superblock, kSbMagic) == kExt2Magic; }

std::uint32_t superblockBlockSize(ByteSpan superblock) {
    const std::uint32_t log = le32(superblock, kSbLogBlockSize);
    return log <= kMaxLogBlockSize ? 1024u << log : 0;
}

std::optional<Ext2Geometry> decodeSuperblock(ByteSpan sb) {
    if (sb.size() < kSuperblockSize || !hasExt2Magic(sb)) return std::nullopt;
    Ext2Geometry g;
    g.blockSize = superblockBlockSize(sb);
    if (g.blockSize == 0) return std::nullopt;

    const std::uint32_t incompat = le32(sb, kSbFeatureIncompat);
    const std::uint32_t roCompat = le32(sb, kSbFeatureRoCompat);
    g.fileTypeInEntries = (incompat & kIncompatFileType) != 0;
    g.is64Bit = (incompat & kIncompat64Bit) != 0;
    g.metaBg = (incompat & kIncompatMetaBg) != 0;
    g.largeDir = (incompat & kIncompatLargeDir) != 0;
    g.sparseSuper = (roCompat & kRoCompatSparseSuper) != 0;
    g.tablesMayBeUninitialised = (roCompat & (kRoCompatGdtCsum | kRoCompatMetadataCsum)) != 0;

    g.blocksCount = le32(sb, kSbBlocksCountLo);
    if (g.is64Bit) g.blocksCount |= std::uint64_t{le32(sb, kSbBlocksCountHi)} << 32;
    g.firstDataBlock = le32(sb, kSbFirstDataBlock);
    g.blocksPerGroup = le32(sb, kSbBlocksPerGroup);
    g.inodesPerGroup = le32(sb, kSbInodesPerGroup);
    g.inodesCount = le32(sb, kSbInodesCount);
    g.firstMetaBg = le32(sb, kSbFirstMetaBg);

    // One bitmap block describes a group's blocks and its inodes.
    const std::uint64_t bitsPerBlock = std::uint64_t{g.blockSize} * 8;
    if (g.blocksCount == 0 || g.firstDataBlock > 1 || g.firstDataBlock >= g.blocksCount) return std::nullopt;
    if (g.blocksPerGroup < 8 || g.blocksPerGroup > bitsPerBlock) return std::nullopt;
    if (g.inodesPerGroup == 0 || g.inodesPerGroup > bitsPerBlock) return std::nullopt;

    g.inodeSize = le32(sb, kSbRevLevel) == 0 ? kGoodOldInodeSize : le16(sb, kSbInodeSize);
    if (g.inodeSize < kGoodOldInodeSize || g.inodeSize > g.blockSize || !isPowerOfTwo(g.inodeSize))
        return std::nullopt;

    g.descriptorSize = kGroupDescSize;
    if (g.is64Bit) {
        g.descriptorSize = le16(sb, kSbDescSize);
        if (g.descriptorSize < kGroupDescSize64Min || g.descriptorSize > g.blockSize ||
            !isPowerOfTwo(g.descriptorSize))
            return std::nullopt;
    }

    const std::uint64_t dataBlocks = g.blocksCount - g.firstDataBlock;
    std::uint64_t groups = dataBlocks / g.blocksPerGroup + (dataBlocks % g.blocksPerGroup != 0);
    if (groups > kMaxGroupCount) groups = kMaxGroupCount;
    g.groupCount = static_cast<std::uint32_t>(groups);
    return g;
}

} // namespace vindaru
