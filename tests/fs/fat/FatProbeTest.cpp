// The FAT family's probes: the boot sectors each of the FAT12, FAT16, FAT32 and exFAT rows takes,
// by the MSDO name or by a BIOS parameter block any formatter writes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fs/fat/FatProbe.h"

namespace vindaru {
namespace {

std::vector<std::uint8_t> sector(std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes) {
    std::vector<std::uint8_t> s(512, 0);
    for (const auto& [at, value] : bytes) s[at] = value;
    return s;
}

void putText(std::vector<std::uint8_t>& s, std::size_t at, const char* text) { std::memcpy(&s[at], text, std::strlen(text)); }

FatKind kindOf(const std::vector<std::uint8_t>& s) { return classifyFatBootSector(s).kind; }

TEST(FatProbe, FatFamilyByOemNameOrByAValidBpb) {
    // A mkfs.fat FAT16 boot sector: 512-byte sectors, 4 per cluster, 1 reserved, 2 FATs of 32.
    std::vector<std::uint8_t> s = sector({{0, 0xEB}, {1, 0x3C}, {11, 0}, {12, 2}, {13, 4}, {14, 1}, {16, 2},
                                          {17, 0}, {18, 2}, {19, 0x00}, {20, 0x80}, {22, 32}, {510, 0x55}, {511, 0xAA}});
    putText(s, 3, "mkfs.fat");
    EXPECT_EQ(kindOf(s), FatKind::Fat16);
    EXPECT_EQ(probeFat16BootSector(s).confidence, ProbeConfidence::Valid);
    EXPECT_EQ(probeFat16BootSector(s).sizeSectors, 0x8000u);
    // Each row takes its own kind only.
    EXPECT_EQ(probeFat12BootSector(s).confidence, ProbeConfidence::None);
    EXPECT_EQ(probeFat32BootSector(s).confidence, ProbeConfidence::None);
    EXPECT_EQ(probeExfatBootSector(s).confidence, ProbeConfidence::None);
    s[0] = 0xE9; // the near jump some formatters write
    EXPECT_EQ(kindOf(s), FatKind::Fat16);
    s[0] = 0xEB;

    // Each field that makes the BPB invalid turns an OEM-less sector away.
    const std::vector<std::pair<std::size_t, std::uint8_t>> breakers = {
        {0, 0x90}, {510, 0}, {12, 0}, {12, 3}, {11, 1}, {13, 0}, {13, 3}, {14, 0}, {16, 0}, {16, 3}};
    for (const auto& [at, value] : breakers) {
        std::vector<std::uint8_t> broken = s;
        broken[at] = value;
        if (at == 14) broken[15] = 0;
        EXPECT_EQ(kindOf(broken), FatKind::None) << "byte " << at;
        EXPECT_EQ(probeFat16BootSector(broken).confidence, ProbeConfidence::None) << "byte " << at;
    }
    // Sector counts both 0, or FAT32 without its 32-bit sectors-per-FAT.
    std::vector<std::uint8_t> noCount = s;
    noCount[20] = 0;
    EXPECT_EQ(kindOf(noCount), FatKind::None);
    std::vector<std::uint8_t> fat32 = s;
    fat32[22] = 0;
    EXPECT_EQ(kindOf(fat32), FatKind::None);
    fat32[36] = 0x10;
    EXPECT_EQ(kindOf(fat32), FatKind::Fat32);
    EXPECT_EQ(probeFat32BootSector(fat32).confidence, ProbeConfidence::Valid);

    // The MSDO OEM name is accepted as before, without the BPB checks.
    std::vector<std::uint8_t> msdos = sector({{0, 0xEB}, {1, 0x3C}, {11, 0}, {12, 2}, {13, 1}, {19, 0x00}, {20, 0x80}, {22, 32}});
    putText(msdos, 3, "MSDOS5.0");
    EXPECT_EQ(kindOf(msdos), FatKind::Fat16);
    msdos[1] = 0x90; // not one of the FAT jumps
    EXPECT_EQ(kindOf(msdos), FatKind::None);
    msdos[1] = 0x58;
    msdos[22] = 0;
    EXPECT_EQ(kindOf(msdos), FatKind::Fat32);
    // A sectors-per-cluster of 0 cannot be counted: the volume stays FAT16, as its parser sees it.
    msdos[22] = 8;
    msdos[13] = 0;
    EXPECT_EQ(kindOf(msdos), FatKind::Fat16);
}

TEST(FatProbe, FewerThan4085ClustersMakeFat12) {
    // 2880 sectors, 1 per cluster, 224 root entries, 2 FATs of 9 sectors: a 1.44 MB floppy.
    std::vector<std::uint8_t> s = sector({{0, 0xEB}, {1, 0x3C}, {12, 2}, {13, 1}, {14, 1}, {16, 2}, {17, 224},
                                          {19, 0x40}, {20, 0x0B}, {22, 9}, {510, 0x55}, {511, 0xAA}});
    EXPECT_EQ(probeFat12BootSector(s).confidence, ProbeConfidence::Valid);
    EXPECT_EQ(probeFat12BootSector(s).sizeSectors, 2880u);
    EXPECT_EQ(probeFat16BootSector(s).confidence, ProbeConfidence::None);
}

TEST(FatProbe, ExfatByItsNameAndFatJump) {
    std::vector<std::uint8_t> s = sector({{0, 0xEB}, {1, 0x76}, {72, 0x00}, {73, 0x40}});
    putText(s, 3, "EXFAT   ");
    EXPECT_EQ(probeExfatBootSector(s).confidence, ProbeConfidence::Valid);
    EXPECT_EQ(probeExfatBootSector(s).sizeSectors, 0x4000u);
    EXPECT_EQ(kindOf(s), FatKind::None); // no BPB: not one of the FAT rows'
    s[1] = 0x52;
    EXPECT_EQ(probeExfatBootSector(s).confidence, ProbeConfidence::None);
}

// Volumes formatted on a disk of 4 KiB logical sectors count 4096-byte sectors of their own;
// their sizes come out in 512-byte sectors all the same.
TEST(FatProbe, SizesOfVolumesOfLargerSectorsAreIn512ByteSectors) {
    // A mkfs.fat FAT16 of 4096-byte sectors: 12288 of them, 1 per cluster, 2 FATs of 12.
    std::vector<std::uint8_t> fat = sector({{0, 0xEB}, {1, 0x3C}, {11, 0}, {12, 0x10}, {13, 1}, {14, 1}, {16, 2},
                                            {17, 0}, {18, 2}, {19, 0x00}, {20, 0x30}, {22, 12}, {510, 0x55}, {511, 0xAA}});
    putText(fat, 3, "mkfs.fat");
    EXPECT_EQ(probeFat16BootSector(fat).sizeSectors, 12288u * 8);
    EXPECT_EQ(probeFat16BootSector(fat).sectorBytes, 4096u);
    fat[22] = 0; // FAT32: its 32-bit count
    fat[19] = fat[20] = 0;
    fat[36] = 12;
    fat[33] = 0x30;
    EXPECT_EQ(probeFat32BootSector(fat).confidence, ProbeConfidence::Valid);
    EXPECT_EQ(probeFat32BootSector(fat).sizeSectors, 12288u * 8);

    // exFAT by its bytes-per-sector shift; a shift outside 9..12 is taken as 512-byte sectors.
    std::vector<std::uint8_t> exfat = sector({{0, 0xEB}, {1, 0x76}, {72, 100}, {108, 12}});
    putText(exfat, 3, "EXFAT");
    EXPECT_EQ(probeExfatBootSector(exfat).sizeSectors, 800u);
    exfat[108] = 9;
    EXPECT_EQ(probeExfatBootSector(exfat).sizeSectors, 100u);
    exfat[108] = 40;
    EXPECT_EQ(probeExfatBootSector(exfat).sizeSectors, 100u);
}

TEST(FatProbe, RandomSectorsAreNotFatVolumes) {
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    int found = 0;
    std::vector<std::uint8_t> s(512);
    for (int i = 0; i < 200000; ++i) {
        for (auto& b : s) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            b = static_cast<std::uint8_t>(state);
        }
        // Even with the jump and the signature in place, random fields are not a BPB.
        s[0] = 0xEB;
        s[510] = 0x55;
        s[511] = 0xAA;
        if (kindOf(s) != FatKind::None) ++found;
    }
    EXPECT_EQ(found, 0);
}

} // namespace
} // namespace vindaru
