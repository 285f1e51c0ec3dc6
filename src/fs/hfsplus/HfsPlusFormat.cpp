#include "fs/hfsplus/HfsPlusFormat.h"

namespace vindaru {

namespace {

// Volume header.
constexpr std::size_t kVhSignature = 0;
constexpr std::size_t kVhVersion = 2;
constexpr std::size_t kVhBlockSize = 40;
constexpr std::size_t kVhTotalBlocks = 44;
constexpr std::size_t kVhAllocationFork = 112;
constexpr std::size_t kVhExtentsFork = 192;
constexpr std::size_t kVhCatalogFork = 272;

// Fork descriptor.
constexpr std::size_t kForkLogicalSize = 0;
constexpr std::size_t kForkTotalBlocks = 12;
constexpr std::size_t kForkExtents = 16;
constexpr std::size_t kExtentBytes = 8;

// Node descriptor and the header record behind it.
constexpr std::size_t kNdFLink = 0;
constexpr std::size_t kNdBLink = 4;
constexpr std::size_t kNdKind = 8;
constexpr std::size_t kNdHeight = 9;
constexpr std::size_t kNdNumRecords = 10;
constexpr std::size_t kHrTreeDepth = 14;
constexpr std::size_t kHrRootNode = 16;
constexpr std::size_t kHrLeafRecords = 20;
constexpr std::size_t kHrFirstLeaf = 24;
constexpr std::size_t kHrLastLeaf = 28;
constexpr std::size_t kHrNodeSize = 32;
constexpr std::size_t kHrTotalNodes = 36;

// Catalog key and records (offsets within the record data).
constexpr std::size_t kCkParentId = 2;
constexpr std::size_t kCkNameLength = 6;
constexpr std::size_t kCkName = 8;
constexpr std::size_t kMaxNameLength = 255;
constexpr std::size_t kCrType = 0;
constexpr std::size_t kCrId = 8;
constexpr std::size_t kCrCreateDate = 12;
constexpr std::size_t kCrContentModDate = 16;
constexpr std::size_t kCrAttributeModDate = 20;
constexpr std::size_t kCrAccessDate = 24;
constexpr std::size_t kCrFileMode = 42;
constexpr std::size_t kCrSpecial = 44; // a hard link's iNode number
constexpr std::size_t kCrFileType = 48;
constexpr std::size_t kCrFileCreator = 52;
constexpr std::uint32_t kHardLinkType = 0x686C6E6B;    // "hlnk"
constexpr std::uint32_t kHardLinkCreator = 0x6866732B; // "hfs+"
constexpr std::size_t kCrDataFork = 88;
constexpr std::size_t kFolderRecordBytes = 88;
constexpr std::size_t kFileRecordBytes = 248;

// Extents overflow key: keyLength 10, then forkType, pad, fileID, startBlock.
constexpr std::uint16_t kExtentKeyLength = 10;
constexpr std::size_t kEkForkType = 2;
constexpr std::size_t kEkFileId = 4;
constexpr std::size_t kEkStartBlock = 8;
constexpr std::size_t kEkRecord = 12;

// Deep mode: a leaf with this many records or more is not believed.
constexpr std::uint16_t kMaxLeafRecords = 1000;

HfsExtentRecord decodeExtents(ByteSpan bytes, std::size_t offset) {
    HfsExtentRecord extents{};
    for (std::size_t i = 0; i < kExtentsPerRecord; ++i) {
        extents[i].startBlock = be32(bytes, offset + i * kExtentBytes);
        extents[i].blockCount = be32(bytes, offset + i * kExtentBytes + 4);
    }
    return extents;
}

} // namespace

HfsFork decodeFork(ByteSpan bytes, std::size_t offset) {
    HfsFork fork;
    fork.logicalSize = be64(bytes, offset + kForkLogicalSize);
    fork.totalBlocks = be32(bytes, offset + kForkTotalBlocks);
    fork.extents = decodeExtents(bytes, offset + kForkExtents);
    return fork;
}

HfsVolumeHeader decodeVolumeHeader(ByteSpan header) {
    HfsVolumeHeader h;
    h.signature = be16(header, kVhSignature);
    h.version = be16(header, kVhVersion);
    h.blockSize = be32(header, kVhBlockSize);
    h.totalBlocks = be32(header, kVhTotalBlocks);
    h.allocationFile = decodeFork(header, kVhAllocationFork);
    h.extentsFile = decodeFork(header, kVhExtentsFork);
    h.catalogFile = decodeFork(header, kVhCatalogFork);
    return h;
}

NodeDescriptor decodeNodeDescriptor(ByteSpan node) {
    NodeDescriptor d;
    d.fLink = be32(node, kNdFLink);
    d.bLink = be32(node, kNdBLink);
    d.kind = static_cast<std::int8_t>(u8(node, kNdKind));
    d.height = u8(node, kNdHeight);
    d.numRecords = be16(node, kNdNumRecords);
    return d;
}

BTreeHeader decodeBTreeHeader(ByteSpan node) {
    BTreeHeader h;
    h.treeDepth = be16(node, kHrTreeDepth);
    h.rootNode = be32(node, kHrRootNode);
    h.leafRecords = be32(node, kHrLeafRecords);
    h.firstLeafNode = be32(node, kHrFirstLeaf);
    h.lastLeafNode = be32(node, kHrLastLeaf);
    h.nodeSize = be16(node, kHrNodeSize);
    h.totalNodes = be32(node, kHrTotalNodes);
    return h;
}

bool isValidNodeSize(std::uint32_t nodeSize) {
    return isPowerOfTwo(nodeSize) && nodeSize >= kMinNodeSize && nodeSize <= kMaxNodeSize;
}

bool isKnownNodeKind(std::int8_t kind) {
    return kind == kNodeLeaf || kind == kNodeIndex || kind == kNodeHeader || kind == kNodeMap;
}

std::vector<std::uint16_t> recordOffsets(ByteSpan node, std::uint16_t numRecords) {
    std::vector<std::uint16_t> offsets;
    const std::size_t size = node.size();
    if (size < kNodeDescriptorBytes) return offsets;
    // The table grows from the end towards the records; it cannot pass the descriptor.
    const std::size_t fit = (size - kNodeDescriptorBytes) / 2;
    const std::size_t count = numRecords < fit ? numRecords : fit;
    offsets.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint16_t offset = be16(node, size - 2 * (k + 1));
        if (offset >= kNodeDescriptorBytes && offset < size) offsets.push_back(offset);
    }
    return offsets;
}

