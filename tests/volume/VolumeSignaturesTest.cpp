// The decoders on their own: truncated and damaged structures, and the tests' fine print.
#include <gtest/gtest.h>

#include <cstring>

#include "volume/VolumeSignatures.h"

namespace vindaru {
namespace {

std::vector<std::uint8_t> sector(std::initializer_list<std::pair<std::size_t, std::uint8_t>> bytes) {
    std::vector<std::uint8_t> s(512, 0);
    for (const auto& [at, value] : bytes) s[at] = value;
    return s;
}

void putText(std::vector<std::uint8_t>& s, std::size_t at, const char* text) { std::memcpy(&s[at], text, std::strlen(text)); }

TEST(VolumeSignatures, ShortSpansReadAsZeros) {
    const std::vector<std::uint8_t> none;
    EXPECT_EQ(decodeMbrEntries(none)[0].type, 0);
    EXPECT_EQ(classifyScanSector(none).kind, BootKind::None);
    EXPECT_EQ(classifyGptBootSector(none).kind, BootKind::None);
    EXPECT_FALSE(isHfsPlusHeader(std::vector<std::uint8_t>{0x48, 0x2B}));
    EXPECT_TRUE(isHfsPlusHeader(std::vector<std::uint8_t>{0x48, 0x2B, 0x00}));
    EXPECT_EQ(gptEntryLimit(none), 0u);
    // A boot sector cut after its size field still classifies; the size reads as 0.
    std::vector<std::uint8_t> ntfs = sector({{0, 0xEB}, {1, 0x52}, {12, 2}});
    putText(ntfs, 3, "NTFS");
    ntfs.resize(41);
    const BootSectorHit hit = classifyScanSector(ntfs);
    EXPECT_EQ(hit.kind, BootKind::Ntfs);
    EXPECT_EQ(hit.sizeSectors, 0u);
}

TEST(VolumeSignatures, NtfsNeedsItsNameInTheScanButNotOnGpt) {
    std::vector<std::uint8_t> s = sector({{0, 0xEB}, {1, 0x52}, {12, 2}, {40, 0x10}});
    EXPECT_EQ(classifyScanSector(s).kind, BootKind::None);
    EXPECT_EQ(classifyGptBootSector(s).kind, BootKind::Ntfs);
    putText(s, 3, "NTFS");
    EXPECT_EQ(classifyScanSector(s).kind, BootKind::Ntfs);
    s[12] = 4; // 1024-byte sectors are not this system's NTFS
    EXPECT_EQ(classifyScanSector(s).kind, BootKind::None);
}

// Volumes formatted on a disk of 4 KiB logical sectors count 4096-byte sectors of their own;
// their sizes come out in 512-byte sectors all the same.
TEST(VolumeSignatures, SizesOfVolumesOfLargerSectorsAreIn512ByteSectors) {
    std::vector<std::uint8_t> ntfs = sector({{0, 0xEB}, {1, 0x52}, {12, 0x10}, {40, 0xFF}, {41, 0x2F}});
    putText(ntfs, 3, "NTFS");
    for (const BootSectorHit hit : {classifyScanSector(ntfs), classifyGptBootSector(ntfs)}) {
        EXPECT_EQ(hit.kind, BootKind::Ntfs);
        EXPECT_EQ(hit.sizeSectors, 0x2FFFu * 8);
        EXPECT_EQ(hit.sectorBytes, 4096u);
    }
    ntfs[47] = 0x40; // a count that overflows once in 512-byte sectors
    EXPECT_EQ(classifyScanSector(ntfs).sizeSectors, UINT64_MAX);

    // A mkfs.fat FAT16 of 4096-byte sectors: 12288 of them, 1 per cluster, 2 FATs of 12.
    std::vector<std::uint8_t> fat = sector({{0, 0xEB}, {1, 0x3C}, {11, 0}, {12, 0x10}, {13, 1}, {14, 1}, {16, 2},
                                            {17, 0}, {18, 2}, {19, 0x00}, {20, 0x30}, {22, 12}, {510, 0x55}, {511, 0xAA}});
    putText(fat, 3, "mkfs.fat");
    EXPECT_EQ(classifyScanSector(fat).kind, BootKind::Fat16);
    EXPECT_EQ(classifyGptBootSector(fat).sizeSectors, 12288u * 8);
    fat[22] = 0; // FAT32: its 32-bit count
    fat[19] = fat[20] = 0;
    fat[36] = 12;
    fat[33] = 0x30;
    EXPECT_EQ(classifyScanSector(fat).kind, BootKind::Fat32);
    EXPECT_EQ(classifyScanSector(fat).sizeSectors, 12288u * 8);

    // exFAT by its bytes-per-sector shift; a shift outside 9..12 is taken as 512-byte sectors.
    std::vector<std::uint8_t> exfat = sector({{0, 0xEB}, {1, 0x76}, {72, 100}, {108, 12}});
    putText(exfat, 3, "EXFAT");
    EXPECT_EQ(classifyScanSector(exfat).sizeSectors, 800u);
    exfat[108] = 9;
    EXPECT_EQ(classifyScanSector(exfat).sizeSectors, 100u);
    exfat[108] = 40;
    EXPECT_EQ(classifyScanSector(exfat).sizeSectors, 100u);
}

TEST(VolumeSignatures, FatFamilyByOemNameOrByAValidBpb) {
    // A mkfs.fat FAT16 boot sector: 512-byte sectors, 4 per cluster, 1 reserved, 2 FATs of 32.
    std::vector<std::uint8_t> s = sector({{0, 0xEB}, {1, 0x3C}, {11, 0}, {12, 2}, {13, 4}, {14, 1}, {16, 2},
                                          {17, 0}, {18, 2}, {19, 0x00}, {20, 0x80}, {22, 32}, {510, 0x55}, {511, 0xAA}});
    putText(s, 3, "mkfs.fat");
    EXPECT_EQ(classifyScanSector(s).kind, BootKind::Fat16);
    EXPECT_EQ(classifyScanSector(s).sizeSectors, 0x8000u);
    putText(s, 3, "MSWIN4.1");
    EXPECT_EQ(classifyGptBootSector(s).kind, BootKind::Fat16);
    s[0] = 0xE9; // the near jump some formatters write
    EXPECT_EQ(classifyScanSector(s).kind, BootKind::Fat16);
    s[0] = 0xEB;

    // Each field that makes the BPB invalid turns an OEM-less sector away.
    const std::vector<std::pair<std::size_t, std::uint8_t>> breakers = {
        {0, 0x90}, {510, 0}, {12, 0}, {12, 3}, {11, 1}, {13, 0}, {13, 3}, {14, 0}, {16, 0}, {16, 3}};
    for (const auto& [at, value] : breakers) {
        std::vector<std::uint8_t> broken = s;
        broken[at] = value;
        if (at == 14) broken[15] = 0;
        EXPECT_EQ(classifyScanSector(broken).kind, BootKind::None) << "byte " << at;
    }
    // Sector counts both 0, or FAT32 without its 32-bit sectors-per-FAT.
    std::vector<std::uint8_t> noCount = s;
    noCount[20] = 0;
    EXPECT_EQ(classifyScanSector(noCount).kind, BootKind::None);
    std::vector<std::uint8_t> fat32 = s;
    fat32[22] = 0;
    EXPECT_EQ(classifyScanSector(fat32).kind, BootKind::None);
    fat32[36] = 0x10;
    EXPECT_EQ(classifyScanSector(fat32).kind, BootKind::Fat32);

    // The MSDO OEM name is accepted as before, without the BPB checks.
    std::vector<std::uint8_t> msdos = sector({{0, 0xEB}, {1, 0x3C}, {11, 0}, {12, 2}, {13, 1}, {19, 0x00}, {20, 0x80}, {22, 32}});
    putText(msdos, 3, "MSDOS5.0");
    EXPECT_EQ(classifyScanSector(msdos).kind, BootKind::Fat16);
    msdos[1] = 0x90; // not one of the FAT jumps
    EXPECT_EQ(classifyScanSector(msdos).kind, BootKind::None);
    msdos[1] = 0x58;
    msdos[22] = 0;
    EXPECT_EQ(classifyScanSector(msdos).kind, BootKind::Fat32);
    // A sectors-per-cluster of 0 cannot be counted: the volume stays FAT16, as its parser sees it.
    msdos[22] = 8;
    msdos[13] = 0;
    EXPECT_EQ(classifyFatBootSector(msdos).kind, BootKind::Fat16);
}

TEST(VolumeSignatures, RandomSectorsAreNotFatVolumes) {
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
        if (classifyScanSector(s).kind != BootKind::None) ++found;
    }
    EXPECT_EQ(found, 0);
}

TEST(VolumeSignatures, GptNamesAndTheCountRule) {
    std::vector<std::uint8_t> array(kGptArrayReadBytes, 0);
    auto entry = [&](std::size_t i, std::uint8_t guid0, std::uint64_t first, const char16_t* name) {
        std::uint8_t* e = &array[i * kGptEntrySize];
        e[0] = guid0;
        e[15] = 1;
        for (int b = 0; b < 8; ++b) e[32 + b] = static_cast<std::uint8_t>(first >> (8 * b));
        for (std::size_t c = 0; name[c]; ++c) {
            e[56 + 2 * c] = static_cast<std::uint8_t>(name[c]);
            e[57 + 2 * c] = static_cast<std::uint8_t>(name[c] >> 8);
        }
    };
    entry(0, 0xA2, 2048, u"Basic data partition");
    entry(1, 0xA2, 2, u"starts too early");
    EXPECT_EQ(gptEntryLimit(array), 1u);
    EXPECT_EQ(decodeGptEntry(ByteSpan(array).first(kGptEntrySize)).name, "Basic data partition");
    // Only the first 72 entries are looked at.
    std::fill(array.begin(), array.end(), 0);
    entry(71, 0xA2, 4096, u"last");
    entry(72, 0xA2, 8192, u"beyond");
    EXPECT_EQ(gptEntryLimit(array), 72u);
    EXPECT_EQ(gptNameThroughCodePage("Caf\u00e9 \u20ac \u0416"), "Caf\u00e9 \u20ac ?");
}

} // namespace
} // namespace vindaru
