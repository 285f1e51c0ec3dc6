// The Advanced mode of FAT16, FAT32 and exFAT: the search for FAT (and heap) starts and the
// rebuild from the user's choice, on real volumes whose boot sectors were zeroed and on small
// volumes built for the rebuild's own rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "fs/fat/FatImageBuilder.h"
#include "fs/fat/FatTestSupport.h"
#include "fs/parser/VolumeParser.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

constexpr const char* kOrphan = "/ORPHAN ENTRY";

bool has(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

std::vector<std::uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void zero(std::vector<std::uint8_t>& bytes, std::uint64_t sector, std::uint64_t count = 1) {
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(sector * 512), count * 512, 0);
}

// What a listing shows of its live files and folders outside "ORPHAN ENTRY": path → size and md5.
std::map<std::string, std::string> liveListing(FatScan& scan) {
    std::map<std::string, std::string> out;
    for (const auto& [path, ref] : scan.paths) {
        if (path.starts_with(kOrphan) || scan.view().isDeleted(ref)) continue;
        out[path] = scan.view().isDirectory(ref)
                        ? "dir"
                        : std::to_string(scan.view().byteSize(ref)) + " " + scan.md5(ref);
    }
    return out;
}

// "MM/DD/YYYY  hh:mm AM" naming a day and minute that exist.
bool possibleTimeText(const std::string& text) {
    unsigned month = 0, day = 0, year = 0, hour = 0, minute = 0;
    if (std::sscanf(text.c_str(), "%u/%u/%u %u:%u", &month, &day, &year, &hour, &minute) != 5)
        return false;
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 12 && minute < 60;
}

struct CorpusCase {
    const char* image;
    const char* type;
    const char* clusterText;                // the volume's own cluster size as the lists give it
    std::vector<std::uint64_t> bootSectors; // the boot sector and its backups
};

class FatAdvancedCorpus : public ::testing::TestWithParam<CorpusCase> {};

// The same volume, intact in the Standard mode and with its boot sectors zeroed in the Advanced
// mode: the search finds its FAT (and heap), and the rebuild with the right cluster size lists
// every live file at its path with its content. With the boot sector intact the Advanced mode
// lists what the Standard mode lists, and offers the boot sector's cluster size first.
TEST_P(FatAdvancedCorpus, RebuildListsTheLiveFilesOfTheStandardScan) {
    const CorpusCase& c = GetParam();
    const auto image = unpackedCorpusImage(c.image);
    if (!image) GTEST_SKIP() << "corpus image " << c.image << " is absent";
    const std::vector<std::uint8_t> intact = readAll(*image);
    auto standard = scanFatBytes(intact, c.type);
    ASSERT_FALSE(standard->outcome.rejected);
    const auto expected = liveListing(*standard);
    ASSERT_GT(expected.size(), 5u);

    AdvancedRun withBoot = advancedWith(c.clusterText);
    auto same = rebuildFatBytes(intact, c.type, withBoot);
    ASSERT_FALSE(withBoot.lists.candidates.empty());
    EXPECT_EQ(withBoot.lists.clusters.front(), c.clusterText);
    EXPECT_EQ(liveListing(*same), expected);
    EXPECT_EQ(same->outcome.endMessages, std::vector<std::string>{"Scanning process completed..."});

    std::vector<std::uint8_t> damaged = intact;
    for (const std::uint64_t sector : c.bootSectors)
        zero(damaged, sector);
    AdvancedRun run = advancedWith(c.clusterText);
    auto rebuilt = rebuildFatBytes(damaged, c.type, run);
    ASSERT_FALSE(run.lists.candidates.empty());
    EXPECT_EQ(run.lists.clusters.size() + 1, withBoot.lists.clusters.size())
        << "no boot sector: the page's own list";
    EXPECT_EQ(liveListing(*rebuilt), expected);
    // The placeholder that gathers orphans is there, marked as made up.
    ASSERT_TRUE(rebuilt->paths.count(kOrphan));
    const EntryRef orphans = rebuilt->paths.at(kOrphan);
    EXPECT_TRUE(rebuilt->view().isPlaceholder(orphans));
    // Its times are a found entry's, never the bytes of a long name.
    const std::string written = rebuilt->view().describe(orphans).modification;
    EXPECT_TRUE(possibleTimeText(written)) << written;
}

