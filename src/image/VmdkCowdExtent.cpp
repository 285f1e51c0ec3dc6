#include "image/VmdkCowdExtent.h"

#include <algorithm>
#include <array>

#include "common/ByteLoader.h"
#include "image/VmdkSparseHeader.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kSector = 512;
// "COWD" in file order, read little-endian.
constexpr std::uint32_t kCowdMagic = 0x44574F43;
constexpr std::size_t kMagic = 0;
constexpr std::size_t kVersion = 4;
constexpr std::size_t kFlags = 8;
constexpr std::size_t kCapacity = 12;
constexpr std::size_t kGrainSize = 16;
constexpr std::size_t kDirectorySector = 20;
constexpr std::size_t kDirectoryEntries = 24;
constexpr std::size_t kFreeSector = 28;
constexpr std::size_t kParentFileName = 32; // a child's; a root disk keeps its geometry here
constexpr std::size_t kParentFileNameBytes = 1024;
constexpr std::size_t kGeneration = 1060;
constexpr std::size_t kUncleanShutdown = 1648;
// Grains of up to 16 MiB; writers use one sector to a few hundred.
constexpr std::uint32_t kMaxGrainSectors = 1u << 15;

} // namespace

std::optional<CowdHeader> CowdHeader::decode(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kCowdHeaderBytes || le32(bytes, kMagic) != kCowdMagic) return std::nullopt;
    CowdHeader h;
    h.version = le32(bytes, kVersion);
    h.flags = le32(bytes, kFlags);
    h.capacitySectors = le32(bytes, kCapacity);
    h.grainSectors = le32(bytes, kGrainSize);
    h.directorySector = le32(bytes, kDirectorySector);
    h.directoryEntries = le32(bytes, kDirectoryEntries);
    h.freeSector = le32(bytes, kFreeSector);
    const auto name = bytes.subspan(kParentFileName, kParentFileNameBytes);
    h.parentFileName.assign(name.begin(), std::find(name.begin(), name.end(), std::uint8_t{0}));
    h.generation = le32(bytes, kGeneration);
    h.uncleanShutdown = le32(bytes, kUncleanShutdown) != 0;
    return h;
}

std::unique_ptr<VmdkCowdExtent> VmdkCowdExtent::open(ReadOnlyFile file, std::uint64_t sectors, std::string& error) {
    std::array<std::uint8_t, kCowdHeaderBytes> bytes{};
    if (file.readAt(0, bytes) != static_cast<std::int64_t>(bytes.size())) {
        error = "the COWD header is cut short";
        return nullptr;
    }
    const auto h = CowdHeader::decode(bytes);
    if (!h) {
        error = "no COWD header";
        return nullptr;
    }
    if (h->grainSectors == 0 || h->grainSectors > kMaxGrainSectors) {
        error = "grain size of " + std::to_string(h->grainSectors) + " sectors is not usable";
        return nullptr;
    }
    if (sectors == 0) sectors = h->capacitySectors;
    std::unique_ptr<VmdkCowdExtent> extent(new VmdkCowdExtent(std::move(file), *h, sectors * kSector));
    return extent;
}

VmdkCowdExtent::VmdkCowdExtent(ReadOnlyFile file, const CowdHeader& h, std::uint64_t length)
    : VmdkGrainExtent(std::move(file), length, std::uint64_t{h.grainSectors} * kSector), header_(h) {
    firstDataByte_ = kCowdHeaderBytes;
    // A delta holds at most every grain once, after its header and tables.
    const std::uint64_t tables = std::uint64_t{h.directoryEntries} * (kCowdGtesPerTable * 4 + 4);
    plausibleEnd_ = saturatingAdd(saturatingAdd(kCowdHeaderBytes, tables),
                                  saturatingAdd(grainCount_ * grainBytes_, 1 << 20));
    // Only the entries the file holds are loaded; the grains the rest would map are unreadable.
    const std::uint64_t at = std::uint64_t{h.directorySector} * kSector;
    if (at >= kCowdHeaderBytes && at < fileLength_) {
        const std::uint64_t load = std::min<std::uint64_t>(h.directoryEntries, (fileLength_ - at) / 4);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(load * 4));
        const std::int64_t got = file_.readAt(at, bytes);
        const std::size_t usable = got > 0 ? static_cast<std::size_t>(got) / 4 : 0;
        directory_.resize(usable);
        for (std::size_t i = 0; i < usable; ++i) directory_[i] = le32(bytes, i * 4);
    }
}

VmdkGrainExtent::Grain VmdkCowdExtent::lookup(std::uint64_t grain) const {
    const std::uint64_t index = grain / kCowdGtesPerTable;
    if (index >= directory_.size())
        return Grain::unreadable(index < header_.directoryEntries ? Damage::PastEndOfFile : Damage::DamagedTable);
    const std::uint32_t tableSector = directory_[static_cast<std::size_t>(index)];
    if (tableSector == 0) return Grain::absent();
    const std::uint64_t at = std::uint64_t{tableSector} * kSector;
    if (at < kCowdHeaderBytes) return Grain::unreadable(Damage::InvalidMapEntry);
    if (at >= fileLength_) return Grain::unreadable(outsideFile(at));
    const auto t = table(at, kCowdGtesPerTable, 4);
    if (!t) return Grain::unreadable(Damage::ReadError);
    const auto inTable = static_cast<std::size_t>(grain % kCowdGtesPerTable);
    if (inTable >= t->available) return Grain::unreadable(Damage::PastEndOfFile);
    const std::uint64_t entry = t->entries[inTable];
    if (entry == 0) return Grain::absent();
    return storedAt(entry * kSector, Grain::Kind::Data);
}

std::uint64_t VmdkCowdExtent::sameUntil(std::uint64_t grain) const {
    const std::uint64_t index = grain / kCowdGtesPerTable;
    // Past the directory, or a table never allocated: the whole table looks up alike.
    if (index >= directory_.size() || directory_[static_cast<std::size_t>(index)] == 0) return (index + 1) * kCowdGtesPerTable;
    return grain + 1;
}

void VmdkCowdExtent::structureLines(std::vector<std::string>& out) const {
    out.push_back("vmfsSparse (COWD) extent: " + std::to_string(length_ / kSector) + " sectors, grains of " +
                  std::to_string(header_.grainSectors) + " sectors, grain directory at sector " +
                  std::to_string(header_.directorySector) + " (" + std::to_string(header_.directoryEntries) +
                  " entries)");
    const std::uint64_t needed = grainCount_ / kCowdGtesPerTable + (grainCount_ % kCowdGtesPerTable != 0);
    if (directory_.size() < needed)
        out.push_back("The grain directory holds " + std::to_string(directory_.size()) + " of the " +
                      std::to_string(needed) + " entries the disk needs; the rest of the disk is unreadable.");
    if (header_.uncleanShutdown) out.push_back("The delta was not closed cleanly.");
}

} // namespace vindaru
