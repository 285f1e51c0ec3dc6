// Hostile volume headers, B-tree nodes, keys and extents: every scan ends, in both modes, and
// what can still be read is read.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "HfsImageBuilder.h"
#include "HfsTestSupport.h"
#include "fs/hfsplus/HfsPlusFormat.h"
#include "fs/parser/VolumeParser.h"

namespace vindaru::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr auto put16 = putBe16;
constexpr auto put32 = putBe32;

// The key of the catalog record named `name` (its UTF-16 name preceded by its length).
std::size_t keyOf(const Bytes& image, const std::u16string& name) {
    Bytes needle{static_cast<std::uint8_t>(name.size() >> 8), static_cast<std::uint8_t>(name.size())};
    for (char16_t c : name) {
        needle.push_back(static_cast<std::uint8_t>(c >> 8));
        needle.push_back(static_cast<std::uint8_t>(c));
    }
    const auto it = std::search(image.begin(), image.end(), needle.begin(), needle.end());
    EXPECT_NE(it, image.end());
    return static_cast<std::size_t>(it - image.begin()) - 6;
}

struct Volume {
    HfsImageBuilder builder{512, 4096, 512};
    Bytes image;
    Bytes many = patternBytes(30 * 512, 1);
    Volume() {
        const auto f = builder.addFolder(2, u"F");
        builder.addFile(f, u"one.txt", patternBytes(700, 2));
        builder.addFile(f, u"many.bin", many, 20);
        builder.addFile(2, u"two.txt", patternBytes(1500, 3));
        image = builder.build();
    }
    std::size_t catalogHeader() const { return static_cast<std::size_t>(builder.catalogNodePositions[0]); }
    std::size_t catalogLeaf() const { return static_cast<std::size_t>(builder.catalogNodePositions[1]); }
    std::size_t extentsHeader() const { return static_cast<std::size_t>(builder.extentsNodePositions[0]); }
    std::size_t extentsLeaf() const { return static_cast<std::size_t>(builder.extentsNodePositions[1]); }
};

// Scans the patched image in both modes; each must end with one of the system's end texts.
void scanBoth(const Bytes& image) {
    for (int mode : {kScanModeStandard, kScanModeDeep}) {
        auto scan = scanHfsBytes(image, mode);
        const std::string& end = scan->outcome.endStatus;
        EXPECT_TRUE(end == "Scanning process Done." || end == "Scanning process Aborted....") << end;
        for (auto& [path, entry] : scan->paths()) {
            scan->view().describe(entry);
            scan->content(entry);
        }
    }
}

TEST(HfsPlusHostile, NodeSizesTheFormatDoesNotAllowAbortTheNormalMode) {
    for (std::uint32_t size : {0u, 1u, 100u, 0xFFFFu, 4097u}) {
        SCOPED_TRACE(size);
        Volume v;
        put16(v.image, v.catalogHeader() + 32, size);
        auto scan = scanHfsBytes(v.image, kScanModeStandard);
        EXPECT_EQ(scan->outcome.endStatus, "Scanning process Aborted....");
        scanBoth(v.image);
    }
    // The largest allowed size reads past the catalog's real nodes without harm.
    Volume big;
    put16(big.image, big.catalogHeader() + 32, 32768);
    scanBoth(big.image);
}

TEST(HfsPlusHostile, RecordOffsetsAndKeyLengthsOutsideTheNodeAreSkipped) {
    Volume v;
    const std::size_t leaf = v.catalogLeaf();
    // The first record's offset points past the node, the second's into the table.
    put16(v.image, leaf + 4096 - 2, 0xFFF0);
    put16(v.image, leaf + 4096 - 4, 4094);
    // numRecords far beyond what the table can hold.
    put16(v.image, leaf + 10, 0xFFFF);
    // A key that claims to run past the node.
    put16(v.image, keyOf(v.image, u"two.txt"), 0xFFFF);
    auto scan = scanHfsBytes(v.image, kScanModeStandard);
    EXPECT_EQ(scan->outcome.endStatus, "Scanning process Done.");
    auto paths = scan->paths();
    EXPECT_FALSE(paths.count("/two.txt"));
    EXPECT_TRUE(paths.count("/F/one.txt"));
    scanBoth(v.image);
}

