#include "image/FileReadSeekVdi.h"

#include "common/ByteLoader.h"
#include "image/VdiLayout.h"

namespace vindaru {

using namespace vdi;

bool FileReadSeekVdi::open(const std::string& path) {
    reset();
    if (!file.open(path, memoryFiles)) {
        session.messages->info("invalid handle ...");
        return false;
    }
    imageLength = file.length();
    std::uint8_t header[kHeaderSize] = {};
    file.readZeroFilled(0, header, sizeof header);

    const std::uint64_t diskBytes = le64(header, kDiskSize);
    blockSize = le32(header, kBlockSize);
    blockExtra_ = le32(header, kBlockExtraData);
    dataOffset_ = le32(header, kDataOffset);
    dataLimit = file.length();
    const bool mapLoaded =
        loadTable(le32(header, kBlockMapOffset), le32(header, kBlockCount), false);
    declaredBytes = diskBytes;

    const bool usable = mapLoaded && diskBytes != 0 && le32(header, kHeaderLength) != 0 &&
                        le32(header, kAllocatedBlocks) != 0 && blockSize != 0;
    if (!usable) reset();
    return usable;
}

bool FileReadSeekVdi::seek(std::int64_t newPosition, int) {
    position = newPosition;
    std::uint64_t absolute = 0;
    if (!absoluteOf(newPosition, absolute)) return false;
    return placeCursor(absolute);
}

BlockMappedReader::BlockPlace FileReadSeekVdi::locateBlock(std::uint64_t block) const {
    if (block >= entryCount) return {BlockState::Beyond, 0};
    if (block >= blockTable.size()) return {BlockState::Hole, 0};
    const std::uint32_t entry = blockTable[block];
    if (entry == kAbsentBlock || entry == kZeroBlock) return {BlockState::Hole, 0};
    // Block i of the data area starts at dataOffset + i × (extra + size) + extra; the extra data
    // is zero-length in every image seen in practice, which gives the plain i × size.
    std::uint64_t stride = 0;
    std::uint64_t base = 0;
    if (!checkedAdd(blockSize, blockExtra_, stride) || !checkedAdd(dataOffset_, blockExtra_, base))
        return {BlockState::Hole, 0};
    return storedAt(entry, stride, base);
}

} // namespace vindaru
