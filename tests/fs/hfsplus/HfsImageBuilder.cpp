#include "HfsImageBuilder.h"

#include <algorithm>
#include <stdexcept>

namespace vindaru::test {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr auto put16 = putBe16;
constexpr auto put32 = putBe32;
void put64(Bytes& b, std::size_t at, std::uint64_t v) {
    put32(b, at, static_cast<std::uint32_t>(v >> 32));
    put32(b, at + 4, static_cast<std::uint32_t>(v));
}

struct Extent {
    std::uint32_t start = 0, count = 0;
};

// Bump allocator of blocks; a gap block between the pieces of one fork keeps them apart.
struct Allocator {
    std::uint32_t next;
    std::vector<Extent> allocate(std::uint32_t blocks, unsigned pieces) {
        std::vector<Extent> out;
        pieces = std::max(1u, std::min<unsigned>(pieces, std::max<std::uint32_t>(blocks, 1)));
        std::uint32_t left = blocks;
        for (unsigned i = 0; i < pieces && left > 0; ++i) {
            const std::uint32_t n = i + 1 == pieces ? left : std::max<std::uint32_t>(1, blocks / pieces);
            out.push_back({next, n});
            next += n + 1;
            left -= n;
        }
        return out;
    }
};

void putFork(Bytes& b, std::size_t at, std::uint64_t logical, const std::vector<Extent>& ex, std::uint32_t total) {
    put64(b, at, logical);
    put32(b, at + 12, total);
    for (std::size_t i = 0; i < ex.size() && i < 8; ++i) {
        put32(b, at + 16 + 8 * i, ex[i].start);
        put32(b, at + 20 + 8 * i, ex[i].count);
    }
}

// One catalog key + record, and the key it sorts by.
struct Record {
    std::uint32_t parent;
    std::u16string name;
    Bytes bytes;
};

Bytes catalogKey(std::uint32_t parent, const std::u16string& name) {
    Bytes k(8 + 2 * name.size());
    put16(k, 0, static_cast<std::uint32_t>(6 + 2 * name.size()));
    put32(k, 2, parent);
    put16(k, 6, static_cast<std::uint32_t>(name.size()));
    for (std::size_t i = 0; i < name.size(); ++i) put16(k, 8 + 2 * i, name[i]);
    return k;
}

// Fills B-tree nodes with records: node 0 the header, then leaves chained by fLink.
std::vector<Bytes> buildTree(const std::vector<Bytes>& records, std::uint32_t nodeSize, unsigned perLeaf,
                             unsigned spare, std::uint16_t maxKey) {
    std::vector<Bytes> leaves;
    Bytes node;
    std::vector<std::uint16_t> offsets;
    auto flush = [&] {
        if (offsets.empty()) return;
        put16(node, 10, static_cast<std::uint32_t>(offsets.size()));
        leaves.push_back(node);
    };
    auto start = [&] {
        node.assign(nodeSize, 0);
        node[8] = 0xFF; // leaf
        node[9] = 1;
        offsets.clear();
        offsets.push_back(14);
    };
    start();
    offsets.clear();
    std::size_t used = 14;
    for (const Bytes& r : records) {
        const std::size_t tableBytes = 2 * (offsets.size() + 2);
        if (!offsets.empty() && (used + r.size() + tableBytes > nodeSize || offsets.size() >= perLeaf)) {
            put16(node, nodeSize - 2 * (offsets.size() + 1), static_cast<std::uint32_t>(used));
            flush();
            start();
            offsets.clear();
            used = 14;
        }
        std::copy(r.begin(), r.end(), node.begin() + static_cast<std::ptrdiff_t>(used));
        offsets.push_back(static_cast<std::uint16_t>(used));
        put16(node, nodeSize - 2 * offsets.size(), static_cast<std::uint32_t>(used));
        used += r.size();
    }
    if (!offsets.empty()) {
        put16(node, nodeSize - 2 * (offsets.size() + 1), static_cast<std::uint32_t>(used));
        flush();
    }
    const std::uint32_t total = static_cast<std::uint32_t>(1 + leaves.size() + spare);
    std::vector<Bytes> nodes;
    Bytes head(nodeSize, 0);
    head[8] = 1; // header node
    put16(head, 10, 3);
    put16(head, 14, leaves.empty() ? 0 : 1);                 // depth
    put32(head, 16, leaves.empty() ? 0 : 1);                 // root
    put32(head, 20, static_cast<std::uint32_t>(records.size()));
    put32(head, 24, leaves.empty() ? 0 : 1);                 // first leaf
    put32(head, 28, static_cast<std::uint32_t>(leaves.size())); // last leaf
    put16(head, 32, nodeSize);
    put16(head, 34, maxKey);
    put32(head, 36, total);
    put32(head, 40, spare);
    put16(head, nodeSize - 2, 14);
    put16(head, nodeSize - 4, 14 + 106);
    put16(head, nodeSize - 6, 14 + 106 + 128);
    put16(head, nodeSize - 8, nodeSize - 8);
    nodes.push_back(head);
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        Bytes& leaf = leaves[i];
        if (i + 1 < leaves.size()) put32(leaf, 0, static_cast<std::uint32_t>(i + 2));
        if (i > 0) put32(leaf, 4, static_cast<std::uint32_t>(i));
        nodes.push_back(leaf);
    }
    for (unsigned i = 0; i < spare; ++i) nodes.emplace_back(nodeSize, 0);
    return nodes;
}

} // namespace

