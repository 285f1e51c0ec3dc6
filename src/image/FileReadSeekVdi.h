// Reader for VDI images: a header, a block map (one u32 per block: its index in the data area,
// or absent), and the data blocks. Absent and zeroed blocks read as zeros. A differencing image
// (a snapshot child: its header names its parent's id) leaves its absent blocks to the parent.
// Map entries that point outside the data area or at a block another entry uses are unreadable.
// The image is only ever read.
#pragma once

#include "image/BlockMappedReader.h"

namespace vindaru {

class FileReadSeekVdi : public BlockMappedReader {
  public:
    explicit FileReadSeekVdi(Session& session) : BlockMappedReader(session) {}

    // Opens the image and loads its block map; declares the header's disk size. False, with a
    // message naming the file and the reason, when the file cannot be opened ("invalid handle
    // ...") and when the header's disk size, header size or block size is zero, or its
    // allocated-block count is (for an image that is not a snapshot child).
    bool open(const std::string& path) override;
    // Maps `position` (byte-exact); false past the end of the block map.
    bool seek(std::int64_t position, int origin) override;

    std::optional<ParentLink> parentLink() const override;
    std::string layerId() const override { return id_; }
    std::vector<std::string> structureLines() const override;
    std::string kindText() const override;

    std::uint64_t dataOffset() const { return dataOffset_; }
    bool isDifferencing() const { return !parentId_.empty(); }

  protected:
    BlockPlace locateBlock(std::uint64_t block) const override;

  private:
    std::uint32_t version_ = 0;
    std::uint32_t imageType_ = 0;
    std::uint32_t allocated_ = 0;
    std::uint64_t mapOffset_ = 0;
    std::uint64_t dataOffset_ = 0;
    std::uint64_t blockExtra_ = 0;
    std::string id_;
    std::string parentId_; // empty: not a snapshot child
};

} // namespace vindaru
