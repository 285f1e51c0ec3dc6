#include "image/BlockMappedReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/ByteLoader.h"

namespace vindaru {

namespace {
// isHole looks at no more blocks than this per call.
constexpr std::uint64_t kMaxHoleProbeBlocks = 1u << 16;
// Tables whose stored entries are fewer than one in this many are kept sparse.
constexpr std::uint64_t kSparseTableRatio = 4;
// The damage map lists at most this many ranges (each already joins neighbouring blocks).
constexpr std::size_t kMaxDamageRanges = 1u << 16;
} // namespace

bool BlockMappedReader::placeCursor(std::uint64_t offset) {
    cursor_ = offset;
    cursorValid_ = true;
    if (blockSize == 0) return false;
    const BlockPlace place = locateBlock(offset / blockSize);
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
    const bool ok = readAt(cursor_, std::span<std::uint8_t>(out, length));
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

bool BlockMappedReader::isHole(std::uint64_t offset, std::uint64_t length) const {
    std::uint64_t end = 0;
    if (blockSize == 0 || length == 0 || !checkedAdd(offset, length, end)) return false;
    // A long stretch is many lookups; past a bound it is cheaper to just read it.
    const std::uint64_t lastBlock = (end - 1) / blockSize;
    if (lastBlock - offset / blockSize > kMaxHoleProbeBlocks) return false;
    for (std::uint64_t block = offset / blockSize; block <= lastBlock; ++block) {
        const BlockPlace place = locateBlock(block);
        if (place.state == BlockState::Hole) continue;
        // A range the parent holds is a hole when the parent says so.
        if (place.state == BlockState::Parent && parent()) {
            const std::uint64_t from = std::max(offset, block * blockSize);
            const std::uint64_t to = std::min(end, (block + 1) * blockSize);
            if (from >= parent()->size() || parent()->isHole(from, std::min(to, parent()->size()) - from))
                continue;
        }
        return false;
    }
    return true;
}

std::uint64_t BlockMappedReader::nextData(std::uint64_t offset) const {
    const std::uint64_t total = size();
    if (blockSize == 0 || offset >= total) return offset;
    // The parent's answer holds for every offset below it, so it is asked again only once the
    // walk has passed it (not once per block the parent holds).
    std::uint64_t parentNext = 0;
    bool parentAsked = false;
    for (std::uint64_t at = offset; at < total;) {
        const std::uint64_t block = at / blockSize;
        const std::uint64_t blockEnd = block * blockSize + std::min(blockSize, total - block * blockSize);
        const BlockPlace place = locateBlock(block);
        if (place.state == BlockState::Parent && parent()) {
            // What lies past a smaller parent's end reads as a hole.
            if (at < parent()->size() && (!parentAsked || parentNext < at)) {
                parentNext = parent()->nextData(at);
                parentAsked = true;
            }
            if (at < parent()->size() && parentNext < blockEnd) return std::max(parentNext, at);
        } else if (place.state != BlockState::Hole) {
            return at;
        }
        at = blockEnd;
    }
    return total;
}

std::span<const std::uint8_t> BlockMappedReader::viewAt(std::uint64_t offset, std::uint64_t length) const {
    if (blockSize == 0 || length == 0) return {};
    const std::uint64_t inBlock = offset % blockSize;
    if (length > blockSize - inBlock) return {};
    const BlockPlace place = locateBlock(offset / blockSize);
    if (place.state != BlockState::Data || place.partial) return {};
    const std::uint64_t start = place.fileOffset + inBlock;
    // Only bytes the file holds as data; the rest of such a block is unreadable and is copied.
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

bool BlockMappedReader::readStored(std::uint64_t fileStart, std::span<std::uint8_t> out,
                                   std::uint64_t diskOffset, ReadReport* report) const {
    const std::uint64_t inFile = fileStart < dataLimit ? std::min<std::uint64_t>(out.size(), dataLimit - fileStart) : 0;
    bool ioError = false;
    const std::uint64_t got = file.readZeroFilled(fileStart, out.data(), inFile, &ioError);
    if (got < out.size()) std::memset(out.data() + got, 0, out.size() - got);
    if (got == out.size()) return true;
    if (report) {
        // Bytes the host failed to read are a read error; bytes the file does not reach, past its end.
        if (ioError && got < inFile) report->addUnreadable(diskOffset + got, inFile - got, Damage::ReadError);
        const std::uint64_t from = ioError ? inFile : got;
        if (from < out.size()) report->addUnreadable(diskOffset + from, out.size() - from, Damage::PastEndOfFile);
    }
    return false;
}

bool BlockMappedReader::readPartialBlock(const BlockPlace& place, std::uint64_t inBlock,
                                         std::span<std::uint8_t> out, std::uint64_t diskOffset,
                                         ReadReport* report) const {
    return readStored(place.fileOffset + inBlock, out, diskOffset, report);
}

bool BlockMappedReader::readRange(std::uint64_t offset, std::span<std::uint8_t> out,
                                  ReadReport* report) const {
    if (blockSize == 0) {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        if (report) report->addUnreadable(offset, out.size(), Damage::DamagedTable);
        return false;
    }
    bool ok = true;
    while (!out.empty()) {
        const std::uint64_t block = offset / blockSize;
        const std::uint64_t inBlock = offset % blockSize;
        const BlockPlace place = locateBlock(block);
        std::uint64_t run = std::min<std::uint64_t>(out.size(), blockSize - inBlock);
        switch (place.state) {
        case BlockState::Beyond:
            std::fill(out.begin(), out.end(), std::uint8_t{0});
            if (report) report->addUnreadable(offset, out.size(), Damage::PastEndOfDisk);
            return false;
        case BlockState::Hole:
            // Extend over following holes: one report entry, one fill.
            for (std::uint64_t next = block + 1; run < out.size() && locateBlock(next).state == BlockState::Hole; ++next)
                run += std::min<std::uint64_t>(out.size() - run, blockSize);
            std::fill_n(out.begin(), run, std::uint8_t{0});
            if (report) report->addHole(offset, run);
            break;
        case BlockState::Unreadable:
            std::fill_n(out.begin(), run, std::uint8_t{0});
            if (report) report->addUnreadable(offset, run, place.reason);
            ok = false;
            break;
        case BlockState::Parent:
            for (std::uint64_t next = block + 1; run < out.size() && locateBlock(next).state == BlockState::Parent; ++next)
                run += std::min<std::uint64_t>(out.size() - run, blockSize);
            ok = readFromParent(offset, out.first(run), report) && ok;
            break;
        case BlockState::Data:
            if (place.partial) {
                ok = readPartialBlock(place, inBlock, out.first(run), offset, report) && ok;
                break;
            }
            // Extend the run over following blocks stored right after this one in the file.
            for (std::uint64_t next = block + 1; run < out.size(); ++next) {
                const BlockPlace following = locateBlock(next);
                if (following.state != BlockState::Data || following.partial ||
                    following.fileOffset != place.fileOffset + inBlock + run)
                    break;
                run += std::min<std::uint64_t>(out.size() - run, blockSize);
            }
            ok = readStored(place.fileOffset + inBlock, out.first(run), offset, report) && ok;
            break;
        }
        out = out.subspan(run);
        offset += run;
    }
    return ok;
}

void BlockMappedReader::describeDamage(std::vector<ByteRange>& out) const {
    if (blockSize == 0 || !hasTable_) return;
    const std::uint64_t disk = capacity();
    const bool parentMissing = !parent() && parentLink().has_value();
    std::size_t listed = 0;
    auto add = [&](std::uint64_t from, std::uint64_t to, Damage reason) {
        to = std::min(to, disk);
        if (from >= to) return;
        if (!out.empty() && out.back().end() == from && out.back().reason == reason) {
            out.back().length += to - from;
            return;
        }
        if (listed++ >= kMaxDamageRanges) return;
        out.push_back({from, to - from, RangeKind::Unreadable, reason});
    };
    // Only the entries the file holds are looked at, one by one; whatever lies past them is one range.
    const std::uint64_t blocks = disk == 0 ? 0 : std::min((disk - 1) / blockSize + 1, storedEntries_);
    for (std::uint64_t block = 0; block < blocks; ++block) {
        const BlockPlace place = locateBlock(block);
        const std::uint64_t start = block * blockSize;
        // A run of absent entries in a sparse table is one state: a hole or the parent's.
        if (!dense_ && (place.state == BlockState::Hole || place.state == BlockState::Parent) &&
            tableEntry(block, absent_) == absent_ && !entryLost(block)) {
            const auto next = std::upper_bound(sparseTable_.begin(), sparseTable_.end(), block,
                                               [](std::uint64_t b, const auto& e) { return b < e.first; });
            const std::uint64_t runEnd = next == sparseTable_.end() ? blocks : std::min<std::uint64_t>(next->first, blocks);
            if (place.state == BlockState::Parent && parentMissing)
                add(start, runEnd * blockSize, Damage::MissingParent);
            block = runEnd - 1;
            continue;
        }
        switch (place.state) {
        case BlockState::Unreadable:
            add(start, start + blockSize, place.reason);
            break;
        case BlockState::Parent:
            if (parentMissing) add(start, start + blockSize, Damage::MissingParent);
            break;
        case BlockState::Data:
            // A block that runs past the end of the file (a cut copy).
            if (place.fileOffset + blockSize > dataLimit) {
                const std::uint64_t held = place.fileOffset < dataLimit ? dataLimit - place.fileOffset : 0;
                add(start + held, start + blockSize, Damage::PastEndOfFile);
            }
            break;
        default:
            break;
        }
    }
    std::uint64_t lostFrom = 0;
    if (checkedMul(storedEntries_, blockSize, lostFrom) && lostFrom < disk) add(lostFrom, disk, Damage::PastEndOfFile);
}

BlockMappedReader::BlockPlace BlockMappedReader::storedAt(std::uint64_t entry, std::uint64_t scale,
                                                          std::uint64_t base) const {
    std::uint64_t offset = 0;
    if (!checkedMul(entry, scale, offset) || !checkedAdd(offset, base, offset) || offset < dataStart)
        return {BlockState::Unreadable, 0, Damage::InvalidMapEntry, false};
    if (offset >= dataLimit) return {BlockState::Unreadable, 0, Damage::PastEndOfFile, false};
    return {BlockState::Data, offset, Damage::None, false};
}

std::uint32_t BlockMappedReader::tableEntry(std::uint64_t block, std::uint32_t absent) const {
    if (dense_) return block < denseTable_.size() ? denseTable_[block] : absent;
    const auto it = std::lower_bound(sparseTable_.begin(), sparseTable_.end(), block,
                                     [](const auto& e, std::uint64_t b) { return e.first < b; });
    return it != sparseTable_.end() && it->first == block ? it->second : absent;
}

std::uint64_t BlockMappedReader::storedEntryCount() const {
    if (!dense_) return sparseTable_.size();
    return static_cast<std::uint64_t>(std::count_if(denseTable_.begin(), denseTable_.end(),
                                                    [this](std::uint32_t e) { return e != absent_; }));
}

bool BlockMappedReader::sharedEntry(std::uint64_t block) const {
    return std::binary_search(sharedBlocks_.begin(), sharedBlocks_.end(), static_cast<std::uint32_t>(block));
}

bool BlockMappedReader::loadTable(std::uint64_t offset, std::uint64_t count, bool bigEndian, std::uint32_t absent) {
    entryCount = count;
    absent_ = absent;
    const std::uint64_t length = file.length();
    const std::uint64_t stored = offset < length ? std::min(count, (length - offset) / 4) : 0;
    if (stored > kMaxBlockTableEntries) return false;
    storedEntries_ = stored;
    hasTable_ = true;
    denseTable_.clear();
    sparseTable_.clear();
    dense_ = false;
    // Read in pieces and keep the stored entries only, until they are too many for that to pay:
    // a large disk little written (every snapshot child) then costs no table of its full size.
    constexpr std::uint64_t kPieceEntries = 1u << 16;
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(std::min(stored, kPieceEntries) * 4));
    std::uint8_t absentBytes[4];
    for (int i = 0; i < 4; ++i) absentBytes[i] = static_cast<std::uint8_t>(absent >> (bigEndian ? 24 - 8 * i : 8 * i));
    for (std::uint64_t first = 0; first < stored; first += kPieceEntries) {
        const std::uint64_t n = std::min(kPieceEntries, stored - first);
        file.readZeroFilled(offset + first * 4, raw.data(), n * 4);
        for (std::uint64_t i = 0; i < n; ++i) {
            const std::uint8_t* e = raw.data() + i * 4;
            if (!dense_ && std::memcmp(e, absentBytes, 4) == 0) continue;
            const std::uint32_t value = bigEndian ? be32(raw, i * 4) : le32(raw, i * 4);
            if (dense_) {
                denseTable_[first + i] = value;
                continue;
            }
            sparseTable_.emplace_back(static_cast<std::uint32_t>(first + i), value);
            if (sparseTable_.size() * kSparseTableRatio > stored) {
                // Mostly stored: one entry a block is smaller and faster.
                denseTable_.assign(static_cast<std::size_t>(stored), absent);
                for (auto [block, entry] : sparseTable_) denseTable_[block] = entry;
                sparseTable_.clear();
                sparseTable_.shrink_to_fit();
                dense_ = true;
            }
        }
    }
    if (!dense_) sparseTable_.shrink_to_fit();
    return true;
}

void BlockMappedReader::reset() {
    denseTable_.clear();
    denseTable_.shrink_to_fit();
    sparseTable_.clear();
    sparseTable_.shrink_to_fit();
    sharedBlocks_.clear();
    dense_ = true;
    hasTable_ = false;
    storedEntries_ = 0;
    entryCount = 0;
    blockSize = 0;
    dataLimit = 0;
    dataStart = 0;
    declaredBytes = 0;
    file.close();
}

} // namespace vindaru
