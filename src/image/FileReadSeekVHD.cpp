#include "image/FileReadSeekVHD.h"

#include <algorithm>

#include "common/ByteLoader.h"
#include "image/ImagePathRules.h"
#include "image/VhdLayout.h"

namespace vindaru {

using namespace vhd;

bool FileReadSeekVHD::open(const std::string& path) {
    reset();
    if (!endsWithImageExtension(path, "vhd")) {
        session.messages->info("not a vhd file");
        return false;
    }
    if (!file.open(path, memoryFiles)) {
        session.messages->info("invalid handle ...");
        return false;
    }
    imageLength = file.length();
    const Footer footer = readFooter(file);
    const std::uint64_t diskBytes = be64(footer.bytes, kFooterCurrentSize);
    declaredBytes = diskBytes;
    const bool ok = footer.atEnd && be32(footer.bytes, kFooterDiskType) == kDiskTypeFixed
                        ? openFixed(diskBytes)
                        : openDynamic(footer.bytes);
    if (!ok) reset();
    return ok;
}

// A fixed disk is one stretch of data; it is served as consecutive blocks of the default size
// stored back to back, so reads coalesce into one pread and never touch the footer.
bool FileReadSeekVHD::openFixed(std::uint64_t diskBytes) {
    fixed_ = true;
    blockSize = kDefaultBlockSize;
    dataLimit = file.length() - kFooterSize;
    entryCount = diskBytes / blockSize + (diskBytes % blockSize != 0 ? 1 : 0);
    return true;
}

std::uint64_t FileReadSeekVHD::capacity() const {
    const std::uint64_t mapped = BlockMappedReader::capacity();
    // A fixed disk is the file before its footer; a footer claiming more has nothing behind it.
    return fixed_ ? std::min(mapped, dataLimit) : mapped;
}

std::uint64_t FileReadSeekVHD::headerOffset(std::span<const std::uint8_t> footer) const {
    const std::uint64_t declared = be64(footer, kFooterDataOffset);
    std::uint8_t cookie[8] = {};
    if (declared < file.length() && file.length() - declared >= kDynamicHeaderSize) {
        file.readZeroFilled(declared, cookie, sizeof cookie);
        if (hasCookie(cookie, "cxsparse")) return declared;
    }
    return kDefaultHeaderOffset;
}

bool FileReadSeekVHD::openDynamic(std::span<const std::uint8_t> footer) {
    fixed_ = false;
    std::uint8_t header[kDynamicHeaderSize] = {};
    file.readZeroFilled(headerOffset(footer), header, sizeof header);

    const std::uint64_t declaredBlock = be32(header, kHeaderBlockSize);
    blockSize = isPowerOfTwo(declaredBlock) && declaredBlock >= kMinBlockSize &&
                        declaredBlock <= kMaxBlockSize
                    ? declaredBlock
                    : kDefaultBlockSize;
    // One bit per sector, rounded up to whole sectors.
    const std::uint64_t bitmapBits = blockSize / kSectorSize;
    bitmapBytes_ = ((bitmapBits + 8 * kSectorSize - 1) / (8 * kSectorSize)) * kSectorSize;

    const std::uint64_t declaredTable = be64(header, kHeaderTableOffset);
    tableOffset_ = declaredTable < file.length() ? declaredTable : kDefaultTableOffset;
    dataLimit = file.length();

    return loadTable(tableOffset_, be32(header, kHeaderMaxTableEntries), true);
}

bool FileReadSeekVHD::seek(std::int64_t newPosition, int) {
    position = newPosition;
    std::uint64_t absolute = 0;
    if (!absoluteOf(newPosition, absolute)) return false;
    // The reader maps whole sectors: an unaligned position reads from its sector's start.
    return placeCursor(absolute / kSectorSize * kSectorSize);
}

BlockMappedReader::BlockPlace FileReadSeekVHD::locateBlock(std::uint64_t block) const {
    if (block >= entryCount) return {BlockState::Beyond, 0};
    if (fixed_) return storedAt(block, blockSize, 0);
    if (block >= blockTable.size() || blockTable[block] == kAbsentBlock)
        return {BlockState::Hole, 0};
    return storedAt(blockTable[block], kSectorSize, bitmapBytes_);
}

} // namespace vindaru
