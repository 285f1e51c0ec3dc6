// Synthetic VMDK images for the reader tests: sparse extents built grain by grain, with every
// data sector carrying its own disk sector number so that a misplaced sector shows.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vindaru::test {

// The 512 bytes that disk sector `sector` holds in a synthetic image (`salt` tells images apart).
std::vector<std::uint8_t> sectorPattern(std::uint64_t sector, std::uint8_t salt = 0);

class SparseVmdkBuilder {
public:
    SparseVmdkBuilder(std::uint64_t capacitySectors, std::uint64_t grainSize, std::uint32_t gtesPerTable = 512);

    // Embedded descriptor text, placed at sector 1 in an area of 20 sectors.
    SparseVmdkBuilder& descriptor(std::string text);
    // A descriptor naming this file as one SPARSE extent of the whole capacity.
    SparseVmdkBuilder& standardDescriptor();
    // Grain `grain` holds data (the sector pattern of its disk sectors).
    SparseVmdkBuilder& allocate(std::uint64_t grain);
    // Grain-table entry of `grain` set to a raw value (0 or 1 for the two kinds of hole; any
    // entry of 1 sets the header's flag for zeroed-grain entries).
    SparseVmdkBuilder& rawEntry(std::uint64_t grain, std::uint32_t value);
    // Lay the grains out in the file in reverse order of their index (no two are contiguous
    // in the order they are read).
    SparseVmdkBuilder& reverseGrainOrder();
    SparseVmdkBuilder& salt(std::uint8_t value);
    // A second copy of the grain directory and tables for the header's redundant directory
    // (otherwise both header fields name the one copy).
    SparseVmdkBuilder& redundantCopy();
    // Every table of each directory written right after it, whether it maps anything or not, and
    // the grains from the header's overhead on, aligned to whole grains, as hosted writers lay a
    // monolithic sparse file out.
    SparseVmdkBuilder& preallocatedTables();
    // Header fields overridden after layout (for corrupt headers).
    SparseVmdkBuilder& headerOverride(std::size_t offset, std::uint64_t value, int width);

    std::vector<std::uint8_t> build() const;
    // What the disk holds: pattern in allocated grains, zeros elsewhere.
    std::vector<std::uint8_t> expectedDisk() const;

    std::uint64_t capacity() const { return capacity_; }
    std::uint64_t grainSize() const { return grainSize_; }

private:
    std::uint64_t capacity_;
    std::uint64_t grainSize_;
    std::uint32_t gtes_;
    std::string descriptor_;
    std::map<std::uint64_t, std::uint32_t> raw_; // grain -> raw entry (0/1)
    std::vector<std::uint64_t> allocated_;
    bool reverse_ = false;
    bool redundantCopy_ = false;
    bool preallocated_ = false;
    std::uint8_t salt_ = 0;
    struct Override {
        std::size_t offset;
        std::uint64_t value;
        int width;
    };
    std::vector<Override> overrides_;
};

// A stream-optimized extent of `disk` (its length a multiple of 512): every grain that is not
// all zeros compressed behind a grain marker. With `directoryAtEnd` the header says the
// directory is in the footer and tables, directory, footer and end marker follow the grains,
// as a streaming writer leaves them; otherwise the header names the directory directly.
struct StreamImage {
    std::vector<std::uint8_t> file;
    std::vector<std::uint64_t> grainMarkerAt; // per grain: file offset of its marker, 0 if none
    std::uint64_t footerAt = 0;               // file offset of the footer marker (0: none)
};
StreamImage streamOptimizedImage(const std::vector<std::uint8_t>& disk, std::uint64_t grainSectors,
                                 bool directoryAtEnd, const std::string& descriptor = {});

// An ESXi COWD delta of `capacity` sectors with 4096-entry tables; each grain of `grains` holds
// the pattern of its sectors (salt `salt`).
std::vector<std::uint8_t> cowdDelta(std::uint32_t capacity, std::uint32_t grainSectors,
                                    const std::vector<std::uint32_t>& grains, std::uint8_t salt);

// An SEsparse delta of `capacity` sectors (4 KiB grains): `grains` stored with their pattern,
// `zeroGrains` marked as zero grains.
std::vector<std::uint8_t> seSparseDelta(std::uint64_t capacity, const std::vector<std::uint64_t>& grains,
                                        const std::vector<std::uint64_t>& zeroGrains, std::uint8_t salt);

// A descriptor text as qemu-img writes it, with the given extent lines.
std::string descriptorText(const std::string& createType, const std::vector<std::string>& extentLines);

} // namespace vindaru::test