INSTANTIATE_TEST_SUITE_P(
    Images, FatAdvancedCorpus,
    ::testing::Values(CorpusCase{"generated/fat16.img.zst", "FAT16", "4", {0}},
                      CorpusCase{"generated/fat32.img.zst", "FAT32", "1", {0, 6}},
                      // exFAT's whole main and backup boot regions.
                      CorpusCase{"generated/exfat.img.zst", "FAT64", "3", {0,  1,  2,  3,  4,  5,
                                                                           6,  7,  8,  9,  10, 11,
                                                                           12, 13, 14, 15, 16, 17,
                                                                           18, 19, 20, 21, 22, 23}},
                      CorpusCase{"external/dfirntfs-fat16.raw.gz", "FAT16", "4", {0}},
                      // Windows-made, 512-byte clusters, a label entry with no name.
                      CorpusCase{"external/dfirntfs-exfat_win.raw.gz",
                                 "FAT64",
                                 "0",
                                 {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                  12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23}}));

// Only the boot sector is lost: FAT32 and exFAT take their backup's geometry, so the boot
// sector's cluster size is offered first and exFAT's heap candidate 0 is the backup's heap.
TEST(FatAdvanced, BackupBootSectorStandsInForALostOne) {
    for (const auto& [name, type, own] : {std::tuple{"generated/fat32.img.zst", "FAT32", "1"},
                                          std::tuple{"generated/exfat.img.zst", "FAT64", "3"}}) {
        const auto image = unpackedCorpusImage(name);
        if (!image) GTEST_SKIP() << "corpus image " << name << " is absent";
        std::vector<std::uint8_t> bytes = readAll(*image);
        zero(bytes, 0);
        AdvancedRun run = advancedWith(own);
        auto rebuilt = rebuildFatBytes(bytes, type, run);
        EXPECT_EQ(run.lists.clusters.front(), own) << name;
        EXPECT_GT(rebuilt->paths.size(), 20u) << name;
    }
}

// FAT16: one reserved sector, so the FAT starts at the volume's sector 1.
FatImage smallFat16() {
    FatImage img(16, 2000, 4);
    img.putRoot(0, shortSlot("LABEL      ", 0x08, 0, 0));
    return img;
}

