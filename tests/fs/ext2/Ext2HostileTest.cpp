// Block maps and damaged volumes: holes saved as zeros at their place, extent index nodes and
// never-written extents, and pointers, trees, directory entries and superblocks that would
// otherwise loop, fan out or read outside the volume.
#include <gtest/gtest.h>

#include <chrono>

#include "fs/ext2/Ext2ImageBuilder.h"
#include "fs/ext2/Ext2TestSupport.h"

namespace vindaru::test {
namespace {

constexpr std::uint32_t kExtentsFlag = 0x80000;

std::string blockOf(char c, std::size_t n = 1024) { return std::string(n, c); }

// Root holding one file "f" (inode 12) whose map the test writes.
Ext2ImageBuilder volumeWithFile(std::uint64_t size, std::uint32_t flags = 0, Ext2BuildOptions o = {}) {
    Ext2ImageBuilder b(o);
    b.addDirectory(2, {{2, ".", 2}, {2, "..", 2}, {12, "f", 1}});
    b.setInode(12, 0x81A4, size, flags);
    return b;
}

std::uint32_t dataBlock(Ext2ImageBuilder& b, char fill) {
    const std::uint32_t n = b.allocBlocks();
    std::fill(b.block(n).begin(), b.block(n).end(), static_cast<std::uint8_t>(fill));
    return n;
}

void extentHeader(std::span<std::uint8_t> node, std::uint16_t entries, std::uint16_t max, std::uint16_t depth) {
    put16(node, 0, 0xF30A);
    put16(node, 2, entries);
    put16(node, 4, max);
    put16(node, 6, depth);
}
void extentLeaf(std::span<std::uint8_t> node, int i, std::uint32_t logical, std::uint16_t length, std::uint64_t start) {
    const std::size_t at = 12 + 12 * static_cast<std::size_t>(i);
    put32(node, at, logical);
    put16(node, at + 4, length);
    put16(node, at + 6, static_cast<std::uint16_t>(start >> 32));
    put32(node, at + 8, static_cast<std::uint32_t>(start));
}
void extentIndex(std::span<std::uint8_t> node, int i, std::uint32_t logical, std::uint64_t child) {
    const std::size_t at = 12 + 12 * static_cast<std::size_t>(i);
    put32(node, at, logical);
    put32(node, at + 4, static_cast<std::uint32_t>(child));
    put16(node, at + 8, static_cast<std::uint16_t>(child >> 32));
}
std::span<std::uint8_t> inodeMap(Ext2ImageBuilder& b, std::uint32_t inode) { return b.inode(inode).subspan(0x28, 60); }

std::string saved(Ext2Scan& scan, bool* whole = nullptr) {
    const auto paths = listPaths(scan.view());
    const auto it = paths.find("/f");
    if (it == paths.end()) return "<missing>";
    const auto bytes = contentOf(scan.view(), it->second, whole);
    return std::string(bytes.begin(), bytes.end());
}

TEST(Ext2Content, HolesInTheClassicMapAreSavedAsZerosInPlace) {
    // Data at logical 0, 14 (single indirect) and 12 + 256 + 3 (double indirect), size past the
    // last block: every hole keeps the later data where it was.
    const std::uint64_t lastLogical = 12 + 256 + 3;
    Ext2ImageBuilder b = volumeWithFile((lastLogical + 2) * 1024 + 10);
    b.setPointer(12, 0, dataBlock(b, 'a'));
    const std::uint32_t single = b.allocBlocks();
    b.setPointer(12, 12, single);
    put32(b.block(single), (14 - 12) * 4, dataBlock(b, 'b'));
    const std::uint32_t dbl = b.allocBlocks(), dblSingle = b.allocBlocks();
    b.setPointer(12, 13, dbl);
    put32(b.block(dbl), 0, dblSingle);
    put32(b.block(dblSingle), 3 * 4, dataBlock(b, 'c'));
    auto scan = scanExt2Bytes(b.bytes());
    bool whole = false;
    const std::string content = saved(*scan, &whole);
    std::string expected = blockOf('a') + blockOf('\0', 13 * 1024) + blockOf('b') +
                           blockOf('\0', (lastLogical - 15) * 1024) + blockOf('c') + blockOf('\0', 1024 + 10);
    EXPECT_TRUE(whole);
    EXPECT_EQ(content.size(), expected.size());
    EXPECT_TRUE(content == expected);
}

TEST(Ext2Content, PartialLastBlocksAndExactMultiples) {
    Ext2BuildOptions o;
    o.blockSize = 4096;
    Ext2ImageBuilder b(o);
    b.addDirectory(2, {{2, ".", 2}, {2, "..", 2}, {12, "five", 1}, {13, "eight", 1}});
    b.addFile(12, std::string(5000, 'p'));
    b.addFile(13, std::string(8192, 'q'));
    auto scan = scanExt2Bytes(b.bytes());
    auto paths = listPaths(scan->view());
    EXPECT_EQ(contentOf(scan->view(), paths["/five"]), std::vector<std::uint8_t>(5000, 'p'));
    EXPECT_EQ(contentOf(scan->view(), paths["/eight"]), std::vector<std::uint8_t>(8192, 'q'));
}

TEST(Ext2Content, ExtentIndexNodesUnwrittenExtentsAndHoles) {
    Ext2ImageBuilder b = volumeWithFile(10 * 1024, kExtentsFlag);
    const std::uint32_t leafA = b.allocBlocks(), leafB = b.allocBlocks();
    auto root = inodeMap(b, 12);
    extentHeader(root, 2, 4, 1);
    extentIndex(root, 0, 0, leafA);
    extentIndex(root, 1, 6, leafB);
    const std::uint32_t first = dataBlock(b, 'x');
    dataBlock(b, 'y');
    const std::uint32_t never = dataBlock(b, 'n'); // allocated, never written: reads as zeros
    const std::uint32_t last = dataBlock(b, 'z');
    extentHeader(b.block(leafA), 2, 84, 0);
    extentLeaf(b.block(leafA), 0, 1, 2, first);           // logical 1-2
    extentLeaf(b.block(leafA), 1, 4, 32768 + 1, never);   // logical 4, unwritten
    extentHeader(b.block(leafB), 1, 84, 0);
    extentLeaf(b.block(leafB), 0, 8, 1, last);            // logical 8
    auto scan = scanExt2Bytes(b.bytes());
    bool whole = false;
    const std::string content = saved(*scan, &whole);
    const std::string expected = blockOf('\0') + blockOf('x') + blockOf('y') + blockOf('\0', 5 * 1024) + blockOf('z') +
                                 blockOf('\0');
    EXPECT_TRUE(whole);
    EXPECT_TRUE(content == expected) << content.size();
}

TEST(Ext2Content, NoExtentHeaderSavesNothingAndExtentsOutsideTheVolumeReadAsZeros) {
    Ext2ImageBuilder b = volumeWithFile(2048, kExtentsFlag);
    auto scan = scanExt2Bytes(b.bytes());
    bool whole = true;
    EXPECT_EQ(saved(*scan, &whole), "");
    EXPECT_FALSE(whole);

    Ext2ImageBuilder c = volumeWithFile(3 * 1024, kExtentsFlag);
    auto root = inodeMap(c, 12);
    extentHeader(root, 2, 4, 0);
    extentLeaf(root, 0, 0, 1, dataBlock(c, 'k'));
    extentLeaf(root, 1, 1, 2, (std::uint64_t{1} << 40) + 7); // far past the 512 blocks
    auto outside = scanExt2Bytes(c.bytes());
    EXPECT_TRUE(saved(*outside, &whole) == blockOf('k') + blockOf('\0', 2048));
    EXPECT_FALSE(whole);
}

TEST(Ext2Content, LoopingMapsEndWithoutHanging) {
    const auto started = std::chrono::steady_clock::now();
    // A double indirect block that names itself at every slot, and a huge size.
    Ext2ImageBuilder b = volumeWithFile(std::uint64_t{1} << 40);
    const std::uint32_t self = b.allocBlocks();
    for (int i = 0; i < 256; ++i) put32(b.block(self), static_cast<std::size_t>(i) * 4, self);
    b.setPointer(12, 13, self);
    b.setPointer(12, 14, self);
    auto scan = scanExt2Bytes(b.bytes());
    const auto paths = listPaths(scan->view());
    bool whole = true;
    std::uint64_t handed = 0;
    // Stop after a few MiB of zeros: the point is that mapping does not loop.
    const bool ok = scan->view().writeContent(paths.at("/f"), [&](std::span<const std::uint8_t> piece) {
        handed += piece.size();
        return handed < (64u << 20);
    });
    EXPECT_FALSE(ok);
    (void)whole;

    // An extent index that points back to itself, below a root claiming depth 5.
    Ext2ImageBuilder c = volumeWithFile(4096, kExtentsFlag);
    const std::uint32_t node = c.allocBlocks();
    extentHeader(inodeMap(c, 12), 1, 4, 2);
    extentIndex(inodeMap(c, 12), 0, 0, node);
    extentHeader(c.block(node), 84, 84, 1);
    for (int i = 0; i < 84; ++i) extentIndex(c.block(node), i, 0, node);
    auto looped = scanExt2Bytes(c.bytes());
    bool complete = true;
    EXPECT_EQ(saved(*looped, &complete), blockOf('\0', 4096));
    EXPECT_FALSE(complete);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::minutes(1));
}

TEST(Ext2Hostile, DirectoryEntriesThatRunPastTheBlockEndItsWalk) {
    Ext2ImageBuilder b;
    const std::uint32_t root = b.addDirectory(2, {{2, ".", 2}, {2, "..", 2}, {12, "a", 1}, {13, "b", 1}});
    b.addFile(12, "1");
    b.addFile(13, "2");
    const std::size_t aRecLen = 24 + 4;
    put16(b.block(root), aRecLen, 0xFFF0);
    auto scan = scanExt2Bytes(b.bytes());
    auto paths = listPaths(scan->view());
    EXPECT_TRUE(paths.count("/a"));
    EXPECT_FALSE(paths.count("/b"));
    // A rec_len shorter than the entry: the walk steps over the entry's own length.
    put16(b.block(root), aRecLen, 4);
    auto shortStep = scanExt2Bytes(b.bytes());
    EXPECT_TRUE(listPaths(shortStep->view()).count("/b"));
}

TEST(Ext2Hostile, DirectoriesSharingOneHugeMapAreReadAboutOnce) {
    // Thirty directories claim 2^40 bytes over the same indirect tree, each slot naming the
    // same directory block: the scan reads about the volume once, not thirty times 2^30 blocks.
    Ext2ImageBuilder b;
    const std::uint32_t names = b.allocBlocks();
    b.writeDirents(b.block(names), {{31, "deep", 1}});
    b.addFile(31, "d");
    const std::uint32_t single = b.allocBlocks(), dbl = b.allocBlocks();
    for (int i = 0; i < 256; ++i) {
        put32(b.block(single), static_cast<std::size_t>(i) * 4, names);
        put32(b.block(dbl), static_cast<std::size_t>(i) * 4, single);
    }
    b.addDirectory(2, {{2, ".", 2}, {2, "..", 2}});
    for (std::uint32_t dir = 12; dir < 30; ++dir) {
        b.setInode(dir, 0x41ED, std::uint64_t{1} << 40);
        for (std::uint32_t p = 0; p < 12; ++p) b.setPointer(dir, p, names);
        b.setPointer(dir, 12, single);
        b.setPointer(dir, 13, dbl);
        b.setPointer(dir, 14, dbl);
    }
    const auto started = std::chrono::steady_clock::now();
    auto scan = scanExt2Bytes(b.bytes());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::minutes(1));
    EXPECT_TRUE(scan->view().rootEntry());
}

