// Builds small VHDX images in memory for the reader tests: the header section, a log region, the
// BAT, the metadata region with its items, and payload blocks, sector bitmaps and log entries
// where a test puts them. Layout: identifier, headers and region tables in the first MiB, the log
// at 1 MiB, the BAT at 2 MiB, metadata at 3 MiB, blocks from 4 MiB on.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/TextConvert.h"
#include "image/VhdxLayout.h"

namespace vindaru::test {

class VhdxImage {
  public:
    static constexpr std::uint64_t kMiB = vhdx::MiB;
    static constexpr std::uint64_t kLogOffset = 1 * kMiB;
    static constexpr std::uint64_t kLogLength = 1 * kMiB;
    static constexpr std::uint64_t kBatOffset = 2 * kMiB;
    static constexpr std::uint64_t kMetadataOffset = 3 * kMiB;
    static constexpr std::uint64_t kFirstBlock = 4 * kMiB;

    std::uint32_t blockSize = 1 * kMiB;
    std::uint32_t logicalSector = 512;
    std::uint64_t virtualSize = 4 * kMiB;
    bool hasParent = false;
    bool leaveAllocated = false;
    vhdx::Guid dataWrite = guid(0x11);
    vhdx::Guid logGuid{};
    std::vector<std::pair<std::string, std::string>> locator;
    bool corruptHeader2 = false; // header 2 (the current one) with a wrong checksum
    bool corruptRegionTable1 = false;
    std::uint32_t batRegionLength = 0; // 0: what the disk needs, in whole MiB

    static vhdx::Guid guid(std::uint8_t fill) {
        vhdx::Guid g;
        g.fill(fill);
        return g;
    }

    vhdx::Geometry geometry() const {
        std::string problem;
        return *vhdx::makeGeometry(blockSize, logicalSector, virtualSize, hasParent, problem);
    }

    // Puts `bytes` (at most one block) as payload block `block`, fully present.
    std::uint64_t addBlock(std::uint64_t block, const std::vector<std::uint8_t>& bytes,
                           std::uint8_t state = 6) {
        const std::uint64_t at = nextFree();
        setBat(geometry().payloadIndex(block), state, at);
        write(at, bytes);
        reserve(at + blockSize);
        return at;
    }
    // Gives the chunk of `block` a sector bitmap with the sectors [first, first + count) (numbered
    // within the chunk) set.
    void addBitmap(std::uint64_t block, std::uint64_t first, std::uint64_t count) {
        std::vector<std::uint8_t> bits(vhdx::kSectorBitmapBlockSize);
        for (std::uint64_t s = first; s < first + count; ++s) bits[s / 8] |= std::uint8_t(1u << (s % 8));
        const std::uint64_t at = nextFree();
        setBat(geometry().bitmapIndex(block), vhdx::kBitmapPresent, at);
        write(at, bits);
        reserve(at + vhdx::kSectorBitmapBlockSize);
    }
    void setBat(std::uint64_t index, std::uint8_t state, std::uint64_t fileOffset) {
        bat_[index] = (fileOffset / kMiB) << 20 | state;
    }
    void write(std::uint64_t at, const std::vector<std::uint8_t>& bytes) { writes_[at] = bytes; }
    void reserve(std::uint64_t end) { end_ = std::max(end_, end); }

