// The NTFS row's probe: what a boot sector must show to be found, and how sure it is.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fs/ntfs/NtfsProbe.h"

namespace vindaru {
namespace {

std::vector<std::uint8_t> bootSector() {
    std::vector<std::uint8_t> s(512, 0);
    s[0] = 0xEB;
    s[1] = 0x52;
    s[12] = 2; // 512 bytes per sector
    s[40] = 0x10;
    s[41] = 0x27; // 10000 sectors
    return s;
}

TEST(NtfsProbe, TheNameMakesABootSectorValidTheJumpAndSectorSizeASignature) {
    std::vector<std::uint8_t> s = bootSector();
    EXPECT_EQ(probeNtfsBootSector(s).confidence, ProbeConfidence::Signature);
    std::memcpy(&s[3], "NTFS    ", 8);
    const ProbeHit hit = probeNtfsBootSector(s);
    EXPECT_EQ(hit.confidence, ProbeConfidence::Valid);
    EXPECT_EQ(hit.sizeSectors, 10000u);
    for (const auto& [at, value] : std::vector<std::pair<std::size_t, std::uint8_t>>{{0, 0xE9}, {1, 0x3C}, {12, 8}}) {
        std::vector<std::uint8_t> other = s;
        other[at] = value; // another jump, or 2048-byte sectors: not this system's NTFS
        EXPECT_EQ(probeNtfsBootSector(other).confidence, ProbeConfidence::None) << "byte " << at;
    }
}

// An NTFS formatted on a disk of 4 KiB logical sectors counts 4096-byte sectors of its own; its
// size comes out in 512-byte sectors all the same.
TEST(NtfsProbe, SizesOfVolumesOfLargerSectorsAreIn512ByteSectors) {
    std::vector<std::uint8_t> s = bootSector();
    std::memcpy(&s[3], "NTFS", 4);
    s[12] = 0x10;
    s[40] = 0xFF;
    s[41] = 0x2F;
    ProbeHit hit = probeNtfsBootSector(s);
    EXPECT_EQ(hit.confidence, ProbeConfidence::Valid);
    EXPECT_EQ(hit.sizeSectors, 0x2FFFu * 8);
    EXPECT_EQ(hit.sectorBytes, 4096u);
    s[47] = 0x40; // a count that overflows once in 512-byte sectors
    EXPECT_EQ(probeNtfsBootSector(s).sizeSectors, UINT64_MAX);
}

TEST(NtfsProbe, ABootSectorCutAfterItsSizeFieldStillProbesWithSizeZero) {
    std::vector<std::uint8_t> s = bootSector();
    std::memcpy(&s[3], "NTFS", 4);
    s.resize(41);
    const ProbeHit hit = probeNtfsBootSector(s);
    EXPECT_EQ(hit.confidence, ProbeConfidence::Valid);
    EXPECT_EQ(hit.sizeSectors, 0u);
    EXPECT_EQ(probeNtfsBootSector({}).confidence, ProbeConfidence::None);
}

} // namespace
} // namespace vindaru