// Superblocks whose fields would size loops or allocations from nonsense: each scan ends, finds
// nothing it cannot read, and leaves the rest of the volume alone.
TEST(Ext2Hostile, SuperblockFieldsOutOfRange) {
    struct Field {
        std::size_t offset;
        std::uint32_t value;
        bool wide;
    };
    const Field fields[] = {
        {0x18, 0x80000000u, true}, // block size shift
        {0x18, 31, true},
        {0x58, 0, false},          // inode size
        {0x58, 2048, false},       // above the block size
        {0x58, 200, false},        // not a power of two
        {0x00, 0xFFFFFFFFu, true}, // inodes count in the billions
        {0x28, 0xFFFFFFFFu, true}, // inodes per group
        {0x28, 0, true},
        {0x20, 0, true},           // blocks per group
        {0x20, 0xFFFFFFFFu, true},
        {0x04, 0xFFFFFFFFu, true}, // blocks count
        {0x04, 0, true},
        {0x14, 7, true},           // first data block
    };
    for (const Field& f : fields) {
        Ext2ImageBuilder b;
        b.addDirectory(2, {{2, ".", 2}, {2, "..", 2}, {12, "a", 1}});
        b.addFile(12, "1");
        if (f.wide)
            put32(b.superblock(), f.offset, f.value);
        else
            put16(b.superblock(), f.offset, static_cast<std::uint16_t>(f.value));
        const auto started = std::chrono::steady_clock::now();
        auto scan = scanExt2Bytes(b.bytes());
        const auto paths = listPaths(scan->view());
        for (const auto& [path, ref] : paths) (void)contentOf(scan->view(), ref);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20)) << f.offset;
    }
    // Billions of inodes with a sane geometry: the tables that exist are read, nothing more.
    Ext2ImageBuilder b;
    b.addDirectory(2, {{2, ".", 2}, {2, "..", 2}, {12, "a", 1}});
    b.addFile(12, "1");
    put32(b.superblock(), 0x00, 4000000000u);
    put32(b.superblock(), 0x04, 0xFFFFFFFFu);
    put32(b.superblock(), 0x20, 8);
    auto scan = scanExt2Bytes(b.bytes());
    EXPECT_TRUE(listPaths(scan->view()).count("/a"));
    // Wide descriptors of a size the volume cannot have are refused.
    Ext2BuildOptions wide;
    wide.is64Bit = true;
    Ext2ImageBuilder w(wide);
    put16(w.superblock(), 0xFE, 12);
    EXPECT_FALSE(scanExt2Bytes(w.bytes())->view().rootEntry());
}

} // namespace
} // namespace vindaru::test
