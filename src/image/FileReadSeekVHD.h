// Reader for VHD images. A dynamic VHD keeps a footer copy at the start, the dynamic disk header
// after it, the block allocation table (BAT) where the header says, and data blocks each preceded
// by a sector bitmap; a block the BAT marks absent reads as zeros. A differencing VHD is laid out
// the same way but is a snapshot child: an absent block, and each sector its block's bitmap does
// not mark, comes from the parent the header names (by unique id and parent locators). A fixed
// VHD is the raw disk followed by its footer and is read one-to-one. The image is only ever read.
#pragma once

#include "image/BlockMappedReader.h"
#include "image/VhdParentLocator.h"

namespace vindaru {

class FileReadSeekVHD : public BlockMappedReader {
  public:
    explicit FileReadSeekVHD(Session& session) : BlockMappedReader(session) {}

    // Opens the image and loads its BAT; declares the footer's current size as the disk size.
    // "not a vhd file" for a name not ending in vhd, "invalid handle ..." when the file cannot
    // be opened, each with the file's name and the reason.
    bool open(const std::string& path) override;
    // Maps the sector holding `position`; false past the end of the BAT (sectorMapped then stays
    // as it was). The cursor starts at the beginning of that sector.
    bool seek(std::int64_t position, int origin) override;

    std::uint64_t capacity() const override;
    std::optional<ParentLink> parentLink() const override;
    std::string layerId() const override { return uniqueId_; }
    std::vector<std::string> structureLines() const override;
    // A lost copy of the footer, a dynamic header not found where it should be.
    std::vector<std::string> structuralDamage() const override;
    // The base's damage, and for a child read without its parent, the sectors of its stored
    // blocks that its bitmaps leave to the parent.
    void describeDamage(std::vector<ByteRange>& out) const override;
    std::string kindText() const override;

    bool isFixed() const { return diskType_ == vhd::kDiskTypeFixed; }
    bool isDifferencing() const { return diskType_ == vhd::kDiskTypeDifferencing; }
    // True when the footer at the end of the file is missing or damaged and the copy at the
    // start was used.
    bool footerCopyUsed() const { return footerCopyUsed_; }
    std::uint64_t bitmapBytes() const { return bitmapBytes_; }
    std::uint64_t tableOffset() const { return tableOffset_; }

  protected:
    BlockPlace locateBlock(std::uint64_t block) const override;
    bool readPartialBlock(const BlockPlace& place, std::uint64_t inBlock, std::span<std::uint8_t> out,
                          std::uint64_t diskOffset, ReadReport* report) const override;

  private:
    bool footerFromHeader(vhd::Footer& footer) const;
    bool openFixed(std::uint64_t diskBytes);
    bool openDynamic(std::span<const std::uint8_t> footer);
    std::uint64_t headerOffset(std::span<const std::uint8_t> footer) const;

    std::string name_;
    std::uint32_t diskType_ = 0;
    bool footerCopyUsed_ = false;
    bool footerLost_ = false; // neither copy of the footer is there; rebuilt from the header
    bool headerFound_ = false;
    std::string uniqueId_;
    vhd::VhdParent parent_;
    std::uint64_t headerOffset_ = 0;
    std::uint64_t bitmapBytes_ = 0;
    std::uint64_t tableOffset_ = 0;
};

} // namespace vindaru
