#include "fs/hfsplus/HFSP.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "common/DisplayFormat.h"
#include "common/TextConvert.h"
#include "common/TimeConvert.h"
#include "volume/VolumeSweep.h"

namespace vindaru {

namespace {

constexpr const char* kMaintaining = "Maintaining Parent Child....";
constexpr const char* kMaintainingRecord = "Maintaining Parent Child for record %d of %d....";
constexpr const char* kFoundFolder = "found folder at Node %lld";
constexpr const char* kFoundFile = "found file at Node %lld";
constexpr const char* kBlockSizeNotValid = "BlockSize not valid .Aborting..";

// The normal mode reads node 0 into one block's worth of memory: larger blocks are refused.
constexpr std::uint64_t kNormalMaxBlockSize = 4096;
constexpr std::uint64_t kMinBlockSize = 512;
// The allocation file of a volume of 2^32 blocks.
constexpr std::uint64_t kMaxAllocationFileBytes = 1ull << 29;
// B-tree nodes are read this many bytes at a time by position.
constexpr std::uint64_t kNodeChunkBytes = 1u << 20;
// Content is read in pieces of at most this many bytes.
constexpr std::uint64_t kContentChunkBytes = 1u << 20;
// The deep sweep's pieces: large enough for the kernel to stream and for the overlap of one
// node to cost little, small enough to stay in the CPU's cache while each block is tested.
constexpr std::uint64_t kDeepPieceBytes = 512u << 10;
// Catalog nodes are at least 4 KiB; when the header node is lost the deep scan tries these.
constexpr std::uint32_t kMinCatalogNodeSize = 4096;
// A folder deeper than this below the root is taken to be part of a loop.
constexpr std::size_t kMaxFolderDepth = 10000;
constexpr std::uint64_t kMiB = 1u << 20;

// The node's record table, checked record by record: each key ends before the next record and
// is followed by a catalog record type. Used only when the node size had to be guessed.
bool recordsLookValid(ByteSpan node, std::uint16_t numRecords) {
    const std::size_t size = node.size();
    for (std::size_t k = 0; k < numRecords; ++k) {
        const std::size_t offset = be16(node, size - 2 * (k + 1));
        const std::size_t next = be16(node, size - 2 * (k + 2));
        const std::size_t dataStart = offset + 2 + be16(node, offset);
        if (dataStart + 2 > next) return false;
        const std::uint16_t type = be16(node, dataStart);
        if (type < 1 || type > 4) return false;
    }
    return true;
}

std::string formatMode(std::uint16_t mode) {
    static constexpr std::pair<std::uint16_t, const char*> kBits[] = {
        {0x40, "-Owner:X"}, {0x80, "-Owner:W"}, {0x100, "-Owner:R"}, {0x1, "-OX"}, {0x2, "-OW"},
        {0x4, "-OR"},       {0x8, "-GX"},       {0x10, "-GW"},       {0x20, "-GR"}};
    std::string text;
    for (const auto& [bit, name] : kBits)
        if (mode & bit) text += name;
    return text;
}

std::string dateText(std::uint32_t hfsDate) {
    const auto local = hfsToLocal(hfsDate);
    return local ? formatDateTimeText(*local) : std::string();
}

} // namespace

HFSP::HFSP(const ByteSource& disk, VolumeRecord volume_, StatusSink* status, ProgressSink* progress)
    : volume(std::move(volume_)), reader(volumeSlice(disk, volume)) {
    attachSinks(status, progress);
}

void HFSP::attachSinks(StatusSink* status, ProgressSink* progress) {
    status_ = status ? status : &nullStatus_;
    progress_ = progress ? progress : &nullProgress_;
}

bool HFSP::readVolumeHeader() {
    std::vector<std::uint8_t> bytes(kHfsHeaderBytes, 0);
    reader.readAt(kHfsHeaderOffset, bytes);
    header = decodeVolumeHeader(bytes);
    blockSize = header.blockSize;
    headerRead = true;
    return true;
}

std::uint64_t HFSP::volumeBlockLimit() const {
    if (blockSize == 0) return 0;
    std::uint64_t limit = header.totalBlocks;
    if (limit == 0) limit = volumeLength(volume, reader) / blockSize;
    // Blocks the disk does not have cannot hold anything.
    const std::uint64_t diskEnd = reader.size();
    return std::min(limit, diskEnd / blockSize + (diskEnd % blockSize ? 1 : 0));
}

std::vector<HfsExtent> HFSP::checkedExtents(const HfsExtentRecord& record, std::uint64_t& blocks) const {
    std::vector<HfsExtent> out;
    const std::uint64_t limit = volumeBlockLimit();
    for (const HfsExtent& e : record) {
        if (e.startBlock == 0 || e.blockCount == 0) continue;
        // An extent that leaves the volume ends the fork: what follows it cannot be placed.
        if (std::uint64_t{e.startBlock} + e.blockCount > limit) {
            blocks = UINT64_MAX;
            return out;
        }
        out.push_back(e);
        blocks += e.blockCount;
    }
    return out;
}

std::vector<HfsExtent> HFSP::forkExtents(std::uint32_t fileId, const HfsFork& fork) const {
    std::uint64_t blocks = 0;
    std::vector<HfsExtent> extents = checkedExtents(fork.extents, blocks);
    // Each overflow record is keyed by the file-relative block where it begins, so the key
    // grows with every record taken; the visited set also ends a record that names itself.
    std::unordered_set<std::uint64_t> visited;
    while (blocks < fork.totalBlocks && blocks <= UINT32_MAX && visited.insert(blocks).second) {
        const auto it = overflowIndex.find({fileId, kDataFork, static_cast<std::uint32_t>(blocks)});
        if (it == overflowIndex.end()) break;
        const std::uint64_t before = blocks;
        const auto more = checkedExtents(it->second, blocks);
        extents.insert(extents.end(), more.begin(), more.end());
        if (blocks == before) break;
    }
    return extents;
}

std::vector<HfsExtent> HFSP::fileExtents(std::size_t index) const {
    if (index >= entries.size() || entries[index].type != kCatalogFile) return {};
    const hfsEntry& e = entries[contentOf(index)];
    HfsFork fork;
    fork.logicalSize = e.size;
    fork.totalBlocks = e.totalBlocks;
    fork.extents = e.extents;
    return forkExtents(static_cast<std::uint32_t>(e.cnid), fork);
}

std::uint64_t HFSP::forkPosition(const std::vector<HfsExtent>& extents, std::uint64_t offset) const {
    for (const HfsExtent& e : extents) {
        const std::uint64_t bytes = std::uint64_t{e.blockCount} * blockSize;
        if (offset < bytes) return std::uint64_t{e.startBlock} * blockSize + offset;
        offset -= bytes;
    }
    return UINT64_MAX;
}

bool HFSP::readForkBytes(const std::vector<HfsExtent>& extents, std::uint64_t offset,
                         std::span<std::uint8_t> out) {
    if (!out.empty()) std::memset(out.data(), 0, out.size());
    std::size_t done = 0;
    std::uint64_t fileStart = 0;
    for (const HfsExtent& e : extents) {
        if (done == out.size()) break;
        const std::uint64_t bytes = std::uint64_t{e.blockCount} * blockSize;
        const std::uint64_t want = offset + done;
        if (want < fileStart + bytes) {
            const std::uint64_t within = want - fileStart;
            const std::uint64_t n = std::min<std::uint64_t>(bytes - within, out.size() - done);
            const std::uint64_t at = std::uint64_t{e.startBlock} * blockSize + within;
            // What the reader knows to be a hole stays zeros without being read.
            if (!reader.isHole(at, n) && !reader.readAt(at, out.subspan(done, static_cast<std::size_t>(n))))
                return false;
            done += static_cast<std::size_t>(n);
        }
        fileStart += bytes;
    }
    return done == out.size();
}

std::optional<HFSP::BTreeFile> HFSP::openBTree(std::vector<HfsExtent> extents, std::uint64_t logicalSize) {
    BTreeFile tree;
    tree.extents = std::move(extents);
    for (const HfsExtent& e : tree.extents) tree.bytes += std::uint64_t{e.blockCount} * blockSize;
    if (logicalSize != 0) tree.bytes = std::min(tree.bytes, logicalSize);
    std::vector<std::uint8_t> node0(kMinNodeSize);
    if (tree.bytes < kMinNodeSize || !readForkBytes(tree.extents, 0, node0)) return std::nullopt;
    const NodeDescriptor d = decodeNodeDescriptor(node0);
    if (!isKnownNodeKind(d.kind)) return std::nullopt;
    tree.header = decodeBTreeHeader(node0);
    if (!isValidNodeSize(tree.header.nodeSize)) return std::nullopt;
    tree.nodeSize = tree.header.nodeSize;
    tree.nodeCount = std::min<std::uint64_t>(tree.header.totalNodes, tree.bytes / tree.nodeSize);
    return tree;
}

std::vector<bool> HFSP::walkNodes(const BTreeFile& tree, std::vector<nodeInfo>& infos, NodeFn onLeaf) {
    std::unordered_map<std::uint64_t, std::uint32_t> leafLinks; // leaf node -> fLink
    const std::uint64_t nodesPerChunk = std::max<std::uint64_t>(1, kNodeChunkBytes / tree.nodeSize);
    std::vector<std::uint8_t> chunk;
    progress_->setRange(0, static_cast<std::int64_t>(tree.nodeCount));
    for (std::uint64_t first = 0; first < tree.nodeCount; first += nodesPerChunk) {
        if (stopped()) break;
        progress_->setPosition(static_cast<std::int64_t>(first));
        const std::uint64_t count = std::min(nodesPerChunk, tree.nodeCount - first);
        chunk.resize(static_cast<std::size_t>(count * tree.nodeSize));
        readForkBytes(tree.extents, first * tree.nodeSize, chunk);
        for (std::uint64_t i = 0; i < count; ++i) {
            const ByteSpan node = ByteSpan(chunk).subspan(static_cast<std::size_t>(i * tree.nodeSize), tree.nodeSize);
            const NodeDescriptor d = decodeNodeDescriptor(node);
            if (!isKnownNodeKind(d.kind) || d.numRecords == 0) continue;
            nodeInfo info;
            info.number = first + i;
            info.position = forkPosition(tree.extents, info.number * tree.nodeSize);
            info.kind = d.kind;
            info.height = d.height;
            info.numRecords = d.numRecords;
            info.offsets = recordOffsets(node, d.numRecords);
            if (d.kind == kNodeLeaf) {
                leafLinks[info.number] = d.fLink;
                (this->*onLeaf)(node, info);
            }
            infos.push_back(std::move(info));
        }
    }
    control.stopRequested.acknowledge();
    // The nodes in use are those on the leaf chain; a freed node keeps its old records.
    std::vector<bool> live(static_cast<std::size_t>(tree.nodeCount), false);
    std::uint64_t n = tree.header.firstLeafNode;
    while (n != 0 && n < tree.nodeCount && !live[n]) {
        const auto it = leafLinks.find(n);
        if (it == leafLinks.end()) break;
        live[n] = true;
        n = it->second;
    }
    return live;
}

void HFSP::takeCatalogLeaf(ByteSpan node, const nodeInfo& info) {
    for (std::uint16_t offset : info.offsets) {
        auto record = decodeCatalogRecord(node, offset);
        if (!record) continue;
        pending_.push_back(PendingRecord{std::move(*record), info.position, offset, info.number, true});
    }
}

void HFSP::takeExtentsLeaf(ByteSpan node, const nodeInfo& info) {
    for (std::uint16_t offset : info.offsets)
        if (auto record = decodeExtentRecord(node, offset))
            pendingExtents_.push_back(PendingExtent{*record, info.number, true});
}

bool HFSP::scanExtentsOverflow() {
    if (blockSize < kMinBlockSize || !isPowerOfTwo(blockSize)) return false;
    // The extents file keeps all of its extents in the volume header.
    std::uint64_t blocks = 0;
    auto tree = openBTree(checkedExtents(header.extentsFile.extents, blocks), header.extentsFile.logicalSize);
    if (!tree) return false;
    extentsNodeSize = tree->nodeSize;
    pendingExtents_.clear();
    const std::vector<bool> live = walkNodes(*tree, extentsNodes, &HFSP::takeExtentsLeaf);
    // Records of the nodes in use first: a freed node's stale copy never replaces them.
    for (int pass = 0; pass < 2; ++pass) {
        for (PendingExtent& p : pendingExtents_) {
            const bool isLive = p.nodeNumber < live.size() && live[p.nodeNumber];
            if (isLive != (pass == 0)) continue;
            const auto key = std::make_tuple(p.record.fileId, p.record.forkType, p.record.startBlock);
            if (pass == 0)
                overflowIndex[key] = p.record.extents;
            else
                overflowIndex.try_emplace(key, p.record.extents);
        }
    }
    pendingExtents_.clear();
    return true;
}

bool HFSP::loadAllocationBitmap() {
    if (allocationTried_) return !allocationBitmap_.empty();
    allocationTried_ = true;
    if (!headerRead) readVolumeHeader();
    if (!header.hasSignature() || blockSize < kMinBlockSize || !isPowerOfTwo(blockSize)) return false;
    const std::uint64_t blocks = header.totalBlocks;
    const std::uint64_t bytes = blocks / 8 + (blocks % 8 != 0);
    if (bytes == 0 || bytes > header.allocationFile.logicalSize || bytes > kMaxAllocationFileBytes) return false;
    // A fragmented allocation file keeps its further extents in the overflow file.
    std::uint64_t inHeader = 0;
    for (const HfsExtent& e : header.allocationFile.extents) inHeader += e.blockCount;
    if (inHeader < header.allocationFile.totalBlocks && extentsNodes.empty()) scanExtentsOverflow();
    std::vector<std::uint8_t> bitmap(static_cast<std::size_t>(bytes));
    if (!readForkBytes(forkExtents(kHfsAllocationFileId, header.allocationFile), 0, bitmap)) return false;
    allocationBitmap_ = std::move(bitmap);
    return true;
}

std::optional<UsedRanges> HFSP::usedByteRanges() {
    if (!loadAllocationBitmap()) return std::nullopt;
    UsedRanges ranges;
    appendSetBitRanges(ranges, allocationBitmap_, header.totalBlocks, BitOrder::HighFirst, 0, blockSize);
    return ranges;
}

std::optional<double> HFSP::recoverableShare(std::size_t index) {
    // Without a leaf chain (the deep mode, or a catalog whose chain is broken) no record is known
    // to be in use, and blocks in use would only say that some file holds them.
    if (index >= entries.size() || entries[index].type != kCatalogFile || deepMode || !liveRecordsSeen_) return std::nullopt;
    const hfsEntry& e = entries[contentOf(index)];
    if (entries[index].live || e.size == 0) return 1.0;
    if (!loadAllocationBitmap()) return std::nullopt;
    // The blocks the size needs, through the extents; blocks the extents do not reach are lost.
    std::uint64_t needed = e.size / blockSize + (e.size % blockSize != 0);
    const std::uint64_t total = needed;
    std::uint64_t free = 0;
    for (const HfsExtent& x : fileExtents(index)) {
        for (std::uint64_t b = x.startBlock; b < std::uint64_t{x.startBlock} + x.blockCount && needed > 0; ++b, --needed) {
            const std::uint8_t byte = b / 8 < allocationBitmap_.size() ? allocationBitmap_[static_cast<std::size_t>(b / 8)] : 0xFF;
            free += !isBitSet(byte, b, BitOrder::HighFirst);
        }
    }
    return static_cast<double>(free) / static_cast<double>(total);
}

bool HFSP::scanCatalogNodes() {
    if (blockSize < kMinBlockSize || blockSize > kNormalMaxBlockSize || !isPowerOfTwo(blockSize)) return false;
    auto tree = openBTree(forkExtents(kHfsCatalogFileId, header.catalogFile), header.catalogFile.logicalSize);
    if (!tree) return false;
    catalogNodeSize = tree->nodeSize;
    const std::size_t firstPending = pending_.size();
    const std::vector<bool> live = walkNodes(*tree, catalogNodes, &HFSP::takeCatalogLeaf);
    for (std::size_t i = firstPending; i < pending_.size(); ++i)
        pending_[i].live = pending_[i].nodeNumber < live.size() && live[pending_[i].nodeNumber];
    return true;
}

std::uint32_t HFSP::leafSizeAt(ByteSpan bytes) const {
    if (catalogNodeSize != 0) return looksLikeCatalogLeaf(bytes, catalogNodeSize) ? catalogNodeSize : 0;
    // The header node is lost: the smallest size whose record table holds together wins (a
    // larger guess would take in the nodes that follow).
    for (std::uint32_t size = kMinCatalogNodeSize; size <= kMaxNodeSize; size *= 2) {
        if (bytes.size() < size) break;
        const ByteSpan node = bytes.first(size);
        if (looksLikeCatalogLeaf(node, size) && recordsLookValid(node, be16(node, 10))) return size;
    }
    return 0;
}

void HFSP::scanPieceForLeaves(ByteSpan piece, std::uint64_t position, std::uint64_t pieceBytes) {
    constexpr std::size_t kKind = 8, kHeight = 9;
    const std::uint64_t step = std::min<std::uint64_t>(blockSize, catalogNodeSize ? catalogNodeSize : kMinCatalogNodeSize);
    for (std::uint64_t k = 0; k < pieceBytes && k + kMinNodeSize <= piece.size(); k += step) {
        if (piece[k + kKind] != 0xFF || piece[k + kHeight] == 0) continue;
        const ByteSpan at = piece.subspan(static_cast<std::size_t>(k));
        const std::uint32_t size = leafSizeAt(at);
        if (size == 0) continue;
        const ByteSpan node = at.first(size);
        const NodeDescriptor d = decodeNodeDescriptor(node);
        nodeInfo info;
        info.position = position + k;
        info.number = info.position / blockSize;
        info.kind = d.kind;
        info.height = d.height;
        info.numRecords = d.numRecords;
        info.offsets = recordOffsets(node, d.numRecords);
        takeCatalogLeaf(node, info);
        catalogNodes.push_back(std::move(info));
        // Nothing starts inside a node.
        k += ((size - 1) / step) * step;
    }
}

bool HFSP::scanVolumeForLeafNodes() {
    deepMode = true;
    if (blockSize < kMinBlockSize || !isPowerOfTwo(blockSize)) {
        setStatus(kBlockSizeNotValid);
        return false;
    }
    // The node size from the catalog's header node, when it is still there.
    catalogNodeSize = 0;
    const std::uint64_t catalogStart = header.catalogFile.extents[0].startBlock;
    if (catalogStart != 0 && catalogStart < volumeBlockLimit()) {
        std::vector<std::uint8_t> node0(kMinNodeSize);
        reader.readAt(catalogStart * blockSize, node0);
        const BTreeHeader h = decodeBTreeHeader(node0);
        if (decodeNodeDescriptor(node0).kind == kNodeHeader && isValidNodeSize(h.nodeSize))
            catalogNodeSize = h.nodeSize;
    }
    std::uint64_t volumeBytes = volumeLength(volume, reader);
    // A record that gave whole MiB only: the header's own size may add the last partial MiB.
    const std::uint64_t headerBytes = std::uint64_t{header.totalBlocks} * blockSize;
    if (headerBytes > volumeBytes && headerBytes - volumeBytes < kMiB) volumeBytes = headerBytes;
    const std::uint64_t volumeBlocks = volumeBytes / blockSize;
    if (volumeBlocks == 0) {
        setStatus(kBlockSizeNotValid);
        return false;
    }
    progress_->setRange(0, static_cast<std::int64_t>(std::min<std::uint64_t>(volumeBlocks, INT64_MAX)));
    SweepRange range;
    range.begin = 0;
    range.end = volumeBlocks * blockSize;
    range.pieceBytes = kDeepPieceBytes;
    range.tailBytes = catalogNodeSize ? catalogNodeSize : kMaxNodeSize;
    range.skipHoles = true;
    sweepVolume(reader, range, control, [&](const SweepPiece& piece) {
        progress_->setPosition(static_cast<std::int64_t>(piece.position / blockSize));
        scanPieceForLeaves(piece.withTail, piece.position, piece.data.size());
        return true;
    });
    control.stopRequested.acknowledge();
    return true;
}

void HFSP::readCatalogRecords() {
    progress_->setRange(0, static_cast<std::int64_t>(pending_.size()));
    std::unordered_set<std::uint32_t> seen;
    std::size_t done = 0;
    // The deep sweep may meet several copies of a record (nodes the catalog moved or freed):
    // the copy changed last stands for the file, the first found among equals.
    if (deepMode) {
        const auto changed = [](const PendingRecord& p) {
            return std::max(p.record.attributeModDate, p.record.contentModDate);
        };
        std::stable_sort(pending_.begin(), pending_.end(), [&](const PendingRecord& a, const PendingRecord& b) {
            return changed(a) > changed(b);
        });
    }
    // Records of the nodes in use first, so that a freed node's older copy of a record never
    // stands in for the live one.
    for (int pass = 0; pass < 2 && !stopped(); ++pass) {
        for (PendingRecord& p : pending_) {
            if (p.live != (pass == 0)) continue;
            if ((++done & 0xFF) == 0) {
                if (stopped()) break;
                progress_->setPosition(static_cast<std::int64_t>(done));
            }
            CatalogRecord& r = p.record;
            if (r.type == kCatalogFolder ? r.cnid == 0 : static_cast<std::int32_t>(r.cnid) <= 0) continue;
            if (!seen.insert(r.cnid).second) continue; // an entry is never replaced
            hfsEntry e;
            e.type = r.type;
            e.parentID = r.parentId;
            e.cnid = r.cnid;
            e.name = std::move(r.name);
            e.nodePosition = p.nodePosition;
            e.recordOffset = p.recordOffset;
            e.live = p.live;
            liveRecordsSeen_ = liveRecordsSeen_ || p.live;
            e.hasDates = true;
            e.createDate = r.createDate;
            e.contentModDate = r.contentModDate;
            e.accessDate = r.accessDate;
            e.fileMode = r.fileMode;
            e.hardLink = r.hardLink;
            e.linkNumber = r.linkNumber;
            if (r.type == kCatalogFile) {
                e.totalBlocks = r.dataFork.totalBlocks;
                e.size = r.dataFork.logicalSize;
                e.extents = r.dataFork.extents;
            }
            entries.push_back(std::move(e));
        }
    }
    control.stopRequested.acknowledge();
    pending_.clear();
    pending_.shrink_to_fit();
    std::sort(entries.begin(), entries.end(),
              [](const hfsEntry& a, const hfsEntry& b) { return a.cnid < b.cnid; });
    resolveHardLinks();
}

void HFSP::resolveHardLinks() {
    std::unordered_map<std::uint32_t, std::size_t> inodes; // "iNode<n>" files by n
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const hfsEntry& e = entries[i];
        if (e.type != kCatalogFile || e.hardLink || e.name.size() <= 5 || e.name.compare(0, 5, u"iNode") != 0) continue;
        std::uint64_t n = 0;
        bool digits = e.name.size() - 5 <= 10;
        for (std::size_t k = 5; k < e.name.size() && digits; ++k) {
            digits = e.name[k] >= u'0' && e.name[k] <= u'9';
            n = n * 10 + static_cast<std::uint64_t>(e.name[k] - u'0');
        }
        if (digits && n <= UINT32_MAX) inodes.emplace(static_cast<std::uint32_t>(n), i);
    }
    for (hfsEntry& e : entries) {
        if (!e.hardLink) continue;
        const auto it = inodes.find(e.linkNumber);
        if (it != inodes.end()) e.contentEntry = static_cast<std::int64_t>(it->second);
    }
}

