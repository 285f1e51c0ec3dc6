// Builds small QCOW2 images in memory for the reader tests: the header (with a backing file name
// and format), one L1 table, L2 tables and clusters placed where a test asks, compressed
// clusters deflated with zlib. Layout: header cluster, L1 cluster, then L2 tables and data in
// the order they are added.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>
#include <zlib.h>

#include "image/Qcow2Layout.h"

namespace vindaru::test {

class Qcow2Image {
  public:
    std::uint32_t version = 3;
    std::uint32_t clusterBits = 12;
    std::uint64_t size = 64 * 1024;
    std::uint64_t incompatible = 0;
    std::uint32_t cryptMethod = 0;
    std::uint32_t l1Entries = 0; // 0: what the size needs
    std::string backing;
    std::string backingFormat;

    std::uint64_t clusterSize() const { return std::uint64_t{1} << clusterBits; }
    bool extended() const { return (incompatible & qcow2::kIncompatibleExtendedL2) != 0; }
    std::uint64_t l2Entries() const { return clusterSize() / (extended() ? 16 : 8); }

    // The L2 entry (and, for extended entries, the bitmap) of guest cluster `cluster`.
    void setEntry(std::uint64_t cluster, std::uint64_t raw, std::uint64_t bitmap = 0) {
        entries_[cluster] = {raw, bitmap};
    }
    // Stores `bytes` (one cluster at most) as guest cluster `cluster`; returns its host offset.
    std::uint64_t addCluster(std::uint64_t cluster, const std::vector<std::uint8_t>& bytes,
                             std::uint64_t bitmap = 0) {
        const std::uint64_t at = allocate(clusterSize());
        data_[at] = bytes;
        setEntry(cluster, at | (1ull << 63), bitmap);
        return at;
    }
    // Stores `bytes` (one whole cluster) deflated as guest cluster `cluster`.
    void addCompressed(std::uint64_t cluster, const std::vector<std::uint8_t>& bytes) {
        std::vector<std::uint8_t> packed(compressBound(static_cast<uLong>(bytes.size())) + 64);
        z_stream z{};
        deflateInit2(&z, 6, Z_DEFLATED, -12, 9, Z_DEFAULT_STRATEGY);
        z.next_in = const_cast<Bytef*>(bytes.data());
        z.avail_in = static_cast<uInt>(bytes.size());
        z.next_out = packed.data();
        z.avail_out = static_cast<uInt>(packed.size());
        deflate(&z, Z_FINISH);
        packed.resize(z.total_out);
        deflateEnd(&z);
        addCompressedRaw(cluster, packed);
    }
    // Puts `packed` at an unaligned place and points a compressed entry at it.
    void addCompressedRaw(std::uint64_t cluster, const std::vector<std::uint8_t>& packed) {
        const std::uint64_t at = allocate(((packed.size() + 100 + 511) / 512 + 1) * 512) + 100;
        data_[at] = packed;
        const unsigned x = 62 - (clusterBits - 8);
        const std::uint64_t sectors = (at % 512 + packed.size() + 511) / 512;
        setEntry(cluster, (1ull << 62) | ((sectors - 1) << x) | at);
    }
    std::uint64_t allocate(std::uint64_t bytes) {
        if (next_ == 0) next_ = 2 * clusterSize(); // after the header and L1 clusters
        const std::uint64_t at = next_;
        next_ += (bytes + clusterSize() - 1) / clusterSize() * clusterSize();
        return at;
    }

    std::vector<std::uint8_t> build() {
        const std::uint64_t cs = clusterSize();
        const std::uint64_t perL2 = l2Entries();
        const std::uint64_t l1Count = l1Entries != 0 ? l1Entries : (size + cs * perL2 - 1) / (cs * perL2);
        // L2 tables for the L1 entries that need one.
        std::map<std::uint64_t, std::uint64_t> l2At;
        for (const auto& [cluster, e] : entries_)
            if (!l2At.count(cluster / perL2)) l2At[cluster / perL2] = allocate(cs);
        std::vector<std::uint8_t> f(std::max(next_, 2 * cs));
        putBe32(f, 0, qcow2::kMagic);
        putBe32(f, 4, version);
        putBe32(f, 20, clusterBits);
        putBe64(f, 24, size);
        putBe32(f, 32, cryptMethod);
        putBe32(f, 36, static_cast<std::uint32_t>(l1Count));
        putBe64(f, 40, cs);
        std::size_t ext = 72;
        if (version >= 3) {
            putBe64(f, 72, incompatible);
            putBe32(f, 96, 4);
            putBe32(f, 100, 104);
            ext = 104;
        }
        if (!backingFormat.empty()) {
            putBe32(f, ext, qcow2::kExtensionBackingFormat);
            putBe32(f, ext + 4, static_cast<std::uint32_t>(backingFormat.size()));
            std::memcpy(f.data() + ext + 8, backingFormat.data(), backingFormat.size());
            ext += 8 + (backingFormat.size() + 7) / 8 * 8;
        }
        ext += 8; // the end marker
        if (!backing.empty()) {
            putBe64(f, 8, ext);
            putBe32(f, 16, static_cast<std::uint32_t>(backing.size()));
            std::memcpy(f.data() + ext, backing.data(), backing.size());
        }
        for (const auto& [index, at] : l2At)
            if (index < cs / 8) putBe64(f, cs + index * 8, at | (1ull << 63));
        for (const auto& [cluster, e] : entries_) {
            const std::uint64_t table = l2At[cluster / perL2];
            const std::uint64_t slot = cluster % perL2;
            putBe64(f, table + slot * (extended() ? 16 : 8), e.first);
            if (extended()) putBe64(f, table + slot * 16 + 8, e.second);
        }
        for (const auto& [at, bytes] : data_) std::memcpy(f.data() + at, bytes.data(), bytes.size());
        return f;
    }

    static void putBe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
    }
    static void putBe64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
        for (int i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * (7 - i)));
    }

  private:
    std::map<std::uint64_t, std::pair<std::uint64_t, std::uint64_t>> entries_;
    std::map<std::uint64_t, std::vector<std::uint8_t>> data_;
    std::uint64_t next_ = 0;
};

} // namespace vindaru::test
