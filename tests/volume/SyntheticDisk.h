// Builds small disks in memory for the volume discovery tests: partition tables, EBR chains,
// GPT arrays and the boot sectors discovery recognises.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/MemoryReader.h"

namespace vindaru::test {

class SyntheticDisk {
public:
    explicit SyntheticDisk(std::uint64_t sectors) : bytes(sectors * 512, 0) {}

    std::uint64_t sectorCount() const { return bytes.size() / 512; }
    MemoryReader reader() const { return MemoryReader(bytes); }

    void put8(std::uint64_t at, std::uint8_t v) { bytes.at(at) = v; }
    void putLe(std::uint64_t at, std::uint64_t v, int width) {
        for (int i = 0; i < width; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void putBe(std::uint64_t at, std::uint64_t v, int width) {
        for (int i = 0; i < width; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
    }
    void putText(std::uint64_t at, const std::string& text) {
        for (std::size_t i = 0; i < text.size(); ++i) bytes.at(at + i) = static_cast<std::uint8_t>(text[i]);
    }

    // Entry `slot` (0..3) of the MBR or EBR in `sector`.
    void mbrEntry(std::uint64_t sector, int slot, std::uint8_t type, std::uint32_t start, std::uint32_t count) {
        const std::uint64_t at = sector * 512 + 446 + slot * 16;
        put8(at + 4, type);
        putLe(at + 8, start, 4);
        putLe(at + 12, count, 4);
        put8(sector * 512 + 510, 0x55);
        put8(sector * 512 + 511, 0xAA);
    }

    void ntfsBoot(std::uint64_t sector, std::uint64_t totalSectors) {
        const std::uint64_t at = sector * 512;
        put8(at, 0xEB);
        put8(at + 1, 0x52);
        put8(at + 2, 0x90);
        putText(at + 3, "NTFS    ");
        putLe(at + 11, 512, 2);
        putLe(at + 40, totalSectors, 8);
    }
    void exfatBoot(std::uint64_t sector, std::uint64_t volumeLength) {
        const std::uint64_t at = sector * 512;
        put8(at, 0xEB);
        put8(at + 1, 0x76);
        putText(at + 3, "EXFAT   ");
        putLe(at + 72, volumeLength, 8);
    }
    // An MSDOS5.0 FAT boot sector: sectorsPerFat 0 makes it FAT32.
    void fatBoot(std::uint64_t sector, std::uint16_t sectorsPerFat, std::uint16_t total16, std::uint32_t total32,
                 std::uint8_t sectorsPerCluster = 1) {
        const std::uint64_t at = sector * 512;
        put8(at, 0xEB);
        put8(at + 1, sectorsPerFat == 0 ? 0x58 : 0x3C);
        putText(at + 3, "MSDOS5.0");
        putLe(at + 11, 512, 2);
        put8(at + 13, sectorsPerCluster);
        putLe(at + 14, sectorsPerFat == 0 ? 32 : 4, 2);
        put8(at + 16, 2);
        putLe(at + 17, sectorsPerFat == 0 ? 0 : 512, 2);
        putLe(at + 19, total16, 2);
        putLe(at + 22, sectorsPerFat, 2);
        putLe(at + 32, total32, 4);
    }
    // An HFS+ volume header, which lies two sectors into its volume.
    void hfsHeader(std::uint64_t volumeStart, std::uint32_t blockSize, std::uint32_t totalBlocks) {
        const std::uint64_t at = (volumeStart + 2) * 512;
        putText(at, "H+");
        put8(at + 2, 0);
        put8(at + 3, 4);
        putBe(at + 40, blockSize, 4);
        putBe(at + 44, totalBlocks, 4);
    }

    // A GPT header at sector 1 whose entry array starts at `arrayLba`.
    void gptHeader(std::uint64_t arrayLba = 2) {
        putText(512, "EFI PART");
        putLe(512 + 72, arrayLba, 8);
        putLe(512 + 80, 128, 4);
        putLe(512 + 84, 128, 4);
    }
    void gptEntry(int index, std::uint32_t typeHead, std::uint64_t first, std::uint64_t last,
                  const std::u16string& name, std::uint64_t arrayLba = 2) {
        const std::uint64_t at = arrayLba * 512 + index * 128;
        putLe(at, typeHead, 4);
        put8(at + 15, 0x77); // rest of the type GUID, so the entry is in use
        putLe(at + 32, first, 8);
        putLe(at + 40, last, 8);
        for (std::size_t i = 0; i < name.size() && i < 36; ++i) putLe(at + 56 + 2 * i, name[i], 2);
    }

    std::vector<std::uint8_t> bytes;
};

} // namespace vindaru::test
