#include "image/VmdkSparseExtent.h"

#include <algorithm>
#include <array>

#include "common/ByteLoader.h"
#include "image/VmdkGrainMarker.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kSector = 512;
// Tables compared for the structure lines: 2 TiB of disk with the usual 64 KiB grains.
constexpr std::uint64_t kCompareTablesLimit = 65536;
// Empty tables remembered by holeUntil (each a few dozen bytes).
constexpr std::size_t kHoleTablesLimit = 65536;

std::uint64_t satMul(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r = 0;
    return checkedMul(a, b, r) ? r : UINT64_MAX;
}

// The grain-sized places of a file's data area, from its first grain byte to its end, and which
// of them the table entries told so far have named: a bit each, so a file's worth of entries is
// checked in one pass whatever they hold.
class GrainPlaces {
public:
    enum class Named { Outside, OffGrid, First, Again };

    GrainPlaces(std::uint64_t firstDataByte, std::uint64_t fileLength, std::uint64_t grainBytes)
        : first_(firstDataByte), end_(fileLength), grainBytes_(grainBytes),
          seen_(static_cast<std::size_t>((count() + 63) / 64)) {}

    // The places the file holds, the last perhaps cut short.
    std::uint64_t count() const { return end_ > first_ ? (end_ - first_ + grainBytes_ - 1) / grainBytes_ : 0; }

    // An entry's grain at byte `place` of the file: outside the data area, off the grain grid,
    // named for the first time, or named before.
    Named name(std::uint64_t place) {
        if (place < first_ || place >= end_) return Named::Outside;
        if ((place - first_) % grainBytes_ != 0) return Named::OffGrid;
        const std::uint64_t slot = (place - first_) / grainBytes_;
        std::uint64_t& word = seen_[static_cast<std::size_t>(slot / 64)];
        const std::uint64_t bit = std::uint64_t{1} << (slot % 64);
        const bool before = (word & bit) != 0;
        word |= bit;
        return before ? Named::Again : Named::First;
    }

private:
    std::uint64_t first_;
    std::uint64_t end_;
    std::uint64_t grainBytes_;
    std::vector<std::uint64_t> seen_;
};

} // namespace

std::unique_ptr<VmdkSparseExtent> VmdkSparseExtent::open(ReadOnlyFile file, const VmdkSparseHeader& h,
                                                         std::string& error) {
    if (!h.hasMagic) {
        error = "no sparse extent header";
        return nullptr;
    }
    if (h.grainSize == 0 || h.grainSize > kVmdkMaxGrainSize) {
        error = "grain size of " + std::to_string(h.grainSize) + " sectors is not usable";
        return nullptr;
    }
    if (h.gtesPerGrainTable == 0 || h.gtesPerGrainTable > kVmdkMaxGtesPerGrainTable) {
        error = std::to_string(h.gtesPerGrainTable) + " entries per grain table is not usable";
        return nullptr;
    }
    const bool compressed = h.compressAlgorithm == kVmdkCompressDeflate || h.compressed();
    if (h.compressAlgorithm > kVmdkCompressDeflate) {
        error = "compression method " + std::to_string(h.compressAlgorithm) + " is not known";
        return nullptr;
    }
    std::uint64_t length = 0;
    if (!checkedMul(h.capacity, kSector, length)) {
        error = "capacity out of range";
        return nullptr;
    }
    const std::uint64_t perTable = h.grainSize * h.gtesPerGrainTable; // both bounded: no overflow
    const std::uint64_t entries = h.capacity / perTable + (h.capacity % perTable != 0 ? 1 : 0);
    if (entries > kVmdkMaxGrainDirectoryEntries) {
        error = "capacity of " + std::to_string(h.capacity) + " sectors is beyond what a grain directory maps";
        return nullptr;
    }
    std::unique_ptr<VmdkSparseExtent> extent(new VmdkSparseExtent(std::move(file), h, length));
    extent->compressed_ = compressed;
    extent->zeroedGrainEntries_ = (h.flags & kVmdkFlagZeroedGrainEntries) != 0;
    extent->findDirectories(h);
    return extent;
}

