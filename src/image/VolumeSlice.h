// A volume as a parser, a carver or a scan sees it: the stretch of the disk's byte source from
// `start` for `length` bytes, checked once against the disk when it is made. Offset 0 is the
// volume's first byte; nothing before it or past its length is reachable. A slice that would run
// past the disk's end is cut to it and says so; one that starts past it, or whose bounds do not
// fit 64 bits, is refused. Slices are cheap values over a disk that outlives them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "image/ByteSource.h"

namespace vindaru {

class VolumeSlice final : public ByteSource {
  public:
    // The outcome of making a slice: the slice, or why there is none.
    struct Made;

    // The slice of `disk` at byte `start`, `length` bytes long; length 0 means to the disk's end.
    static Made fromBytes(const ByteSource& disk, std::uint64_t start, std::uint64_t length);
    // The same in sectors of `sectorSize` bytes (the unit partition tables count in).
    static Made fromSectors(const ByteSource& disk, std::uint64_t startSector,
                            std::uint64_t sectorCount, std::uint64_t sectorSize = 512);
    // A slice of no bytes, for a volume that was refused: every read of it is unreadable.
    static VolumeSlice empty(const ByteSource& disk) { return VolumeSlice(disk, 0, 0, false); }
    // The whole disk as one slice.
    explicit VolumeSlice(const ByteSource& disk) : disk_(&disk), start_(0), length_(disk.size()) {}

    VolumeSlice(const VolumeSlice& other) : ByteSource(), disk_(other.disk_), start_(other.start_),
        length_(other.length_), cut_(other.cut_) {}
    VolumeSlice& operator=(const VolumeSlice& other) {
        disk_ = other.disk_;
        start_ = other.start_;
        length_ = other.length_;
        cut_ = other.cut_;
        return *this;
    }

    std::uint64_t size() const override { return length_; }
    bool isHole(std::uint64_t offset, std::uint64_t length) const override;
    std::uint64_t nextData(std::uint64_t offset) const override;
    std::span<const std::uint8_t> viewAt(std::uint64_t offset, std::uint64_t length) const override;
    std::uint32_t logicalSectorSize() const override { return disk_->logicalSectorSize(); }

    // Where the slice begins on the disk, in bytes.
    std::uint64_t start() const { return start_; }
    // True when the length asked for ran past the disk's end and was cut to it.
    bool wasCut() const { return cut_; }
    const ByteSource& disk() const { return *disk_; }

  protected:
    bool readRange(std::uint64_t offset, std::span<std::uint8_t> out,
                   ReadReport* report) const override;

  private:
    VolumeSlice(const ByteSource& disk, std::uint64_t start, std::uint64_t length, bool cut)
        : disk_(&disk), start_(start), length_(length), cut_(cut) {}

    const ByteSource* disk_;
    std::uint64_t start_;
    std::uint64_t length_;
    bool cut_ = false;
};

struct VolumeSlice::Made {
    std::optional<VolumeSlice> slice;
    // Empty when the slice was made whole; else why it was cut or refused, for a message.
    std::string problem;

    explicit operator bool() const { return slice.has_value(); }
};

} // namespace vindaru