    // One log entry at `logOffset` in the log: `pages` written at file offsets (4 KiB each), and
    // zero ranges.
    struct LogWrite {
        std::uint64_t fileOffset;
        std::vector<std::uint8_t> page; // empty: a zero descriptor of `zeroLength`
        std::uint64_t zeroLength = 0;
    };
    void addLogEntry(std::uint64_t logOffset, std::uint64_t sequence, std::uint64_t tail,
                     const std::vector<LogWrite>& writes, std::uint64_t flushedFileOffset = 0) {
        const std::uint64_t sector = vhdx::kLogSectorSize;
        std::uint64_t dataCount = 0;
        for (const auto& w : writes) dataCount += w.page.empty() ? 0 : 1;
        const std::uint64_t descSectors = (64 + 32 * writes.size() + sector - 1) / sector;
        std::vector<std::uint8_t> e((descSectors + dataCount) * sector);
        std::memcpy(e.data(), "loge", 4);
        put32(e, 8, static_cast<std::uint32_t>(e.size()));
        put32(e, 12, static_cast<std::uint32_t>(tail));
        put64(e, 16, sequence);
        put32(e, 24, static_cast<std::uint32_t>(writes.size()));
        std::memcpy(e.data() + 32, logGuid.data(), 16);
        put64(e, 48, flushedFileOffset);
        put64(e, 56, flushedFileOffset);
        std::uint64_t data = descSectors;
        for (std::size_t i = 0; i < writes.size(); ++i) {
            const std::size_t d = 64 + 32 * i;
            const auto& w = writes[i];
            put64(e, d + 16, w.fileOffset);
            put64(e, d + 24, sequence);
            if (w.page.empty()) {
                std::memcpy(e.data() + d, "zero", 4);
                put64(e, d + 8, w.zeroLength);
                continue;
            }
            std::memcpy(e.data() + d, "desc", 4);
            std::memcpy(e.data() + d + 4, w.page.data() + sector - 4, 4); // trailing bytes
            std::memcpy(e.data() + d + 8, w.page.data(), 8);              // leading bytes
            const std::size_t s = data * sector;
            std::memcpy(e.data() + s, w.page.data(), sector);
            std::memcpy(e.data() + s, "data", 4);
            put32(e, s + 4, static_cast<std::uint32_t>(sequence >> 32));
            put32(e, s + sector - 4, static_cast<std::uint32_t>(sequence));
            ++data;
        }
        put32(e, 4, vhdx::crc32c(e, 4));
        write(kLogOffset + logOffset, e);
    }

    std::vector<std::uint8_t> build() const {
        std::uint64_t end = std::max(end_, kFirstBlock);
        for (const auto& [at, bytes] : writes_) end = std::max<std::uint64_t>(end, at + bytes.size());
        std::vector<std::uint8_t> f(end);
        std::memcpy(f.data(), "vhdxfile", 8);
        const std::u16string creator = u"test builder";
        for (std::size_t i = 0; i < creator.size(); ++i) f[8 + 2 * i] = static_cast<std::uint8_t>(creator[i]);
        header(f, vhdx::kHeader1Offset, 1, false);
        header(f, vhdx::kHeader2Offset, 2, corruptHeader2);
        regionTable(f, vhdx::kRegionTable1Offset, corruptRegionTable1);
        regionTable(f, vhdx::kRegionTable2Offset, false);
        metadata(f);
        for (const auto& [index, raw] : bat_) put64(f, kBatOffset + index * 8, raw);
        for (const auto& [at, bytes] : writes_) std::memcpy(f.data() + at, bytes.data(), bytes.size());
        return f;
    }

