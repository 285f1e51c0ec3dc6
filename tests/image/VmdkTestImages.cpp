#include "image/VmdkTestImages.h"

#include <algorithm>
#include <cstring>

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
    std::sort(usedTables.begin(), usedTables.end());

    std::uint64_t next = gdSector + gdSectors;
    std::map<std::uint64_t, std::uint64_t> tableAt;
    for (auto t : usedTables) {
        tableAt[t] = next;
        next += tableSectors;
    }
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
    putLe(file, 8, 3, 4);
    putLe(file, 12, capacity_, 8);
    putLe(file, 20, grainSize_, 8);
    if (!descriptor_.empty()) {
        putLe(file, 28, kDescriptorSector, 8);
        putLe(file, 36, kDescriptorSectors, 8);
        std::memcpy(file.data() + kDescriptorSector * 512, descriptor_.data(),
                    std::min<std::size_t>(descriptor_.size(), kDescriptorSectors * 512));
    }
    putLe(file, 44, gtes_, 4);
    putLe(file, 48, gdSector, 8);
    putLe(file, 56, gdSector, 8);
    for (const auto& [t, at] : tableAt)
        putLe(file, gdSector * 512 + t * 4, at, 4);
    auto setEntry = [&](std::uint64_t grain, std::uint32_t value) {
        putLe(file, tableAt[grain / gtes_] * 512 + (grain % gtes_) * 4, value, 4);
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
