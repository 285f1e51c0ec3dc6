// Reader for VHD images. A dynamic VHD keeps a footer copy at the start, the dynamic disk header
// after it, the block allocation table (BAT) where the header says, and data blocks each preceded
// by a sector bitmap; a block the BAT marks absent reads as zeros. A fixed VHD is the raw disk
// followed by its footer and is read one-to-one. The image is only ever read.
#pragma once

#include "image/BlockMappedReader.h"

namespace vindaru {

class FileReadSeekVHD : public BlockMappedReader {
  public:
    explicit FileReadSeekVHD(Session& session) : BlockMappedReader(session) {}

    // Opens the image and loads its BAT; declares the footer's current size as the disk size. "not a vhd file" for a name not ending in vhd, "invalid handle ..." when the
    // file cannot be opened.
    bool open(const std::string& path) override;
    // Maps the sector holding the disk position; false past the end of the BAT (sectorMapped
    // then stays as it was). The cursor starts at the beginning of that sector.
    bool seek(std::int64_t position, int origin) override;

    std::uint64_t capacity() const override;

    bool isFixed() const { return fixed_; }
    std::uint64_t bitmapBytes() const { return bitmapBytes_; }
    std::uint64_t tableOffset() const { return tableOffset_; }

  protected:
    BlockPlace locateBlock(std::uint64_t block) const override;

  private:
    bool openFixed(std::uint64_t diskBytes);
    bool openDynamic(std::span<const std::uint8_t> footer);
    std::uint64_t headerOffset(std::span<const std::uint8_t> footer) const;

    bool fixed_ = false;
    std::uint64_t bitmapBytes_ = 0;
    std::uint64_t tableOffset_ = 0;
};

} // namespace vindaru