HfsImageBuilder::HfsImageBuilder(std::uint32_t blockSize_, std::uint32_t catalogNodeSize_,
                                 std::uint32_t extentsNodeSize_)
    : blockSize(blockSize_), catalogNodeSize(catalogNodeSize_), extentsNodeSize(extentsNodeSize_) {}

std::uint32_t HfsImageBuilder::addFolder(std::uint32_t parent, const std::u16string& name) {
    addFolderWithId(nextCnid_, parent, name);
    return nextCnid_ - 1;
}

std::uint32_t HfsImageBuilder::addFile(std::uint32_t parent, const std::u16string& name,
                                       const std::vector<std::uint8_t>& content, unsigned pieces) {
    items_.push_back({false, nextCnid_, parent, name, content, pieces});
    return nextCnid_++;
}

void HfsImageBuilder::addFileWithId(std::uint32_t cnid, std::uint32_t parent, const std::u16string& name,
                                    const std::vector<std::uint8_t>& content) {
    items_.push_back({false, cnid, parent, name, content, 1});
    nextCnid_ = std::max(nextCnid_, cnid + 1);
}

std::uint32_t HfsImageBuilder::addHardLink(std::uint32_t parent, const std::u16string& name, std::uint32_t number) {
    items_.push_back({false, nextCnid_, parent, name, {}, 1, number});
    return nextCnid_++;
}

void HfsImageBuilder::addFolderWithId(std::uint32_t cnid, std::uint32_t parent, const std::u16string& name) {
    items_.push_back({true, cnid, parent, name, {}, 1});
    nextCnid_ = std::max(nextCnid_, cnid + 1);
}