std::size_t HFSP::contentOf(std::size_t index) const {
    if (index >= entries.size()) return index;
    const std::int64_t target = entries[index].contentEntry;
    return target >= 0 && static_cast<std::size_t>(target) < entries.size() ? static_cast<std::size_t>(target) : index;
}

std::uint64_t HFSP::contentSize(std::size_t index) const {
    const std::size_t c = contentOf(index);
    return c < entries.size() ? entries[c].size : 0;
}

std::optional<std::size_t> HFSP::indexOfCnid(std::uint64_t cnid) const {
    const auto it = std::lower_bound(entries.begin(), entries.end(), cnid,
                                     [](const hfsEntry& e, std::uint64_t c) { return e.cnid < c; });
    if (it == entries.end() || it->cnid != cnid) return std::nullopt;
    return static_cast<std::size_t>(it - entries.begin());
}

bool HFSP::isAncestor(std::size_t candidate, std::size_t folder) const {
    std::size_t at = folder;
    for (std::size_t depth = 0; depth < kMaxFolderDepth; ++depth) {
        if (at == candidate) return true;
        const auto parent = indexOfCnid(entries[at].parentID);
        if (!parent || *parent == at) return false;
        at = *parent;
    }
    return true; // deeper than any real tree: a loop
}

void HFSP::linkNormal() {
    const std::size_t total = entries.size();
    for (std::size_t c = 0; c < total; ++c) {
        if (stopped()) break;
        setStatus(formatText(kMaintainingRecord, static_cast<int>(c), static_cast<int>(total)));
        progress_->setPosition(static_cast<std::int64_t>(c + 1));
        hfsEntry& e = entries[c];
        if (e.parentID == 0) continue;
        const auto p = indexOfCnid(e.parentID);
        if (!p || *p == c || entries[*p].type != kCatalogFolder) continue;
        // A folder is never put below one of its own descendants.
        if (e.type == kCatalogFolder && isAncestor(c, *p)) continue;
        e.nextSibling = entries[*p].firstChild;
        entries[*p].firstChild = static_cast<std::int64_t>(c);
    }
}

