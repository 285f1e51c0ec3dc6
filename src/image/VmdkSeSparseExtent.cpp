#include "image/VmdkSeSparseExtent.h"

#include <algorithm>
#include <array>

#include "common/ByteLoader.h"
#include "image/VmdkSparseHeader.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kConstMagic = 0x00000000CAFEBABEull;
constexpr std::uint64_t kVolatileMagic = 0x00000000CAFECAFEull;
constexpr std::uint64_t kVersion = 0x0000000200000001ull;
// Constant header fields, 64 bits each: after the flags four reserved fields, then the offset
// and size (in sectors) of the volatile header, the journal header, the journal, the grain
// directory, the grain tables, the free bitmap, the back map and the grains; zeros to the
// sector's end.
constexpr std::size_t kMagic = 0;
constexpr std::size_t kVersionAt = 8;
constexpr std::size_t kCapacity = 16;
constexpr std::size_t kGrainSize = 24;
constexpr std::size_t kTableSize = 32;
constexpr std::size_t kFlags = 40;
constexpr std::size_t kVolatileOffset = 80;
constexpr std::size_t kDirectoryOffset = 128;
constexpr std::size_t kDirectorySize = 136;
constexpr std::size_t kTablesOffset = 144;
constexpr std::size_t kTablesSize = 152;
constexpr std::size_t kGrainsOffset = 192;
constexpr std::size_t kGrainsSize = 200;
// Volatile header.
constexpr std::size_t kReplayJournal = 24;
// The one geometry the format uses: 4 KiB grains, 32 KiB grain tables.
constexpr std::uint64_t kGrainSectors = 8;
constexpr std::uint64_t kTableSectors = 64;
// 2^24 directory entries of 16 MiB each map 256 TiB, beyond the format's 64 TiB.
constexpr std::uint64_t kMaxDirectoryEntries = std::uint64_t{1} << 24;

constexpr std::uint64_t kTypeMask = 0xF000000000000000ull;
constexpr std::uint64_t kTypeUnallocated = 0x0000000000000000ull;
constexpr std::uint64_t kTypeUnmapped = 0x1000000000000000ull;
constexpr std::uint64_t kTypeZero = 0x2000000000000000ull;
constexpr std::uint64_t kTypeAllocated = 0x3000000000000000ull;
// A directory entry of an allocated table: 0x1 in the top nibble, the table's number below 2^32.
constexpr std::uint64_t kTableAllocated = 0x1000000000000000ull;

} // namespace

std::optional<SeSparseHeader> SeSparseHeader::decode(std::span<const std::uint8_t> sector) {
    if (sector.size() < kSector || le64(sector, kMagic) != kConstMagic || le64(sector, kVersionAt) != kVersion)
        return std::nullopt;
    SeSparseHeader h;
    h.capacitySectors = le64(sector, kCapacity);
    h.grainSectors = le64(sector, kGrainSize);
    h.tableSectors = le64(sector, kTableSize);
    if (h.grainSectors != kGrainSectors || h.tableSectors != kTableSectors || le64(sector, kFlags) != 0)
        return std::nullopt;
    h.volatileHeaderSector = le64(sector, kVolatileOffset);
    h.directorySector = le64(sector, kDirectoryOffset);
    h.directorySectors = le64(sector, kDirectorySize);
    h.tablesSector = le64(sector, kTablesOffset);
    h.tablesSectors = le64(sector, kTablesSize);
    h.grainsSector = le64(sector, kGrainsOffset);
    h.grainsSectors = le64(sector, kGrainsSize);
    return h;
}

std::unique_ptr<VmdkSeSparseExtent> VmdkSeSparseExtent::open(ReadOnlyFile file, std::uint64_t sectors,
                                                             std::string& error) {
    std::array<std::uint8_t, kSector> bytes{};
    if (file.readAt(0, bytes) != static_cast<std::int64_t>(bytes.size())) {
        error = "the SEsparse header is cut short";
        return nullptr;
    }
    const auto h = SeSparseHeader::decode(bytes);
    if (!h) {
        error = "no SEsparse header of a known version";
        return nullptr;
    }
    if (sectors == 0) sectors = h->capacitySectors;
    std::uint64_t length = 0;
    if (!checkedMul(sectors, kSector, length)) {
        error = "capacity out of range";
        return nullptr;
    }
    std::unique_ptr<VmdkSeSparseExtent> extent(new VmdkSeSparseExtent(std::move(file), *h, length));
    return extent;
}

