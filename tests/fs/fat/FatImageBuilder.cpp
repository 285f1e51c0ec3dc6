#include "fs/fat/FatImageBuilder.h"

#include <algorithm>
#include <cstring>

namespace vindaru::test {

namespace {

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}
void put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
    put32(b, at, static_cast<std::uint32_t>(v));
    put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}

} // namespace

std::vector<std::uint8_t> shortSlot(const std::string& name11, std::uint8_t attribute, std::uint32_t cluster,
                                    std::uint32_t size, std::uint8_t caseFlags) {
    std::vector<std::uint8_t> s(32, 0);
    for (std::size_t i = 0; i < 11; ++i) s[i] = i < name11.size() ? static_cast<std::uint8_t>(name11[i]) : ' ';
    s[11] = attribute;
    s[12] = caseFlags;
    put16(s, 14, 0x6000);             // 12:00
    put16(s, 16, (44 << 9) | (3 << 5) | 7); // 2024-03-07
    put16(s, 18, (44 << 9) | (3 << 5) | 8);
    put16(s, 20, cluster >> 16);
    put16(s, 22, 0x7800 | (30 << 5)); // 15:30
    put16(s, 24, (44 << 9) | (3 << 5) | 9);
    put16(s, 26, cluster & 0xFFFF);
    put32(s, 28, size);
    return s;
}

std::vector<std::uint8_t> longNameSlots(const std::u16string& name, bool deleted) {
    const std::size_t pieces = (name.size() + 12) / 13;
    std::vector<std::uint8_t> out;
    static const std::size_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::size_t p = pieces; p-- > 0;) {
        std::vector<std::uint8_t> s(32, 0);
        s[0] = deleted ? 0xE5 : static_cast<std::uint8_t>((p + 1) | (p + 1 == pieces ? 0x40 : 0));
        s[11] = 0x0F;
        for (std::size_t i = 0; i < 13; ++i) {
            const std::size_t at = p * 13 + i;
            const std::uint32_t unit = at < name.size() ? name[at] : at == name.size() ? 0 : 0xFFFF;
            put16(s, kOffsets[i], unit);
        }
        out.insert(out.end(), s.begin(), s.end());
    }
    return out;
}

FatImage::FatImage(unsigned bits, std::uint32_t clusters, std::uint8_t sectorsPerCluster, const char* oem)
    : bits_(bits) {
    clusterSize_ = 512ull * sectorsPerCluster;
    const std::uint64_t fatBytes = (clusters + 2ull) * (bits / 8);
    const std::uint32_t fatSectors = static_cast<std::uint32_t>((fatBytes + 511) / 512);
    const std::uint32_t rootEntries = bits == 16 ? 512 : 0;
    rootOffset_ = fatOffset_ + fatSectors * 512ull;
    dataStart_ = rootOffset_ + rootEntries * 32ull;
    bytes_.assign(dataStart_ + clusters * clusterSize_, 0);
    auto& b = bytes_;
    b[0] = 0xEB;
    b[1] = bits == 16 ? 0x3C : 0x58;
    b[2] = 0x90;
    std::memcpy(&b[3], oem, std::min<std::size_t>(8, std::strlen(oem)));
    put16(b, 11, 512);
    b[13] = sectorsPerCluster;
    put16(b, 14, 1);
    b[16] = 1;
    put16(b, 17, rootEntries);
    const std::uint64_t totalSectors = bytes_.size() / 512;
    if (bits == 16) {
        put16(b, 22, fatSectors);
        if (totalSectors < 65536)
            put16(b, 19, static_cast<std::uint32_t>(totalSectors));
        else
            put32(b, 32, static_cast<std::uint32_t>(totalSectors));
    } else {
        put32(b, 32, static_cast<std::uint32_t>(totalSectors));
        put32(b, 36, fatSectors);
        put32(b, 44, 2);
    }
    b[510] = 0x55;
    b[511] = 0xAA;
    setFat(0, bits == 16 ? 0xFFF8 : 0x0FFFFFF8);
    setFat(1, bits == 16 ? 0xFFFF : 0x0FFFFFFF);
    if (bits == 32) setFat(2, 0x0FFFFFFF);
}

void FatImage::setFat(std::uint32_t cluster, std::uint32_t value) {
    if (bits_ == 16)
        put16(bytes_, fatOffset_ + cluster * 2ull, value);
    else
        put32(bytes_, fatOffset_ + cluster * 4ull, value);
}

void FatImage::chain(const std::vector<std::uint32_t>& clusters) {
    for (std::size_t i = 0; i < clusters.size(); ++i)
        setFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : (bits_ == 16 ? 0xFFFF : 0x0FFFFFFF));
}

void FatImage::putRoot(std::size_t slotIndex, const std::vector<std::uint8_t>& slots) {
    const std::uint64_t base = bits_ == 16 ? rootOffset_ : clusterOffset(2);
    std::copy(slots.begin(), slots.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(base + slotIndex * 32));
}

