#include "image/FileReadSeekVHD.h"

#include <algorithm>
#include <filesystem>

#include "common/ByteLoader.h"
#include "common/DisplayFormat.h"
#include "image/ImagePathRules.h"
#include "image/VhdLayout.h"

namespace vindaru {

using namespace vhd;

namespace {

const char* diskTypeName(std::uint32_t type) {
    switch (type) {
    case kDiskTypeFixed: return "fixed";
    case kDiskTypeDynamic: return "dynamic";
    case kDiskTypeDifferencing: return "differencing";
    default: return "unknown";
    }
}

bool bitSet(std::span<const std::uint8_t> bitmap, std::uint64_t sector) {
    return sector / 8 < bitmap.size() && (bitmap[sector / 8] & (0x80u >> (sector % 8))) != 0;
}

} // namespace

bool FileReadSeekVHD::open(const std::string& path) {
    reset();
    uniqueId_.clear();
    name_ = std::filesystem::path(path).filename().string();
    if (!endsWithImageExtension(path, "vhd")) {
        session.messages->info("not a vhd file: the name of " + name_ + " does not end in .vhd");
        return false;
    }
    if (!file.open(path, memoryFiles)) {
        session.messages->info("invalid handle ...: " + name_ + " cannot be opened for reading");
        return false;
    }
    imageLength = file.length();
    Footer footer = readFooter(file);
    footerLost_ = !footer.hasCookie && footerFromHeader(footer);
    if (!footer.hasCookie && !footerLost_) {
        session.messages->info(name_ + " is not a VHD image: it has no footer (\"conectix\") at its start or end");
        reset();
        return false;
    }
    // A dynamic disk keeps a copy of its footer at the start; the one at the end is lost in a
    // cut copy, and the copy then tells the disk.
    if (!footer.atEnd && !footerLost_) {
        Footer last;
        if (file.length() >= kFooterSize) file.readZeroFilled(file.length() - kFooterSize, last.bytes, kFooterSize);
        footerCopyUsed_ = !hasCookie(last.bytes, "conectix");
    }
    const std::uint64_t diskBytes = be64(footer.bytes, kFooterCurrentSize);
    declaredBytes = diskBytes;
    diskType_ = be32(footer.bytes, kFooterDiskType);
    if (!footerLost_) uniqueId_ = uniqueIdText(std::span<const std::uint8_t>(footer.bytes).subspan(kFooterUniqueId, 16));
    const bool ok = footer.atEnd && diskType_ == kDiskTypeFixed ? openFixed(diskBytes) : openDynamic(footer.bytes);
    if (!ok) {
        session.messages->info(name_ + ": the block allocation table is larger than any VHD holds");
        reset();
    }
    return ok;
}

// A dynamic disk that lost both copies of its footer (a cut copy whose first sector was
// overwritten) still has its dynamic header where every writer puts it, and the header maps
// the blocks: the footer is rebuilt from it, the disk as large as its table's blocks (the real
// size, lost with the footer, is at most one block less), a differencing disk where the header
// names a parent. Without the header the file is no VHD at all.
bool FileReadSeekVHD::footerFromHeader(Footer& footer) const {
    std::uint8_t header[kDynamicHeaderSize] = {};
    if (file.readZeroFilled(kDefaultHeaderOffset, header, sizeof header) < sizeof header ||
        !hasCookie(header, "cxsparse"))
        return false;
    const std::uint64_t block = be32(header, kHeaderBlockSize);
    if (!isPowerOfTwo(block) || block < kMinBlockSize || block > kMaxBlockSize) return false;
    const std::uint64_t diskBytes = std::uint64_t{be32(header, kHeaderMaxTableEntries)} * block; // < 2^62
    const bool child = std::any_of(header + kHeaderParentUniqueId, header + kHeaderParentUniqueId + 16,
                                   [](std::uint8_t b) { return b != 0; });
    std::fill(std::begin(footer.bytes), std::end(footer.bytes), std::uint8_t{0});
    std::copy_n("conectix", 8, footer.bytes);
    for (int i = 0; i < 8; ++i) {
        footer.bytes[kFooterDataOffset + i] = static_cast<std::uint8_t>(kDefaultHeaderOffset >> (56 - 8 * i));
        footer.bytes[kFooterCurrentSize + i] = static_cast<std::uint8_t>(diskBytes >> (56 - 8 * i));
    }
    footer.bytes[kFooterDiskType + 3] = static_cast<std::uint8_t>(child ? kDiskTypeDifferencing : kDiskTypeDynamic);
    footer.atEnd = false;
    return true;
}

// A fixed disk is one stretch of data; it is served as consecutive blocks of the default size
// stored back to back, so reads coalesce into one pread and never touch the footer.
bool FileReadSeekVHD::openFixed(std::uint64_t diskBytes) {
    blockSize = kDefaultBlockSize;
    dataLimit = file.length() - kFooterSize;
    dataStart = 0;
    entryCount = diskBytes / blockSize + (diskBytes % blockSize != 0 ? 1 : 0);
    return true;
}

std::uint64_t FileReadSeekVHD::capacity() const {
    const std::uint64_t mapped = BlockMappedReader::capacity();
    // A fixed disk is the file before its footer; a footer claiming more has nothing behind it.
    return isFixed() ? std::min(mapped, dataLimit) : mapped;
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
    if (diskType_ != kDiskTypeDifferencing) diskType_ = kDiskTypeDynamic;
    std::uint8_t header[kDynamicHeaderSize] = {};
    headerOffset_ = headerOffset(footer);
    file.readZeroFilled(headerOffset_, header, sizeof header);
    headerFound_ = hasCookie(header, "cxsparse");

    const std::uint64_t declaredBlock = be32(header, kHeaderBlockSize);
    blockSize = isPowerOfTwo(declaredBlock) && declaredBlock >= kMinBlockSize && declaredBlock <= kMaxBlockSize
                    ? declaredBlock
                    : kDefaultBlockSize;
    // One bit per sector, rounded up to whole sectors.
    const std::uint64_t bitmapBits = blockSize / kSectorSize;
    bitmapBytes_ = ((bitmapBits + 8 * kSectorSize - 1) / (8 * kSectorSize)) * kSectorSize;

    const std::uint64_t declaredTable = be64(header, kHeaderTableOffset);
    tableOffset_ = declaredTable < file.length() ? declaredTable : kDefaultTableOffset;
    dataLimit = file.length();
    if (isDifferencing()) parent_ = decodeParent(header, file);

    const std::uint64_t entries = be32(header, kHeaderMaxTableEntries);
    if (!loadTable(tableOffset_, entries, true, kAbsentBlock)) return false;
    // No block lies in the headers or the table.
    // No block lies in the headers or in the part of the table the disk uses (a table claiming
    // more entries than the disk has blocks would otherwise cover the blocks themselves).
    const std::uint64_t used = std::min({entries, storedEntries(), declaredBytes / blockSize + 1});
    dataStart = std::max(headerOffset_ + kDynamicHeaderSize, tableOffset_ + used * 4) + bitmapBytes_;
    findSharedEntries([](std::uint32_t e) { return e == kAbsentBlock; }, used);
    return true;
}

bool FileReadSeekVHD::seek(std::int64_t newPosition, int) {
    position = newPosition;
    if (newPosition < 0) return false;
    // The reader maps whole sectors: an unaligned position reads from its sector's start.
    return placeCursor(static_cast<std::uint64_t>(newPosition) / kSectorSize * kSectorSize);
}

BlockMappedReader::BlockPlace FileReadSeekVHD::locateBlock(std::uint64_t block) const {
    if (block >= entryCount) return {BlockState::Beyond};
    if (isFixed()) return storedAt(block, blockSize, 0);
    if (entryLost(block)) return {BlockState::Unreadable, 0, Damage::PastEndOfFile};
    const std::uint32_t entry = tableEntry(block, kAbsentBlock);
    if (entry == kAbsentBlock) return {isDifferencing() ? BlockState::Parent : BlockState::Hole};
    if (sharedEntry(block)) return {BlockState::Unreadable, 0, Damage::InvalidMapEntry};
    BlockPlace place = storedAt(entry, kSectorSize, bitmapBytes_);
    place.partial = place.state == BlockState::Data && isDifferencing();
    return place;
}

// A differencing block holds only the sectors its bitmap marks; the others are the parent's.
bool FileReadSeekVHD::readPartialBlock(const BlockPlace& place, std::uint64_t inBlock,
                                       std::span<std::uint8_t> out, std::uint64_t diskOffset,
                                       ReadReport* report) const {
    std::vector<std::uint8_t> bitmap(static_cast<std::size_t>(bitmapBytes_));
    bool ioError = false;
    const std::uint64_t got =
        file.readZeroFilled(place.fileOffset - bitmapBytes_, bitmap.data(), bitmap.size(), &ioError);
    if (got < bitmap.size()) {
        // Which sectors are this layer's is unknown.
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        if (report) report->addUnreadable(diskOffset, out.size(), ioError ? Damage::ReadError : Damage::DamagedTable);
        return false;
    }
    bool ok = true;
    std::uint64_t at = inBlock;
    const std::uint64_t end = inBlock + out.size();
    while (at < end) {
        const bool own = bitSet(bitmap, at / kSectorSize);
        std::uint64_t next = (at / kSectorSize + 1) * kSectorSize;
        while (next < end && bitSet(bitmap, next / kSectorSize) == own) next += kSectorSize;
        next = std::min(next, end);
        const std::span<std::uint8_t> piece = out.subspan(static_cast<std::size_t>(at - inBlock),
                                                          static_cast<std::size_t>(next - at));
        const std::uint64_t disk = diskOffset + (at - inBlock);
        ok = (own ? readStored(place.fileOffset + at, piece, disk, report) : readFromParent(disk, piece, report)) && ok;
        at = next;
    }
    return ok;
}

void FileReadSeekVHD::describeDamage(std::vector<ByteRange>& out) const {
    BlockMappedReader::describeDamage(out);
    if (!isDifferencing() || parent() || blockSize == 0) return;
    const std::uint64_t disk = size();
    std::vector<std::uint8_t> bitmap(static_cast<std::size_t>(bitmapBytes_));
    const std::uint64_t sectorsPerBlock = blockSize / kSectorSize;
    const std::uint64_t blocks = disk == 0 ? 0 : std::min((disk - 1) / blockSize + 1, storedEntries());
    for (std::uint64_t block = 0; block < blocks; ++block) {
        const BlockPlace place = locateBlock(block);
        if (place.state != BlockState::Data) continue;
        if (file.readZeroFilled(place.fileOffset - bitmapBytes_, bitmap.data(), bitmap.size()) < bitmap.size())
            continue; // a cut block: the base listed it
        for (std::uint64_t s = 0; s < sectorsPerBlock;) {
            std::uint64_t e = s;
            while (e < sectorsPerBlock && !bitSet(bitmap, e)) ++e;
            const std::uint64_t from = block * blockSize + s * kSectorSize;
            const std::uint64_t to = std::min(disk, block * blockSize + e * kSectorSize);
            if (e > s && from < to) out.push_back({from, to - from, RangeKind::Unreadable, Damage::MissingParent});
            s = e + 1;
        }
    }
}

std::optional<ParentLink> FileReadSeekVHD::parentLink() const {
    if (!isDifferencing()) return std::nullopt;
    ParentLink link;
    for (const ParentLocator& l : parent_.locators) link.candidatePaths.push_back(l.path);
    if (!parent_.name.empty()) link.candidatePaths.push_back(parent_.name);
    link.expectedId = parent_.uniqueId;
    link.formatHint = "vhd";
    return link;
}

std::string FileReadSeekVHD::kindText() const { return std::string("vhd (") + diskTypeName(diskType_) + ")"; }

std::vector<std::string> FileReadSeekVHD::structuralDamage() const {
    std::vector<std::string> phrases;
    if (footerCopyUsed_) phrases.push_back("the footer at the end of the file is missing or damaged");
    if (footerLost_) phrases.push_back("both copies of the footer are missing or damaged");
    if (!isFixed() && !headerFound_) phrases.push_back("the dynamic header is missing or damaged");
    return phrases;
}

std::vector<std::string> FileReadSeekVHD::structureLines() const {
    std::vector<std::string> lines;
    lines.push_back(formatText("Footer: disk type %u (%s), disk size %llu bytes, unique id %s", diskType_,
                               diskTypeName(diskType_), static_cast<unsigned long long>(declaredBytes),
                               uniqueId_.c_str()));
    if (footerCopyUsed_)
        lines.push_back("The footer at the end of the file is missing or damaged: the copy at the start is used");
    if (footerLost_)
        lines.push_back("Both copies of the footer are missing or damaged: the disk type and size are taken from the "
                        "dynamic header and its block allocation table, and the disk's unique id is unknown");
    if (isFixed()) return lines;
    lines.push_back(formatText("Dynamic header at byte %llu%s: block size %llu bytes", static_cast<unsigned long long>(headerOffset_),
                               headerFound_ ? "" : " (no \"cxsparse\" cookie: the usual places and sizes are assumed)",
                               static_cast<unsigned long long>(blockSize)));
    lines.push_back(formatText("Block allocation table at byte %llu: %llu entries, %llu blocks stored",
                               static_cast<unsigned long long>(tableOffset_), static_cast<unsigned long long>(entryCount),
                               static_cast<unsigned long long>(storedEntryCount())));
    if (tableEntryCount() > 0 && entryLost(tableEntryCount() - 1))
        lines.push_back("The block allocation table runs past the end of the file: the blocks of its lost entries are unreadable");
    if (isDifferencing()) {
        lines.push_back("Parent: " + (parent_.name.empty() ? std::string("(no name)") : parent_.name) + ", unique id " +
                        parent_.uniqueId);
        for (const ParentLocator& l : parent_.locators)
            lines.push_back(std::string("Parent locator ") + platformName(l.code) + ": " + l.path);
    }
    return lines;
}

} // namespace vindaru