VmdkSeSparseExtent::VmdkSeSparseExtent(ReadOnlyFile file, const SeSparseHeader& h, std::uint64_t length)
    : VmdkGrainExtent(std::move(file), length, kGrainSectors * kSector), header_(h) {
    gtes_ = kTableSectors * kSector / 8;
    std::uint64_t grains = 0;
    firstDataByte_ = checkedMul(h.grainsSector, kSector, grains) ? std::max(grains, kSector) : UINT64_MAX;
    plausibleEnd_ = saturatingAdd(firstDataByte_, saturatingAdd(grainCount_ * grainBytes_, 1 << 20));
    directoryWanted_ = std::min(grainCount_ / gtes_ + (grainCount_ % gtes_ != 0), kMaxDirectoryEntries);
    std::uint64_t at = 0;
    if (checkedMul(h.directorySector, kSector, at) && at >= kSector && at < fileLength_) {
        const std::uint64_t inArea = h.directorySectors <= UINT64_MAX / (kSector / 8) ? h.directorySectors * (kSector / 8) : UINT64_MAX;
        const std::uint64_t load = std::min({directoryWanted_, inArea, (fileLength_ - at) / 8});
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(load * 8));
        const std::int64_t got = file_.readAt(at, bytes);
        const std::size_t usable = got > 0 ? static_cast<std::size_t>(got) / 8 : 0;
        directory_.resize(usable);
        for (std::size_t i = 0; i < usable; ++i) directory_[i] = le64(bytes, i * 8);
    }
    std::array<std::uint8_t, kSector> vol{};
    std::uint64_t volAt = 0;
    if (checkedMul(h.volatileHeaderSector, kSector, volAt) && volAt < fileLength_ &&
        file_.readAt(volAt, vol) == static_cast<std::int64_t>(vol.size()) && le64(vol, 0) == kVolatileMagic)
        journalPending_ = le64(vol, kReplayJournal) != 0;
}

VmdkGrainExtent::Grain VmdkSeSparseExtent::lookup(std::uint64_t grain) const {
    const std::uint64_t index = grain / gtes_;
    if (index >= directory_.size())
        return Grain::unreadable(index < directoryWanted_ ? Damage::PastEndOfFile : Damage::DamagedTable);
    const std::uint64_t dirEntry = directory_[static_cast<std::size_t>(index)];
    if (dirEntry == 0) return Grain::absent();
    if ((dirEntry & 0xFFFFFFFF00000000ull) != kTableAllocated) return Grain::unreadable(Damage::InvalidMapEntry);
    // Table n lies n tables into the grain-table area.
    const std::uint64_t tableIndex = dirEntry & 0xFFFFFFFFull;
    std::uint64_t tableSector = 0, at = 0;
    if (tableIndex >= header_.tablesSectors / kTableSectors ||
        !checkedAdd(header_.tablesSector, tableIndex * kTableSectors, tableSector) ||
        !checkedMul(tableSector, kSector, at))
        return Grain::unreadable(Damage::InvalidMapEntry);
    if (at >= fileLength_) return Grain::unreadable(outsideFile(at));
    const auto t = table(at, static_cast<std::size_t>(gtes_), 8);
    if (!t) return Grain::unreadable(Damage::ReadError);
    const auto inTable = static_cast<std::size_t>(grain % gtes_);
    if (inTable >= t->available) return Grain::unreadable(Damage::PastEndOfFile);
    const std::uint64_t entry = t->entries[inTable];
    switch (entry & kTypeMask) {
    case kTypeUnallocated:
        return entry == 0 ? Grain::absent() : Grain::unreadable(Damage::InvalidMapEntry);
    case kTypeUnmapped: // discarded by the guest: reads as zeros, as a zero grain
    case kTypeZero:
        return Grain::zero();
    case kTypeAllocated: {
        // The grain number is split: its low 12 bits sit in bits 48-59, the rest in bits 0-47.
        const std::uint64_t number = ((entry & 0x0FFF000000000000ull) >> 48) | ((entry & 0x0000FFFFFFFFFFFFull) << 12);
        std::uint64_t rel = 0, sector = 0, byte = 0;
        if (!checkedMul(number, kGrainSectors, rel) || !checkedAdd(header_.grainsSector, rel, sector) ||
            !checkedMul(sector, kSector, byte))
            return Grain::unreadable(Damage::InvalidMapEntry);
        return storedAt(byte, Grain::Kind::Data);
    }
    default:
        return Grain::unreadable(Damage::InvalidMapEntry);
    }
}

std::uint64_t VmdkSeSparseExtent::sameUntil(std::uint64_t grain) const {
    const std::uint64_t index = grain / gtes_;
    // Past the directory, or a table never allocated: the whole table looks up alike.
    if (index >= directory_.size() || directory_[static_cast<std::size_t>(index)] == 0) return (index + 1) * gtes_;
    return grain + 1;
}

void VmdkSeSparseExtent::structureLines(std::vector<std::string>& out) const {
    out.push_back("SEsparse extent: " + std::to_string(length_ / kSector) +
                  " sectors, grains of 8 sectors, grain directory at sector " +
                  std::to_string(header_.directorySector) + ", grains from sector " +
                  std::to_string(header_.grainsSector));
    if (directory_.size() < directoryWanted_)
        out.push_back("The grain directory holds " + std::to_string(directory_.size()) + " of the " +
                      std::to_string(directoryWanted_) + " entries the disk needs; the rest is unreadable.");
    if (journalPending_)
        out.push_back("The delta's journal was not replayed (not closed cleanly); it is read as it stands.");
}

void VmdkSeSparseExtent::structuralDamage(std::vector<std::string>& out) const {
    if (journalPending_) out.push_back("the delta's journal was not replayed");
}

} // namespace vindaru
