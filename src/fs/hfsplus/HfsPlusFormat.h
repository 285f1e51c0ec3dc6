// HFS+ on-disk structures, decoded from byte spans (all numbers big-endian). Each decoder takes
// the bytes it was given and nothing else: a field outside them reads as zero, a record whose
// parts do not fit is refused.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/ByteLoader.h"

namespace vindaru {

inline constexpr std::uint64_t kHfsHeaderOffset = 1024;
inline constexpr std::size_t kHfsHeaderBytes = 512;
inline constexpr std::uint16_t kHfsPlusSignature = 0x482B; // "H+"
inline constexpr std::uint16_t kHfsxSignature = 0x4858;    // "HX", the case-sensitive variant
inline constexpr std::uint16_t kHfsPlusVersion = 4;
inline constexpr std::uint16_t kHfsxVersion = 5;

// Catalog node IDs with a fixed meaning.
inline constexpr std::uint32_t kHfsRootParentId = 1;
inline constexpr std::uint32_t kHfsRootFolderId = 2;
inline constexpr std::uint32_t kHfsExtentsFileId = 3;
inline constexpr std::uint32_t kHfsCatalogFileId = 4;
inline constexpr std::uint32_t kHfsAllocationFileId = 6;

// B-tree node kinds.
inline constexpr std::int8_t kNodeLeaf = -1;
inline constexpr std::int8_t kNodeIndex = 0;
inline constexpr std::int8_t kNodeHeader = 1;
inline constexpr std::int8_t kNodeMap = 2;
inline constexpr std::size_t kNodeDescriptorBytes = 14;
// Node sizes the format allows: powers of two from 512 to 32,768 bytes.
inline constexpr std::uint32_t kMinNodeSize = 512;
inline constexpr std::uint32_t kMaxNodeSize = 32768;

inline constexpr std::uint8_t kDataFork = 0x00;
inline constexpr std::uint8_t kResourceFork = 0xFF;
inline constexpr std::size_t kExtentsPerRecord = 8;

struct HfsExtent {
    std::uint32_t startBlock = 0;
    std::uint32_t blockCount = 0;
};
using HfsExtentRecord = std::array<HfsExtent, kExtentsPerRecord>;

struct HfsFork {
    std::uint64_t logicalSize = 0;
    std::uint32_t totalBlocks = 0;
    HfsExtentRecord extents{};
};

struct HfsVolumeHeader {
    std::uint16_t signature = 0;
    std::uint16_t version = 0;
    std::uint32_t blockSize = 0;
    std::uint32_t totalBlocks = 0;
    HfsFork allocationFile; // one bit per allocation block, the highest bit of a byte first
    HfsFork extentsFile;
    HfsFork catalogFile;

    // "H+" version 4, or "HX" version 5 (read the same way).
    bool hasSignature() const {
        return (signature == kHfsPlusSignature && version == kHfsPlusVersion) ||
               (signature == kHfsxSignature && version == kHfsxVersion);
    }
};

struct NodeDescriptor {
    std::uint32_t fLink = 0;
    std::uint32_t bLink = 0;
    std::int8_t kind = 0;
    std::uint8_t height = 0;
    std::uint16_t numRecords = 0;
};

struct BTreeHeader {
    std::uint16_t treeDepth = 0;
    std::uint32_t rootNode = 0;
    std::uint32_t leafRecords = 0;
    std::uint32_t firstLeafNode = 0;
    std::uint32_t lastLeafNode = 0;
    std::uint16_t nodeSize = 0;
    std::uint32_t totalNodes = 0;
};

inline constexpr std::uint16_t kCatalogFolder = 1;
inline constexpr std::uint16_t kCatalogFile = 2;

// A folder or file record of the catalog, with the fields the browser shows.
struct CatalogRecord {
    std::uint16_t type = 0; // kCatalogFolder or kCatalogFile
    std::uint32_t parentId = 0;
    std::u16string name;
    std::uint32_t cnid = 0; // folderID or fileID
    std::uint32_t createDate = 0;
    std::uint32_t contentModDate = 0;
    std::uint32_t accessDate = 0;
    // Changes with any change of the record (a rename or move too).
    std::uint32_t attributeModDate = 0;
    std::uint16_t fileMode = 0;
    // A file hard link ("hlnk"/"hfs+" in its Finder info) names the file "iNode<number>" in
    // the private data folder that holds the content.
    bool hardLink = false;
    std::uint32_t linkNumber = 0;
    HfsFork dataFork; // files only
};

struct ExtentOverflowRecord {
    std::uint8_t forkType = 0;
    std::uint32_t fileId = 0;
    std::uint32_t startBlock = 0; // file-relative block where these extents begin
    HfsExtentRecord extents{};
};

HfsVolumeHeader decodeVolumeHeader(ByteSpan header);
HfsFork decodeFork(ByteSpan bytes, std::size_t offset);
NodeDescriptor decodeNodeDescriptor(ByteSpan node);
// The header record of a B-tree's node 0.
BTreeHeader decodeBTreeHeader(ByteSpan node);
bool isValidNodeSize(std::uint32_t nodeSize);
// A kind the format defines (leaf, index, header, map).
bool isKnownNodeKind(std::int8_t kind);

// The node's record offsets, read backwards from its end; only offsets past the descriptor and
// inside the node are kept (a record table that claims more records than fit is cut).
std::vector<std::uint16_t> recordOffsets(ByteSpan node, std::uint16_t numRecords);

// A folder (1) or file (2) record whose key starts at `offset`; nullopt for anything else, or
// when the key's name is empty or over 255 characters, or the record does not fit in the node.
std::optional<CatalogRecord> decodeCatalogRecord(ByteSpan node, std::size_t offset);
// An extents overflow record whose key starts at `offset`.
std::optional<ExtentOverflowRecord> decodeExtentRecord(ByteSpan node, std::size_t offset);

// Deep mode's test for a catalog leaf node of `nodeSize` bytes at the start of `bytes`: kind
// leaf, height not 0, the first record right after the descriptor, 0 < numRecords < 1000, and
// a record table that fits the node.
bool looksLikeCatalogLeaf(ByteSpan bytes, std::uint32_t nodeSize);

} // namespace vindaru