TEST(HfsPlusHostile, ExtentsBeyondTheVolumeEndTheFile) {
    Volume v;
    // one.txt's first extent: start block far past the volume's end.
    const std::size_t key = keyOf(v.image, u"one.txt");
    const std::size_t data = key + 2 + (6 + 2 * 7);
    put32(v.image, data + 88 + 16, 0xFFFFFF00u);
    // two.txt's first extent: a block count that overflows the volume.
    const std::size_t key2 = keyOf(v.image, u"two.txt");
    put32(v.image, key2 + 2 + (6 + 2 * 7) + 88 + 20, 0xFFFFFFFFu);
    auto scan = scanHfsBytes(v.image, kScanModeStandard);
    auto paths = scan->paths();
    bool whole = true;
    EXPECT_EQ(scan->content(paths["/F/one.txt"], &whole), "");
    EXPECT_FALSE(whole);
    EXPECT_EQ(scan->content(paths["/two.txt"], &whole), "");
    EXPECT_FALSE(whole);
    // The catalog's own fork leaving the volume leaves nothing to read.
    Volume c;
    put32(c.image, 1024 + 272 + 20, 0xFFFFFFF0u);
    EXPECT_EQ(scanHfsBytes(c.image, kScanModeStandard)->outcome.endStatus, "Scanning process Aborted....");
    scanBoth(c.image);
}

TEST(HfsPlusHostile, OverflowRecordsThatLoopOrAddNothingEndTheWalk) {
    Volume v;
    const std::size_t leaf = v.extentsLeaf();
    const std::size_t first = leaf + 14;        // many.bin's record at block 8
    const std::size_t second = leaf + 14 + 76;  // and at block 16
    // The second record's extents add nothing: the walk ends after the first record.
    for (int i = 0; i < 8; ++i) put32(v.image, second + 12 + 8 * i + 4, 0);
    auto scan = scanHfsBytes(v.image, kScanModeStandard);
    bool whole = true;
    const std::string got = scan->content(scan->paths()["/F/many.bin"], &whole);
    EXPECT_FALSE(whole);
    EXPECT_GT(got.size(), 8u * 512u);
    // A record keyed at block 0 that names the file's own start: the key never repeats.
    Volume w;
    put32(w.image, w.extentsLeaf() + 14 + 8, 0);
    put32(w.image, w.extentsLeaf() + 14 + 76 + 8, 0);
    scanBoth(w.image);
    (void)first;
}

TEST(HfsPlusHostile, LeafChainsThatLoopAndNodeCountsThatLie) {
    Volume v;
    put32(v.image, v.catalogLeaf(), 1);                   // the leaf names itself as the next
    put32(v.image, v.catalogHeader() + 36, 0xFFFFFFFFu);  // totalNodes
    put32(v.image, v.catalogHeader() + 24, 0xFFFFFFF0u);  // first leaf
    put32(v.image, v.extentsHeader() + 36, 0xFFFFFFFFu);
    auto scan = scanHfsBytes(v.image, kScanModeStandard);
    EXPECT_EQ(scan->outcome.endStatus, "Scanning process Done.");
    EXPECT_TRUE(scan->paths().count("/F/one.txt"));
    scanBoth(v.image);
}

TEST(HfsPlusHostile, ExtentsFileWithAnUnknownNodeKindAbortsOnlyTheNormalMode) {
    Volume v;
    v.image[v.extentsHeader() + 8] = 0x7F;
    EXPECT_EQ(scanHfsBytes(v.image, kScanModeStandard)->outcome.endStatus, "Scanning process Aborted....");
    auto deep = scanHfsBytes(v.image, kScanModeDeep);
    EXPECT_EQ(deep->outcome.endStatus, "Scanning process Done.");
    // Without the overflow file the file ends after its first eight extents.
    bool whole = true;
    const std::string got = deep->content(deep->paths()["/F/many.bin"], &whole);
    EXPECT_FALSE(whole);
    EXPECT_GT(got.size(), 0u);
}

TEST(HfsPlusHostile, VolumeHeaderFieldsAtTheirLimits) {
    for (auto patch : std::vector<std::function<void(Bytes&)>>{
             [](Bytes& b) { put32(b, 1024 + 40, 0xFFFFFFFFu); },        // block size
             [](Bytes& b) { put32(b, 1024 + 40, 1536); },               // not a power of two
             [](Bytes& b) { put32(b, 1024 + 44, 0); },                  // total blocks
             [](Bytes& b) { put32(b, 1024 + 44, 0xFFFFFFFFu); },
             [](Bytes& b) { std::fill(b.begin() + 1024 + 192, b.begin() + 1024 + 352, 0xFF); }, // forks
         }) {
        Volume v;
        patch(v.image);
        scanBoth(v.image);
    }
}

} // namespace
} // namespace vindaru::test
