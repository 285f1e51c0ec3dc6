// The scan over small volumes built in memory: naming and parent rules, the tree's first level,
// status texts, directory-entry variants and the list texts.
#include <gtest/gtest.h>

#include <algorithm>

#include "fs/ext2/Ext2ImageBuilder.h"
#include "fs/ext2/Ext2TestSupport.h"

namespace vindaru::test {
namespace {


// Root (2) with lost+found (11), a.txt (12), b.txt (13), docs (14) holding c.txt (15).
Ext2ImageBuilder standardVolume(Ext2BuildOptions options = {}) {
    Ext2ImageBuilder b(options);
    b.addDirectory(2, {{2, ".", 2}, {2, "..", 2}, {11, "lost+found", 2}, {12, "a.txt", 1}, {13, "b.txt", 1},
                       {14, "docs", 2}});
    b.addDirectory(11, {{11, ".", 2}, {2, "..", 2}});
    b.addFile(12, "hello");
    b.addFile(13, std::string(5000, 'b'));
    b.addDirectory(14, {{14, ".", 2}, {2, "..", 2}, {15, "c.txt", 1}});
    b.addFile(15, "x");
    return b;
}

TEST(Ext2Scan, RootChildrenComeInDescendingInodeOrderWithTheRootsOwnDot) {
    auto scan = scanExt2Bytes(standardVolume().bytes());
    EXPECT_EQ(scan->topLabels(), (std::vector<std::string>{"docs", "b.txt", "a.txt", "lost+found", "."}));
    EXPECT_EQ(scan->outcome.endMessages, std::vector<std::string>{"done.."});
    auto paths = listPaths(scan->view());
    ASSERT_TRUE(paths.count("/docs/c.txt"));
    EXPECT_EQ(contentMd5(scan->view(), paths["/a.txt"]), md5Of({'h', 'e', 'l', 'l', 'o'}));
    // The root's own record is a folder without children; ROOT is the volume item's entry.
    const EntryRef dot = paths["/."];
    EXPECT_TRUE(scan->view().isDirectory(dot));
    EXPECT_FALSE(scan->view().hasChildren(dot));
    EXPECT_FALSE(scan->view().descendWhenSaving(dot));
    EXPECT_EQ(scan->tree.getItemData(scan->volumeItem), scan->view().rootEntry());
    EXPECT_EQ(scan->view().label(*scan->view().rootEntry()), "ROOT");
    EXPECT_TRUE(scan->tree.item(scan->volumeItem)->expanded);
}

TEST(Ext2Scan, StatusTextsAndProgressFollowTheSteps) {
    auto scan = scanExt2Bytes(standardVolume().bytes());
    const auto texts = scan->status.snapshot();
    const std::vector<std::string> expected = {
        "parsing group 1  of 1 ", "parsing inode entry 1  of 32 ", "parsed inode entry 32  of 32 ",
        "clearing vector....", "Maintaining Parent Child....", "Maintaining Parent Child for record 0 of 7....",
        "Maintaining Parent Child for record 6 of 7....", "filling root entries in  tree...."};
    for (const std::string& t : expected) EXPECT_NE(std::find(texts.begin(), texts.end(), t), texts.end()) << t;
    EXPECT_EQ(texts.back(), "filling root entries in  tree....");
    EXPECT_EQ(scan->progress.ranges.front(), (std::pair<std::int64_t, std::int64_t>{0, 1}));
}

TEST(Ext2Scan, FileTypeDirectoryOverridesTheInodeModeButNotThePermissionText) {
    Ext2ImageBuilder b = standardVolume();
    // a.txt is a regular inode, but its entry says directory.
    b.writeDirents(b.block(le32Of(b.inode(2), 0x28)), {{2, ".", 2}, {2, "..", 2}, {12, "a.txt", 2}});
    auto scan = scanExt2Bytes(b.bytes());
    auto paths = listPaths(scan->view());
    ASSERT_TRUE(paths.count("/a.txt"));
    EXPECT_TRUE(scan->view().isDirectory(paths["/a.txt"]));
    EXPECT_EQ(scan->view().describe(paths["/a.txt"]).attributes, "-OR-GR-UW-UR");
}

TEST(Ext2Scan, EntriesWithoutFileTypesTakeLongNamesAndStopAtOversizedOnes) {
    Ext2BuildOptions o;
    o.blockSize = 4096;
    o.fileTypes = false;
    Ext2ImageBuilder b(o);
    const std::string longName(1024, 'n');
    const std::uint32_t root = b.addDirectory(2, {{2, "."}, {2, ".."}, {12, longName}, {13, "after"}});
    b.addFile(12, "1");
    b.addFile(13, "2");
    b.addDirectory(14, {{14, "."}, {2, ".."}, {15, std::string(1025, 'm')}, {16, "lost"}});
    b.addFile(15, "3");
    b.addFile(16, "4");
    (void)root;
    auto scan = scanExt2Bytes(b.bytes());
    auto paths = listPaths(scan->view());
    EXPECT_TRUE(paths.count("/" + longName));
    EXPECT_TRUE(paths.count("/after"));
    // docs was never named, and its oversized entry ends its block: nothing after it is named.
    for (const auto& [path, ref] : paths) EXPECT_EQ(path.find("lost"), std::string::npos) << path;
}

TEST(Ext2Scan, InodeZeroNamesNothingAndBrokenEntriesEndTheBlockWithoutLooping) {
    Ext2ImageBuilder b = standardVolume();
    const auto rootBlock = b.block(le32Of(b.inode(2), 0x28));
    // An unused slot (inode 0) before a live name, then an entry with rec_len 0.
    b.writeDirents(rootBlock, {{2, ".", 2}, {2, "..", 2}, {0, "gone", 1, 16}, {12, "a.txt", 1, 16},
                               {13, "b.txt", 1, 0}});
    put16(rootBlock, 12 + 12 + 16 + 16 + 4, 0); // b.txt's rec_len
    put32(rootBlock, 12 + 12 + 16 + 16 + 16, 14);
    auto scan = scanExt2Bytes(b.bytes());
    auto paths = listPaths(scan->view());
    EXPECT_TRUE(paths.count("/a.txt"));
    // The entry with rec_len 0 ends the walk before it names anything.
    EXPECT_FALSE(paths.count("/b.txt"));
    EXPECT_FALSE(paths.count("/docs"));
    EXPECT_FALSE(paths.count("/gone"));

    // A name that would run past the block's end is not read.
    Ext2ImageBuilder c = standardVolume();
    const auto block = c.block(le32Of(c.inode(2), 0x28));
    c.writeDirents(block, {{2, ".", 2}, {2, "..", 2}, {12, "a.txt", 1}});
    block[24 + 6] = 255;
    put16(block, 24 + 4, 1000);
    auto damaged = scanExt2Bytes(c.bytes());
    EXPECT_FALSE(listPaths(damaged->view()).count("/a.txt"));
}

TEST(Ext2Scan, ListTextsComeFromTheInodeInLocalTime) {
    Ext2ImageBuilder b = standardVolume();
    b.setTimes(12, 1700000000, 1600000000, 1500000000); // atime, ctime, mtime
    auto scan = scanExt2Bytes(b.bytes());
    auto paths = listPaths(scan->view());
    const EntryTexts t = scan->view().describe(paths["/a.txt"]);
    EXPECT_EQ(t.creation, "09/13/2020  12:26 AM");
    EXPECT_EQ(t.access, "11/14/2023  10:13 PM");
    EXPECT_EQ(t.modification, "07/14/2017  02:40 AM");
    EXPECT_EQ(scan->view().sizeText(paths["/b.txt"]), "4.88 KB");
    EXPECT_EQ(scan->view().sizeText(paths["/a.txt"]), "5 Bytes");
    const EntryTimes times = scan->view().times(paths["/a.txt"]);
    EXPECT_TRUE(times.known);
    EXPECT_EQ(times.modificationSeconds, 1500000000);
    EXPECT_EQ(times.accessSeconds, 1700000000);
}

TEST(Ext2Scan, LargeInodesCarryNanosecondsAndTimesPast2038) {
    Ext2BuildOptions o;
    o.inodeSize = 256;
    Ext2ImageBuilder b = standardVolume(o);
    auto in = b.inode(12);
    put16(in, 0x80, 32);                      // i_extra_isize
    put32(in, 0x88, (123456789u << 2) | 1u);  // mtime extra: nanoseconds, epoch 1
    auto scan = scanExt2Bytes(b.bytes());
    const EntryTimes t = scan->view().times(listPaths(scan->view())["/a.txt"]);
    EXPECT_EQ(t.modificationSeconds, 1600000200LL + (1LL << 32));
    EXPECT_EQ(t.modificationNanoseconds, 123456789u);
}

TEST(Ext2Scan, DeletedInodesAreMarkedAndDevicesAreNotFolders) {
    Ext2ImageBuilder b = standardVolume();
    put32(b.inode(13), 0x14, 1600000300); // b.txt has a deletion time
    // A block device keeps a device number in i_block[0]; the block it happens to name is not
    // read as a directory.
    b.setInode(15, 0x61B0, 0);
    const std::uint32_t stray = b.allocBlocks();
    b.setPointer(15, 0, stray);
    b.writeDirents(b.block(stray), {{16, "ghost", 1}});
    b.writeDirents(b.block(le32Of(b.inode(14), 0x28)), {{14, ".", 2}, {2, "..", 2}, {15, "c.txt", 4}});
    auto scan = scanExt2Bytes(b.bytes());
    auto paths = listPaths(scan->view());
    EXPECT_TRUE(scan->view().isDeleted(paths["/b.txt"]));
    EXPECT_FALSE(scan->view().isDeleted(paths["/a.txt"]));
    ASSERT_TRUE(paths.count("/docs/c.txt"));
    EXPECT_FALSE(scan->view().isDirectory(paths["/docs/c.txt"]));
    for (const auto& [path, ref] : paths) EXPECT_EQ(path.find("ghost"), std::string::npos) << path;
}

TEST(Ext2Scan, AHardLinkedFileStandsInEachOfItsFolders) {
    Ext2ImageBuilder b = standardVolume();
    b.writeDirents(b.block(le32Of(b.inode(14), 0x28)), {{14, ".", 2}, {2, "..", 2}, {15, "c.txt", 1}, {12, "link.txt", 1}});
    auto scan = scanExt2Bytes(b.bytes());
    auto paths = listPaths(scan->view());
    ASSERT_TRUE(paths.count("/a.txt"));
    ASSERT_TRUE(paths.count("/docs/link.txt"));
    EXPECT_EQ(contentOf(scan->view(), paths["/docs/link.txt"]), contentOf(scan->view(), paths["/a.txt"]));
}

TEST(Ext2Scan, TheLastInodeOfTheTableCanBeNamed) {
    Ext2ImageBuilder b = standardVolume();
    b.addDirectory(2, {{2, ".", 2}, {2, "..", 2}, {32, "last", 1}});
    b.addFile(32, "end");
    auto scan = scanExt2Bytes(b.bytes());
    EXPECT_TRUE(listPaths(scan->view()).count("/last"));
}

TEST(Ext2Scan, TheTrailingPartialGroupAndWideDescriptorsAreRead) {
    for (bool wide : {false, true}) {
        Ext2BuildOptions o;
        o.blocks = 300;
        o.blocksPerGroup = 256; // two groups, the second one partial
        o.is64Bit = wide;
        Ext2ImageBuilder b = standardVolume(o);
        ASSERT_EQ(b.groupCount(), 2u);
        b.addDirectory(14, {{14, ".", 2}, {2, "..", 2}, {40, "far.txt", 1}});
        b.addFile(40, "in group two");
        auto scan = scanExt2Bytes(b.bytes());
        auto paths = listPaths(scan->view());
        ASSERT_TRUE(paths.count("/docs/far.txt")) << wide;
        EXPECT_EQ(contentOf(scan->view(), paths["/docs/far.txt"]).size(), 12u);
    }
}

TEST(Ext2Scan, AVolumeTooSmallToHoldASuperblockIsNotProbed) {
    auto scan = scanExt2Bytes(std::vector<std::uint8_t>(1536, 0));
    EXPECT_FALSE(scan->view().rootEntry());
    EXPECT_EQ(scan->outcome.endMessages, std::vector<std::string>{"done.."});
}

TEST(Ext2Scan, ACandidateWithTooLargeABlockIsPassedOverForALaterCopy) {
    Ext2ImageBuilder b = standardVolume();
    // A backup: the superblock copied into a free block, its descriptors in the block after it.
    const std::uint32_t backup = b.allocBlocks(2);
    std::vector<std::uint8_t> sb(b.superblock().begin(), b.superblock().end());
    std::copy(sb.begin(), sb.end(), b.block(backup).begin());
    std::copy(b.block(2).begin(), b.block(2).end(), b.block(backup + 1).begin());
    put32(b.superblock(), 0x18, 4); // the primary claims 16 KiB blocks
    auto scan = scanExt2Bytes(b.bytes());
    EXPECT_EQ(scan->ext2().superblockOffset, std::uint64_t{backup} * 1024);
    EXPECT_TRUE(listPaths(scan->view()).count("/docs/c.txt"));

    put16(b.block(backup), 0x38, 0);
    EXPECT_FALSE(scanExt2Bytes(b.bytes())->view().rootEntry()) << "no copy left to accept";
}

} // namespace
} // namespace vindaru::test
