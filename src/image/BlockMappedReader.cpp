#include "image/BlockMappedReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/ByteLoader.h"

namespace vindaru {

namespace {
// isHole looks at no more blocks than this per call.
constexpr std::uint64_t kMaxHoleProbeBlocks = 1u << 16;
} // namespace

bool BlockMappedReader::absoluteOf(std::int64_t relative, std::uint64_t& absolute) const {
    if (relative < 0) return false;
    absolute = static_cast<std::uint64_t>(relative);
    return true;
}

bool BlockMappedReader::placeCursor(std::uint64_t absolute) {
    cursor_ = absolute;
    cursorValid_ = true;
    if (blockSize == 0) return false;
    const BlockPlace place = locateBlock(absolute / blockSize);
    if (place.state == BlockState::Beyond) return false;
    sectorMapped = place.state == BlockState::Data ? 1 : 0;
    return true;
}

bool BlockMappedReader::read(void* buffer, std::uint64_t length) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (!cursorValid_) {
        std::memset(out, 0, length);
        return false;
    }
    const bool ok = readAbsolute(cursor_, out, length);
    // Leave the cursor where the next sector read would continue, as consecutive reads expect.
    std::uint64_t next = 0;
    if (!checkedAdd(cursor_, length, next)) {
        cursorValid_ = false;
        return false;
    }
    cursor_ = next;
    // Wraps rather than overflows: a cursor that far out no longer maps anything anyway.
    position = static_cast<std::int64_t>(static_cast<std::uint64_t>(position) + length);
    if (blockSize != 0) {
        const BlockPlace place = locateBlock(cursor_ / blockSize);
        if (place.state != BlockState::Beyond) sectorMapped = place.state == BlockState::Data;
    }
    return ok;
}

bool BlockMappedReader::readRange(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport*) const {
    return readAbsolute(offset, out.data(), out.size());
}

bool BlockMappedReader::isHole(std::uint64_t offset, std::uint64_t length) const {
    const std::uint64_t first = offset;
    std::uint64_t end = 0;
    if (blockSize == 0 || length == 0 || !checkedAdd(first, length, end))
        return false;
    // A long stretch is many lookups; past a bound it is cheaper to just read it.
    const std::uint64_t lastBlock = (end - 1) / blockSize;
    if (lastBlock - first / blockSize > kMaxHoleProbeBlocks) return false;
    for (std::uint64_t block = first / blockSize; block <= lastBlock; ++block) {
        if (locateBlock(block).state != BlockState::Hole) return false;
    }
    return true;
}

std::span<const std::uint8_t> BlockMappedReader::viewAt(std::uint64_t absolute, std::uint64_t length) const {
    if (blockSize == 0 || length == 0) return {};
    const std::uint64_t inBlock = absolute % blockSize;
    if (length > blockSize - inBlock) return {};
    const BlockPlace place = locateBlock(absolute / blockSize);
    if (place.state != BlockState::Data) return {};
    const std::uint64_t start = place.fileOffset + inBlock;
    // Only bytes the file holds as data; the rest of such a block reads as zeros and is copied.
    if (start > dataLimit || length > dataLimit - start) return {};
    const std::span<const std::uint8_t> whole = file.mapped();
    if (start > whole.size() || length > whole.size() - start) return {};
    return whole.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(length));
}

std::uint64_t BlockMappedReader::capacity() const {
    std::uint64_t mapped = 0;
    if (!checkedMul(entryCount, blockSize, mapped)) mapped = UINT64_MAX;
    return std::min(declaredBytes, mapped);
}

bool BlockMappedReader::readAbsolute(std::uint64_t absolute, std::uint8_t* out,
                                     std::uint64_t length) const {
    if (blockSize == 0) {
        std::memset(out, 0, length);
        return length == 0;
    }
    while (length > 0) {
        const std::uint64_t block = absolute / blockSize;
        const std::uint64_t inBlock = absolute % blockSize;
        const BlockPlace place = locateBlock(block);
        if (place.state == BlockState::Beyond) {
            // Every later block is past the table too.
            std::memset(out, 0, length);
            return false;
        }
        std::uint64_t run = std::min(length, blockSize - inBlock);
        if (place.state == BlockState::Hole) {
            std::memset(out, 0, run);
        } else {
            const std::uint64_t start = place.fileOffset + inBlock;
            // Extend the run over following blocks stored right after this one in the file.
            for (std::uint64_t next = block + 1; run < length; ++next) {
                const BlockPlace following = locateBlock(next);
                if (following.state != BlockState::Data || following.fileOffset != start + run)
                    break;
                run += std::min(length - run, blockSize);
            }
            const std::uint64_t inFile = start < dataLimit ? std::min(run, dataLimit - start) : 0;
            file.readZeroFilled(start, out, inFile);
            if (inFile < run) std::memset(out + inFile, 0, run - inFile);
        }
        out += run;
        length -= run;
        if (!checkedAdd(absolute, run, absolute) && length > 0) {
            std::memset(out, 0, length);
            return false;
        }
    }
    return true;
}

BlockMappedReader::BlockPlace BlockMappedReader::storedAt(std::uint64_t entry, std::uint64_t scale,
                                                          std::uint64_t base) const {
    std::uint64_t offset = 0;
    if (!checkedMul(entry, scale, offset) || !checkedAdd(offset, base, offset) ||
        offset >= dataLimit)
        return {BlockState::Hole, 0};
    return {BlockState::Data, offset};
}

bool BlockMappedReader::loadTable(std::uint64_t offset, std::uint64_t count, bool bigEndian) {
    entryCount = count;
    const std::uint64_t length = file.length();
    const std::uint64_t stored = offset < length ? std::min(count, (length - offset) / 4) : 0;
    if (stored > kMaxBlockTableEntries) return false;
    std::vector<std::uint8_t> raw(stored * 4);
    file.readZeroFilled(offset, raw.data(), raw.size());
    blockTable.resize(stored);
    for (std::uint64_t i = 0; i < stored; ++i)
        blockTable[i] = bigEndian ? be32(raw, i * 4) : le32(raw, i * 4);
    return true;
}

void BlockMappedReader::reset() {
    blockTable.clear();
    blockTable.shrink_to_fit();
    entryCount = 0;
    blockSize = 0;
    dataLimit = 0;
    declaredBytes = 0;
    file.close();
}

} // namespace vindaru
