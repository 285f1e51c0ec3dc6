#include "fs/ext2/Ext2Probe.h"

namespace vindaru {

namespace {

// Superblock fields.
constexpr std::size_t kBlocksCountLo = 4;
constexpr std::size_t kLogBlockSize = 24;
constexpr std::size_t kBlocksPerGroup = 32;
constexpr std::size_t kMagic = 56;
constexpr std::size_t kBlockGroupNumber = 0x5A;
constexpr std::size_t kFeatureIncompat = 96;
constexpr std::size_t kBlocksCountHi = 0x150;
constexpr std::uint16_t kMagicValue = 0xEF53;
constexpr std::uint32_t kIncompat64Bit = 0x80;
constexpr std::uint32_t kMaxLogBlockSize = 6; // 64 KiB blocks
constexpr std::uint64_t kSector = 512;

// The volume's sectors, or 0 when the fields are not believable.
std::uint64_t volumeSectors(ByteSpan superblock) {
    const std::uint32_t log = le32(superblock, kLogBlockSize);
    if (log > kMaxLogBlockSize) return 0;
    const std::uint64_t blockBytes = std::uint64_t{1024} << log;
    if (le32(superblock, kBlocksPerGroup) != blockBytes * 8) return 0;
    std::uint64_t blocks = le32(superblock, kBlocksCountLo);
    if (le32(superblock, kFeatureIncompat) & kIncompat64Bit)
        blocks |= std::uint64_t{le32(superblock, kBlocksCountHi)} << 32;
    std::uint64_t sectors = 0;
    return checkedMul(blocks, blockBytes / kSector, sectors) ? sectors : 0;
}

} // namespace

ProbeHit probeExtSuperblock(ByteSpan sector) {
    if (le16(sector, kMagic) != kMagicValue) return {};
    const std::uint64_t sectors = volumeSectors(sector);
    if (sectors <= kExtSuperblockOffset / kSector || le16(sector, kBlockGroupNumber) != 0)
        return {ProbeConfidence::Signature, sectors};
    return {ProbeConfidence::Valid, sectors};
}

} // namespace vindaru
