// Synthetic VHD and VDI images for the reader and export tests: a disk's bytes laid out in the
// container the way the published formats describe, with chosen blocks left out, placed out of
// order, or pointed elsewhere, so each test can say exactly which file byte a disk byte comes from.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace vindaru::test {

// Disk bytes that differ in every sector, so a byte read from the wrong place shows.
inline std::vector<std::uint8_t> patternDisk(std::uint64_t bytes, std::uint32_t seed = 1) {
    std::vector<std::uint8_t> disk(bytes);
    std::uint64_t x = 0x9E3779B97F4A7C15ull * seed;
    for (std::uint64_t i = 0; i < bytes; ++i) {
        if (i % 8 == 0) x = x * 6364136223846793005ull + 1442695040888963407ull;
        disk[i] = static_cast<std::uint8_t>(x >> (8 * (i % 8)));
    }
    return disk;
}

inline std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& v, std::uint64_t at,
                                       std::uint64_t n) {
    return {v.begin() + static_cast<std::ptrdiff_t>(at),
            v.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

inline bool allZero(const std::vector<std::uint8_t>& v) {
    return std::all_of(v.begin(), v.end(), [](std::uint8_t b) { return b == 0; });
}

inline void putBe(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * (width - 1 - i)));
}
inline void putLe(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct VhdPlan {
    std::uint32_t blockSize = 2u << 20;
    std::uint64_t tableOffset = 1536;
    std::set<std::uint64_t> absent;                       // blocks left out of the image
    bool reverseOrder = false;                            // store the blocks last-first in the file
    std::optional<std::uint32_t> maxTableEntries;         // default: enough for the disk
    std::map<std::uint64_t, std::uint32_t> entryOverride; // BAT entries forced to a value
    std::uint64_t currentSize = 0;                        // default: the disk's size
};

inline std::vector<std::uint8_t> vhdFooter(std::uint64_t size, std::uint32_t diskType,
                                           std::uint64_t dataOffset) {
    std::vector<std::uint8_t> f(512);
    std::memcpy(f.data(), "conectix", 8);
    putBe(f, 8, 2, 4);
    putBe(f, 12, 0x00010000, 4);
    putBe(f, 16, dataOffset, 8);
    putBe(f, 40, size, 8);
    putBe(f, 48, size, 8);
    putBe(f, 56, 1000, 2);
    f[58] = 16;
    f[59] = 63;
    putBe(f, 60, diskType, 4);
    return f;
}

inline std::uint64_t vhdBitmapBytes(std::uint32_t blockSize) {
    const std::uint64_t bits = blockSize / 512;
    return (bits + 4095) / 4096 * 512;
}

inline std::vector<std::uint8_t> buildDynamicVhd(const std::vector<std::uint8_t>& disk,
                                                 const VhdPlan& plan = {}) {
    const std::uint64_t bs = plan.blockSize;
    const std::uint64_t blocks = (disk.size() + bs - 1) / bs;
    const std::uint32_t entries = plan.maxTableEntries.value_or(static_cast<std::uint32_t>(blocks));
    const std::uint64_t size = plan.currentSize ? plan.currentSize : disk.size();
    // A table that claims more entries than the disk needs is only written as far as needed.
    const std::uint64_t tableBytes =
        (std::min<std::uint64_t>(entries, std::max<std::uint64_t>(blocks, 1u << 16)) * 4 + 511) /
        512 * 512;
    const std::uint64_t bitmap = vhdBitmapBytes(plan.blockSize);

    std::vector<std::uint8_t> img = vhdFooter(size, 3, 512);
    img.resize(std::max<std::uint64_t>(1536, plan.tableOffset) + tableBytes, 0);
    std::memcpy(img.data() + 512, "cxsparse", 8);
    putBe(img, 512 + 8, ~0ull, 8);
    putBe(img, 512 + 16, plan.tableOffset, 8);
    putBe(img, 512 + 24, 0x00010000, 4);
    putBe(img, 512 + 28, entries, 4);
    putBe(img, 512 + 32, plan.blockSize, 4);
    for (std::uint64_t e = 0; e < std::min<std::uint64_t>(entries, tableBytes / 4); ++e)
        putBe(img, plan.tableOffset + 4 * e, 0xFFFFFFFF, 4);

    std::vector<std::uint64_t> order;
    for (std::uint64_t b = 0; b < blocks; ++b)
        if (!plan.absent.count(b)) order.push_back(b);
    if (plan.reverseOrder) std::reverse(order.begin(), order.end());
    for (std::uint64_t b : order) {
        const std::uint64_t at = img.size();
        if (b < entries) putBe(img, plan.tableOffset + 4 * b, at / 512, 4);
        img.resize(at + bitmap + bs, 0);
        std::memset(img.data() + at, 0xFF, bitmap);
        const std::uint64_t n = std::min<std::uint64_t>(bs, disk.size() - b * bs);
        std::memcpy(img.data() + at + bitmap, disk.data() + b * bs, n);
    }
    for (auto [b, v] : plan.entryOverride)
        putBe(img, plan.tableOffset + 4 * b, v, 4);
    const auto footer = vhdFooter(size, 3, 512);
    img.insert(img.end(), footer.begin(), footer.end());
    return img;
}

inline std::vector<std::uint8_t> buildFixedVhd(const std::vector<std::uint8_t>& disk) {
    std::vector<std::uint8_t> img = disk;
    const auto footer = vhdFooter(disk.size(), 2, ~0ull);
    img.insert(img.end(), footer.begin(), footer.end());
    return img;
}

struct VdiPlan {
    std::uint32_t blockSize = 1u << 20;
    std::uint32_t mapOffset = 512;
    std::uint32_t dataOffset = 0; // default: the first 512-aligned place after the map
    std::set<std::uint64_t> absent;
    std::set<std::uint64_t> zeroed; // marked 0xFFFFFFFE
    bool reverseOrder = false;
    std::optional<std::uint32_t> blockCount;
    std::optional<std::uint32_t> allocatedCount;
    std::optional<std::uint64_t> diskSize;
    std::optional<std::uint32_t> headerLength;
    std::map<std::uint64_t, std::uint32_t> entryOverride;
};

inline std::vector<std::uint8_t> buildVdi(const std::vector<std::uint8_t>& disk,
                                          const VdiPlan& plan = {}) {
    const std::uint64_t bs = plan.blockSize;
    const std::uint64_t blocks = (disk.size() + bs - 1) / bs;
    const std::uint32_t count = plan.blockCount.value_or(static_cast<std::uint32_t>(blocks));
    // A map that claims more entries than the disk needs is only written as far as needed (and
    // never into a data area placed explicitly).
    std::uint64_t written =
        std::min<std::uint64_t>(count, std::max<std::uint64_t>(blocks, 1u << 16));
    if (plan.dataOffset)
        written = std::min<std::uint64_t>(written, (plan.dataOffset - plan.mapOffset) / 4);
    const std::uint64_t mapEnd = plan.mapOffset + (written * 4 + 511) / 512 * 512;
    const std::uint64_t dataOffset = plan.dataOffset ? plan.dataOffset : mapEnd;

    std::vector<std::uint8_t> img(std::max<std::uint64_t>(mapEnd, dataOffset), 0);
    const char* text = "<<< Test Disk Image >>>\n";
    std::memcpy(img.data(), text, std::strlen(text));
    putLe(img, 64, 0xBEDA107F, 4);
    putLe(img, 68, 0x00010001, 4);
    putLe(img, 72, plan.headerLength.value_or(400), 4);
    putLe(img, 76, 1, 4);
    putLe(img, 340, plan.mapOffset, 4);
    putLe(img, 344, dataOffset, 4);
    putLe(img, 348, 1024, 4);
    putLe(img, 352, 16, 4);
    putLe(img, 356, 63, 4);
    putLe(img, 360, 512, 4);
    putLe(img, 368, plan.diskSize.value_or(disk.size()), 8);
    putLe(img, 376, plan.blockSize, 4);
    putLe(img, 384, count, 4);
    for (std::uint64_t e = 0; e < written; ++e)
        putLe(img, plan.mapOffset + 4 * e, 0xFFFFFFFF, 4);

    std::vector<std::uint64_t> order;
    for (std::uint64_t b = 0; b < blocks; ++b) {
        if (plan.zeroed.count(b) && b < count)
            putLe(img, plan.mapOffset + 4 * b, 0xFFFFFFFE, 4);
        else if (!plan.absent.count(b))
            order.push_back(b);
    }
    if (plan.reverseOrder) std::reverse(order.begin(), order.end());
    std::uint32_t index = 0;
    for (std::uint64_t b : order) {
        if (b < count) putLe(img, plan.mapOffset + 4 * b, index, 4);
        const std::uint64_t at = dataOffset + index * bs;
        img.resize(at + bs, 0);
        const std::uint64_t n = std::min<std::uint64_t>(bs, disk.size() - b * bs);
        std::memcpy(img.data() + at, disk.data() + b * bs, n);
        ++index;
    }
    putLe(img, 388, plan.allocatedCount.value_or(index), 4);
    for (auto [b, v] : plan.entryOverride)
        putLe(img, plan.mapOffset + 4 * b, v, 4);
    return img;
}

} // namespace vindaru::test