std::vector<std::uint8_t> HfsImageBuilder::build() {
    // Blocks before the first allocatable one hold the boot blocks and the volume header.
    Allocator alloc{std::max<std::uint32_t>(1, 4096 / blockSize)};
    struct Placed {
        std::vector<Extent> extents;
        std::uint32_t blocks = 0;
    };
    std::vector<Placed> placed(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) {
        const Item& it = items_[i];
        if (it.folder || it.content.empty()) continue;
        placed[i].blocks = static_cast<std::uint32_t>((it.content.size() + blockSize - 1) / blockSize);
        placed[i].extents = alloc.allocate(placed[i].blocks, it.pieces);
    }
    // Catalog records, sorted by (parent, name) as the B-tree keeps them.
    std::vector<Record> records;
    auto addRecord = [&](std::uint32_t parent, const std::u16string& name, const Bytes& data) {
        Bytes r = catalogKey(parent, name);
        r.insert(r.end(), data.begin(), data.end());
        records.push_back({parent, name, std::move(r)});
    };
    std::vector<std::pair<std::uint32_t, std::vector<Extent>>> overflow; // fileID, extents past 8
    auto fullItems = items_;
    fullItems.insert(fullItems.begin(), Item{true, 2, 1, u"Test Volume", {}, 1});
    std::vector<Placed> fullPlaced = placed;
    fullPlaced.insert(fullPlaced.begin(), Placed{});
    for (std::size_t i = 0; i < fullItems.size(); ++i) {
        const Item& it = fullItems[i];
        Bytes data(it.folder ? 88 : 248, 0);
        put16(data, 0, it.folder ? 1 : 2);
        put32(data, 8, it.cnid);
        put32(data, 12, createDate);
        put32(data, 16, modifyDate);
        put32(data, 24, accessDate);
        put16(data, 42, it.folder ? 0x41ED : fileMode);
        if (it.linkNumber != 0) {
            put32(data, 44, it.linkNumber);
            put32(data, 48, 0x686C6E6B); // "hlnk"
            put32(data, 52, 0x6866732B); // "hfs+"
        }
        if (!it.folder) {
            const auto& ex = fullPlaced[i].extents;
            putFork(data, 88, it.content.size(), ex, fullPlaced[i].blocks);
            if (ex.size() > 8) overflow.emplace_back(it.cnid, std::vector<Extent>(ex.begin() + 8, ex.end()));
        }
        addRecord(it.parent, it.name, data);
        // The thread record, keyed by the item's own CNID and an empty name.
        Bytes thread(10 + 2 * it.name.size(), 0);
        put16(thread, 0, it.folder ? 3 : 4);
        put32(thread, 4, it.parent);
        put16(thread, 8, static_cast<std::uint32_t>(it.name.size()));
        for (std::size_t c = 0; c < it.name.size(); ++c) put16(thread, 10 + 2 * c, it.name[c]);
        addRecord(it.cnid, u"", thread);
    }
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) {
        return a.parent != b.parent ? a.parent < b.parent : a.name < b.name;
    });
    std::vector<Bytes> recordBytes;
    for (auto& r : records) recordBytes.push_back(r.bytes);
    const auto catalogNodes = buildTree(recordBytes, catalogNodeSize, recordsPerLeaf, spareCatalogNodes, 516);
    // Pieces of the catalog hold whole nodes.
    std::vector<Extent> catalogExtents;
    {
        const std::uint32_t nodes = static_cast<std::uint32_t>(catalogNodes.size());
        const unsigned pieces = std::max(1u, std::min<unsigned>(catalogPieces, nodes));
        std::uint32_t left = nodes;
        for (unsigned i = 0; i < pieces; ++i) {
            const std::uint32_t n = i + 1 == pieces ? left : std::max<std::uint32_t>(1, nodes / pieces);
            const std::uint32_t blocks = (n * catalogNodeSize + blockSize - 1) / blockSize;
            catalogExtents.push_back({alloc.next, blocks});
            alloc.next += blocks + 1;
            left -= n;
        }
    }
    std::uint32_t catalogBlocks = 0;
    for (const Extent& e : catalogExtents) catalogBlocks += e.count;
    if (catalogExtents.size() > 8)
        overflow.emplace_back(4, std::vector<Extent>(catalogExtents.begin() + 8, catalogExtents.end()));
    // Overflow records: eight extents each, keyed by the file-relative start block.
    std::vector<Bytes> extentRecords;
    overflowKeys.clear();
    auto allExtentsOf = [&](std::uint32_t id) -> std::vector<Extent> {
        if (id == 4) return catalogExtents;
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (items_[i].cnid == id) return placed[i].extents;
        return {};
    };
    std::sort(overflow.begin(), overflow.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (auto& [id, rest] : overflow) {
        const auto all = allExtentsOf(id);
        std::uint32_t startBlock = 0;
        for (std::size_t i = 0; i < 8; ++i) startBlock += all[i].count;
        for (std::size_t i = 0; i < rest.size(); i += 8) {
            Bytes r(12 + 64, 0);
            put16(r, 0, 10);
            r[2] = 0;
            put32(r, 4, id);
            put32(r, 8, startBlock);
            overflowKeys.emplace_back(id, startBlock);
            for (std::size_t j = 0; j < 8 && i + j < rest.size(); ++j) {
                put32(r, 12 + 8 * j, rest[i + j].start);
                put32(r, 16 + 8 * j, rest[i + j].count);
                startBlock += rest[i + j].count;
            }
            extentRecords.push_back(std::move(r));
        }
    }
    const auto extentsNodes = buildTree(extentRecords, extentsNodeSize, 1000, 1, 10);
    const std::uint32_t extentsBlocks =
        static_cast<std::uint32_t>((extentsNodes.size() * extentsNodeSize + blockSize - 1) / blockSize);
    const Extent extentsExtent{alloc.next, extentsBlocks};
    alloc.next += extentsBlocks + 1;
    const std::uint32_t totalBlocks = alloc.next + 2;

    Bytes image(static_cast<std::size_t>(totalBlocks) * blockSize, 0);
    Bytes& h = image;
    h[1024] = static_cast<std::uint8_t>(signature[0]);
    h[1025] = static_cast<std::uint8_t>(signature[1]);
    put16(h, 1026, version);
    put32(h, 1024 + 40, blockSize);
    put32(h, 1024 + 44, totalBlocks);
    putFork(h, 1024 + 192, std::uint64_t{extentsBlocks} * blockSize, {extentsExtent}, extentsBlocks);
    putFork(h, 1024 + 272, std::uint64_t{catalogBlocks} * blockSize, catalogExtents, catalogBlocks);

    auto writeFork = [&](const std::vector<Extent>& extents, const Bytes& data, std::vector<std::uint64_t>* nodePos,
                         std::uint32_t nodeSize) {
        std::uint64_t offset = 0;
        for (const Extent& e : extents) {
            const std::uint64_t bytes = std::uint64_t{e.count} * blockSize;
            for (std::uint64_t i = 0; i < bytes && offset + i < data.size(); ++i)
                image.at(std::uint64_t{e.start} * blockSize + i) = data[offset + i];
            if (nodePos)
                for (std::uint64_t n = offset; n < offset + bytes && n < data.size(); n += nodeSize)
                    nodePos->push_back(std::uint64_t{e.start} * blockSize + (n - offset));
            offset += bytes;
        }
    };
    Bytes catalog, extentsFile;
    for (const Bytes& n : catalogNodes) catalog.insert(catalog.end(), n.begin(), n.end());
    for (const Bytes& n : extentsNodes) extentsFile.insert(extentsFile.end(), n.begin(), n.end());
    catalogNodePositions.clear();
    extentsNodePositions.clear();
    writeFork(catalogExtents, catalog, &catalogNodePositions, catalogNodeSize);
    writeFork({extentsExtent}, extentsFile, &extentsNodePositions, extentsNodeSize);
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (!items_[i].folder) writeFork(placed[i].extents, items_[i].content, nullptr, 0);
    return image;
}

} // namespace vindaru::test