VmdkSparseExtent::VmdkSparseExtent(ReadOnlyFile file, const VmdkSparseHeader& h, std::uint64_t length)
    : VmdkGrainExtent(std::move(file), length, h.grainSize * kSector) {
    gtes_ = h.gtesPerGrainTable;
    const std::uint64_t perTable = h.grainSize * gtes_;
    directoryEntries_ = h.capacity / perTable + (h.capacity % perTable != 0 ? 1 : 0);
    const std::uint64_t overhead = satMul(h.overheadSectors, kSector);
    if (overhead >= kSector && overhead <= fileLength_) firstDataByte_ = overhead;
    // The largest file a writer makes for this capacity: metadata, both sets of tables, and
    // every grain stored with a marker sector of its own.
    const std::uint64_t tables = satMul(satMul(directoryEntries_, gtes_), 4 * 2);
    plausibleEnd_ = saturatingAdd(saturatingAdd(overhead, tables),
                                  saturatingAdd(satMul(grainCount_, grainBytes_ + kSector), 1 << 20));
}

void VmdkSparseExtent::loadDirectory(Directory& dir, std::uint64_t sector, bool wanted, const char* name) {
    dir = Directory{};
    dir.sector = sector;
    if (!wanted) return;
    std::uint64_t at = 0;
    if (!checkedMul(sector, kSector, at) || at >= fileLength_) {
        notes_.push_back(std::string("The ") + name + " grain directory (sector " + std::to_string(sector) +
                         ") lies outside the file; it is not used.");
        damage_.push_back(std::string("the ") + name + " grain directory lies outside the file");
        return;
    }
    const std::uint64_t load = std::min(directoryEntries_, (fileLength_ - at) / 4);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(load * 4));
    const std::int64_t got = file_.readAt(at, bytes);
    if (got < 0) {
        notes_.push_back(std::string("The ") + name + " grain directory could not be read.");
        damage_.push_back(std::string("the ") + name + " grain directory cannot be read");
        return;
    }
    const auto usable = static_cast<std::size_t>(got) / 4;
    dir.entries.resize(usable);
    for (std::size_t i = 0; i < usable; ++i) dir.entries[i] = le32(bytes, i * 4);
    dir.present = true;
    if (usable < directoryEntries_) {
        notes_.push_back(std::string("The ") + name + " grain directory is cut short by the end of the file (" +
                         std::to_string(usable) + " of " + std::to_string(directoryEntries_) + " entries).");
        damage_.push_back(std::string("the ") + name + " grain directory is cut short");
    }
}

void VmdkSparseExtent::findDirectories(const VmdkSparseHeader& header) {
    VmdkSparseHeader h = header;
    if (h.grainDirectorySector == kVmdkDirectoryAtEnd) {
        // The directory was written after the grains; the footer says where.
        std::array<std::uint8_t, kVmdkStreamTailBytes> tail{};
        std::optional<VmdkSparseHeader> footer;
        if (fileLength_ >= tail.size() + kSector &&
            file_.readAt(fileLength_ - tail.size(), tail) == static_cast<std::int64_t>(tail.size()))
            footer = decodeVmdkStreamFooter(tail);
        if (!footer || footer->grainDirectorySector == kVmdkDirectoryAtEnd) {
            notes_.push_back("The footer that says where the grain directory is is missing (a file cut short?); "
                             "the grains are found by their markers.");
            damage_.push_back("the footer that locates the grain directory is missing");
            mapMarkers(firstDataByte_);
            return;
        }
        notes_.push_back("Grain directory taken from the footer.");
        h.grainDirectorySector = footer->grainDirectorySector;
        h.redundantDirectorySector = footer->redundantDirectorySector;
        h.flags = footer->flags;
    }
    loadDirectory(primary_, h.grainDirectorySector, h.grainDirectorySector != 0, "primary");
    const bool redundantWanted = h.usesRedundantDirectory() && h.redundantDirectorySector != 0 &&
                                 h.redundantDirectorySector != kVmdkDirectoryAtEnd;
    loadDirectory(redundant_, h.redundantDirectorySector, redundantWanted, "redundant");
    if (!primary_.present && !redundant_.present && compressed_) {
        notes_.push_back("No grain directory can be read; the grains are found by their markers.");
        damage_.push_back("no grain directory can be read");
        mapMarkers(firstDataByte_);
        return;
    }
    if (!directoriesBlankOverData()) return;
    if (compressed_) {
        notes_.push_back("The grain directories are blank though the file holds grains; the grains are found by "
                         "their markers.");
        damage_.push_back("the grain directories are lost");
        mapMarkers(firstDataByte_);
        return;
    }
    // Both are tried: each that checks out serves, and they are compared as any two directories.
    const bool primaryBack = rebuildDirectory(primary_);
    const bool redundantBack = rebuildDirectory(redundant_);
    if (primaryBack || redundantBack) {
        notes_.push_back("The grain directories are blank though the file holds grains; the grain tables were "
                         "found right after the " + std::string(primaryBack ? "primary" : "redundant") +
                         " directory, where writers lay them out, and every grain of the file is mapped once.");
        damage_.push_back("the grain directories were lost; their tables were found and used");
        return;
    }
    directoriesLost_ = true;
    notes_.push_back("The grain directories are blank though the file holds " +
                     std::to_string((fileLength_ - firstDataByte_) / grainBytes_) +
                     " grains' worth of data, and no grain tables check out where writers put them: every grain "
                     "is unreadable.");
    damage_.push_back("the grain directories are lost");
}

