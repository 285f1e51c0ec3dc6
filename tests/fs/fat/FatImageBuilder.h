// Small FAT16, FAT32 and exFAT volumes built byte by byte, for the cases real formatters do not
// write: loops, self-containing folders, hostile sizes and shifts, long runs of name slots.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vindaru::test {

// One 32-byte FAT directory slot.
std::vector<std::uint8_t> shortSlot(const std::string& name11, std::uint8_t attribute, std::uint32_t cluster,
                                    std::uint32_t size, std::uint8_t caseFlags = 0);
// The long-name slots of `name` in on-disk order (last piece first), `deleted` marking each.
std::vector<std::uint8_t> longNameSlots(const std::u16string& name, bool deleted = false);

class FatImage {
public:
    // bits 16 or 32; 512-byte sectors; `sectorsPerCluster`; `clusters` data clusters.
    FatImage(unsigned bits, std::uint32_t clusters, std::uint8_t sectorsPerCluster = 1, const char* oem = "mkfs.fat");

    std::vector<std::uint8_t>& bytes() { return bytes_; }
    std::uint64_t clusterSize() const { return clusterSize_; }
    std::uint64_t clusterOffset(std::uint32_t cluster) const { return dataStart_ + (cluster - 2ull) * clusterSize_; }
    void setFat(std::uint32_t cluster, std::uint32_t value);
    // A chain over the given clusters, ended with the end marker.
    void chain(const std::vector<std::uint32_t>& clusters);
    // Root slots: FAT16's area, FAT32's root cluster (2) and the clusters it chains to.
    void putRoot(std::size_t slotIndex, const std::vector<std::uint8_t>& slots);
    void putInCluster(std::uint32_t cluster, std::size_t slotIndex, const std::vector<std::uint8_t>& slots);
    // "." and ".." slots at the start of a directory cluster.
    void dotEntries(std::uint32_t cluster, std::uint32_t parent);
    void fill(std::uint32_t cluster, std::uint8_t value);

private:
    unsigned bits_;
    std::uint64_t fatOffset_ = 512;
    std::uint64_t rootOffset_ = 0;
    std::uint64_t dataStart_ = 0;
    std::uint64_t clusterSize_ = 0;
    std::vector<std::uint8_t> bytes_;
};

// exFAT: 512-byte sectors, `clusterShift`, FAT at sector 8, heap after it, root at cluster 2.
class ExfatImage {
public:
    ExfatImage(std::uint32_t clusters, std::uint8_t clusterShift = 0);
    std::vector<std::uint8_t>& bytes() { return bytes_; }
    std::uint64_t clusterSize() const { return clusterSize_; }
    std::uint64_t clusterOffset(std::uint32_t cluster) const { return heap_ + (cluster - 2ull) * clusterSize_; }
    void setFat(std::uint32_t cluster, std::uint32_t value);
    // An entry set: File, Stream Extension, File Name slots.
    static std::vector<std::uint8_t> entrySet(const std::u16string& name, std::uint16_t attributes, std::uint32_t cluster,
                                              std::uint64_t length, std::uint8_t flags, bool deleted = false);
    // Slots at a byte position of the heap's clusters.
    void put(std::uint32_t cluster, std::size_t slotIndex, const std::vector<std::uint8_t>& slots);
    // The allocation bitmap at `cluster`, its entry at `rootSlot` of the root's first cluster;
    // the root's and the bitmap's own clusters are marked allocated.
    void addBitmap(std::uint32_t cluster, std::size_t rootSlot);
    void markAllocated(std::uint32_t cluster, bool allocated = true);
    // Writes `data` over `clusters` in order, one cluster each.
    void fill(const std::vector<std::uint32_t>& clusters, const std::vector<std::uint8_t>& data);

private:
    std::uint64_t heap_ = 0;
    std::uint64_t clusterSize_ = 0;
    std::uint32_t bitmapCluster_ = 0;
    std::vector<std::uint8_t> bytes_;
};

} // namespace vindaru::test
