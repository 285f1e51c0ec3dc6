// What the grain-mapped VMDK extents share (hosted sparse and stream-optimized, ESXi COWD and
// SEsparse): a disk cut into grains, each looked up in the extent's own tables as absent, zero,
// stored as it is, stored compressed, or unreadable for a reason. The read loop, the table
// cache and the cache of inflated grains live here; each kind only says where a grain is.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "image/ReadOnlyFile.h"
#include "image/VmdkExtent.h"
#include "image/VmdkGrainMarker.h"

namespace vindaru {

class VmdkGrainExtent : public VmdkExtent {
  public:
    bool read(std::uint64_t offset, std::span<std::uint8_t> out, std::uint64_t diskBase,
              ReadReport* report, const AbsentFill& absent) const override;
    bool isHole(std::uint64_t offset, std::uint64_t length, bool absentIsHole) const override;
    std::uint64_t nextData(std::uint64_t offset, bool absentIsHole) const override;
    std::span<const std::uint8_t> viewAt(std::uint64_t offset, std::uint64_t length) const override;
    void describeDamage(std::uint64_t diskBase, std::vector<ByteRange>& out) const override;
    void describeAbsent(std::uint64_t diskBase, std::vector<ByteRange>& out) const override;
    // Inflates every compressed grain whose marker is sound.
    void describeDataDamage(std::uint64_t diskBase, std::vector<ByteRange>& out) const override;
    bool hasGrainMap() const override { return true; }

    std::uint64_t grainBytes() const { return grainBytes_; }
    std::uint64_t grainCount() const { return grainCount_; }

  protected:
    struct Grain {
        enum class Kind : std::uint8_t { Absent, Zero, Data, Compressed, Unreadable };
        Kind kind = Kind::Absent;
        std::uint64_t fileOffset = 0; // Data: the grain's first byte; Compressed: its marker
        Damage reason = Damage::None;

        static Grain absent() { return {}; }
        static Grain zero() { return {Kind::Zero, 0, Damage::None}; }
        static Grain unreadable(Damage why) { return {Kind::Unreadable, 0, why}; }
        bool stored() const { return kind == Kind::Data || kind == Kind::Compressed || kind == Kind::Zero; }
        bool operator==(const Grain&) const = default;
    };
    // Table entries of one width, as read; entries the file does not hold are not `available`.
    struct Table {
        std::vector<std::uint64_t> entries;
        std::size_t available = 0;
    };

    VmdkGrainExtent(ReadOnlyFile file, std::uint64_t length, std::uint64_t grainBytes);

    // Where grain `grain` (below grainCount()) is. Thread-safe.
    virtual Grain lookup(std::uint64_t grain) const = 0;
    // The first grain after `grain` whose lookup may differ from its: past a whole table the
    // directory does not point at, so that large empty stretches are not walked grain by grain.
    virtual std::uint64_t sameUntil(std::uint64_t grain) const { return grain + 1; }
    // For a grain that reads as a hole (zero, or absent when `absentIsHole`): the first grain
    // after it that may not, found in bulk where the kind can (a whole table's entries at once).
    virtual std::uint64_t holeUntil(std::uint64_t grain, bool absentIsHole) const {
        (void)absentIsHole;
        return sameUntil(grain);
    }
    static bool readsAsHole(const Grain& g, bool absentIsHole) {
        return g.kind == Grain::Kind::Zero || (g.kind == Grain::Kind::Absent && absentIsHole);
    }

    // The table of `entries` entries of `width` bytes (4 or 8) at `fileOffset`, cached; null
    // on an I/O error.
    std::shared_ptr<const Table> table(std::uint64_t fileOffset, std::size_t entries, unsigned width) const;
    // The place of a grain the map says is stored at `fileOffset`: unreadable when that lies
    // inside the extent's metadata or outside the file.
    Grain storedAt(std::uint64_t fileOffset, Grain::Kind kind) const;
    // Why a place outside the file cannot be read: a file cut short, or a map entry no writer
    // could have made.
    Damage outsideFile(std::uint64_t fileOffset) const {
        return fileOffset < plausibleEnd_ ? Damage::PastEndOfFile : Damage::InvalidMapEntry;
    }

    ReadOnlyFile file_;
    std::uint64_t fileLength_ = 0;
    std::uint64_t grainBytes_ = 0;
    std::uint64_t grainCount_ = 0;
    std::uint64_t firstDataByte_ = 512; // grains never start in the header or the tables
    std::uint64_t plausibleEnd_ = UINT64_MAX;

  private:
    // The unreadable ranges of the map (`absent` false), or the absent ones (true).
    void describeRanges(std::uint64_t diskBase, std::vector<ByteRange>& out, bool absent) const;

    struct Job {
        std::uint64_t grain;
        std::uint64_t markerOffset;
        std::uint64_t inGrain;
        std::size_t outPos;
        std::size_t length;
    };
    struct Inflated {
        std::uint64_t grain = UINT64_MAX;
        std::shared_ptr<const std::vector<std::uint8_t>> bytes;
    };
    bool readStored(std::uint64_t fileOffset, std::span<std::uint8_t> out, std::uint64_t diskOffset,
                    ReadReport* report) const;
    // The most bytes a grain's marker and deflate data may take.
    std::uint64_t mostCompressedBytes() const;
    // Why `marker`, which the map puts at `markerOffset` for `grain`, cannot give the grain as far
    // as the marker alone tells: another grain's marker, a size beyond any deflate of a grain, or
    // data past the end of the file. None otherwise.
    Damage markerDamage(std::uint64_t grain, const VmdkMarker& marker, std::uint64_t markerOffset) const;
    // markerDamage for the marker read from the file.
    Damage compressedGrainDamage(std::uint64_t grain, std::uint64_t markerOffset) const;
    // Inflates grain `grain` from its marker at `markerOffset` and gives its bytes from `skip` on,
    // as many as `window` holds; None when the grain's stream is sound, else why not.
    Damage inflateGrain(std::uint64_t grain, std::uint64_t markerOffset, std::uint64_t skip,
                        std::span<std::uint8_t> window) const;
    Damage runJob(const Job& job, std::span<std::uint8_t> out) const;
    bool runJobs(const std::vector<Job>& jobs, std::span<std::uint8_t> out, std::uint64_t diskStart,
                 ReadReport* report) const;
    std::uint64_t grainLength(std::uint64_t grain) const;

    mutable std::mutex tableMutex_;
    mutable std::unordered_map<std::uint64_t, std::shared_ptr<const Table>> tables_;
    mutable std::mutex grainMutex_;
    mutable std::vector<Inflated> inflated_;
    mutable std::size_t nextSlot_ = 0;
};

} // namespace vindaru