bool VmdkSparseExtent::directoriesBlankOverData() const {
    if (fromMarkers_ || (!primary_.present && !redundant_.present)) return false;
    const auto blank = [](const Directory& dir) {
        return std::all_of(dir.entries.begin(), dir.entries.end(), [](std::uint32_t e) { return e == 0; });
    };
    if ((primary_.present && !blank(primary_)) || (redundant_.present && !blank(redundant_))) return false;
    // The metadata ends at the header's overhead, or past each directory and a full set of its
    // tables when the header does not say: an empty disk's file ends there.
    const std::uint64_t directoryBytes = (directoryEntries_ * 4 + kSector - 1) / kSector * kSector;
    const std::uint64_t tableBytes = (std::uint64_t{gtes_} * 4 + kSector - 1) / kSector * kSector;
    std::uint64_t metadataEnd = firstDataByte_;
    for (const Directory* dir : {&primary_, &redundant_})
        if (dir->present)
            metadataEnd = std::max(metadataEnd, saturatingAdd(satMul(dir->sector, kSector),
                                                              directoryBytes + directoryEntries_ * tableBytes));
    return fileLength_ > metadataEnd && fileLength_ - metadataEnd >= grainBytes_;
}

bool VmdkSparseExtent::rebuildDirectory(Directory& dir) const {
    // Without the header's overhead, where the grains start is a guess: nothing is rebuilt on it.
    if (!dir.present || dir.entries.size() < directoryEntries_ || firstDataByte_ <= kSector) return false;
    const std::uint64_t directoryBytes = (directoryEntries_ * 4 + kSector - 1) / kSector * kSector;
    const std::uint64_t tableBytes = (std::uint64_t{gtes_} * 4 + kSector - 1) / kSector * kSector;
    const std::uint64_t first = saturatingAdd(satMul(dir.sector, kSector), directoryBytes);
    const std::uint64_t end = saturatingAdd(first, directoryEntries_ * tableBytes);
    if (end > firstDataByte_ || end / kSector > UINT32_MAX) return false;
    GrainPlaces places(firstDataByte_, fileLength_, grainBytes_);
    std::vector<std::uint8_t> bytes(std::size_t{gtes_} * 4);
    std::uint64_t named = 0;
    for (std::uint64_t index = 0; index < directoryEntries_; ++index) {
        if (file_.readAt(first + index * tableBytes, bytes) != static_cast<std::int64_t>(bytes.size())) return false;
        for (std::size_t i = 0; i < gtes_; ++i) {
            const std::uint64_t entry = le32(bytes, i * 4);
            if (entry == 0 || (entry == 1 && zeroedGrainEntries_)) continue;
            if (index * gtes_ + i >= grainCount_ || places.name(entry * kSector) != GrainPlaces::Named::First)
                return false;
            ++named;
        }
    }
    if (named != places.count()) return false;
    for (std::uint64_t index = 0; index < directoryEntries_; ++index)
        dir.entries[static_cast<std::size_t>(index)] = static_cast<std::uint32_t>((first + index * tableBytes) / kSector);
    return true;
}

