// The ext row's probe on a superblock's first sector: the magic alone is only a signature; a
// believable geometry in a primary superblock is a volume.
#include <gtest/gtest.h>

#include <vector>

#include "fs/ext2/Ext2Probe.h"

namespace vindaru {
namespace {

void put32(std::vector<std::uint8_t>& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// 4 KiB blocks, 32768 blocks per group, `blocks` blocks.
std::vector<std::uint8_t> superblock(std::uint32_t blocks) {
    std::vector<std::uint8_t> s(512, 0);
    put32(s, 4, blocks);
    put32(s, 24, 2);
    put32(s, 32, 32768);
    s[56] = 0x53;
    s[57] = 0xEF;
    return s;
}

TEST(Ext2Probe, APrimarySuperblockWithABelievableGeometryIsAVolume) {
    std::vector<std::uint8_t> s = superblock(1000);
    ProbeHit hit = probeExtSuperblock(s);
    EXPECT_EQ(hit.confidence, ProbeConfidence::Valid);
    EXPECT_EQ(hit.sizeSectors, 8000u);
    // 64-bit volumes add the high half of the block count.
    put32(s, 96, 0x80);
    put32(s, 0x150, 1);
    EXPECT_EQ(probeExtSuperblock(s).sizeSectors, (std::uint64_t{1} << 32 | 1000) * 8);
}

TEST(Ext2Probe, TheMagicAloneIsOnlyASignature) {
    std::vector<std::uint8_t> s = superblock(1000);
    put32(s, 24, 7); // 128 KiB blocks
    EXPECT_EQ(probeExtSuperblock(s).confidence, ProbeConfidence::Signature);
    s = superblock(1000);
    put32(s, 32, 8192); // blocks per group that do not fit 4 KiB blocks
    EXPECT_EQ(probeExtSuperblock(s).confidence, ProbeConfidence::Signature);
    s = superblock(1000);
    s[0x5A] = 3; // a backup superblock names its group: it starts no volume
    EXPECT_EQ(probeExtSuperblock(s).confidence, ProbeConfidence::Signature);
    s = superblock(0); // no room past the superblock itself
    EXPECT_EQ(probeExtSuperblock(s).confidence, ProbeConfidence::Signature);
    s = superblock(1000);
    s[57] = 0;
    EXPECT_EQ(probeExtSuperblock(s).confidence, ProbeConfidence::None);
    EXPECT_EQ(probeExtSuperblock({}).confidence, ProbeConfidence::None);
}

} // namespace
} // namespace vindaru
