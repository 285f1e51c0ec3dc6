// A hosted sparse extent (the "KDMV" header): monolithic sparse, the pieces of a split sparse
// set, snapshot deltas, and stream-optimized extents whose grains are deflate streams behind
// grain markers. Both grain directories are read: a grain comes from the primary's tables
// unless the primary cannot give it and the redundant copy can. A stream-optimized extent whose
// directory is lost with its footer is mapped from the grain markers themselves.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "image/VmdkGrainExtent.h"
#include "image/VmdkSparseHeader.h"

namespace vindaru {

class VmdkSparseExtent : public VmdkGrainExtent {
  public:
    // The extent in `file`, whose first sector decoded to `header`; null with `error` set when
    // the header's geometry cannot be used.
    static std::unique_ptr<VmdkSparseExtent> open(ReadOnlyFile file, const VmdkSparseHeader& header,
                                                  std::string& error);

    std::string kindText() const override { return compressed_ ? "streamOptimized" : "sparse"; }
    void structureLines(std::vector<std::string>& out) const override;
    void structuralDamage(std::vector<std::string>& out) const override;
    bool hasUncheckedData() const override { return compressed_; }

    // Grains whose entries in the two directories' tables differ, and the first of them.
    struct Disagreement {
        std::uint64_t grains = 0;
        std::uint64_t firstGrain = 0;
        std::uint64_t primaryLost = 0;   // grains only the redundant copy gives
        std::uint64_t redundantLost = 0; // grains only the primary gives
        bool cut = false;                // the comparison stopped at its limit
    };
    // Compared once, on the first call.
    const Disagreement& compareDirectories() const;

  private:
    struct Directory {
        std::vector<std::uint32_t> entries; // only those the file holds
        std::uint64_t sector = 0;
        bool present = false;
        // Grain places (sectors) that two or more of its tables' entries name, sorted; filled
        // on the first lookup (sharedPlaces).
        mutable std::vector<std::uint32_t> shared;
    };
    VmdkSparseExtent(ReadOnlyFile file, const VmdkSparseHeader& header, std::uint64_t length);
    // One directory's view of one grain table: the table, or what every grain it would map is.
    struct TableView {
        std::shared_ptr<const Table> table;
        Grain whole;
        const std::vector<std::uint32_t>* shared = nullptr; // the directory's shared places
    };
    Grain lookup(std::uint64_t grain) const override;
    std::uint64_t sameUntil(std::uint64_t grain) const override;
    std::uint64_t holeUntil(std::uint64_t grain, bool absentIsHole) const override;
    TableView tableView(const Directory& dir, std::uint64_t index) const;
    Grain fromTable(const TableView& view, std::uint64_t grain) const;
    // The primary's grain, unless its table lost the grain (or never had it) and the copy's
    // still knows it.
    static Grain preferStored(const Grain& primary, const Grain& copy) {
        return primary.stored() || !copy.stored() ? primary : copy;
    }
    // The grain as the two directories' tables give it: the primary's (preferStored), except
    // where the primary lost the whole table and the copy's table is sound: the copy then
    // answers alone, its never-written grains included, as a writer keeps both alike.
    Grain fromBoth(const TableView& primary, const TableView& copy, std::uint64_t grain) const {
        if (!primary.table && primary.whole.kind == Grain::Kind::Unreadable && copy.table)
            return fromTable(copy, grain);
        return preferStored(fromTable(primary, grain), fromTable(copy, grain));
    }
    Grain fromDirectory(const Directory& dir, std::uint64_t grain) const {
        return fromTable(tableView(dir, grain / gtes_), grain);
    }
    Grain fromMarkers(std::uint64_t grain) const;
    // Fills both directories' `shared` once: every table read and its entries' places counted
    // (a bit per grain place in the file, a sort of the few places off the grain boundaries), so
    // that a grain whose entry another entry also names reads as damage, never as the other
    // grain's bytes. Stream-optimized grains need none: their markers name their grains.
    void findSharedPlaces() const;
    std::vector<std::uint32_t> sharedPlaces(const Directory& dir) const;
    void loadDirectory(Directory& dir, std::uint64_t sector, bool wanted, const char* name);
    // True when every directory read is blank (all entries zero) while the file holds at least a
    // grain's worth past where its metadata ends: the grains are there, the way to them is lost.
    bool directoriesBlankOverData() const;
    // Points the blank directory `dir` at the tables a writer lays out right after it (one after
    // another, in directory order), when they check out: every entry a grain place on the grid
    // the header's overhead starts, no place named twice, and every grain place of the file named.
    bool rebuildDirectory(Directory& dir) const;
    void findDirectories(const VmdkSparseHeader& header);
    void mapMarkers(std::uint64_t fromByte);

    std::uint32_t gtes_ = 0;
    std::uint64_t directoryEntries_ = 0;
    bool compressed_ = false;
    bool zeroedGrainEntries_ = false; // a table entry of 1 is a grain of zeros
    bool directoriesLost_ = false;    // blank directories over grains that could not be rebuilt
    Directory primary_;
    Directory redundant_;
    // Grain → marker offset, when the directory was rebuilt from the grain markers.
    bool fromMarkers_ = false;
    bool streamComplete_ = false;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> markers_;
    // Pairs of tables (primary's and copy's file offsets, 0 for none) found to map nothing but
    // holes, for each reading of absent grains: a directory whose entries all name one empty
    // table is then passed a table per step, not an entry per step.
    mutable std::mutex holeTablesMutex_;
    mutable std::set<std::tuple<std::uint64_t, std::uint64_t, bool>> holeTables_;
    std::vector<std::string> notes_;
    // Short phrases of what open found wrong with the structure (structuralDamage).
    std::vector<std::string> damage_;
    mutable std::once_flag sharedOnce_;
    mutable std::once_flag compareOnce_;
    mutable Disagreement disagreement_;
};

} // namespace vindaru