    static void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
        for (int i = 0; i < 2; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    static void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    static void put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
        for (int i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }

  private:
    std::uint64_t nextFree() const { return std::max(end_, kFirstBlock); }

    void header(std::vector<std::uint8_t>& f, std::uint64_t at, std::uint64_t sequence, bool corrupt) const {
        std::vector<std::uint8_t> h(vhdx::kHeaderSize);
        std::memcpy(h.data(), "head", 4);
        put64(h, 8, sequence);
        std::memcpy(h.data() + 16, guid(0x22).data(), 16);
        std::memcpy(h.data() + 32, dataWrite.data(), 16);
        std::memcpy(h.data() + 48, logGuid.data(), 16);
        put16(h, 66, 1);
        put32(h, 68, static_cast<std::uint32_t>(kLogLength));
        put64(h, 72, kLogOffset);
        put32(h, 4, vhdx::crc32c(h, 4) ^ (corrupt ? 1u : 0u));
        std::memcpy(f.data() + at, h.data(), h.size());
    }

    void regionTable(std::vector<std::uint8_t>& f, std::uint64_t at, bool corrupt) const {
        std::vector<std::uint8_t> t(vhdx::kRegionTableSize);
        std::memcpy(t.data(), "regi", 4);
        put32(t, 8, 2);
        const std::uint64_t batLength =
            batRegionLength != 0 ? batRegionLength : ((geometry().batEntries * 8 + kMiB - 1) / kMiB) * kMiB;
        std::memcpy(t.data() + 16, vhdx::kBatRegion.data(), 16);
        put64(t, 32, kBatOffset);
        put32(t, 40, static_cast<std::uint32_t>(batLength));
        put32(t, 44, 1);
        std::memcpy(t.data() + 48, vhdx::kMetadataRegion.data(), 16);
        put64(t, 64, kMetadataOffset);
        put32(t, 72, static_cast<std::uint32_t>(kMiB));
        put32(t, 76, 1);
        put32(t, 4, vhdx::crc32c(t, 4) ^ (corrupt ? 1u : 0u));
        std::memcpy(f.data() + at, t.data(), t.size());
    }

    void metadata(std::vector<std::uint8_t>& f) const {
        const std::uint64_t base = kMetadataOffset;
        std::memcpy(f.data() + base, "metadata", 8);
        std::vector<std::pair<vhdx::Guid, std::vector<std::uint8_t>>> items;
        std::vector<std::uint8_t> params(8);
        put32(params, 0, blockSize);
        put32(params, 4, (leaveAllocated ? 1u : 0u) | (hasParent ? 2u : 0u));
        items.emplace_back(vhdx::kFileParametersItem, params);
        std::vector<std::uint8_t> size(8);
        put64(size, 0, virtualSize);
        items.emplace_back(vhdx::kVirtualDiskSizeItem, size);
        std::vector<std::uint8_t> sector(4);
        put32(sector, 0, logicalSector);
        items.emplace_back(vhdx::kLogicalSectorSizeItem, sector);
        items.emplace_back(vhdx::kPhysicalSectorSizeItem, std::vector<std::uint8_t>{0, 16, 0, 0});
        if (hasParent) items.emplace_back(vhdx::kParentLocatorItem, locatorBytes());
        put16(f, base + 10, static_cast<std::uint16_t>(items.size()));
        std::uint64_t itemAt = vhdx::kMetadataTableSize;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const std::size_t e = base + 32 + 32 * i;
            std::memcpy(f.data() + e, items[i].first.data(), 16);
            put32(f, e + 16, static_cast<std::uint32_t>(itemAt));
            put32(f, e + 20, static_cast<std::uint32_t>(items[i].second.size()));
            put32(f, e + 24, 4); // required
            std::memcpy(f.data() + base + itemAt, items[i].second.data(), items[i].second.size());
            itemAt += (items[i].second.size() + 7) / 8 * 8;
        }
    }

    std::vector<std::uint8_t> locatorBytes() const {
        std::vector<std::uint8_t> b(20 + 12 * locator.size());
        std::memcpy(b.data(), vhdx::kVhdxParentLocatorType.data(), 16);
        put16(b, 18, static_cast<std::uint16_t>(locator.size()));
        for (std::size_t i = 0; i < locator.size(); ++i) {
            auto utf16 = [](const std::string& s) {
                std::vector<std::uint8_t> out;
                for (char16_t c : utf8ToUtf16(s)) {
                    out.push_back(static_cast<std::uint8_t>(c));
                    out.push_back(static_cast<std::uint8_t>(c >> 8));
                }
                return out;
            };
            const auto key = utf16(locator[i].first);
            const auto value = utf16(locator[i].second);
            put32(b, 20 + 12 * i, static_cast<std::uint32_t>(b.size()));
            b.insert(b.end(), key.begin(), key.end());
            put32(b, 20 + 12 * i + 4, static_cast<std::uint32_t>(b.size()));
            b.insert(b.end(), value.begin(), value.end());
            put16(b, 20 + 12 * i + 8, static_cast<std::uint16_t>(key.size()));
            put16(b, 20 + 12 * i + 10, static_cast<std::uint16_t>(value.size()));
        }
        return b;
    }

    std::map<std::uint64_t, std::uint64_t> bat_;
    std::map<std::uint64_t, std::vector<std::uint8_t>> writes_;
    std::uint64_t end_ = 0;
};

// `length` bytes of a pattern that differs with `seed` and position.
inline std::vector<std::uint8_t> patternBytes(std::size_t length, std::uint8_t seed) {
    std::vector<std::uint8_t> b(length);
    for (std::size_t i = 0; i < length; ++i) b[i] = static_cast<std::uint8_t>(seed * 31 + i * 7 + (i >> 9));
    return b;
}

} // namespace vindaru::test
