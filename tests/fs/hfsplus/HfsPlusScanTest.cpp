// The HFS+ parser on volumes built in memory: layouts (block and node sizes, a fragmented
// catalog, files of more than eight extents), the two modes' trees, texts, times and content.
#include <gtest/gtest.h>

#include <algorithm>

#include "HfsImageBuilder.h"
#include "HfsTestSupport.h"
#include "fs/hfsplus/HFSP.h"
#include "fs/parser/VolumeParser.h"
#include "image/MemoryReader.h"

namespace vindaru::test {
namespace {

std::string text(const std::vector<std::uint8_t>& bytes) { return md5Of(std::string(bytes.begin(), bytes.end())); }

// A small tree: two folders, files in each, an empty file at the top.
struct SmallVolume {
    HfsImageBuilder builder;
    std::vector<std::uint8_t> report = patternBytes(10000, 1);
    std::vector<std::uint8_t> notes = patternBytes(300, 2);
    std::vector<std::uint8_t> deep = patternBytes(70000, 3);

    explicit SmallVolume(std::uint32_t block = 4096, std::uint32_t node = 8192) : builder(block, node, 4096) {
        const auto docs = builder.addFolder(2, u"Docs");
        builder.addFile(docs, u"report.txt", report);
        const auto sub = builder.addFolder(docs, u"Sub \u00e9t\u00e9 \u65e5\u672c");
        builder.addFile(sub, u"deep.bin", deep, 3);
        builder.addFile(2, u"notes.txt", notes);
        builder.addFile(2, u"empty", {});
    }
};

TEST(HfsPlusNormalScan, ListsTheCatalogAtItsPathsWithContent) {
    for (auto [block, node] : {std::pair{4096u, 8192u}, {2048u, 4096u}, {512u, 4096u}, {4096u, 4096u}}) {
        SCOPED_TRACE(std::to_string(block) + "/" + std::to_string(node));
        SmallVolume v(block, node);
        auto scan = scanHfsBytes(v.builder.build(), kScanModeStandard);
        EXPECT_EQ(scan->outcome.endStatus, "Scanning process Done.");
        EXPECT_TRUE(scan->outcome.addPlaceholders);
        EXPECT_TRUE(scan->outcome.endMessages.empty());
        EXPECT_FALSE(scan->outcome.rejected);
        auto paths = scan->paths();
        ASSERT_TRUE(paths.count("/Docs/report.txt"));
        EXPECT_EQ(md5Of(scan->content(paths["/Docs/report.txt"])), text(v.report));
        const std::string sub = "/Docs/Sub \xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC";
        ASSERT_TRUE(paths.count(sub + "/deep.bin"));
        EXPECT_EQ(md5Of(scan->content(paths[sub + "/deep.bin"])), text(v.deep));
        EXPECT_EQ(md5Of(scan->content(paths["/notes.txt"])), text(v.notes));
        EXPECT_EQ(scan->view().byteSize(paths["/Docs/report.txt"]), 10000u);
        // The root folder itself is not shown: its children are the top level, by CNID.
        EXPECT_EQ(scan->topLevel(), (std::vector<std::string>{"Docs", "notes.txt", "empty"}));
        EXPECT_EQ(paths.size(), 6u);
    }
}

TEST(HfsPlusNormalScan, ChildrenListNewestCnidFirst) {
    HfsImageBuilder b;
    b.addFolderWithId(19, 2, u"F");
    b.addFileWithId(21, 19, u"b", patternBytes(5, 1));
    b.addFileWithId(20, 19, u"c", patternBytes(5, 2));
    b.addFileWithId(22, 19, u"a", patternBytes(5, 3));
    auto scan = scanHfsBytes(b.build(), kScanModeStandard);
    auto paths = scan->paths();
    EXPECT_EQ(scan->childLabels(paths["/F"]), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(HfsPlusNormalScan, FragmentedCatalogIsFollowedThroughTheOverflowFile) {
    HfsImageBuilder b(4096, 8192, 4096);
    b.recordsPerLeaf = 6;
    b.catalogPieces = 12; // more than the header's eight extents
    std::vector<std::uint32_t> folders;
    for (int f = 0; f < 5; ++f) folders.push_back(b.addFolder(2, u"dir" + std::u16string(1, u'0' + f)));
    for (int i = 0; i < 120; ++i)
        b.addFile(folders[static_cast<std::size_t>(i % 5)], u"file" + std::u16string(1, static_cast<char16_t>(u'a' + i % 26)) + std::u16string(1, static_cast<char16_t>(u'A' + i / 26)),
                  patternBytes(100 + i, i));
    auto image = b.build();
    ASSERT_GT(b.overflowKeys.size(), 0u);
    EXPECT_EQ(b.overflowKeys.front().first, 4u);
    auto scan = scanHfsBytes(image, kScanModeStandard);
    auto paths = scan->paths();
    EXPECT_EQ(paths.size(), 125u);
    EXPECT_EQ(md5Of(scan->content(paths["/dir3/filedA"])), text(patternBytes(103, 3)));
}

TEST(HfsPlusNormalScan, FileOfManyExtentsReadsWholeThroughOverflowRecords) {
    HfsImageBuilder b(512, 4096, 512);
    const auto data = patternBytes(40 * 512 + 77, 9);
    const auto id = b.addFile(2, u"many.bin", data, 20); // 20 extents: two overflow records
    auto image = b.build();
    ASSERT_EQ(b.overflowKeys.size(), 2u);
    auto scan = scanHfsBytes(image, kScanModeStandard);
    auto paths = scan->paths();
    bool whole = false;
    EXPECT_EQ(md5Of(scan->content(paths["/many.bin"], &whole)), text(data));
    EXPECT_TRUE(whole);

    // Without the second overflow record the file ends after the blocks found so far.
    HfsImageBuilder again(512, 4096, 512);
    again.addFile(2, u"many.bin", data, 20);
    auto broken = again.build();
    const std::uint64_t leaf = again.extentsNodePositions.at(1);
    // The second record's key: start block bumped so that the lookup misses it.
    const std::size_t second = static_cast<std::size_t>(leaf) + 14 + 76;
    ASSERT_EQ(broken[second + 7], static_cast<std::uint8_t>(id));
    broken[second + 11] ^= 0x40;
    auto cut = scanHfsBytes(broken, kScanModeStandard);
    auto cutPaths = cut->paths();
    const std::string got = cut->content(cutPaths["/many.bin"], &whole);
    EXPECT_FALSE(whole);
    EXPECT_LT(got.size(), data.size());
    EXPECT_EQ(md5Of(got), md5Of(std::string(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(got.size()))));
    EXPECT_GT(got.size(), 8u * 512u);
}

TEST(HfsPlusNormalScan, TenThousandBytesInFourKiBBlocks) {
    HfsImageBuilder b(4096, 8192, 4096);
    const auto data = patternBytes(10000, 4);
    b.addFile(2, u"ten.bin", data);
    auto scan = scanHfsBytes(b.build(), kScanModeStandard);
    std::vector<std::size_t> pieces;
    scan->view().writeContent(scan->paths()["/ten.bin"], [&](std::span<const std::uint8_t> p) {
        pieces.push_back(p.size());
        return true;
    });
    std::size_t total = 0;
    for (auto n : pieces) total += n;
    EXPECT_EQ(total, 10000u); // two whole blocks and 1,808 bytes
}

TEST(HfsPlusNormalScan, TextsTimesAndPermissions) {
    HfsImageBuilder b;
    b.createDate = 0;                         // 1904-01-01 00:00 UTC
    b.modifyDate = 3'786'912'000u + 13 * 3600 + 5 * 60; // 2024-01-01 13:05 UTC
    b.accessDate = 3'786'912'000u + 12 * 3600 + 30 * 60; // 12:30
    b.fileMode = 0x81A4;
    b.addFile(2, u"a.txt", patternBytes(1023, 1));
    b.addFile(2, u"empty", {});
    const auto folder = b.addFolder(2, u"F");
    b.addFile(folder, u"x", patternBytes(1024, 2));
    auto scan = scanHfsBytes(b.build(), kScanModeStandard);
    auto paths = scan->paths();
    EntryView& v = scan->view();
    const EntryTexts t = v.describe(paths["/a.txt"]);
    EXPECT_EQ(t.creation, "01/01/1904  00:00 AM");
    EXPECT_EQ(t.modification, "01/01/2024  01:05 PM");
    EXPECT_EQ(t.access, "01/01/2024  12:30 AM");
    EXPECT_EQ(t.attributes, "-Owner:W-Owner:R-OR-GR");
    EXPECT_EQ(v.sizeText(paths["/a.txt"]), "1023 Bytes");
    EXPECT_EQ(v.sizeText(paths["/F/x"]), "1.00 KB");
    // Folders have no date or permission texts.
    const EntryTexts f = v.describe(paths["/F"]);
    EXPECT_TRUE(f.creation.empty() && f.attributes.empty());
    // Saved copies get the real instant (UTC seconds since 1904 as Unix time).
    const EntryTimes times = v.times(paths["/a.txt"]);
    EXPECT_TRUE(times.known);
    EXPECT_EQ(times.modificationSeconds, 1704114300);
    EXPECT_EQ(times.accessSeconds, 1704112200);
    // An empty file is content that is whole and empty, with its times.
    bool whole = false;
    EXPECT_EQ(scan->content(paths["/empty"], &whole), "");
    EXPECT_TRUE(whole);
    EXPECT_TRUE(v.times(paths["/empty"]).known);
}

TEST(HfsPlusNormalScan, HfsxIsReadAndAMissingSignatureIsSaid) {
    SmallVolume x;
    x.builder.signature = "HX";
    x.builder.version = 5;
    auto hfsx = scanHfsBytes(x.builder.build(), kScanModeStandard);
    EXPECT_EQ(hfsx->outcome.endStatus, "Scanning process Done.");
    EXPECT_EQ(hfsx->paths().size(), 6u);

    SmallVolume none;
    none.builder.signature = "XY";
    auto image = none.builder.build();
    auto normal = scanHfsBytes(image, kScanModeStandard);
    EXPECT_EQ(normal->outcome.endStatus, "Scanning process Aborted....");
    EXPECT_FALSE(normal->outcome.addPlaceholders);
    ASSERT_EQ(normal->messages.texts().size(), 1u);
    EXPECT_NE(normal->messages.texts()[0].find("H+"), std::string::npos);
    EXPECT_TRUE(normal->topLevel().empty());
    // The deep mode does not need the signature.
    auto deep = scanHfsBytes(image, kScanModeDeep);
    EXPECT_EQ(deep->outcome.endStatus, "Scanning process Done.");
}

TEST(HfsPlusNormalScan, BlockSizeAboveFourKiBAbortsNormalButNotDeep) {
    SmallVolume v(8192, 8192);
    auto image = v.builder.build();
    auto normal = scanHfsBytes(image, kScanModeStandard);
    EXPECT_EQ(normal->outcome.endStatus, "Scanning process Aborted....");
    auto deep = scanHfsBytes(image, kScanModeDeep);
    EXPECT_EQ(deep->outcome.endStatus, "Scanning process Done.");
    auto paths = deep->paths();
    EXPECT_EQ(md5Of(deep->content(paths["/Docs/report.txt"])), text(v.report));
}

TEST(HfsPlusNormalScan, StatusTextsOfTheLinkingAndTheTopLevel) {
    SmallVolume v;
    auto scan = scanHfsBytes(v.builder.build(), kScanModeStandard);
    const auto texts = scan->status.snapshot();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Maintaining Parent Child...."), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Maintaining Parent Child for record 0 of 7...."), texts.end());
    // Entries by CNID: 2 root, 16 Docs, 17 report, 18 Sub, 19 deep, 20 notes, 21 empty.
    EXPECT_NE(std::find(texts.begin(), texts.end(), "found folder at Node 1"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "found file at Node 6"), texts.end());
}

TEST(HfsPlusNormalScan, StaleCopyInAFreedNodeDoesNotReplaceTheLiveRecord) {
    HfsImageBuilder b(4096, 4096, 4096);
    b.spareCatalogNodes = 3;
    b.addFile(2, u"live.txt", patternBytes(500, 1));
    auto image = b.build();
    // Two copies of the leaf: node 1 altered and left off the leaf chain (a freed node that
    // comes first by position), node 2 the untouched one the header names as the leaf.
    const auto& pos = b.catalogNodePositions;
    ASSERT_GE(pos.size(), 3u);
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(pos[1]), 4096, image.begin() + static_cast<std::ptrdiff_t>(pos[2]));
    std::vector<std::uint8_t> tmp(image.begin() + static_cast<std::ptrdiff_t>(pos[1]),
                                  image.begin() + static_cast<std::ptrdiff_t>(pos[1] + 4096));
    // The file record's logical size (500) in node 1 becomes 263.
    for (std::size_t i = 0; i + 8 < 4096; ++i) {
        if (tmp[i] == 0 && tmp[i + 1] == 0 && tmp[i + 2] == 0 && tmp[i + 3] == 0 && tmp[i + 4] == 0 &&
            tmp[i + 5] == 0 && tmp[i + 6] == 0x01 && tmp[i + 7] == 0xF4) {
            tmp[i + 7] = 7;
            break;
        }
    }
    std::copy(tmp.begin(), tmp.end(), image.begin() + static_cast<std::ptrdiff_t>(pos[1]));
    const std::size_t headerRecord = static_cast<std::size_t>(pos[0]) + 14;
    image[headerRecord + 2 + 3] = 2;  // root
    image[headerRecord + 10 + 3] = 2; // first leaf
    image[headerRecord + 14 + 3] = 2; // last leaf
    auto scan = scanHfsBytes(image, kScanModeStandard);
    auto paths = scan->paths();
    EXPECT_EQ(scan->view().byteSize(paths["/live.txt"]), 500u);
}

TEST(HfsPlusNormalScan, FolderLoopsAreNotLinked) {
    HfsImageBuilder b;
    b.addFolderWithId(30, 31, u"A");
    b.addFolderWithId(31, 30, u"B");
    b.addFileWithId(32, 30, u"in-a", patternBytes(10, 1));
    b.addFolderWithId(33, 33, u"Self");
    b.addFileWithId(34, 2, u"top", patternBytes(10, 2));
    auto scan = scanHfsBytes(b.build(), kScanModeStandard);
    EXPECT_EQ(scan->outcome.endStatus, "Scanning process Done.");
    EXPECT_EQ(scan->topLevel(), (std::vector<std::string>{"top"}));
    auto* parser = &scan->view();
    // Every child chain ends.
    for (EntryRef e = 0; e < parser->entryLimit(); ++e) EXPECT_LE(parser->children(e).size(), 2u);
}

TEST(HfsPlusNormalScan, FolderSavesFollowTheSystemsRules) {
    HfsImageBuilder b;
    const auto full = b.addFolder(2, u"Full");
    b.addFolder(full, u"EmptyInside");
    b.addFile(full, u"f", patternBytes(10, 1));
    b.addFolder(2, u"Empty");
    auto scan = scanHfsBytes(b.build(), kScanModeStandard);
    auto paths = scan->paths();
    EntryView& v = scan->view();
    EXPECT_TRUE(v.isDirectoryForSave(paths["/Full"], true));
    EXPECT_FALSE(v.isDirectoryForSave(paths["/Empty"], true)); // a selected folder needs a child
    EXPECT_TRUE(v.isDirectoryForSave(paths["/Full/EmptyInside"], false));
    EXPECT_FALSE(v.isDirectoryForSave(paths["/Full/f"], false));
    ASSERT_TRUE(v.rootEntry().has_value());
    EXPECT_EQ(v.label(*v.rootEntry()), "Test Volume");
}

TEST(HfsPlusNormalScan, HardLinksReadTheirInodesContent) {
    HfsImageBuilder b;
    const auto data = patternBytes(5000, 7);
    const auto priv = b.addFolder(2, std::u16string(4, u'\0') + u"HFS+ Private Data");
    b.addFile(priv, u"iNode77", data);
    b.addHardLink(2, u"link.txt", 77);
    b.addHardLink(2, u"dangling.txt", 78);
    for (int mode : {kScanModeStandard, kScanModeDeep}) {
        auto scan = scanHfsBytes(b.build(), mode);
        auto paths = scan->paths();
        const EntryRef link = paths.at("/link.txt");
        EXPECT_EQ(scan->view().byteSize(link), 5000u);
        EXPECT_EQ(scan->view().sizeText(link), "4.88 KB");
        EXPECT_EQ(md5Of(scan->content(link)), text(data));
        // A link whose inode is missing is an empty file.
        bool whole = false;
        EXPECT_EQ(scan->content(paths.at("/dangling.txt"), &whole), "");
        EXPECT_TRUE(whole);
    }
}

TEST(HfsPlusNormalScan, StopEndsTheScanWithWhatWasFound) {
    SmallVolume v;
    auto image = v.builder.build();
    MemoryReader reader(image);
    VolumeRecord volume{"HFS+", "1", "1", 0};
    HFSP parser(reader, volume);
    parser.readVolumeHeader();
    ASSERT_TRUE(parser.scanExtentsOverflow());
    parser.control.requestStop();
    EXPECT_TRUE(parser.scanCatalogNodes());
    EXPECT_FALSE(parser.control.stopRequested.load()); // each step clears it on the way out
    parser.readCatalogRecords();
    EXPECT_TRUE(parser.entries.empty());
}

// ---- Deep mode ----

TEST(HfsPlusDeepScan, PlacesEveryRecordUnderTheFolderItNames) {
    SmallVolume v;
    const auto image = v.builder.build();
    auto normal = scanHfsBytes(image, kScanModeStandard);
    auto scan = scanHfsBytes(image, kScanModeDeep);
    EXPECT_EQ(scan->outcome.endStatus, "Scanning process Done.");
    auto paths = scan->paths();
    const EntryRef orphan = paths["/ORPHAN_ENTRY"];
    EXPECT_TRUE(scan->childLabels(orphan).empty());
    paths.erase("/ORPHAN_ENTRY");
    auto expected = normal->paths();
    ASSERT_EQ(paths.size(), expected.size());
    for (const auto& [path, entry] : expected) {
        ASSERT_TRUE(paths.count(path)) << path;
        EXPECT_EQ(scan->childLabels(paths[path]), normal->childLabels(entry)) << path;
    }
    const std::string sub = "/Docs/Sub \xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC";
    EXPECT_EQ(md5Of(scan->content(paths[sub + "/deep.bin"])), text(v.deep));
    EXPECT_TRUE(scan->view().rootEntry().has_value());
    EXPECT_FALSE(scan->view().isPathGuessed(paths[sub + "/deep.bin"]));
}

// A leaf node lost: the records of the others stay in their folders; a record whose folder's
// record was in the lost node goes under ORPHAN_ENTRY itself, never into another folder.
TEST(HfsPlusDeepScan, RecordsWhoseFolderIsLostGoUnderOrphanEntry) {
    HfsImageBuilder b(4096, 4096, 4096);
    b.recordsPerLeaf = 3;
    const auto a = b.addFolder(2, u"Alpha");
    const auto inner = b.addFolder(a, u"Inner");
    const auto beta = b.addFolder(2, u"Beta");
    for (int i = 0; i < 6; ++i) {
        b.addFile(inner, u"in" + std::u16string(1, u'0' + i), patternBytes(100 + i, i));
        b.addFile(beta, u"be" + std::u16string(1, u'0' + i), patternBytes(200 + i, i));
    }
    auto image = b.build();
    auto normal = scanHfsBytes(image, kScanModeStandard);
    const auto expected = normal->paths();
    ASSERT_TRUE(expected.count("/Alpha/Inner/in0"));
    // Zero every leaf that holds the folder record of Inner (its key is (Alpha, "Inner")).
    bool zeroed = false;
    for (std::uint64_t at : b.catalogNodePositions) {
        const auto begin = image.begin() + static_cast<std::ptrdiff_t>(at);
        const std::u16string name = u"Inner";
        std::vector<std::uint8_t> key;
        for (char16_t c : name) {
            key.push_back(static_cast<std::uint8_t>(c >> 8));
            key.push_back(static_cast<std::uint8_t>(c));
        }
        if (begin[8] == 0xFF && std::search(begin, begin + 4096, key.begin(), key.end()) != begin + 4096) {
            std::fill_n(begin, 4096, 0);
            zeroed = true;
        }
    }
    ASSERT_TRUE(zeroed);
    auto deep = scanHfsBytes(image, kScanModeDeep);
    ASSERT_EQ(deep->outcome.endStatus, "Scanning process Done.");
    std::size_t orphaned = 0;
    for (const auto& [path, entry] : deep->paths()) {
        if (path == "/ORPHAN_ENTRY") continue;
        if (path.starts_with("/ORPHAN_ENTRY/")) {
            // Directly under ORPHAN_ENTRY, or inside a folder that is itself there.
            const std::string rest = path.substr(13);
            bool suffix = false;
            for (const auto& [want, e] : expected) suffix = suffix || want.ends_with(rest);
            EXPECT_TRUE(suffix) << path;
            ++orphaned;
            continue;
        }
        ASSERT_TRUE(expected.count(path)) << path;
        if (!deep->view().isDirectory(entry)) {
            EXPECT_EQ(md5Of(deep->content(entry)), md5Of(normal->content(expected.at(path)))) << path;
        }
    }
    EXPECT_GT(orphaned, 0u);
}

TEST(HfsPlusDeepScan, FindsFilesWhenTheCatalogHeaderNodeIsZeroed) {
    for (auto [block, node] : {std::pair{4096u, 8192u}, {2048u, 4096u}, {4096u, 4096u}, {512u, 16384u}}) {
        SCOPED_TRACE(std::to_string(block) + "/" + std::to_string(node));
        HfsImageBuilder b(block, node, 4096);
        b.recordsPerLeaf = 5;
        b.catalogPieces = 3;
        std::map<std::string, std::vector<std::uint8_t>> files;
        const auto folder = b.addFolder(2, u"Photos");
        for (int i = 0; i < 30; ++i) {
            const std::u16string name = u"img" + std::u16string(1, u'a' + i % 26) + std::u16string(1, u'0' + i / 26);
            const std::string key = "img" + std::string(1, static_cast<char>('a' + i % 26)) +
                                    std::string(1, static_cast<char>('0' + i / 26));
            files[key] = patternBytes(3000 + 97 * static_cast<std::size_t>(i), static_cast<std::uint32_t>(i));
            b.addFile(folder, name, files[key]);
        }
        auto image = b.build();
        std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(b.catalogNodePositions[0]), node, 0);
        auto normal = scanHfsBytes(image, kScanModeStandard);
        EXPECT_EQ(normal->outcome.endStatus, "Scanning process Aborted....");
        auto deep = scanHfsBytes(image, kScanModeDeep);
        ASSERT_EQ(deep->outcome.endStatus, "Scanning process Done.");
        std::map<std::string, std::string> found;
        for (auto& [path, entry] : deep->paths())
            if (path.starts_with("/Photos/") && !deep->view().isDirectory(entry))
                found[deep->view().label(entry)] = md5Of(deep->content(entry));
        ASSERT_EQ(found.size(), files.size());
        for (auto& [name, bytes] : files) EXPECT_EQ(found[name], text(bytes)) << name;
    }
}

TEST(HfsPlusDeepScan, BlockSizeThatIsNotValidAborts) {
    SmallVolume v;
    auto image = v.builder.build();
    image[1024 + 40] = image[1024 + 41] = image[1024 + 42] = image[1024 + 43] = 0;
    auto deep = scanHfsBytes(image, kScanModeDeep);
    EXPECT_EQ(deep->outcome.endStatus, "Scanning process Aborted....");
    const auto texts = deep->status.snapshot();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "BlockSize not valid .Aborting.."), texts.end());
}

TEST(HfsPlusDeepScan, NoCnidAboveOneMakesNoOrphanEntry) {
    HfsImageBuilder b;
    auto image = b.build(); // only the root folder (CNID 2)... which is above 1
    auto deep = scanHfsBytes(image, kScanModeDeep);
    EXPECT_EQ(deep->topLevel(), (std::vector<std::string>{"ORPHAN_ENTRY"}));
    std::vector<std::uint8_t> zeros(1 << 20, 0);
    auto empty = scanHfsBytes(zeros, kScanModeDeep);
    EXPECT_EQ(empty->outcome.endStatus, "Scanning process Aborted...."); // block size 0
}

} // namespace
} // namespace vindaru::test