// Deep mode: every record is placed under the folder its key names, as in the normal mode.
// What cannot be placed (its folder's record was not found, or it would close a loop) goes
// under ORPHAN_ENTRY: every record names its folder, so no other folder can be guessed for it.
void HFSP::linkDeep() {
    if (entries.empty()) return;
    const std::uint64_t largest = entries.back().cnid;
    if (largest <= 1) return;
    orphanKey = largest + 1;
    hfsEntry orphan;
    orphan.type = kCatalogFolder;
    orphan.parentID = kHfsRootFolderId;
    orphan.cnid = orphanKey;
    orphan.name = u"ORPHAN_ENTRY";
    entries.push_back(std::move(orphan));
    const std::size_t orphanIndex = entries.size() - 1;
    std::vector<bool> placed(orphanIndex, false);
    std::vector<bool> topLevel(orphanIndex, false);
    for (std::size_t i = 0; i < orphanIndex; ++i) {
        const hfsEntry& e = entries[i];
        // The root folder is the volume item; its children are the top level.
        if (e.cnid == kHfsRootFolderId) {
            placed[i] = true;
            continue;
        }
        const auto p = indexOfCnid(e.parentID);
        // Without the root's own record its children still stand at the top level.
        if (!p && e.parentID == kHfsRootFolderId) {
            topLevel[i] = true;
            continue;
        }
        if (!p || *p == i || *p == orphanIndex || entries[*p].type != kCatalogFolder) continue;
        placed[i] = e.type != kCatalogFolder || !isAncestor(i, *p);
    }
    // ORPHAN_ENTRY is the root's last child. Everything else is linked only once every loop is
    // known: a folder left out of a loop takes its place above the others of the loop. Children
    // list newest CNID first, as in the normal mode.
    if (const auto root = indexOfCnid(kHfsRootFolderId); root && entries[*root].type == kCatalogFolder)
        entries[*root].firstChild = static_cast<std::int64_t>(orphanIndex);
    for (std::size_t i = 0; i < orphanIndex; ++i) {
        hfsEntry& e = entries[i];
        if (e.cnid == kHfsRootFolderId || topLevel[i]) continue;
        const std::size_t parent = placed[i] ? *indexOfCnid(e.parentID) : orphanIndex;
        if (!placed[i]) e.parentID = orphanKey;
        e.nextSibling = entries[parent].firstChild;
        entries[parent].firstChild = static_cast<std::int64_t>(i);
    }
}

