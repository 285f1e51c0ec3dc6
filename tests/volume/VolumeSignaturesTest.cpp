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

TEST(VolumeSignatures, FatFamilyNeedsItsJumpAndOemName) {
    std::vector<std::uint8_t> s = sector({{0, 0xEB}, {1, 0x3C}, {11, 0}, {12, 2}, {13, 1}, {19, 0x00}, {20, 0x80}, {22, 32}});
    putText(s, 3, "mkfs.fat");
    EXPECT_EQ(classifyScanSector(s).kind, BootKind::None);
    putText(s, 3, "MSDOS5.0");
    EXPECT_EQ(classifyScanSector(s).kind, BootKind::Fat16);
    EXPECT_EQ(classifyScanSector(s).sizeSectors, 0x8000u);
    s[1] = 0x90; // not one of the FAT jumps
    EXPECT_EQ(classifyScanSector(s).kind, BootKind::None);
    s[1] = 0x58;
    s[22] = 0;
    EXPECT_EQ(classifyScanSector(s).kind, BootKind::Fat32);
    // A sectors-per-cluster of 0 cannot be counted: the volume stays FAT16, as its parser sees it.
    s[22] = 8;
    s[13] = 0;
    EXPECT_EQ(classifyMsdosBootSector(s).kind, BootKind::Fat16);
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
