// The exFAT walk on volumes built byte by byte: the root's whole chain, folders without a FAT
// chain, contiguous files read in pieces, deleted sets, hostile shifts and name runs.
#include <gtest/gtest.h>

#include <map>

#include "fs/fat/FatImageBuilder.h"
#include "fs/fat/FatTestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

constexpr std::uint8_t kFatChain = 1;
constexpr std::uint8_t kNoFatChain = 3;

std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 13 + i / 4096);
    return v;
}

std::u16string name16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

} // namespace

TEST(ExfatScan, RootChainContiguousFoldersAndFiles) {
    ExfatImage img(400);
    // The root spans clusters 2, 3 and 4 (16 slots each): 10 files of 3 slots in 2 and 3 ...
    img.setFat(2, 3);
    img.setFat(3, 0xFFFFFFFF);
    for (int i = 0; i < 10; ++i)
        img.put(i < 5 ? 2 : 3, (i % 5) * 3, ExfatImage::entrySet(name16("root-" + std::to_string(i)), 0x20, 0, 0, kNoFatChain));
    // A folder without a FAT chain, three clusters long (10..12), its last file in 12.
    // ... and a third cluster with the folder's set.
    const auto folder = ExfatImage::entrySet(u"Folder", 0x10, 10, 3 * 512, kNoFatChain);
    img.setFat(3, 4);
    img.setFat(4, 0xFFFFFFFF);
    img.put(4, 0, folder);
    img.put(12, 0, ExfatImage::entrySet(u"deep.bin", 0x20, 100, 5000, kNoFatChain));
    img.put(12, 3, ExfatImage::entrySet(u"chained.bin", 0x20, 50, 1000, kFatChain));
    img.setFat(50, 60);
    img.setFat(60, 0xFFFFFFFF);
    const auto body = pattern(5000, 4);
    std::copy(body.begin(), body.end(), img.bytes().begin() + static_cast<std::ptrdiff_t>(img.clusterOffset(100)));
    const auto chained = pattern(1000, 6);
    std::copy(chained.begin(), chained.begin() + 512, img.bytes().begin() + static_cast<std::ptrdiff_t>(img.clusterOffset(50)));
    std::copy(chained.begin() + 512, chained.end(), img.bytes().begin() + static_cast<std::ptrdiff_t>(img.clusterOffset(60)));
    // A deleted set after an end-of-directory slot.
    img.put(12, 10, ExfatImage::entrySet(u"gone.txt", 0x20, 0, 0, kNoFatChain, true));

    auto s = scanFatBytes(img.bytes(), "FAT64");
    ASSERT_FALSE(s->outcome.rejected);
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(s->paths.count("/root-" + std::to_string(i))) << i;
    ASSERT_TRUE(s->paths.count("/Folder/deep.bin"));
    EXPECT_EQ(s->content(s->paths.at("/Folder/deep.bin")), body);
    EXPECT_EQ(s->content(s->paths.at("/Folder/chained.bin")), chained);
    ASSERT_TRUE(s->paths.count("/Folder/gone.txt"));
    EXPECT_TRUE(s->view().isDeleted(s->paths.at("/Folder/gone.txt")));
    EXPECT_EQ(s->outcome.recycle, RecycleLayout::Flat);
    EXPECT_EQ(s->view().fileSystemType(), "exfat");
    const auto texts = s->view().describe(s->paths.at("/Folder/deep.bin"));
    EXPECT_EQ(texts.creation, "03/07/2024  12:00 AM");
    EXPECT_EQ(texts.access, "03/08/2024  00:00 AM");
    EXPECT_EQ(texts.attributes, "-A");
    // The top level hides the placeholder; a folder save needs children.
    EXPECT_EQ(s->topLevelLabels().size(), 11u);
    EXPECT_TRUE(s->view().isDirectoryForSave(s->paths.at("/Folder"), true));
}

