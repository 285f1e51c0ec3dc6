// The HFS+ row's probe on a volume header: "H+" is a signature, a believable geometry a volume.
#include <gtest/gtest.h>

#include <vector>

#include "fs/hfsplus/HfsPlusProbe.h"

namespace vindaru {
namespace {

void putBe32(std::vector<std::uint8_t>& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

std::vector<std::uint8_t> header(std::uint32_t blockSize, std::uint32_t blocks) {
    std::vector<std::uint8_t> s(512, 0);
    s[0] = 'H';
    s[1] = '+';
    s[3] = 4;
    putBe32(s, 40, blockSize);
    putBe32(s, 44, blocks);
    return s;
}

TEST(HfsPlusProbe, AHeaderWithABelievableGeometryIsAVolume) {
    const ProbeHit hit = probeHfsPlusHeader(header(4096, 500));
    EXPECT_EQ(hit.confidence, ProbeConfidence::Valid);
    EXPECT_EQ(hit.sizeSectors, 4000u);
    // Smaller than 1 MiB is still a volume: the header's test is strict enough.
    EXPECT_EQ(probeHfsPlusHeader(header(512, 3)).confidence, ProbeConfidence::Valid);
}

TEST(HfsPlusProbe, TheSignatureAloneIsWhatADamagedHeaderShows) {
    for (const auto& s : {header(4096, 0), header(3000, 500), header(256, 500), header(2u << 20, 500),
                          header(512, 2), header(1u << 20, 0xFFFFFFFF)}) // past 20 TiB
        EXPECT_EQ(probeHfsPlusHeader(s).confidence, ProbeConfidence::Signature);
    std::vector<std::uint8_t> hfsx = header(4096, 500);
    hfsx[3] = 5;
    EXPECT_EQ(probeHfsPlusHeader(hfsx).confidence, ProbeConfidence::Signature);
    EXPECT_EQ(probeHfsPlusHeader(std::vector<std::uint8_t>{0x48, 0x2B}).confidence, ProbeConfidence::None);
    EXPECT_EQ(probeHfsPlusHeader(std::vector<std::uint8_t>{0x48, 0x2B, 0x00}).confidence, ProbeConfidence::Signature);
    std::vector<std::uint8_t> other = header(4096, 500);
    other[2] = 1;
    EXPECT_EQ(probeHfsPlusHeader(other).confidence, ProbeConfidence::None);
}

} // namespace
} // namespace vindaru