TEST(FatAdvanced, SearchFindsFatStartsByTheirFirstBytes) {
    FatImage fat16 = smallFat16();
    // Two more FAT16 starts further on, and a FAT32 start, which the FAT16 pattern leaves.
    const std::vector<std::uint8_t> fat16Start{0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const std::vector<std::uint8_t> fat32Start{0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
    fat16.putInCluster(10, 0, fat32Start);
    fat16.putInCluster(20, 0, fat16Start);
    fat16.putInCluster(30, 0, fat16Start);
    fat16.putInCluster(40, 0, fat16Start);
    {
        AdvancedRun run = advancedWith("4");
        run.limit = 3;
        auto s = rebuildFatBytes(fat16.bytes(), "FAT16", run);
        EXPECT_EQ(run.lists.candidates,
                  (std::vector<std::string>{"FAT_ENTRY:0", "FAT_ENTRY:1", "FAT_ENTRY:2"}));
        EXPECT_EQ(run.lists.countMessage,
                  "Number of FAT-ENTRY found = 3 . Please select the choice from combo "
                  "box and click Parse button to proceed.");
        EXPECT_EQ(run.lists.candidateItemsLabel, "Total fat16 Entries Found:");
        EXPECT_TRUE(has(s->status.texts, "found fat entry  3 "));
    }
    {
        // The FAT32 pattern finds only the FAT32 start (mkfs-style, upper bits of entry 1 clear).
        AdvancedRun run = advancedWith("4");
        auto s = rebuildFatBytes(fat16.bytes(), "FAT32", run);
        EXPECT_EQ(run.lists.candidates, std::vector<std::string>{"FAT32_ENTRY:0"});
    }
    {
        // No FAT32 start at all.
        AdvancedRun run = advancedWith("4");
        auto s = rebuildFatBytes(smallFat16().bytes(), "FAT32", run);
        EXPECT_TRUE(run.lists.candidates.empty());
        EXPECT_EQ(run.lists.countMessage, "NO FAT  FAT32-ENTRY found ..");
        EXPECT_TRUE(s->paths.empty());
    }
}

TEST(FatAdvanced, ExfatSearchKeepsOneHeapCandidateMoreThanAskedFor) {
    ExfatImage img(4000, 0);
    const std::vector<std::uint8_t> ff(8, 0xFF);
    for (std::uint32_t c = 10; c < 20; ++c)
        img.put(c, 0, ff);
    const std::vector<std::uint8_t> fatStart{0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    for (std::uint32_t c = 30; c < 35; ++c)
        img.put(c, 0, fatStart);
    AdvancedRun run = advancedWith("0");
    run.limit = 3;
    auto s = rebuildFatBytes(img.bytes(), "FAT64", run);
    EXPECT_EQ(run.lists.candidates,
              (std::vector<std::string>{"FAT64_ENTRY:0", "FAT64_ENTRY:1", "FAT64_ENTRY:2"}));
    EXPECT_EQ(run.lists.heaps,
              (std::vector<std::string>{"HEAP_OFFSET_ENTRY:0", "HEAP_OFFSET_ENTRY:1",
                                        "HEAP_OFFSET_ENTRY:2", "HEAP_OFFSET_ENTRY:3"}));
    EXPECT_TRUE(run.lists.heapListShown);
    // The boot sector passed: its shift first, then the page's shifts.
    EXPECT_EQ(run.lists.clusters, (std::vector<std::string>{"0", "8", "9", "10", "11"}));
    EXPECT_EQ(run.lists.countMessage,
              "Number of FAT64-ENTRY found = 3 and Number of HeapOffset-ENTRY found =  4  . "
              "Please select the choice from ( Entry and Heap ) Combobox and click Parse "
              "button to proceed.");
}

// A FAT16 volume without its boot sector. Root: a folder and a file. Cluster 5 holds the
// folder; cluster 9 is a directory cluster no folder points to (its files are orphans); the
// root area past its first cluster of slots is still the root.
struct OrphanVolume {
    FatImage img = smallFat16();
    OrphanVolume() {
        img.putRoot(1, shortSlot("DOCS       ", 0x10, 5, 0));
        img.putRoot(2, shortSlot("TOP     TXT", 0x20, 6, 5));
        img.putRoot(100, shortSlot("LATE    TXT", 0x20, 7, 4)); // past the first 2 KiB of slots
        img.chain({5});
        img.chain({6});
        img.chain({7});
        img.dotEntries(5, 0);
        img.putInCluster(5, 2, shortSlot("INNER   TXT", 0x20, 8, 3));
        img.chain({8});
        img.putInCluster(9, 0, shortSlot("LOST    TXT", 0x20, 10, 4));
        auto named = longNameSlots(u"A long lost name.txt");
        auto shortPart = shortSlot("ALONGL~1TXT", 0x20, 11, 2);
        named.insert(named.end(), shortPart.begin(), shortPart.end());
        img.putInCluster(9, 1, named);
        img.chain({10});
        img.chain({11});
        std::fill_n(img.bytes().begin() + static_cast<std::ptrdiff_t>(img.clusterOffset(6)), 5,
                    'a');
        std::fill_n(img.bytes().begin() + static_cast<std::ptrdiff_t>(img.clusterOffset(10)), 4,
                    'l');
        zero(img.bytes(), 0);
    }
};

TEST(FatAdvanced, EntriesNoDirectoryReachesAreOrphansAndTheRestKeepTheirPlaces) {
    OrphanVolume v;
    AdvancedRun run = advancedWith("4");
    auto s = rebuildFatBytes(v.img.bytes(), "FAT16", run);
    ASSERT_EQ(run.lists.clusters.front(), "4"); // no boot sector: the page's list as it is
    for (const char* path :
         {"/DOCS", "/DOCS/INNER.TXT", "/TOP.TXT", "/LATE.TXT", "/ORPHAN ENTRY/LOST.TXT",
          "/ORPHAN ENTRY/A long lost name.txt", "/ORPHAN ENTRY/ALONGL~1.TXT"})
        EXPECT_TRUE(s->paths.count(path)) << path;
    // Each entry once: INNER.TXT is not an orphan as well, though the scan found it too.
    EXPECT_EQ(s->paths.size(), 8u);
    EXPECT_EQ(s->content(s->paths.at("/TOP.TXT")), std::vector<std::uint8_t>(5, 'a'));
    EXPECT_EQ(s->content(s->paths.at("/ORPHAN ENTRY/LOST.TXT")), std::vector<std::uint8_t>(4, 'l'));
    EXPECT_TRUE(has(s->status.texts, "Maintaining directory Structure in AdvanceScanning"));
    EXPECT_TRUE(has(s->status.texts, "Maintaining Tree Structure for Tree Control"));
    EXPECT_EQ(s->topLevelLabels().front(), "ORPHAN ENTRY");
}

TEST(FatAdvanced, FoundFolderIsParsedToItsSecondClusterOnlyAndDatesMustBeValid) {
    OrphanVolume v;
    // An orphan folder of three clusters (its parent is lost), and a deleted folder whose slot
    // carries day 0, which the scan passes over.
    v.img.putInCluster(9, 10, shortSlot("BIG        ", 0x10, 20, 0));
    v.img.chain({20, 21, 22});
    v.img.dotEntries(20, 0);
    v.img.putInCluster(20, 2, shortSlot("ONE     TXT", 0x20, 0, 0));
    v.img.putInCluster(21, 0, shortSlot("TWO     TXT", 0x20, 0, 0));
    v.img.putInCluster(22, 0, shortSlot("THREE   TXT", 0x20, 0, 0));
    auto badDate = shortSlot("\xE5"
                             "ADDATE    ",
                             0x10, 30, 0);
    badDate[24] = 0; // write date: day 0, month 0
    badDate[25] = 0;
    v.img.putInCluster(9, 11, badDate);
    AdvancedRun run = advancedWith("4");
    auto s = rebuildFatBytes(v.img.bytes(), "FAT16", run);
    EXPECT_TRUE(s->paths.count("/ORPHAN ENTRY/BIG/ONE.TXT"));
    EXPECT_TRUE(s->paths.count("/ORPHAN ENTRY/BIG/TWO.TXT"));
    EXPECT_FALSE(s->paths.count("/ORPHAN ENTRY/BIG/THREE.TXT"));
    EXPECT_TRUE(s->paths.count("/ORPHAN ENTRY/THREE.TXT")); // found by the scan on its own
    for (const auto& [path, ref] : s->paths)
        EXPECT_EQ(path.find("ADDATE"), std::string::npos) << path;
}

// A FAT32 slot as the scan takes it: creation tenths set, as every formatter's driver writes.
std::vector<std::uint8_t> fat32Slot(const std::string& name11, std::uint8_t attribute,
                                    std::uint32_t cluster, std::uint32_t size) {
    auto s = shortSlot(name11, attribute, cluster, size);
    s[13] = 1;
    return s;
}

// A folder of 512-byte clusters filled to its last cluster with empty files; returns how many.
std::size_t fillFolder(FatImage& img, std::uint32_t first, std::uint32_t clusters,
                       std::uint32_t parent, const std::string& prefix) {
    std::vector<std::uint32_t> chain(clusters);
    for (std::uint32_t i = 0; i < clusters; ++i)
        chain[i] = first + i;
    img.chain(chain);
    img.dotEntries(first, parent);
    std::size_t files = 0;
    for (std::uint32_t c : chain)
        for (std::size_t slot = c == first ? 2 : 0; slot < 16; ++slot) {
            char name[12];
            std::snprintf(name, sizeof name, "%s%04zu   TXT", prefix.c_str(), files++);
            img.putInCluster(c, slot, shortSlot(name, 0x20, 0, 0));
        }
    return files;
}

// FAT32 folders are read to the end of their chains: a subdirectory the root walk enters and a
// folder found on its own, each of 25 clusters (about 400 files at 512-byte clusters).
TEST(FatAdvanced, Fat32FoldersAreReadToTheEndOfTheirChains) {
    FatImage img(32, 4000, 1);
    img.putRoot(0, fat32Slot("BIG        ", 0x10, 10, 0));
    const std::size_t big = fillFolder(img, 10, 25, 0, "B");
    // LOST's parent is gone: only the entry scan finds its slot.
    img.chain({3000});
    img.dotEntries(3000, 0);
    img.putInCluster(3000, 2, fat32Slot("LOST       ", 0x10, 100, 0));
    const std::size_t lost = fillFolder(img, 100, 25, 3000, "L");
    zero(img.bytes(), 0);
    AdvancedRun run = advancedWith("1");
    auto s = rebuildFatBytes(img.bytes(), "FAT32", run);
    ASSERT_EQ(run.lists.candidates.front(), "FAT32_ENTRY:0");
    std::size_t inBig = 0, inLost = 0;
    for (const auto& [path, ref] : s->paths) {
        inBig += path.starts_with("/BIG/B");
        inLost += path.starts_with("/ORPHAN ENTRY/LOST/L");
    }
    EXPECT_EQ(inBig, big);
    EXPECT_EQ(inLost, lost);
    char last[16];
    std::snprintf(last, sizeof last, "B%04zu.TXT", big - 1);
    EXPECT_TRUE(s->paths.count(std::string("/BIG/") + last)) << last;
}

TEST(FatAdvanced, HostileVolumesAndChoicesEndWithoutHarm) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> noise(3u << 20);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(random());
    // FAT starts in the noise, and one in the volume's last sector.
    const std::vector<std::uint8_t> start{0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF};
    for (std::size_t at : {std::size_t{4096}, noise.size() - 512})
        std::copy(start.begin(), start.end(), noise.begin() + static_cast<std::ptrdiff_t>(at));
    for (const char* type : {"FAT16", "FAT32", "FAT64"})
        for (const char* cluster : {"3", "8", "128", "0", "junk"})
            for (std::uint64_t candidate :
                 {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{99}}) {
                AdvancedRun run = advancedWith(cluster, candidate, candidate);
                auto s = rebuildFatBytes(noise, type, run);
                EXPECT_FALSE(s->outcome.rejected);
                EXPECT_LT(s->paths.size(), 100000u) << type;
            }
    // The rebuild of the FAT found in the last sector, over clusters that do not divide the volume.
    std::vector<std::uint8_t> odd(1000 * 512 + 300, 0);
    std::copy(start.begin(), start.end(), odd.end() - 512 - 300);
    AdvancedRun run = advancedWith("64");
    auto s = rebuildFatBytes(odd, "FAT32", run);
    EXPECT_EQ(run.lists.candidates.size(), 1u);
}

TEST(FatAdvanced, ExfatRebuildNeedsBothAFatAndAHeap) {
    ExfatImage img(2000, 0);
    img.put(2, 0, ExfatImage::entrySet(u"kept.txt", 0x20, 5, 10, 3));
    img.setFat(5, 0xFFFFFFFF);
    // The heap's first bytes (the allocation bitmap's, in use).
    std::vector<std::uint8_t> bytes = img.bytes();
    AdvancedRun run = advancedWith("0");
    auto none = rebuildFatBytes(bytes, "FAT64", run);
    EXPECT_TRUE(run.lists.heaps.empty());
    EXPECT_TRUE(none->paths.empty());
    EXPECT_EQ(none->outcome.endMessages, std::vector<std::string>{"Scanning process completed..."});
}

} // namespace

namespace {

// A status line whose first text of the entry scan presses Stop.
struct StopAtScan : StatusSink {
    EngineControl* control = nullptr;
    void setText(const std::string& text) override {
        if (control && text.starts_with("currently at sector")) control->requestStop();
    }
};

TEST(FatAdvanced, StopDuringTheEntryScanStillBuildsWhatWasFound) {
    OrphanVolume v;
    MemoryReader reader(v.img.bytes());
    StopAtScan status;
    NullProgressSink progress;
    NullMessageSink messages;
    auto parser = createFat16Parser(ParserSetup{reader, VolumeRecord{"FAT16", "0", "0", 0},
                                                ScanSinks{&status, &progress, &messages}, false});
    parser->advanced()->searchCandidates(3);
    status.control = &parser->control();
    CheckTree tree;
    ScanRequest request;
    request.mode = kScanModeAdvanced;
    request.tree = &tree;
    request.volumeItem = tree.insertItem("ROOT", IconKind::Folder);
    request.choice.sectorsPerCluster = 4;
    parser->scan(request);
    std::vector<std::string> top;
    for (TreeItemId item : tree.children(request.volumeItem))
        top.push_back(tree.label(item));
    // The root is walked after the scan stopped.
    EXPECT_TRUE(has(top, "DOCS"));
    EXPECT_TRUE(has(top, "TOP.TXT"));
    EXPECT_FALSE(parser->control().stopRequested.load());
}

// The command line types a cluster size: a list item's text, or a plain number the file system
// takes beyond the list (FAT: powers of two up to 128 sectors; exFAT: shifts up to 11, the unit
// its list shows). Any other spelling is refused, never read as a number it resembles.
TEST(FatAdvanced, TypedClusterSizesAreListItemsOrPlainNumbersTheFileSystemTakes) {
    NullStatusSink status;
    NullProgressSink progress;
    NullMessageSink messages;
    const auto searched = [&](ParserFactory create, const std::vector<std::uint8_t>& bytes, const char* type) {
        auto reader = std::make_shared<MemoryReader>(bytes);
        auto parser = create(ParserSetup{*reader, VolumeRecord{type, "0", "0", 0},
                                         ScanSinks{&status, &progress, &messages}, false});
        parser->advanced()->searchCandidates(3);
        return std::pair{reader, parser};
    };
    OrphanVolume v;
    const auto fatSearched = searched(createFat16Parser, v.img.bytes(), "FAT16");
    const auto& fat = fatSearched.second; // the lambdas below take it by name
    const AdvancedLists fatLists = fat->advanced()->lists();
    const auto typedFat = [&](const std::string& text) { return typedClusterChoice(*fat->advanced(), fatLists, text); };
    ASSERT_EQ(fatLists.clusters.size(), fatLists.clusterSectors.size());
    for (std::size_t i = 0; i < fatLists.clusters.size(); ++i)
        EXPECT_EQ(typedFat(fatLists.clusters[i]), fatLists.clusterSectors[i]) << fatLists.clusters[i];
    EXPECT_EQ(typedFat("1"), 1u); // beyond the list
    EXPECT_EQ(typedFat("128"), 128u);
    for (const char* refused : {"3", "256", "0", "07", "+8", "8 ", "", "x", "99999999999999999999999"})
        EXPECT_FALSE(typedFat(refused)) << refused;

    ExfatImage img(2000, 0);
    const auto exfatSearched = searched(createExFatParser, img.bytes(), "FAT64");
    const auto& exfat = exfatSearched.second;
    const AdvancedLists exfatLists = exfat->advanced()->lists();
    const auto typedExfat = [&](const std::string& text) {
        return typedClusterChoice(*exfat->advanced(), exfatLists, text);
    };
    // The boot sector's own shift first (512-byte clusters), then the page's.
    EXPECT_EQ(exfatLists.clusters, (std::vector<std::string>{"0", "8", "9", "10", "11"}));
    EXPECT_EQ(exfatLists.clusterSectors, (std::vector<std::uint64_t>{1, 256, 512, 1024, 2048}));
    EXPECT_EQ(typedExfat("3"), 8u);
    EXPECT_EQ(typedExfat("11"), 2048u);
    EXPECT_FALSE(typedExfat("12"));
    EXPECT_FALSE(typedExfat("03"));
}

} // namespace
