#include "image/VmdkTestImages.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

namespace vindaru::test {

namespace {

void putLe(std::vector<std::uint8_t>& b, std::size_t off, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
        b[off + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

constexpr std::uint64_t kDescriptorSector = 1;
constexpr std::uint64_t kDescriptorSectors = 20;

} // namespace

std::vector<std::uint8_t> sectorPattern(std::uint64_t sector, std::uint8_t salt) {
    std::vector<std::uint8_t> s(512);
    for (std::size_t i = 0; i < 512; ++i)
        s[i] = static_cast<std::uint8_t>((sector * 131 + i * 7 + salt) ^ (sector >> 8));
    putLe(s, 0, sector, 8);
    s[8] = salt;
    return s;
}

SparseVmdkBuilder::SparseVmdkBuilder(std::uint64_t capacitySectors, std::uint64_t grainSize,
                                     std::uint32_t gtes)
    : capacity_(capacitySectors), grainSize_(grainSize), gtes_(gtes) {}

SparseVmdkBuilder& SparseVmdkBuilder::descriptor(std::string text) {
    descriptor_ = std::move(text);
    return *this;
}

SparseVmdkBuilder& SparseVmdkBuilder::standardDescriptor() {
    return descriptor(descriptorText(
        "monolithicSparse", {"RW " + std::to_string(capacity_) + " SPARSE \"test.vmdk\""}));
}

SparseVmdkBuilder& SparseVmdkBuilder::allocate(std::uint64_t grain) {
    allocated_.push_back(grain);
    return *this;
}

SparseVmdkBuilder& SparseVmdkBuilder::rawEntry(std::uint64_t grain, std::uint32_t value) {
    raw_[grain] = value;
    return *this;
}

SparseVmdkBuilder& SparseVmdkBuilder::reverseGrainOrder() {
    reverse_ = true;
    return *this;
}

SparseVmdkBuilder& SparseVmdkBuilder::salt(std::uint8_t value) {
    salt_ = value;
    return *this;
}

SparseVmdkBuilder& SparseVmdkBuilder::headerOverride(std::size_t offset, std::uint64_t value,
                                                     int width) {
    overrides_.push_back({offset, value, width});
    return *this;
}

SparseVmdkBuilder& SparseVmdkBuilder::redundantCopy() {
    redundantCopy_ = true;
    return *this;
}

SparseVmdkBuilder& SparseVmdkBuilder::preallocatedTables() {
    preallocated_ = true;
    return *this;
}

std::vector<std::uint8_t> SparseVmdkBuilder::build() const {
    const std::uint64_t perTable = grainSize_ * gtes_;
    const std::uint64_t tables = (capacity_ + perTable - 1) / perTable;
    const std::uint64_t gdSector = kDescriptorSector + kDescriptorSectors;
    const std::uint64_t gdSectors = (tables * 4 + 511) / 512;
    const std::uint64_t tableSectors = (gtes_ * 4 + 511) / 512;

    // Only tables that hold something are written.
    std::vector<std::uint64_t> usedTables;
    auto noteTable = [&](std::uint64_t grain) {
        const std::uint64_t t = grain / gtes_;
        if (std::find(usedTables.begin(), usedTables.end(), t) == usedTables.end())
            usedTables.push_back(t);
    };
    for (auto g : allocated_)
        noteTable(g);
    for (const auto& [g, v] : raw_)
        noteTable(g);
    if (preallocated_) {
        usedTables.clear();
        for (std::uint64_t t = 0; t < tables; ++t) usedTables.push_back(t);
    }
    std::sort(usedTables.begin(), usedTables.end());

    std::uint64_t next = gdSector + gdSectors;
    std::map<std::uint64_t, std::uint64_t> tableAt;
    for (auto t : usedTables) {
        tableAt[t] = next;
        next += tableSectors;
    }
    const std::uint64_t rgdSector = redundantCopy_ ? next : gdSector;
    std::map<std::uint64_t, std::uint64_t> redundantAt;
    if (redundantCopy_) {
        next += gdSectors;
        for (auto t : usedTables) {
            redundantAt[t] = next;
            next += tableSectors;
        }
    }
    const std::uint64_t overhead = preallocated_ ? (next + grainSize_ - 1) / grainSize_ * grainSize_ : 0;
    if (preallocated_) next = overhead;
    std::vector<std::uint64_t> order = allocated_;
    std::sort(order.begin(), order.end());
    if (reverse_) std::reverse(order.begin(), order.end());
    std::map<std::uint64_t, std::uint64_t> grainAt;
    for (auto g : order) {
        grainAt[g] = next;
        next += grainSize_;
    }

    std::vector<std::uint8_t> file(next * 512, 0);
    putLe(file, 0, 0x564D444B, 4);
    putLe(file, 4, 1, 4);
    // Entries of 1 (grains of zeros) are declared in the flags, as writers that use them do.
    const bool zeroEntries = std::any_of(raw_.begin(), raw_.end(), [](const auto& e) { return e.second == 1; });
    putLe(file, 8, zeroEntries ? 7 : 3, 4);
    putLe(file, 12, capacity_, 8);
    putLe(file, 20, grainSize_, 8);
    if (!descriptor_.empty()) {
        putLe(file, 28, kDescriptorSector, 8);
        putLe(file, 36, kDescriptorSectors, 8);
        std::memcpy(file.data() + kDescriptorSector * 512, descriptor_.data(),
                    std::min<std::size_t>(descriptor_.size(), kDescriptorSectors * 512));
    }
    putLe(file, 44, gtes_, 4);
    putLe(file, 48, rgdSector, 8);
    putLe(file, 56, gdSector, 8);
    putLe(file, 64, overhead, 8);
    for (const auto& [t, at] : tableAt)
        putLe(file, gdSector * 512 + t * 4, at, 4);
    for (const auto& [t, at] : redundantAt)
        putLe(file, rgdSector * 512 + t * 4, at, 4);
    auto setEntry = [&](std::uint64_t grain, std::uint32_t value) {
        putLe(file, tableAt[grain / gtes_] * 512 + (grain % gtes_) * 4, value, 4);
        if (redundantCopy_) putLe(file, redundantAt[grain / gtes_] * 512 + (grain % gtes_) * 4, value, 4);
    };
    for (const auto& [g, v] : raw_)
        setEntry(g, v);
    for (const auto& [g, at] : grainAt) {
        setEntry(g, static_cast<std::uint32_t>(at));
        for (std::uint64_t s = 0; s < grainSize_; ++s) {
            const auto p = sectorPattern(g * grainSize_ + s, salt_);
            std::copy(p.begin(), p.end(),
                      file.begin() + static_cast<std::ptrdiff_t>((at + s) * 512));
        }
    }
    for (const auto& o : overrides_)
        putLe(file, o.offset, o.value, o.width);
    return file;
}

std::vector<std::uint8_t> SparseVmdkBuilder::expectedDisk() const {
    std::vector<std::uint8_t> disk(capacity_ * 512, 0);
    for (auto g : allocated_) {
        for (std::uint64_t s = 0; s < grainSize_; ++s) {
            const std::uint64_t sector = g * grainSize_ + s;
            if (sector >= capacity_) break;
            const auto p = sectorPattern(sector, salt_);
            std::copy(p.begin(), p.end(), disk.begin() + static_cast<std::ptrdiff_t>(sector * 512));
        }
    }
    return disk;
}

StreamImage streamOptimizedImage(const std::vector<std::uint8_t>& disk, std::uint64_t grainSectors,
                                 bool directoryAtEnd, const std::string& descriptor) {
    const std::uint64_t capacity = disk.size() / 512;
    const std::uint64_t grainBytes = grainSectors * 512;
    const std::uint64_t grains = (capacity + grainSectors - 1) / grainSectors;
    const std::uint64_t gtes = 512;
    const std::uint64_t tables = (grains + gtes - 1) / gtes;
    const std::uint64_t gdSectors = (tables * 4 + 511) / 512;
    StreamImage image;
    std::vector<std::uint8_t>& f = image.file;
    auto align = [&] { f.resize((f.size() + 511) / 512 * 512, 0); };
    f.assign(512, 0);
    const std::uint64_t descriptorSectors = descriptor.empty() ? 0 : (descriptor.size() + 511) / 512;
    if (descriptorSectors != 0) {
        f.insert(f.end(), descriptor.begin(), descriptor.end());
        align();
    } else {
        f.resize(1024, 0); // a grain table entry of 1 means a zero grain: nothing starts at sector 1
    }
    // Directory and tables up front when the header names them.
    std::uint64_t frontGd = 0;
    if (!directoryAtEnd) {
        frontGd = f.size() / 512;
        f.resize(f.size() + (gdSectors + tables * 4) * 512, 0);
        for (std::uint64_t t = 0; t < tables; ++t)
            putLe(f, frontGd * 512 + t * 4, frontGd + gdSectors + t * 4, 4);
    }
    const std::uint64_t overhead = f.size() / 512;
    std::vector<std::uint32_t> entries(tables * gtes, 0);
    image.grainMarkerAt.assign(grains, 0);
    for (std::uint64_t g = 0; g < grains; ++g) {
        const std::size_t from = g * grainBytes;
        const std::size_t len = std::min<std::size_t>(grainBytes, disk.size() - from);
        if (std::all_of(disk.begin() + from, disk.begin() + from + len, [](auto b) { return b == 0; })) continue;
        std::vector<std::uint8_t> z(compressBound(len));
        uLongf zlen = z.size();
        compress(z.data(), &zlen, disk.data() + from, len);
        entries[g] = static_cast<std::uint32_t>(f.size() / 512);
        image.grainMarkerAt[g] = f.size();
        const std::size_t at = f.size();
        f.resize(at + 12 + zlen, 0);
        putLe(f, at, g * grainSectors, 8);
        putLe(f, at + 8, zlen, 4);
        std::memcpy(f.data() + at + 12, z.data(), zlen);
        align();
    }
    std::uint64_t gdSector = frontGd;
    auto metadataMarker = [&](std::uint64_t sectors, std::uint32_t type) {
        const std::size_t at = f.size();
        f.resize(at + 512, 0);
        putLe(f, at, sectors, 8);
        putLe(f, at + 12, type, 4);
    };
    if (directoryAtEnd) {
        std::vector<std::uint64_t> tableSector(tables);
        for (std::uint64_t t = 0; t < tables; ++t) {
            metadataMarker(4, 1);
            tableSector[t] = f.size() / 512;
            const std::size_t at = f.size();
            f.resize(at + 2048, 0);
            for (std::uint64_t i = 0; i < gtes; ++i) putLe(f, at + i * 4, entries[t * gtes + i], 4);
        }
        metadataMarker(gdSectors, 2);
        gdSector = f.size() / 512;
        const std::size_t at = f.size();
        f.resize(at + gdSectors * 512, 0);
        for (std::uint64_t t = 0; t < tables; ++t) putLe(f, at + t * 4, tableSector[t], 4);
    } else {
        for (std::uint64_t i = 0; i < entries.size(); ++i)
            putLe(f, (frontGd + gdSectors + (i / gtes) * 4) * 512 + (i % gtes) * 4, entries[i], 4);
    }
    auto header = [&](std::size_t at, std::uint64_t gd) {
        putLe(f, at, 0x564D444B, 4);
        putLe(f, at + 4, 3, 4);
        putLe(f, at + 8, 0x30001, 4);
        putLe(f, at + 12, capacity, 8);
        putLe(f, at + 20, grainSectors, 8);
        putLe(f, at + 28, descriptorSectors ? 1 : 0, 8);
        putLe(f, at + 36, descriptorSectors, 8);
        putLe(f, at + 44, gtes, 4);
        putLe(f, at + 48, 0, 8);
        putLe(f, at + 56, gd, 8);
        putLe(f, at + 64, overhead, 8);
        putLe(f, at + 77, 1, 2);
    };
    header(0, directoryAtEnd ? ~std::uint64_t{0} : gdSector);
    if (directoryAtEnd) {
        image.footerAt = f.size();
        metadataMarker(1, 3);
        const std::size_t at = f.size();
        f.resize(at + 512, 0);
        header(at, gdSector);
    }
    metadataMarker(0, 0);
    return image;
}

std::vector<std::uint8_t> cowdDelta(std::uint32_t capacity, std::uint32_t grainSectors,
                                    const std::vector<std::uint32_t>& grains, std::uint8_t salt) {
    const std::uint64_t grainCount = (capacity + grainSectors - 1) / grainSectors;
    const std::uint64_t tables = (grainCount + 4095) / 4096;
    const std::uint64_t gdSector = 4;
    const std::uint64_t gdSectors = (tables * 4 + 511) / 512;
    const std::uint64_t firstTable = gdSector + gdSectors;
    std::uint64_t next = firstTable + tables * 32;
    std::vector<std::uint8_t> f(next * 512 + grains.size() * grainSectors * 512, 0);
    putLe(f, 0, 0x44574F43, 4);
    putLe(f, 4, 1, 4);
    putLe(f, 8, 3, 4);
    putLe(f, 12, capacity, 4);
    putLe(f, 16, grainSectors, 4);
    putLe(f, 20, gdSector, 4);
    putLe(f, 24, tables, 4);
    putLe(f, 28, next + grains.size() * grainSectors, 4);
    for (std::uint64_t t = 0; t < tables; ++t) putLe(f, gdSector * 512 + t * 4, firstTable + t * 32, 4);
    for (std::uint32_t g : grains) {
        putLe(f, firstTable * 512 + std::uint64_t{g} * 4, next, 4);
        for (std::uint64_t s = 0; s < grainSectors; ++s) {
            const auto p = sectorPattern(std::uint64_t{g} * grainSectors + s, salt);
            std::copy(p.begin(), p.end(), f.begin() + static_cast<std::ptrdiff_t>((next + s) * 512));
        }
        next += grainSectors;
    }
    return f;
}

std::vector<std::uint8_t> seSparseDelta(std::uint64_t capacity, const std::vector<std::uint64_t>& grains,
                                        const std::vector<std::uint64_t>& zeroGrains, std::uint8_t salt) {
    const std::uint64_t grainCount = (capacity + 7) / 8;
    const std::uint64_t tables = (grainCount + 4095) / 4096;
    const std::uint64_t volatileSector = 1;
    const std::uint64_t gdSector = 2;
    const std::uint64_t gdSectors = std::max<std::uint64_t>(1, (tables * 8 + 511) / 512);
    const std::uint64_t tablesSector = gdSector + gdSectors;
    const std::uint64_t grainsSector = tablesSector + tables * 64;
    std::vector<std::uint8_t> f((grainsSector + grains.size() * 8) * 512, 0);
    putLe(f, 0, 0xCAFEBABE, 8);
    putLe(f, 8, 0x0000000200000001ull, 8);
    putLe(f, 16, capacity, 8);
    putLe(f, 24, 8, 8);
    putLe(f, 32, 64, 8);
    putLe(f, 80, volatileSector, 8);
    putLe(f, 88, 1, 8);
    putLe(f, 128, gdSector, 8);
    putLe(f, 136, gdSectors, 8);
    putLe(f, 144, tablesSector, 8);
    putLe(f, 152, tables * 64, 8);
    putLe(f, 192, grainsSector, 8);
    putLe(f, 200, grains.size() * 8, 8);
    putLe(f, volatileSector * 512, 0xCAFECAFE, 8);
    for (std::uint64_t t = 0; t < tables; ++t) putLe(f, gdSector * 512 + t * 8, 0x1000000000000000ull | t, 8);
    auto entryAt = [&](std::uint64_t g) { return tablesSector * 512 + (g / 4096) * 32768 + (g % 4096) * 8; };
    for (std::uint64_t z : zeroGrains) putLe(f, entryAt(z), 0x2000000000000000ull, 8);
    // Stored in reverse order so that the grain numbers are not the disk's.
    for (std::size_t i = 0; i < grains.size(); ++i) {
        const std::uint64_t g = grains[i];
        const std::uint64_t number = grains.size() - 1 - i;
        const std::uint64_t entry = 0x3000000000000000ull | ((number & 0xFFF) << 48) | (number >> 12);
        putLe(f, entryAt(g), entry, 8);
        for (std::uint64_t s = 0; s < 8; ++s) {
            const auto p = sectorPattern(g * 8 + s, salt);
            std::copy(p.begin(), p.end(), f.begin() + static_cast<std::ptrdiff_t>((grainsSector + number * 8 + s) * 512));
        }
    }
    return f;
}

std::string descriptorText(const std::string& createType,
                           const std::vector<std::string>& extentLines) {
    std::string t =
        "# Disk DescriptorFile\nversion=1\nCID=12345678\nparentCID=ffffffff\ncreateType=\"" +
        createType + "\"\n\n# Extent description\n";
    for (const auto& l : extentLines)
        t += l + "\n";
    t += "\n# The Disk Data Base\n#DDB\n\nddb.virtualHWVersion = \"4\"\n"
         "ddb.geometry.cylinders = \"16383\"\nddb.geometry.heads = \"16\"\n"
         "ddb.geometry.sectors = \"63\"\nddb.adapterType = \"ide\"\n";
    return t;
}

} // namespace vindaru::test