// A deleted file's FAT chain is followed only when it is whole and its clusters are free in the
// allocation bitmap; otherwise its data are the clusters after its first one that the bitmap
// shows free (a file without a FAT chain: simply the clusters after its first one).
TEST(ExfatScan, DeletedFilesFollowTheirChainOnlyWhenItIsWholeAndFree) {
    ExfatImage img(400, 1); // 1 KiB clusters: the root's one cluster holds every set
    img.addBitmap(3, 0);
    struct File {
        const char* name;
        std::vector<std::uint32_t> chain; // as the FAT holds it (a repeat: a loop)
        std::uint64_t size;
        std::uint8_t flags;
        bool deleted;
        std::vector<std::uint32_t> expected; // the clusters the content must come from
    };
    const std::vector<File> files{
        {"live.bin", {20, 22}, 2000, kFatChain, false, {20, 22}},
        {"frag.bin", {21, 23, 25}, 2600, kFatChain, true, {21, 23, 25}},
        {"taker.bin", {31}, 1024, kNoFatChain, false, {31}},
        {"taken.bin", {30, 31, 32}, 3000, kFatChain, true, {30, 32, 33}},
        {"holder.bin", {35}, 1024, kNoFatChain, false, {35}},
        {"firsttaken.bin", {35, 36}, 2048, kFatChain, true, {35, 36}},
        {"loop.bin", {40, 41, 40}, 3072, kFatChain, true, {40, 41, 42}},
        {"nochain.bin", {50, 60}, 2048, kNoFatChain, true, {50, 51}},
        {"short.bin", {70}, 2048, kFatChain, true, {70, 71}},
        {"long.bin", {80, 85, 90}, 2048, kFatChain, true, {80, 81}},
        {"outside.bin", {100, 450}, 2048, kFatChain, true, {100, 101}},
    };
    std::size_t slot = 1;
    std::uint32_t rootCluster = 2;
    std::uint8_t seed = 1;
    std::map<std::string, std::vector<std::uint8_t>> want;
    for (const File& f : files) {
        for (std::size_t k = 0; k + 1 < f.chain.size(); ++k) img.setFat(f.chain[k], f.chain[k + 1]);
        if (f.chain.back() != f.chain.front()) img.setFat(f.chain.back(), 0xFFFFFFFF);
        // Every cluster that may be read gets its own bytes; the live files' are allocated.
        for (std::uint32_t c : f.expected) img.fill({c}, pattern(1024, static_cast<std::uint8_t>(seed + c)));
        if (!f.deleted)
            for (std::uint32_t c : f.chain) img.markAllocated(c);
        const auto set = ExfatImage::entrySet(name16(f.name), 0x20, f.chain.front(), f.size, f.flags, f.deleted);
        if (rootCluster == 2 && slot + set.size() / 32 > 32) { // the root goes on in cluster 5
            img.setFat(2, 5);
            img.setFat(5, 0xFFFFFFFF);
            img.markAllocated(5);
            rootCluster = 5;
            slot = 0;
        }
        img.put(rootCluster, slot, set);
        slot += set.size() / 32;
    }
    for (const File& f : files) {
        std::vector<std::uint8_t> bytes;
        for (std::uint32_t c : f.expected) {
            const auto piece = pattern(1024, static_cast<std::uint8_t>(seed + c));
            bytes.insert(bytes.end(), piece.begin(), piece.end());
        }
        bytes.resize(static_cast<std::size_t>(f.size));
        want[f.name] = bytes;
    }
    auto s = scanFatBytes(img.bytes(), "FAT64");
    ASSERT_FALSE(s->outcome.rejected);
    for (const File& f : files) {
        ASSERT_TRUE(s->paths.count(std::string("/") + f.name)) << f.name;
        EXPECT_EQ(s->content(s->paths.at(std::string("/") + f.name)), want[f.name]) << f.name;
    }
    // How intact each is, by the bitmap: the share of the clusters read that no live file holds.
    const std::map<std::string, double> shares{{"live.bin", 1.0},      {"frag.bin", 1.0},    {"taken.bin", 1.0},
                                               {"firsttaken.bin", 0.5}, {"loop.bin", 1.0},    {"nochain.bin", 1.0},
                                               {"outside.bin", 1.0}};
    for (const auto& [name, share] : shares) {
        const auto got = s->view().recoverableShare(s->paths.at("/" + name));
        ASSERT_TRUE(got.has_value()) << name;
        EXPECT_DOUBLE_EQ(*got, share) << name;
    }
}

TEST(ExfatScan, WithoutAnAllocationBitmapDeletedFilesAreContiguousAndTheirShareUnknown) {
    ExfatImage img(100);
    img.setFat(10, 12);
    img.setFat(12, 0xFFFFFFFF);
    img.fill({10, 11, 12}, pattern(1536, 3));
    img.put(2, 0, ExfatImage::entrySet(u"gone.bin", 0x20, 10, 1024, kFatChain, true));
    auto s = scanFatBytes(img.bytes(), "FAT64");
    const EntryRef gone = s->paths.at("/gone.bin");
    const auto bytes = pattern(1536, 3);
    EXPECT_EQ(s->content(gone), std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 1024));
    EXPECT_FALSE(s->view().recoverableShare(gone).has_value());
}

TEST(ExfatScan, ContiguousFileReadInPiecesNotOneBuffer) {
    // 3 MiB in 4 KiB clusters: the sink gets pieces of at most 1 MiB.
    ExfatImage img(1000, 3);
    img.put(2, 0, ExfatImage::entrySet(u"big.bin", 0x20, 10, 3u << 20, kNoFatChain));
    auto s = scanFatBytes(img.bytes(), "FAT64");
    std::size_t pieces = 0, largest = 0, total = 0;
    s->view().writeContent(s->paths.at("/big.bin"), [&](std::span<const std::uint8_t> d) {
        ++pieces;
        largest = std::max(largest, d.size());
        total += d.size();
        return true;
    });
    EXPECT_EQ(total, 3u << 20);
    EXPECT_LE(largest, 1u << 20);
    EXPECT_GE(pieces, 3u);
}

TEST(ExfatScan, HostileShiftsNameRunsAndLoops) {
    ExfatImage img(64);
    img.bytes()[0x6D] = 40; // a cluster shift above 31
    auto shifted = scanFatBytes(img.bytes(), "FAT64");
    EXPECT_TRUE(shifted->outcome.rejected);
    EXPECT_EQ(shifted->messages.texts(), (std::vector<std::string>{"Selected Drive is not in exFat Format"}));

    ExfatImage names(64);
    // A File entry followed by 255 name slots (more than one cluster's worth).
    std::u16string longName(255 * 15, u'n');
    names.setFat(2, 3);
    names.setFat(3, 4);
    names.setFat(4, 2); // and the root chain loops
    std::vector<std::uint8_t> set = ExfatImage::entrySet(longName, 0x20, 0, 0, kNoFatChain);
    set.resize(16 * 3 * 32);
    names.put(2, 0, set);
    names.put(5, 0, ExfatImage::entrySet(u"loop", 0x10, 5, 512, kFatChain)); // a folder holding itself
    names.setFat(5, 5);
    std::vector<std::uint8_t> inRoot = ExfatImage::entrySet(u"self", 0x10, 5, 512, kFatChain);
    names.put(4, 13, inRoot);
    auto s = scanFatBytes(names.bytes(), "FAT64");
    ASSERT_FALSE(s->outcome.rejected);
    EXPECT_TRUE(s->paths.count("/self/loop"));
    for (const auto& [path, ref] : s->paths) EXPECT_LE(path.size(), 32u * 15 * 3 + 16) << "name kept bounded";
}