void HFSP::linkParentChild() {
    setStatus(kMaintaining);
    progress_->setRange(0, static_cast<std::int64_t>(entries.size()));
    if (deepMode)
        linkDeep();
    else
        linkNormal();
    control.stopRequested.acknowledge();
}

bool HFSP::announceTopLevelEntry(std::size_t index) {
    if (stopped()) return false;
    if (index < entries.size()) {
        const bool folder = entries[index].type == kCatalogFolder;
        setStatus(formatText(folder ? kFoundFolder : kFoundFile, static_cast<long long>(index)));
    }
    return true;
}

std::vector<std::size_t> HFSP::childrenOf(std::size_t index) const {
    std::vector<std::size_t> children;
    if (index >= entries.size()) return children;
    std::unordered_set<std::int64_t> seen;
    for (std::int64_t c = entries[index].firstChild; c >= 0 && static_cast<std::size_t>(c) < entries.size();
         c = entries[static_cast<std::size_t>(c)].nextSibling) {
        if (!seen.insert(c).second) break;
        children.push_back(static_cast<std::size_t>(c));
    }
    return children;
}

std::string HFSP::entryLabel(std::size_t index) const {
    return index < entries.size() ? utf16ToUtf8(entries[index].name) : std::string();
}

HfsDescription HFSP::describeEntry(std::size_t index) const {
    HfsDescription d;
    if (index >= entries.size() || entries[index].type != kCatalogFile) return d; // folders: none
    const hfsEntry& e = entries[index];
    d.creationText = dateText(e.createDate);
    d.accessText = dateText(e.accessDate);
    d.modificationText = dateText(e.contentModDate);
    d.permissionText = formatMode(e.fileMode);
    return d;
}

