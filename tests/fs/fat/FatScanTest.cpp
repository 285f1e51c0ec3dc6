// The FAT16 and FAT32 walks on volumes built byte by byte: names, the root and its chain,
// long directory chains, loops, deleted files, hostile fields and the formatted-drive mode.
#include <gtest/gtest.h>

#include <algorithm>

#include "fs/fat/FatDirectoryParser.h"
#include "fs/fat/FatImageBuilder.h"
#include "fs/fat/FatTestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

constexpr std::uint32_t kFat16Clusters = 4200; // above the FAT12 limit

std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 512);
    return v;
}

void putBytes(std::vector<std::uint8_t>& image, std::uint64_t at, const std::vector<std::uint8_t>& data) {
    std::copy(data.begin(), data.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

bool has(const FatScan& s, const std::string& path) { return s.paths.count(path) != 0; }

} // namespace

TEST(FatNames, ShortNamesCaseFlagsAndTheDeletedMarker) {
    auto slot = [](const std::string& n, std::uint8_t flags = 0) {
        const auto v = shortSlot(n, 0x20, 0, 0, flags);
        FatSlot s;
        std::copy(v.begin(), v.end(), s.begin());
        return s;
    };
    EXPECT_EQ(fatShortName(slot("README  TXT")), "README.TXT");
    EXPECT_EQ(fatShortName(slot("README     ")), "README");
    EXPECT_EQ(fatShortName(slot("FILE1   DAT", 0x18)), "file1.dat");
    EXPECT_EQ(fatShortName(slot("FILE1   DAT", 0x10)), "FILE1.dat");
    EXPECT_EQ(fatShortName(slot("\xE5" "ILE5   DAT")), "\xEF\xBF\xA5" "ILE5.DAT"); // U+FFE5
    EXPECT_EQ(fatShortName(slot("\x05" "BC     TXT")), "\xC3\xA5" "BC.TXT");     // 0x05 stands for 0xE5
    EXPECT_EQ(fatShortName(slot("CAF\xC9    TXT")), "CAF\xC3\x89.TXT");         // Windows-1252
}

TEST(FatScan, Fat16TreeWithLongNamesDeletedEntriesAndHiddenPlaceholders) {
    FatImage img(16, kFat16Clusters, 1, "MSWIN4.1");
    const auto body = pattern(1300, 3);
    img.putRoot(0, shortSlot("VOLNAME    ", 0x08, 0, 0));
    img.putRoot(1, longNameSlots(u"A folder with a long name"));
    img.putRoot(3, shortSlot("AFOLDE~1   ", 0x10, 3, 0));
    img.putRoot(4, shortSlot("READ    TXT", 0x21, 4, 1300)); // read-only archive: still listed
    img.putRoot(6, shortSlot("\xE5" "ONE    TXT", 0x20, 7, 600));  // deleted, after a free slot
    img.dotEntries(3, 0);
    img.putInCluster(3, 2, longNameSlots(u"inner.bin"));
    img.putInCluster(3, 3, shortSlot("INNER   BIN", 0x20, 9, 512));
    img.chain({3});
    img.chain({4, 5, 6});
    img.chain({9});
    putBytes(img.bytes(), img.clusterOffset(4), body);
    putBytes(img.bytes(), img.clusterOffset(7), pattern(600, 9));
    auto s = scanFatBytes(img.bytes(), "FAT16");
    ASSERT_FALSE(s->outcome.rejected);
    EXPECT_EQ(s->view().fileSystemType(), "fat16");
    // The first level: the placeholder and the volume label are not shown.
    EXPECT_EQ(s->topLevelLabels(), (std::vector<std::string>{"A folder with a long name", "READ.TXT", "\xEF\xBF\xA5ONE.TXT"}));
    ASSERT_TRUE(has(*s, "/A folder with a long name/inner.bin"));
    EXPECT_EQ(s->content(s->paths.at("/READ.TXT")), body);
    const EntryRef deleted = s->paths.at("/\xEF\xBF\xA5ONE.TXT");
    EXPECT_TRUE(s->view().isDeleted(deleted));
    EXPECT_EQ(s->content(deleted), pattern(600, 9)); // free clusters after the first
    EXPECT_EQ(s->outcome.endMessages, (std::vector<std::string>{"done..."}));
    EXPECT_EQ(s->outcome.recycle, RecycleLayout::None);
    const auto texts = s->view().describe(s->paths.at("/READ.TXT"));
    EXPECT_EQ(texts.creation, "03/07/2024  12:00 AM");
    EXPECT_EQ(texts.access, "03/08/2024 ");
    EXPECT_EQ(texts.modification, "03/09/2024  03:30 PM");
    EXPECT_EQ(texts.attributes, "-R-A");
    EXPECT_EQ(s->view().sizeText(s->paths.at("/READ.TXT")), "1.27 KB");
    const auto statuses = s->status.snapshot();
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Finding Fat16 File And Directory entries recursively...."), statuses.end());
    EXPECT_EQ(statuses.back(), "Tree Structure Created.");
}

TEST(FatScan, LongNamesOfMoreThanTenSlotsAcrossClusters) {
    // A 200-character name takes 16 slots: with the label first, its run goes from the root's
    // first cluster into its second.
    FatImage img(32, 64);
    std::u16string longName;
    for (int i = 0; i < 200; ++i) longName.push_back(static_cast<char16_t>(u'a' + i % 26));
    img.chain({2, 3});
    std::vector<std::uint8_t> slots = shortSlot("VOL        ", 0x08, 0, 0);
    const auto run = longNameSlots(longName);
    slots.insert(slots.end(), run.begin(), run.end());
    const auto last = shortSlot("AAAAAA~1   ", 0x20, 0, 0);
    slots.insert(slots.end(), last.begin(), last.end());
    img.putInCluster(2, 0, {slots.begin(), slots.begin() + 512});
    img.putInCluster(3, 0, {slots.begin() + 512, slots.end()});
    auto s = scanFatBytes(img.bytes(), "FAT32");
    ASSERT_FALSE(s->outcome.rejected);
    EXPECT_TRUE(has(*s, "/" + std::string(longName.begin(), longName.end())));
    EXPECT_EQ(s->paths.size(), 1u);
}

TEST(FatScan, Fat32RootFollowsTheBootSectorsRootClusterChain) {
    // FAT[1] = 0x0FFFFFFF as mkfs.fat writes it; the root spans clusters 2 and 5; a file
    // in clusters 3 and 4 is not taken for directory content.
    FatImage img(32, 64);
    img.chain({2, 5});
    img.chain({3, 4});
    for (std::size_t i = 0; i < 16; ++i)
        img.putRoot(i, shortSlot("F" + std::to_string(100 + i) + "     TXT", 0x20, 0, 0));
    img.putInCluster(5, 0, shortSlot("LAST    TXT", 0x20, 3, 700));
    putBytes(img.bytes(), img.clusterOffset(3), pattern(512, 1));
    putBytes(img.bytes(), img.clusterOffset(4), std::vector<std::uint8_t>(512, 0xE5)); // would read as deleted slots
    auto s = scanFatBytes(img.bytes(), "FAT32");
    ASSERT_FALSE(s->outcome.rejected);
    EXPECT_EQ(s->paths.size(), 17u);
    ASSERT_TRUE(has(*s, "/LAST.TXT"));
    EXPECT_EQ(s->content(s->paths.at("/LAST.TXT")).size(), 700u);
    EXPECT_EQ(s->outcome.recycle, RecycleLayout::Flat);
}

TEST(FatScan, Fat32DirectoryChainsAreFollowedToTheirEnd) {
    // A folder inside a folder, 30 clusters long (16 slots each): every file is listed.
    FatImage img(32, 128);
    img.putRoot(0, shortSlot("OUTER      ", 0x10, 3, 0));
    img.dotEntries(3, 0);
    img.putInCluster(3, 2, shortSlot("INNER      ", 0x10, 10, 0));
    img.chain({3});
    std::vector<std::uint32_t> inner;
    for (std::uint32_t c = 10; c < 40; ++c) inner.push_back(c);
    img.chain(inner);
    img.dotEntries(10, 3);
    int files = 0;
    for (std::uint32_t c : inner)
        for (std::size_t slot = c == 10 ? 2 : 0; slot < 16; ++slot)
            img.putInCluster(c, slot, shortSlot("N" + std::to_string(1000 + files++) + "   TXT", 0x20, 0, 0));
    auto s = scanFatBytes(img.bytes(), "FAT32");
    std::size_t listed = 0;
    for (const auto& [path, ref] : s->paths) listed += path.starts_with("/OUTER/INNER/");
    EXPECT_EQ(listed, static_cast<std::size_t>(files));
}

TEST(FatScan, LoopsAndFoldersThatContainThemselvesEnd) {
    FatImage img(16, kFat16Clusters);
    img.putRoot(0, shortSlot("LOOP       ", 0x10, 3, 0));
    img.putRoot(1, shortSlot("SELF       ", 0x10, 6, 0));
    img.putRoot(2, shortSlot("CYCLE   BIN", 0x20, 8, 0xFFFFFFFF)); // a size of 2^32 - 1 over a looping chain
    img.dotEntries(3, 0);
    img.putInCluster(3, 2, shortSlot("A       TXT", 0x20, 0, 0));
    img.putInCluster(4, 0, shortSlot("B       TXT", 0x20, 0, 0));
    img.setFat(3, 4);
    img.setFat(4, 3); // the directory's chain loops
    img.dotEntries(6, 0);
    img.putInCluster(6, 2, shortSlot("AGAIN      ", 0x10, 6, 0)); // holds itself
    img.putInCluster(6, 3, shortSlot("UP         ", 0x10, 3, 0)); // holds an ancestor's sibling
    img.chain({6});
    img.setFat(8, 9);
    img.setFat(9, 8);
    auto s = scanFatBytes(img.bytes(), "FAT16");
    EXPECT_TRUE(has(*s, "/LOOP/A.TXT"));
    EXPECT_TRUE(has(*s, "/LOOP/B.TXT"));
    EXPECT_TRUE(has(*s, "/SELF/AGAIN"));
    EXPECT_FALSE(s->view().hasChildren(s->paths.at("/SELF/AGAIN")));
    bool whole = true;
    EXPECT_EQ(s->content(s->paths.at("/CYCLE.BIN"), &whole).size(), 1024u);
    EXPECT_FALSE(whole); // less than its size could be read: not reported as success
}

TEST(FatScan, DeletedFileSkipsClustersInUseAndDeletedFoldersDoNotRobLiveOnes) {
    FatImage img(16, kFat16Clusters);
    img.putRoot(0, shortSlot("\xE5" "LD        ", 0x10, 3, 0)); // deleted folder, cluster reused below
    img.putRoot(1, shortSlot("LIVE       ", 0x10, 3, 0x0));
    img.putRoot(2, shortSlot("\xE5" "ONE    BIN", 0x20, 10, 1500));
    img.putRoot(3, shortSlot("OTHER   BIN", 0x20, 11, 512));
    img.dotEntries(3, 0);
    img.putInCluster(3, 2, shortSlot("KEPT    TXT", 0x20, 0, 0));
    img.chain({3});
    img.chain({11}); // in use: the deleted file's data goes on at 12
    const auto data = pattern(1500, 5);
    putBytes(img.bytes(), img.clusterOffset(10), {data.begin(), data.begin() + 512});
    putBytes(img.bytes(), img.clusterOffset(12), {data.begin() + 512, data.end()});
    auto s = scanFatBytes(img.bytes(), "FAT16");
    // One record for the two slots of one cluster, named after the later.
    EXPECT_TRUE(has(*s, "/LIVE/KEPT.TXT"));
    EXPECT_FALSE(s->view().isDeleted(s->paths.at("/LIVE")));
    EXPECT_EQ(s->content(s->paths.at("/\xEF\xBF\xA5ONE.BIN")), data);
    // The clusters read are free: whole. Once a live file's chain takes the first cluster, the
    // FAT leads into that file: none of what is read is the deleted file's any more.
    EXPECT_EQ(s->view().recoverableShare(s->paths.at("/\xEF\xBF\xA5ONE.BIN")), 1.0);
    EXPECT_EQ(s->view().recoverableShare(s->paths.at("/OTHER.BIN")), 1.0);
    EXPECT_FALSE(s->view().recoverableShare(s->paths.at("/LIVE")).has_value());
    img.chain({10, 13, 14});
    auto reused = scanFatBytes(img.bytes(), "FAT16");
    EXPECT_EQ(reused->view().recoverableShare(reused->paths.at("/\xEF\xBF\xA5ONE.BIN")), 0.0);
}

TEST(FatScan, FormattedDriveReadsFirstClustersAndConsecutiveFiles) {
    FatImage img(16, kFat16Clusters);
    img.putRoot(0, shortSlot("DIR        ", 0x10, 3, 0));
    img.putRoot(1, shortSlot("DATA    BIN", 0x20, 20, 1200));
    img.dotEntries(3, 0);
    img.putInCluster(3, 2, shortSlot("FIRST   TXT", 0x20, 0, 0));
    img.putInCluster(4, 0, shortSlot("SECOND  TXT", 0x20, 0, 0));
    img.chain({3, 4});
    img.chain({20, 30, 31}); // ignored: the formatted drive's FAT says nothing
    const auto data = pattern(1200, 8);
    putBytes(img.bytes(), img.clusterOffset(20), data);
    auto normal = scanFatBytes(img.bytes(), "FAT16");
    EXPECT_TRUE(has(*normal, "/DIR/SECOND.TXT"));
    auto formatted = scanFatBytes(img.bytes(), "FAT16", true);
    EXPECT_TRUE(has(*formatted, "/DIR/FIRST.TXT"));
    EXPECT_FALSE(has(*formatted, "/DIR/SECOND.TXT"));
    EXPECT_EQ(formatted->content(formatted->paths.at("/DATA.BIN")), data);
}

TEST(FatScan, BootChecksAndHostileGeometry) {
    // Any valid BPB passes, whatever the OEM name; garbage gets the page's message.
    FatImage img(16, kFat16Clusters, 1, "CAMERA01");
    EXPECT_FALSE(scanFatBytes(img.bytes(), "FAT16")->outcome.rejected);
    auto asFat32 = scanFatBytes(img.bytes(), "FAT32");
    EXPECT_TRUE(asFat32->outcome.rejected);
    EXPECT_EQ(asFat32->messages.texts(), (std::vector<std::string>{"Selected Drive is not in Fat32 Format"}));
    std::vector<std::uint8_t> random(1 << 16);
    for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<std::uint8_t>(i * 131 + (i >> 7));
    auto garbage = scanFatBytes(random, "FAT16");
    EXPECT_EQ(garbage->messages.texts(), (std::vector<std::string>{"Selected Drive is not in Fat16 Format"}));

    // The MSDOS name with a cluster size of 0 is refused rather than divided by.
    FatImage zero(16, kFat16Clusters, 1, "MSDOS5.0");
    zero.bytes()[13] = 0;
    EXPECT_TRUE(scanFatBytes(zero.bytes(), "FAT16")->outcome.rejected);

    // A FAT shorter than the volume's clusters and a root cluster past the volume: the scan
    // ends with what it can reach.
    FatImage shortFat(32, 64);
    shortFat.bytes()[36] = 0; // sectors per FAT 0 (the MSDOS name lets it through)
    std::copy_n("MSDOS5.0", 8, shortFat.bytes().begin() + 3);
    shortFat.putRoot(0, shortSlot("A       TXT", 0x20, 0, 0));
    EXPECT_FALSE(scanFatBytes(shortFat.bytes(), "FAT32")->outcome.rejected);
    FatImage farRoot(32, 64);
    farRoot.bytes()[44] = 0xFF;
    farRoot.bytes()[47] = 0x0F;
    auto far = scanFatBytes(farRoot.bytes(), "FAT32");
    EXPECT_FALSE(far->outcome.rejected);
    EXPECT_FALSE(far->view().rootEntry());
}

TEST(FatScan, Fat12VolumesAreReadWithTwelveBitEntries) {
    // A floppy-sized FAT12 volume: 512-byte clusters, 12-bit chain 2 -> 3 -> 4.
    std::vector<std::uint8_t> v(1440 * 1024, 0);
    const std::uint8_t boot[] = {0xEB, 0x3C, 0x90, 'm', 'k', 'f', 's', '.', 'f', 'a', 't', 0x00, 0x02, 0x01, 0x01, 0x00,
                                 0x02, 0xE0, 0x00, 0x40, 0x0B, 0xF0, 0x09, 0x00};
    std::copy(std::begin(boot), std::end(boot), v.begin());
    v[510] = 0x55;
    v[511] = 0xAA;
    // FAT at sector 1: entries 0..4 = F0 FF FF 03 40 00 FF 0F.
    const std::uint8_t fat[] = {0xF0, 0xFF, 0xFF, 0x03, 0x40, 0x00, 0xFF, 0x0F};
    std::copy(std::begin(fat), std::end(fat), v.begin() + 512);
    const std::uint64_t root = 512 * (1 + 2 * 9);
    const std::uint64_t data = root + 224 * 32;
    const auto slot = shortSlot("DISK    IMG", 0x20, 2, 1400);
    std::copy(slot.begin(), slot.end(), v.begin() + static_cast<std::ptrdiff_t>(root));
    const auto body = pattern(1400, 2);
    std::copy(body.begin(), body.end(), v.begin() + static_cast<std::ptrdiff_t>(data));
    auto s = scanFatBytes(v, "FAT12");
    ASSERT_FALSE(s->outcome.rejected);
    EXPECT_EQ(s->view().fileSystemType(), "fat12");
    EXPECT_EQ(s->content(s->paths.at("/DISK.IMG")), body);
}
