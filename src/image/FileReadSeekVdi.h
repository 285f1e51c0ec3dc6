// Reader for VDI images: a header, a block map (one u32 per block: its index in the data area,
// or absent), and the data blocks. Absent and zeroed blocks read as zeros. The image is only
// ever read.
#pragma once

#include "image/BlockMappedReader.h"

namespace vindaru {

class FileReadSeekVdi : public BlockMappedReader {
  public:
    explicit FileReadSeekVdi(Session& session) : BlockMappedReader(session) {}

    // Opens the image and loads its block map; declares the header's disk size.
    // False ("invalid handle ..." shown) when the file cannot be opened, and false when the
    // header's disk size, header size, allocated-block count or block size is zero.
    bool open(const std::string& path) override;
    // Maps the disk position (byte-exact); false past the end of the block map.
    bool seek(std::int64_t position, int origin) override;

    std::uint64_t dataOffset() const { return dataOffset_; }

  protected:
    BlockPlace locateBlock(std::uint64_t block) const override;

  private:
    std::uint64_t dataOffset_ = 0;
    std::uint64_t blockExtra_ = 0;
};

} // namespace vindaru
