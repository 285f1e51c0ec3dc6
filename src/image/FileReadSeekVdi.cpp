#include "image/FileReadSeekVdi.h"

#include <filesystem>

#include "common/ByteLoader.h"
#include "common/DisplayFormat.h"
#include "image/VdiLayout.h"

namespace vindaru {

using namespace vdi;

namespace {

const char* typeName(std::uint32_t type) {
    switch (type) {
    case kTypeDynamic: return "dynamic";
    case kTypeStatic: return "static";
    case kTypeUndo: return "undo";
    case kTypeDifferencing: return "differencing";
    default: return "unknown type";
    }
}

} // namespace

bool FileReadSeekVdi::open(const std::string& path) {
    reset();
    const std::string name = std::filesystem::path(path).filename().string();
    if (!file.open(path, memoryFiles)) {
        session.messages->info("invalid handle ...: " + name + " cannot be opened for reading");
        return false;
    }
    imageLength = file.length();
    std::uint8_t header[kHeaderSize] = {};
    file.readZeroFilled(0, header, sizeof header);

    const std::uint64_t diskBytes = le64(header, kDiskSize);
    version_ = le32(header, kVersion);
    imageType_ = le32(header, kImageType);
    allocated_ = le32(header, kAllocatedBlocks);
    blockSize = le32(header, kBlockSize);
    blockExtra_ = le32(header, kBlockExtraData);
    mapOffset_ = le32(header, kBlockMapOffset);
    dataOffset_ = le32(header, kDataOffset);
    dataLimit = file.length();
    dataStart = dataOffset_;
    const std::span<const std::uint8_t> bytes(header, sizeof header);
    id_ = uuidText(bytes.subspan(kUuidCreate, kUuidBytes));
    const std::span<const std::uint8_t> link = bytes.subspan(kUuidLink, kUuidBytes);
    if (!isNullUuid(link)) parentId_ = uuidText(link);
    const std::uint64_t entries = le32(header, kBlockCount);
    const bool mapLoaded = loadTable(mapOffset_, entries, false, kAbsentBlock);
    declaredBytes = diskBytes;

    std::string problem;
    if (!mapLoaded)
        problem = "its block map is larger than any VDI holds";
    else if (diskBytes == 0)
        problem = "its header gives a disk size of 0";
    else if (le32(header, kHeaderLength) == 0)
        problem = "its header gives a header size of 0";
    else if (blockSize == 0)
        problem = "its header gives a block size of 0";
    // A snapshot child that holds nothing yet is a sound image.
    else if (allocated_ == 0 && !isDifferencing())
        problem = "its header says no block is allocated";
    if (!problem.empty()) {
        session.messages->info(name + " cannot be read as a VDI image: " + problem);
        reset();
        return false;
    }
    findSharedEntries([](std::uint32_t e) { return e == kAbsentBlock || e == kZeroBlock; },
                      diskBytes / blockSize + 1);
    return true;
}

bool FileReadSeekVdi::seek(std::int64_t newPosition, int) {
    position = newPosition;
    if (newPosition < 0) return false;
    return placeCursor(static_cast<std::uint64_t>(newPosition));
}

BlockMappedReader::BlockPlace FileReadSeekVdi::locateBlock(std::uint64_t block) const {
    if (block >= entryCount) return {BlockState::Beyond};
    if (entryLost(block)) return {BlockState::Unreadable, 0, Damage::PastEndOfFile};
    const std::uint32_t entry = tableEntry(block, kAbsentBlock);
    if (entry == kAbsentBlock) return {isDifferencing() ? BlockState::Parent : BlockState::Hole};
    if (entry == kZeroBlock) return {BlockState::Hole};
    // The data area has a place for each block of the disk and no more; an entry beyond it, or
    // one that another block uses too, says nothing that can be trusted.
    if (entry >= entryCount || sharedEntry(block)) return {BlockState::Unreadable, 0, Damage::InvalidMapEntry};
    // Block i of the data area starts at dataOffset + i × (extra + size) + extra; the extra data
    // is zero-length in every image seen in practice, which gives the plain i × size.
    std::uint64_t stride = 0;
    std::uint64_t base = 0;
    if (!checkedAdd(blockSize, blockExtra_, stride) || !checkedAdd(dataOffset_, blockExtra_, base))
        return {BlockState::Unreadable, 0, Damage::InvalidMapEntry};
    return storedAt(entry, stride, base);
}

std::optional<ParentLink> FileReadSeekVdi::parentLink() const {
    if (!isDifferencing()) return std::nullopt;
    // The header names no file: the parent is found by its id among the images beside the child.
    return ParentLink{{}, parentId_, "vdi"};
}

std::string FileReadSeekVdi::kindText() const {
    return std::string("vdi (") + (isDifferencing() ? "differencing" : typeName(imageType_)) + ")";
}

std::vector<std::string> FileReadSeekVdi::structureLines() const {
    std::vector<std::string> lines;
    lines.push_back(formatText("Header: version %u.%u, image type %u (%s), disk size %llu bytes", version_ >> 16,
                               version_ & 0xFFFF, imageType_, typeName(imageType_),
                               static_cast<unsigned long long>(declaredBytes)));
    lines.push_back("Image id " + id_ + (isDifferencing() ? ", parent id " + parentId_ : std::string()));
    lines.push_back(formatText("Block map at byte %llu: %llu blocks of %llu bytes, %u allocated; data at byte %llu",
                               static_cast<unsigned long long>(mapOffset_), static_cast<unsigned long long>(entryCount),
                               static_cast<unsigned long long>(blockSize), allocated_,
                               static_cast<unsigned long long>(dataOffset_)));
    std::uint64_t outside = 0;
    std::uint64_t shared = 0;
    for (std::uint64_t b = 0; b < storedEntries(); ++b) {
        const std::uint32_t e = tableEntry(b, kAbsentBlock);
        if (e == kAbsentBlock || e == kZeroBlock) continue;
        if (e >= entryCount)
            ++outside;
        else if (sharedEntry(b))
            ++shared;
    }
    if (entryCount > storedEntries())
        lines.push_back(formatText("The block map runs past the end of the file: %llu entries are lost",
                                   static_cast<unsigned long long>(entryCount - storedEntries())));
    if (outside)
        lines.push_back(formatText("%llu map entries point outside the data area", static_cast<unsigned long long>(outside)));
    if (shared)
        lines.push_back(formatText("%llu map entries point at a block another entry uses", static_cast<unsigned long long>(shared)));
    return lines;
}

} // namespace vindaru