std::string HFSP::formatEntrySize(std::size_t index) const {
    return formatSizeText(contentSize(index));
}

EntryTimes HFSP::entryTimes(std::size_t index) const {
    EntryTimes t;
    if (index >= entries.size() || !entries[index].hasDates) return t;
    // HFS+ dates count seconds since 1904 in UTC: saved copies get the real instant.
    const hfsEntry& e = entries[index];
    t.known = true;
    t.accessSeconds = static_cast<std::int64_t>(e.accessDate) - kHfsEpochDelta;
    t.modificationSeconds = static_cast<std::int64_t>(e.contentModDate) - kHfsEpochDelta;
    return t;
}

bool HFSP::writeEntryContent(std::size_t index, const ContentSink& sink) {
    if (index >= entries.size() || entries[index].type != kCatalogFile) return false;
    std::uint64_t remaining = contentSize(index);
    if (remaining == 0) return true;
    if (blockSize == 0) return false;
    const std::uint64_t wanted = std::min(kContentChunkBytes, remaining);
    if (contentBuffer_.size() < wanted) contentBuffer_.resize(static_cast<std::size_t>(wanted));
    for (const HfsExtent& e : fileExtents(index)) {
        std::uint64_t position = std::uint64_t{e.startBlock} * blockSize;
        std::uint64_t left = std::uint64_t{e.blockCount} * blockSize;
        while (left > 0 && remaining > 0) {
            const std::uint64_t n = std::min({left, remaining, std::uint64_t{contentBuffer_.size()}});
            auto piece = std::span(contentBuffer_).first(static_cast<std::size_t>(n));
            if (!reader.readAt(position, piece) || !sink(piece)) return false;
            position += n;
            left -= n;
            remaining -= n;
        }
        if (remaining == 0) break;
    }
    return remaining == 0;
}

} // namespace vindaru
