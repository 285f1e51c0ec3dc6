// The disk reader of a container format: it opens the image file(s) and is the disk's byte source,
// mapping each byte of the virtual disk to its place in the image, to a hole, or to a range it
// cannot read (ByteSource says which). Everything in the engine reads through ByteSource::readAt,
// at absolute disk offsets, or through a VolumeSlice over it; nothing keeps a cursor or an offset
// in the reader. The cursor-style seek/read pair is kept as a thin adapter for the described
// behaviours that need it (tests of the sector-by-sector path); the engine does not call it.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/ByteSource.h"

namespace vindaru {

class MemoryFiles;

inline constexpr std::uint64_t kSectorSize = 512;

// Where a snapshot child's parent is to be found, as the child names it.
struct ParentLink {
    // File names as written in the child; the opener takes a relative one from the child's folder.
    std::vector<std::string> candidatePaths;
    // The id the parent must carry (a CID, UUID or GUID as text); empty: not checked.
    std::string expectedId;
    // "vmdk", "vhd", "vdi", "vhdx", "qcow2", or "" when the child does not say.
    std::string formatHint;
};

class readWriteInterface : public ByteSource {
  public:
    readWriteInterface() = default;
    ~readWriteInterface() override = default;

    virtual bool open(const std::string& path) = 0;
    // Reads `length` bytes from the last sought position; holes read as zeros.
    virtual bool read(void* buffer, std::uint64_t length) {
        (void)buffer;
        (void)length;
        return true;
    }
    // `position` is a disk offset; origin is 0 (from the beginning) at every call.
    virtual bool seek(std::int64_t position, int origin) {
        (void)position;
        (void)origin;
        return true;
    }

    // The disk's size is its capacity.
    std::uint64_t size() const final { return capacity(); }

    // The virtual disk's size in bytes: no byte at or past it exists, whatever the image's tables
    // say. Whole-disk sweeps end there.
    virtual std::uint64_t capacity() const { return UINT64_MAX; }

    // The disk size in sectors the image itself declares (its header, footer or descriptor); 0
    // when it declares none. The session takes it as its disk size once the reader is open.
    virtual std::uint64_t declaredSectors() const { return 0; }
    // True when a disk size the user typed replaces the declared one (the VMDK readers).
    virtual bool takesTypedSize() const { return false; }

    // Where open() finds its files: the file system when null, else these in-memory files.
    const MemoryFiles* memoryFiles = nullptr;

    std::vector<std::uint32_t> blockTable;
    std::uint64_t imageLength = 0;
    std::uint8_t sectorMapped = 1;

    // ---- snapshot chains and damage ----
    // Where this layer's parent lies; nullopt for a disk that has none (a base disk).
    virtual std::optional<ParentLink> parentLink() const { return std::nullopt; }
    // The id a child's ParentLink::expectedId is compared with; empty when the format has none.
    virtual std::string layerId() const { return {}; }
    // Ranges of the disk known to be unreadable from this layer's maps alone (a truncated file,
    // a bad map entry, a missing parent's ranges), in this disk's coordinates. For `check`.
    virtual void describeDamage(std::vector<ByteRange>& out) const { (void)out; }
    // Ranges whose stored bytes only a read shows to be unreadable (a compressed grain whose
    // data does not inflate), in this disk's coordinates; beyond describeDamage's. It reads every
    // such piece of data, so it is for `check` alone.
    virtual void describeDataDamage(std::vector<ByteRange>& out) const { (void)out; }
    // What is wrong with the container's structure beyond the ranges describeDamage lists: a
    // copy of a table or a footer lost or at odds with the other, whose data is still read from
    // what is left. One short phrase each ("the redundant grain directory or its tables are
    // damaged"); empty for a sound container. A damaged image is never called sound by `check`.
    virtual std::vector<std::string> structuralDamage() const { return {}; }
    // True when describeDataDamage has stored data to read that the maps cannot vouch for
    // (compressed grains): without that read, no unreadable range in the map does not yet mean
    // a sound disk.
    virtual bool hasUncheckedData() const { return false; }
    // What the container is made of, one line each (header fields, tables, extents), for `info`
    // and `check`.
    virtual std::vector<std::string> structureLines() const { return {}; }
    // The container's kind as `info` prints it: "raw", "vhd (dynamic)", "vdi (differencing)", ...
    virtual std::string kindText() const { return "raw"; }

    // Hangs the parent layer under this one; this layer then owns it.
    void attachParent(std::unique_ptr<readWriteInterface> parent) { parent_ = std::move(parent); }
    const readWriteInterface* parent() const { return parent_.get(); }

  protected:
    // For a range this layer's map defers to its parent: reads it from the parent when one is
    // attached (what lies past a smaller parent's end reads as a hole); without one, a layer that
    // names a parent reports the range unreadable (MissingParent) and a layer without one a hole.
    // The bytes read as zeros either way.
    bool readFromParent(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const;

  private:
    friend class ImageChain;
    std::unique_ptr<readWriteInterface> parent_;
};

} // namespace vindaru
