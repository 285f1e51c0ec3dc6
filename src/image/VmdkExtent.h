// One extent of a VMDK disk: a stretch of the disk kept in one file (flat, hosted sparse,
// stream-optimized, ESXi COWD or SEsparse) or in none (a ZERO extent, or a file that is
// missing). An extent knows only its own map; bytes it does not hold (the unallocated grains
// of a snapshot delta) are handed to the reader's `absent` filler, which takes them from the
// parent layer or reads them as a hole.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "image/ByteSource.h"

namespace vindaru {

class VmdkExtent {
  public:
    // Fills [diskOffset, diskOffset + out.size()) that this layer does not hold; the contract
    // of a byte source's read.
    using AbsentFill =
        std::function<bool(std::uint64_t diskOffset, std::span<std::uint8_t> out, ReadReport* report)>;

    virtual ~VmdkExtent() = default;

    // The extent's length on the disk in bytes.
    std::uint64_t length() const { return length_; }

    // Reads [offset, offset + out.size()) of the extent, which lies within length(). Holes and
    // unreadable ranges go to `report` in disk coordinates (`diskBase` + extent offset); absent
    // ranges go to `absent` with their disk offsets. False when any byte was unreadable.
    virtual bool read(std::uint64_t offset, std::span<std::uint8_t> out, std::uint64_t diskBase,
                      ReadReport* report, const AbsentFill& absent) const = 0;

    // True when [offset, offset + length) of the extent is known to read as zeros from the map
    // alone; absent grains count only when `absentIsHole` (a layer without a parent).
    virtual bool isHole(std::uint64_t offset, std::uint64_t length, bool absentIsHole) const {
        (void)offset, (void)length, (void)absentIsHole;
        return false;
    }
    // The first extent offset at or after `offset` that isHole would not call a hole, or a lower
    // one (`offset` itself when the extent cannot tell); length() when none is left.
    virtual std::uint64_t nextData(std::uint64_t offset, bool absentIsHole) const {
        (void)absentIsHole;
        return offset;
    }
    // The extent's bytes where they lie in one piece of a mapped file; empty otherwise.
    virtual std::span<const std::uint8_t> viewAt(std::uint64_t offset, std::uint64_t length) const {
        (void)offset, (void)length;
        return {};
    }
    // Ranges the maps alone show to be unreadable, in disk coordinates.
    virtual void describeDamage(std::uint64_t diskBase, std::vector<ByteRange>& out) const {
        (void)diskBase, (void)out;
    }
    // Ranges whose stored data a read finds unreadable (readWriteInterface::describeDataDamage).
    virtual void describeDataDamage(std::uint64_t diskBase, std::vector<ByteRange>& out) const {
        (void)diskBase, (void)out;
    }
    // Ranges the extent's map leaves to a parent layer (absent grains), in disk coordinates, as
    // unreadable MissingParent ranges: a delta read without its parent cannot give them.
    virtual void describeAbsent(std::uint64_t diskBase, std::vector<ByteRange>& out) const {
        (void)diskBase, (void)out;
    }
    // What is wrong with the extent's structure though its data is still read (a lost copy of a
    // directory), one short phrase each (readWriteInterface::structuralDamage).
    virtual void structuralDamage(std::vector<std::string>& out) const { (void)out; }
    // True when describeDataDamage has data to inflate that the map cannot vouch for.
    virtual bool hasUncheckedData() const { return false; }
    // Lines that describe the extent's structure and what is wrong with it, for info and check.
    virtual void structureLines(std::vector<std::string>& out) const { (void)out; }
    // A word for the extent's kind ("flat", "sparse", "streamOptimized", "vmfsSparse", ...).
    virtual std::string kindText() const = 0;
    // True when the extent keeps a map whose unallocated parts belong to a parent layer.
    virtual bool hasGrainMap() const { return false; }

  protected:
    explicit VmdkExtent(std::uint64_t length) : length_(length) {}
    std::uint64_t length_ = 0;
};

} // namespace vindaru