std::optional<CatalogRecord> decodeCatalogRecord(ByteSpan node, std::size_t offset) {
    if (!fits(node, offset, kCkName)) return std::nullopt;
    const std::size_t keyLength = be16(node, offset);
    const std::size_t nameLength = be16(node, offset + kCkNameLength);
    if (nameLength == 0 || nameLength > kMaxNameLength) return std::nullopt;
    // The key must hold its name; the record data follows the key.
    if (keyLength < kCkName - 2 + 2 * nameLength) return std::nullopt;
    const std::size_t data = offset + 2 + keyLength;
    if (!fits(node, offset + kCkName, 2 * nameLength) || data >= node.size()) return std::nullopt;
    CatalogRecord r;
    r.type = be16(node, data + kCrType);
    const std::size_t recordBytes = r.type == kCatalogFolder ? kFolderRecordBytes
                                    : r.type == kCatalogFile ? kFileRecordBytes
                                                             : 0;
    if (recordBytes == 0 || !fits(node, data, recordBytes)) return std::nullopt;
    r.parentId = be32(node, offset + kCkParentId);
    r.name.reserve(nameLength);
    for (std::size_t i = 0; i < nameLength; ++i)
        r.name.push_back(static_cast<char16_t>(be16(node, offset + kCkName + 2 * i)));
    r.cnid = be32(node, data + kCrId);
    r.createDate = be32(node, data + kCrCreateDate);
    r.contentModDate = be32(node, data + kCrContentModDate);
    r.accessDate = be32(node, data + kCrAccessDate);
    r.attributeModDate = be32(node, data + kCrAttributeModDate);
    r.fileMode = be16(node, data + kCrFileMode);
    if (r.type == kCatalogFile) {
        r.dataFork = decodeFork(node, data + kCrDataFork);
        r.hardLink = be32(node, data + kCrFileType) == kHardLinkType &&
                     be32(node, data + kCrFileCreator) == kHardLinkCreator;
        if (r.hardLink) r.linkNumber = be32(node, data + kCrSpecial);
    }
    return r;
}

std::optional<ExtentOverflowRecord> decodeExtentRecord(ByteSpan node, std::size_t offset) {
    if (!fits(node, offset, kEkRecord + kExtentsPerRecord * kExtentBytes)) return std::nullopt;
    if (be16(node, offset) != kExtentKeyLength) return std::nullopt;
    ExtentOverflowRecord r;
    r.forkType = u8(node, offset + kEkForkType);
    r.fileId = be32(node, offset + kEkFileId);
    r.startBlock = be32(node, offset + kEkStartBlock);
    r.extents = decodeExtents(node, offset + kEkRecord);
    return r;
}

bool looksLikeCatalogLeaf(ByteSpan bytes, std::uint32_t nodeSize) {
    if (bytes.size() < nodeSize || nodeSize < kMinNodeSize) return false;
    if (static_cast<std::int8_t>(bytes[kNdKind]) != kNodeLeaf || bytes[kNdHeight] == 0) return false;
    const std::uint16_t numRecords = be16(bytes, kNdNumRecords);
    if (numRecords == 0 || numRecords >= kMaxLeafRecords) return false;
    if (be16(bytes, nodeSize - 2) != kNodeDescriptorBytes) return false;
    // The table (one offset per record and the free-space offset) must leave room for records,
    // and the offsets must climb: a stray 0xFF byte in file data rarely gets this far.
    const std::size_t tableStart = nodeSize - 2 * (std::size_t{numRecords} + 1);
    if (tableStart < kNodeDescriptorBytes) return false;
    std::uint16_t previous = 0;
    for (std::size_t k = 0; k <= numRecords; ++k) {
        const std::uint16_t offset = be16(bytes, nodeSize - 2 * (k + 1));
        if (offset <= previous && k > 0) return false;
        if (offset > tableStart) return false;
        previous = offset;
    }
    return true;
}

} // namespace vindaru