void VmdkSparseExtent::mapMarkers(std::uint64_t fromByte) {
    fromMarkers_ = true;
    const std::uint64_t grainSectors = grainBytes_ / kSector;
    std::uint64_t pos = std::max<std::uint64_t>(fromByte, kSector);
    std::array<std::uint8_t, 16> head{};
    // Every step moves on by at least a sector, so the walk ends within the file's sectors.
    while (pos < fileLength_ && fileLength_ - pos >= head.size()) {
        if (file_.readAt(pos, head) != static_cast<std::int64_t>(head.size())) break;
        const VmdkMarker m = *decodeVmdkMarker(head);
        std::uint64_t step = 0;
        if (m.isGrain()) {
            if (m.value % grainSectors == 0 && m.value / grainSectors < grainCount_)
                markers_.emplace_back(m.value / grainSectors, pos);
            step = m.sectors();
        } else if (m.type == static_cast<std::uint32_t>(VmdkMarkerType::EndOfStream)) {
            streamComplete_ = true;
            break;
        } else if (m.type == static_cast<std::uint32_t>(VmdkMarkerType::GrainTable) ||
                   m.type == static_cast<std::uint32_t>(VmdkMarkerType::GrainDirectory) ||
                   m.type == static_cast<std::uint32_t>(VmdkMarkerType::Footer)) {
            step = saturatingAdd(m.value, 1);
        } else {
            notes_.push_back("An unknown marker at byte " + std::to_string(pos) + " ends the grain walk.");
            break;
        }
        const std::uint64_t bytes = satMul(step, kSector);
        if (bytes > fileLength_ - pos) break;
        pos += bytes;
    }
    // A grain written twice counts as written last.
    std::stable_sort(markers_.begin(), markers_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::pair<std::uint64_t, std::uint64_t>> unique;
    for (const auto& m : markers_) {
        if (!unique.empty() && unique.back().first == m.first)
            unique.back() = m;
        else
            unique.push_back(m);
    }
    markers_ = std::move(unique);
    if (!streamComplete_)
        notes_.push_back("The stream ends without its end marker; grains not found are unreadable.");
}

VmdkGrainExtent::Grain VmdkSparseExtent::fromMarkers(std::uint64_t grain) const {
    const auto it = std::lower_bound(markers_.begin(), markers_.end(), grain,
                                     [](const auto& m, std::uint64_t g) { return m.first < g; });
    if (it != markers_.end() && it->first == grain) return storedAt(it->second, Grain::Kind::Compressed);
    return streamComplete_ ? Grain::absent() : Grain::unreadable(Damage::PastEndOfFile);
}

void VmdkSparseExtent::findSharedPlaces() const {
    std::call_once(sharedOnce_, [this] {
        if (compressed_ || fromMarkers_) return;
        primary_.shared = sharedPlaces(primary_);
        redundant_.shared = sharedPlaces(redundant_);
    });
}

std::vector<std::uint32_t> VmdkSparseExtent::sharedPlaces(const Directory& dir) const {
    std::vector<std::uint32_t> shared, offGrid;
    if (!dir.present || fileLength_ <= firstDataByte_) return shared;
    GrainPlaces places(firstDataByte_, fileLength_, grainBytes_);
    std::vector<std::uint8_t> bytes(std::size_t{gtes_} * 4);
    for (const std::uint32_t tableSector : dir.entries) {
        const std::uint64_t at = std::uint64_t{tableSector} * kSector;
        if (tableSector == 0 || at >= fileLength_) continue;
        const std::int64_t got = file_.readAt(at, bytes);
        for (std::size_t i = 0; got > 0 && i < static_cast<std::size_t>(got) / 4; ++i) {
            const std::uint32_t entry = static_cast<std::uint32_t>(le32(bytes, i * 4));
            // Entries storedAt refuses (holes, metadata, outside the file) name no grain.
            switch (places.name(std::uint64_t{entry} * kSector)) {
            case GrainPlaces::Named::Outside:
            case GrainPlaces::Named::First: break;
            case GrainPlaces::Named::OffGrid: offGrid.push_back(entry); break;
            case GrainPlaces::Named::Again: shared.push_back(entry); break;
            }
        }
    }
    std::sort(offGrid.begin(), offGrid.end());
    for (std::size_t i = 1; i < offGrid.size(); ++i)
        if (offGrid[i] == offGrid[i - 1]) shared.push_back(offGrid[i]);
    std::sort(shared.begin(), shared.end());
    shared.erase(std::unique(shared.begin(), shared.end()), shared.end());
    return shared;
}

VmdkSparseExtent::TableView VmdkSparseExtent::tableView(const Directory& dir, std::uint64_t index) const {
    if (index >= dir.entries.size()) return {nullptr, Grain::unreadable(Damage::PastEndOfFile)};
    const std::uint32_t tableSector = dir.entries[static_cast<std::size_t>(index)];
    if (tableSector == 0) return {nullptr, Grain::absent()};
    const std::uint64_t at = std::uint64_t{tableSector} * kSector;
    if (at >= fileLength_) return {nullptr, Grain::unreadable(outsideFile(at))};
    auto t = table(at, gtes_, 4);
    if (!t) return {nullptr, Grain::unreadable(Damage::ReadError)};
    findSharedPlaces();
    return {std::move(t), Grain::absent(), &dir.shared};
}

VmdkGrainExtent::Grain VmdkSparseExtent::fromTable(const TableView& view, std::uint64_t grain) const {
    if (!view.table) return view.whole;
    const auto inTable = static_cast<std::size_t>(grain % gtes_);
    if (inTable >= view.table->available) return Grain::unreadable(Damage::PastEndOfFile);
    const std::uint64_t entry = view.table->entries[inTable];
    if (entry == 0) return Grain::absent();
    // 1: a grain of zeros, where the header says the writer uses such entries. Elsewhere it
    // names sector 1, inside the header's metadata: a damaged entry, which storedAt refuses.
    if (entry == 1 && zeroedGrainEntries_) return Grain::zero();
    // A grain another entry names too is one of them at best, and which one no map can tell.
    if (view.shared && std::binary_search(view.shared->begin(), view.shared->end(), entry))
        return Grain::unreadable(Damage::InvalidMapEntry);
    return storedAt(entry * kSector, compressed_ ? Grain::Kind::Compressed : Grain::Kind::Data);
}

VmdkGrainExtent::Grain VmdkSparseExtent::lookup(std::uint64_t grain) const {
    if (fromMarkers_) return fromMarkers(grain);
    if (!primary_.present && !redundant_.present) return Grain::unreadable(Damage::DamagedTable);
    if (directoriesLost_) return Grain::unreadable(Damage::LostDirectory);
    if (!redundant_.present) return fromDirectory(primary_, grain);
    if (!primary_.present) return fromDirectory(redundant_, grain);
    const TableView p = tableView(primary_, grain / gtes_);
    const Grain g = fromTable(p, grain);
    return g.stored() ? g : fromBoth(p, tableView(redundant_, grain / gtes_), grain);
}

std::uint64_t VmdkSparseExtent::sameUntil(std::uint64_t grain) const {
    if (fromMarkers_) {
        const auto it = std::upper_bound(markers_.begin(), markers_.end(), grain,
                                         [](std::uint64_t g, const auto& m) { return g < m.first; });
        const bool found = it != markers_.begin() && std::prev(it)->first == grain;
        return found ? grain + 1 : (it == markers_.end() ? grainCount_ : it->first);
    }
    const std::uint64_t index = grain / gtes_;
    const auto noTable = [&](const Directory& dir) {
        return !dir.present || index >= dir.entries.size() || dir.entries[static_cast<std::size_t>(index)] == 0;
    };
    if (noTable(primary_) && noTable(redundant_)) return (index + 1) * gtes_;
    return grain + 1;
}

std::uint64_t VmdkSparseExtent::holeUntil(std::uint64_t grain, bool absentIsHole) const {
    if (fromMarkers_ || directoriesLost_ || (!primary_.present && !redundant_.present)) return sameUntil(grain);
    // The rest of the grain's table, entry by entry, from the table itself: one table fetch per
    // directory rather than one lookup per grain. Each grain is what lookup would make of it.
    const std::uint64_t index = grain / gtes_;
    const std::uint64_t end = std::min<std::uint64_t>((index + 1) * gtes_, grainCount_);
    const auto tableAt = [&](const Directory& dir) -> std::uint64_t {
        return dir.present && index < dir.entries.size() ? dir.entries[static_cast<std::size_t>(index)] : 0;
    };
    const auto key = std::make_tuple(tableAt(primary_), tableAt(redundant_), absentIsHole);
    const bool whole = grain == index * gtes_ && end == (index + 1) * gtes_;
    if (whole) {
        std::lock_guard lock(holeTablesMutex_);
        if (holeTables_.count(key) != 0) return end;
    }
    const TableView p = primary_.present ? tableView(primary_, index) : TableView{};
    const TableView r = redundant_.present ? tableView(redundant_, index) : TableView{};
    for (++grain; grain < end; ++grain) {
        const Grain g = !redundant_.present ? fromTable(p, grain)
                        : !primary_.present ? fromTable(r, grain)
                                            : fromBoth(p, r, grain);
        if (!readsAsHole(g, absentIsHole)) return grain;
    }
    if (whole) {
        // Bounded: a set that grows past a table per directory entry of a real disk is dropped.
        std::lock_guard lock(holeTablesMutex_);
        if (holeTables_.size() >= kHoleTablesLimit) holeTables_.clear();
        holeTables_.insert(key);
    }
    return end;
}

const VmdkSparseExtent::Disagreement& VmdkSparseExtent::compareDirectories() const {
    std::call_once(compareOnce_, [this] {
        Disagreement& d = disagreement_;
        if (!primary_.present || !redundant_.present) return;
        std::uint64_t tables = 0;
        for (std::uint64_t index = 0; index < directoryEntries_; ++index) {
            const auto entry = [&](const Directory& dir) {
                return index < dir.entries.size() ? dir.entries[static_cast<std::size_t>(index)] : ~std::uint32_t{0};
            };
            if (entry(primary_) == 0 && entry(redundant_) == 0) continue;
            if (++tables > kCompareTablesLimit) {
                d.cut = true;
                break;
            }
            const std::uint64_t first = index * gtes_;
            const std::uint64_t end = std::min<std::uint64_t>(first + gtes_, grainCount_);
            for (std::uint64_t grain = first; grain < end; ++grain) {
                const Grain p = fromDirectory(primary_, grain), r = fromDirectory(redundant_, grain);
                // Both unreadable (a file cut short) is no disagreement about where the grain is.
                if (p == r || (!p.stored() && !r.stored() && p.kind == r.kind)) continue;
                if (d.grains++ == 0) d.firstGrain = grain;
                if (!p.stored() && r.stored()) ++d.primaryLost;
                if (p.stored() && !r.stored()) ++d.redundantLost;
            }
        }
    });
    return disagreement_;
}

void VmdkSparseExtent::structuralDamage(std::vector<std::string>& out) const {
    std::vector<std::string> phrases = damage_;
    if (const Disagreement& d = compareDirectories(); d.grains != 0) {
        if (d.primaryLost == d.grains)
            phrases.push_back("the primary grain directory or its tables are damaged");
        else if (d.redundantLost == d.grains)
            phrases.push_back("the redundant grain directory or its tables are damaged");
        else
            phrases.push_back("the two grain directories disagree on " + std::to_string(d.grains) + " grains");
    }
    for (std::string& p : phrases)
        if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(std::move(p));
}

void VmdkSparseExtent::structureLines(std::vector<std::string>& out) const {
    out.push_back("Sparse extent: " + std::to_string(length_ / kSector) + " sectors, grains of " +
                  std::to_string(grainBytes_ / kSector) + " sectors, " + std::to_string(gtes_) +
                  " entries per grain table" + (compressed_ ? ", grains compressed (deflate)" : ""));
    if (fromMarkers_) {
        out.push_back("Grains mapped from their markers: " + std::to_string(markers_.size()) + " found.");
    } else {
        if (primary_.present)
            out.push_back("Grain directory at sector " + std::to_string(primary_.sector) + ".");
        if (redundant_.present)
            out.push_back("Redundant grain directory at sector " + std::to_string(redundant_.sector) + ".");
        if (!primary_.present && redundant_.present)
            out.push_back("The primary grain directory is unusable; the redundant copy is used.");
    }
    out.insert(out.end(), notes_.begin(), notes_.end());
    if (const Disagreement& d = compareDirectories(); d.grains != 0)
        out.push_back("The two grain directories disagree on " + std::to_string(d.grains) +
                      " grains (the first at disk byte " + std::to_string(d.firstGrain * grainBytes_) +
                      "); the primary's entries are used where they are usable" +
                      (d.cut ? std::string(" (only the first tables were compared).") : std::string(".")));
}

} // namespace vindaru