void FatImage::putInCluster(std::uint32_t cluster, std::size_t slotIndex, const std::vector<std::uint8_t>& slots) {
    std::copy(slots.begin(), slots.end(),
              bytes_.begin() + static_cast<std::ptrdiff_t>(clusterOffset(cluster) + slotIndex * 32));
}

void FatImage::dotEntries(std::uint32_t cluster, std::uint32_t parent) {
    putInCluster(cluster, 0, shortSlot(".", 0x10, cluster, 0));
    putInCluster(cluster, 1, shortSlot("..", 0x10, parent, 0));
}

void FatImage::fill(std::uint32_t cluster, std::uint8_t value) {
    std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(clusterOffset(cluster)), clusterSize_, value);
}

ExfatImage::ExfatImage(std::uint32_t clusters, std::uint8_t clusterShift) {
    clusterSize_ = 512ull << clusterShift;
    const std::uint64_t fatSectors = ((clusters + 2ull) * 4 + 511) / 512;
    heap_ = (8 + fatSectors) * 512;
    bytes_.assign(heap_ + clusters * clusterSize_, 0);
    auto& b = bytes_;
    b[0] = 0xEB;
    b[1] = 0x76;
    b[2] = 0x90;
    std::memcpy(&b[3], "EXFAT   ", 8);
    put64(b, 0x48, bytes_.size() / 512);
    put32(b, 0x50, 8);
    put32(b, 0x54, static_cast<std::uint32_t>(fatSectors));
    put32(b, 0x58, static_cast<std::uint32_t>(heap_ / 512));
    put32(b, 0x5C, clusters);
    put32(b, 0x60, 2);
    b[0x6C] = 9;
    b[0x6D] = clusterShift;
    b[0x6E] = 1;
    b[510] = 0x55;
    b[511] = 0xAA;
    setFat(0, 0xFFFFFFF8);
    setFat(1, 0xFFFFFFFF);
    setFat(2, 0xFFFFFFFF);
}

void ExfatImage::addBitmap(std::uint32_t cluster, std::size_t rootSlot) {
    const std::uint32_t clusters = static_cast<std::uint32_t>((bytes_.size() - heap_) / clusterSize_);
    std::vector<std::uint8_t> entry(32, 0);
    entry[0] = 0x81;
    put32(entry, 20, cluster);
    put64(entry, 24, (clusters + 7) / 8);
    put(2, rootSlot, entry);
    bitmapCluster_ = cluster;
    markAllocated(2);
    markAllocated(cluster);
}

void ExfatImage::markAllocated(std::uint32_t cluster, bool allocated) {
    std::uint8_t& byte = bytes_[clusterOffset(bitmapCluster_) + (cluster - 2) / 8];
    const auto bit = static_cast<std::uint8_t>(1u << ((cluster - 2) % 8));
    byte = allocated ? static_cast<std::uint8_t>(byte | bit) : static_cast<std::uint8_t>(byte & ~bit);
}

void ExfatImage::fill(const std::vector<std::uint32_t>& clusters, const std::vector<std::uint8_t>& data) {
    for (std::size_t k = 0; k < clusters.size() && k * clusterSize_ < data.size(); ++k) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(clusterSize_, data.size() - k * clusterSize_));
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(k * clusterSize_), n,
                    bytes_.begin() + static_cast<std::ptrdiff_t>(clusterOffset(clusters[k])));
    }
}

void ExfatImage::setFat(std::uint32_t cluster, std::uint32_t value) { put32(bytes_, 8 * 512 + cluster * 4ull, value); }

std::vector<std::uint8_t> ExfatImage::entrySet(const std::u16string& name, std::uint16_t attributes, std::uint32_t cluster,
                                               std::uint64_t length, std::uint8_t flags, bool deleted) {
    const std::size_t nameSlots = (name.size() + 14) / 15;
    std::vector<std::uint8_t> out(32 * (2 + nameSlots), 0);
    out[0] = deleted ? 0x05 : 0x85;
    out[1] = static_cast<std::uint8_t>(1 + nameSlots);
    put16(out, 4, attributes);
    put32(out, 8, (44u << 25) | (3u << 21) | (7u << 16) | 0x6000);
    put32(out, 12, (44u << 25) | (3u << 21) | (9u << 16) | 0x7800);
    put32(out, 16, (44u << 25) | (3u << 21) | (8u << 16));
    out[32] = deleted ? 0x40 : 0xC0;
    out[33] = flags;
    out[35] = static_cast<std::uint8_t>(name.size());
    put64(out, 40, length);
    put32(out, 52, cluster);
    put64(out, 56, length);
    for (std::size_t s = 0; s < nameSlots; ++s) {
        out[64 + 32 * s] = deleted ? 0x41 : 0xC1;
        for (std::size_t i = 0; i < 15 && s * 15 + i < name.size(); ++i) put16(out, 64 + 32 * s + 2 + 2 * i, name[s * 15 + i]);
    }
    return out;
}

void ExfatImage::put(std::uint32_t cluster, std::size_t slotIndex, const std::vector<std::uint8_t>& slots) {
    std::copy(slots.begin(), slots.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(clusterOffset(cluster) + slotIndex * 32));
}

} // namespace vindaru::test
