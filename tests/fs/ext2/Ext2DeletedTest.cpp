// Deleted files on volumes built field by field: names hidden in a live entry's slack and in a
// deleted folder, inodes no name reaches under ORPHAN_ENTRY, content from a deleted inode's own
// pointers only counted whole while the bitmap says no one took its blocks, folders that name
// each other, garbage in the slack, and inline data; then the slack scanner and the directory
// block check on their own bytes.
#include <gtest/gtest.h>

#include "fs/ext2/Ext2Dirents.h"
#include "fs/ext2/Ext2ImageBuilder.h"
#include "fs/ext2/Ext2TestSupport.h"

namespace vindaru::test {
namespace {

void deleteInode(Ext2ImageBuilder& b, std::uint32_t inode) {
    put16(b.inode(inode), 0x1A, 0);          // links
    put32(b.inode(inode), 0x14, 1600000300); // dtime
}

// Root: ".", "..", "keep"; in keep's slack the deleted "gone", "lost" (a deleted folder), a
// stale "renamed" of the live keep, and garbage with a '/' in the name.
Ext2ImageBuilder deletedVolume() {
    Ext2ImageBuilder b;
    const std::uint32_t root = b.addDirectory(2, {{2, ".", 2}, {2, "..", 2}, {12, "keep", 1}});
    const auto slack = b.block(root).subspan(36);
    b.writeDirents(slack, {{13, "gone", 1, 12}, {12, "renamed", 1, 16}, {17, "a/b", 1, 12}, {14, "lost", 2, 0}});
    b.addFile(12, "live bytes");
    b.addFile(13, std::string(1500, 'g'));
    deleteInode(b, 13);
    const std::uint32_t lost = b.addDirectory(14, {{14, ".", 2}, {2, "..", 2}});
    b.writeDirents(b.block(lost).subspan(24), {{15, "inner", 1, 0}});
    deleteInode(b, 14);
    b.addFile(15, "inner bytes");
    deleteInode(b, 15);
    b.addFile(16, "nameless");
    deleteInode(b, 16);
    b.addFile(17, "x");
    deleteInode(b, 17);
    return b;
}

std::string text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(Ext2Deleted, HiddenNamesDeletedFoldersAndOrphansAreListedDeletedWithTheirContent) {
    auto scan = scanExt2Bytes(deletedVolume().bytes());
    EntryView& view = scan->view();
    const auto paths = listPaths(view);
    ASSERT_TRUE(paths.count("/keep"));
    EXPECT_FALSE(view.isDeleted(paths.at("/keep")));
    ASSERT_TRUE(paths.count("/gone"));
    EXPECT_TRUE(view.isDeleted(paths.at("/gone")));
    bool whole = false;
    EXPECT_EQ(text(contentOf(view, paths.at("/gone"), &whole)), std::string(1500, 'g'));
    EXPECT_TRUE(whole);
    ASSERT_TRUE(paths.count("/lost/inner"));
    EXPECT_TRUE(view.isDirectory(paths.at("/lost")));
    EXPECT_EQ(text(contentOf(view, paths.at("/lost/inner"))), "inner bytes");
    // A stale name of a live file and a name with a '/' are not names.
    EXPECT_FALSE(paths.count("/renamed"));
    EXPECT_FALSE(paths.count("/a/b"));
    ASSERT_TRUE(paths.count("/ORPHAN_ENTRY/INODE_16"));
    EXPECT_TRUE(view.isPlaceholder(paths.at("/ORPHAN_ENTRY")));
    EXPECT_TRUE(view.isDeleted(paths.at("/ORPHAN_ENTRY/INODE_16")));
    EXPECT_EQ(text(contentOf(view, paths.at("/ORPHAN_ENTRY/INODE_16"))), "nameless");
    ASSERT_TRUE(paths.count("/ORPHAN_ENTRY/INODE_17"));
    // Every deleted inode is listed once: by a name or as an orphan.
    EXPECT_FALSE(paths.count("/ORPHAN_ENTRY/INODE_13"));
    EXPECT_FALSE(paths.count("/ORPHAN_ENTRY/INODE_15"));
}

TEST(Ext2Deleted, ABlockAnotherFileTookIsNotCountedWhole) {
    Ext2ImageBuilder b = deletedVolume();
    b.markUsed(le32Of(b.inode(13), 0x28 + 4)); // gone's second block
    auto scan = scanExt2Bytes(b.bytes());
    const auto paths = listPaths(scan->view());
    bool whole = true;
    EXPECT_EQ(contentOf(scan->view(), paths.at("/gone"), &whole).size(), 1500u);
    EXPECT_FALSE(whole);
}

TEST(Ext2Deleted, DeletedFoldersThatNameEachOtherOrThemselvesEndTheScan) {
    Ext2ImageBuilder b;
    b.addDirectory(2, {{2, ".", 2}, {2, "..", 2}, {12, "x", 1}});
    b.addFile(12, "x");
    const std::uint32_t a = b.addDirectory(20, {{20, ".", 2}, {2, "..", 2}});
    b.writeDirents(b.block(a).subspan(24), {{21, "b", 2, 12}, {20, "self", 2, 0}});
    const std::uint32_t c = b.addDirectory(21, {{21, ".", 2}, {20, "..", 2}});
    b.writeDirents(b.block(c).subspan(24), {{20, "a", 2, 0}});
    deleteInode(b, 20);
    deleteInode(b, 21);
    auto scan = scanExt2Bytes(b.bytes());
    const auto paths = listPaths(scan->view());
    EXPECT_TRUE(paths.count("/x"));
    // The loop is cut where it closes: the pair hangs under ORPHAN_ENTRY, each once.
    EXPECT_TRUE(paths.count("/ORPHAN_ENTRY/a/b"));
    EXPECT_FALSE(paths.count("/ORPHAN_ENTRY/a/b/a"));
    EXPECT_FALSE(paths.count("/ORPHAN_ENTRY/INODE_20"));
}

TEST(Ext2Deleted, InlineFilesAndFoldersAreReadWholeFromTheInodeAndItsAttribute) {
    Ext2BuildOptions o;
    o.inodeSize = 256;
    Ext2ImageBuilder b(o);
    b.addDirectory(2, {{2, ".", 2}, {2, "..", 2}, {20, "inline.txt", 1}, {21, "inl", 2}});
    constexpr std::uint32_t kInline = 0x10000000;
    std::string content;
    for (int i = 0; i < 100; ++i) content += static_cast<char>('A' + i % 26);
    auto attribute = [&](std::uint32_t inode, const std::vector<std::uint8_t>& value) {
        auto in = b.inode(inode);
        put16(in, 0x80, 32);
        put32(in, 160, 0xEA020000);
        in[164] = 4;                 // name length
        in[165] = 7;                 // system.
        put16(in, 166, 40);          // value offset from the first entry
        put32(in, 172, static_cast<std::uint32_t>(value.size()));
        std::copy_n("data", 4, in.begin() + 180);
        std::copy(value.begin(), value.end(), in.begin() + 164 + 40);
    };
    b.setInode(20, 0x81A4, content.size(), kInline);
    std::copy_n(content.begin(), 60, b.inode(20).begin() + 0x28);
    attribute(20, std::vector<std::uint8_t>(content.begin() + 60, content.end()));
    b.setInode(21, 0x41ED, 60 + 12, kInline);
    auto map = b.inode(21).subspan(0x28, 60);
    put32(map, 0, 2);
    b.writeDirents(map.subspan(4), {{22, "x", 1, 0}});
    std::vector<std::uint8_t> tail(12, 0);
    b.writeDirents(tail, {{23, "y", 1, 0}});
    attribute(21, tail);
    b.addFile(22, "xx");
    b.addFile(23, "yy");

    auto scan = scanExt2Bytes(b.bytes());
    const auto paths = listPaths(scan->view());
    ASSERT_TRUE(paths.count("/inline.txt"));
    bool whole = false;
    EXPECT_EQ(text(contentOf(scan->view(), paths.at("/inline.txt"), &whole)), content);
    EXPECT_TRUE(whole);
    EXPECT_TRUE(paths.count("/inl/x"));
    EXPECT_TRUE(paths.count("/inl/y"));

    // An attribute shorter than the size says: what is there, reported incomplete.
    put32(b.inode(20), 172, 10);
    auto shortScan = scanExt2Bytes(b.bytes());
    EXPECT_EQ(contentOf(shortScan->view(), listPaths(shortScan->view()).at("/inline.txt"), &whole).size(), 70u);
    EXPECT_FALSE(whole);
}

std::vector<std::pair<std::uint32_t, std::string>> hidden(const std::vector<std::uint8_t>& block, std::size_t from,
                                                          std::size_t to) {
    std::vector<std::pair<std::uint32_t, std::string>> out;
    scanDirentSlack(block, from, to, true, 100,
                    [&](const Ext2HiddenEntry& e) { out.emplace_back(e.inode, std::string(e.name)); });
    return out;
}

TEST(Ext2Dirents, TheSlackScanTakesWholeEntriesOnlyAndStaysInsideTheSlack) {
    Ext2ImageBuilder b;
    std::vector<std::uint8_t> block(1024, 0);
    b.writeDirents(block, {{5, "first", 1, 16}, {6, "second", 1, 16}, {0, "", 0, 8}, {7, "third", 1, 0}});
    using V = std::vector<std::pair<std::uint32_t, std::string>>;
    EXPECT_EQ(hidden(block, 0, 1024), (V{{5, "first"}, {6, "second"}, {7, "third"}}));
    // A name that runs past the slack's end is not taken; inode numbers past the table neither.
    EXPECT_EQ(hidden(block, 0, 20), (V{{5, "first"}}));
    put32(block, 16, 101);
    EXPECT_EQ(hidden(block, 0, 1024), (V{{5, "first"}, {7, "third"}}));
    // Garbage: record lengths too short or running past the block, unaligned starts.
    std::vector<std::uint8_t> junk(64, 0xFF);
    EXPECT_TRUE(hidden(junk, 1, 64).empty());
    EXPECT_TRUE(hidden(junk, 60, 1000).empty());
}

TEST(Ext2Dirents, ADirectoryBlockChainsToItsEndWithNamedEntries) {
    Ext2ImageBuilder b;
    std::vector<std::uint8_t> block(1024, 0);
    b.writeDirents(block, {{2, ".", 2}, {2, "..", 2}, {12, "file", 1}});
    EXPECT_TRUE(looksLikeDirectoryBlock(block, true, 100));
    EXPECT_FALSE(looksLikeDirectoryBlock(block, true, 11)); // an inode past the table
    put16(block, 28, 1004);                                 // the last record runs past the end
    EXPECT_FALSE(looksLikeDirectoryBlock(block, true, 100));
    EXPECT_FALSE(looksLikeDirectoryBlock(std::vector<std::uint8_t>(1024, 0), true, 100));
    EXPECT_FALSE(looksLikeDirectoryBlock(std::vector<std::uint8_t>(1024, 0x41), true, 100));
}

} // namespace
} // namespace vindaru::test
