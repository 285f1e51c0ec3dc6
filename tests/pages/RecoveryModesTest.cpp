// The recovery mode page and the advance options page without windows, and the scan page in the
// Advanced and Deep modes, on the corpus NTFS volume held in memory.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/Session.h"
#include "fs/ntfs/NtfsEntryView.h"
#include "fs/ntfs/ntfs.h"
#include "image/MemoryReader.h"
#include "pages/AdvanceOptionsLogic.h"
#include "pages/RecoveryModeLogic.h"
#include "pages/VolumeScanLogic.h"
#include "support/TestSupport.h"

using namespace vindaru;

namespace {

using Mode = RecoveryModeLogic::Mode;

// The NTFS parser behind the scan page's interface, for checks of its state.
ntfs& ntfsOf(VolumeScanLogic& logic) {
    return dynamic_cast<NtfsEntryView&>(logic.parser()->view()).parser();
}

std::string offered(const std::string& type) {
    RecoveryModeLogic page(VolumeRecord{type, "0", "16", 0});
    std::string out;
    if (page.offers(Mode::Standard)) out += "S";
    if (page.offers(Mode::Advanced)) out += "A";
    if (page.offers(Mode::Deep)) out += "D";
    return out;
}

struct Sinks {
    RecordingStatusSink status;
    RecordingStatusSink second;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
};

std::optional<std::vector<std::uint8_t>> corpusNtfs() {
    const auto path = test::unpackedCorpusImage("generated/ntfs.img.zst");
    if (!path) return std::nullopt;
    return test::readFile(*path);
}

// The advance options page on an NTFS volume, prepared for its search.
struct NtfsAdvancePage {
    explicit NtfsAdvancePage(std::vector<std::uint8_t> image) : reader(std::move(image)) {}
    MemoryReader reader;
    Sinks s;
    AdvanceOptionsLogic page{&reader, VolumeRecord{"NTFS", "0", "16", 0}, 0,
                             AdvanceSinks{s.status, s.progress, s.messages}};
};

// The scan page in Advanced mode, taking the advance options page's parser and choices.
struct AdvancedScanPage {
    explicit AdvancedScanPage(NtfsAdvancePage& from)
        : logic(&from.reader, VolumeRecord{"NTFS", "0", "16", 0}, tree,
                BrowserSinks{scan.status, scan.second, scan.progress, scan.messages}, kScanModeAdvanced) {
        logic.takeAdvancedParser(from.page.sharedParser(), from.page.choice());
    }
    std::vector<std::string> firstLevel() {
        std::vector<std::string> labels;
        for (TreeItemId item : tree.children(logic.volumeItem())) labels.push_back(tree.label(item));
        return labels;
    }
    Sinks scan;
    CheckTree tree;
    VolumeScanLogic logic;
};

} // namespace

TEST(RecoveryModeLogic, OffersTheModesByTheTypesFirstThreeLetters) {
    EXPECT_EQ(offered("NTFS"), "SAD");
    EXPECT_EQ(offered("  ntfs"), "SAD"); // leading white space is trimmed first
    EXPECT_EQ(offered("FAT32"), "SA");
    EXPECT_EQ(offered("fat64"), "SA");
    EXPECT_EQ(offered("exFat"), "SA");
    EXPECT_EQ(offered("extX"), "S");
    EXPECT_EQ(offered("HFS+"), "SD");
    EXPECT_EQ(offered("RAW"), "SAD");
    EXPECT_EQ(RecoveryModeLogic(VolumeRecord{" \tFAT16", "0", "1", 0}).typePrefix(), "FAT");
}

TEST(RecoveryModeLogic, EveryChoiceClearsDriveFormattedAndNextFollowsTheMode) {
    Session session;
    RecoveryModeLogic page(VolumeRecord{"FAT32", "0", "16", 0}, &session);
    EXPECT_EQ(page.mode(), Mode::Standard); // chosen when the page opens
    EXPECT_FALSE(page.advancedInputsVisible());
    page.chooseMode(Mode::Advanced);
    EXPECT_TRUE(page.advancedInputsVisible());
    EXPECT_TRUE(page.driveFormattedVisible());
    page.setDriveFormatted(true);
    EXPECT_TRUE(session.driveFormatted);
    page.chooseMode(Mode::Standard);
    EXPECT_FALSE(page.driveFormatted());
    EXPECT_FALSE(session.driveFormatted);
    EXPECT_EQ(page.next(), RecoveryModeLogic::NextPage::VolumeScan);
    page.chooseMode(Mode::Deep); // not offered for FAT: its radio button is hidden
    EXPECT_EQ(page.mode(), Mode::Standard);
    page.chooseMode(Mode::Advanced);
    EXPECT_EQ(page.next(), RecoveryModeLogic::NextPage::AdvanceOptions);

    RecoveryModeLogic ntfsPage(VolumeRecord{"NTFS", "0", "16", 0});
    ntfsPage.chooseMode(Mode::Advanced);
    EXPECT_FALSE(ntfsPage.driveFormattedVisible()); // the box is for FAT volumes only
    ntfsPage.chooseMode(Mode::Deep);
    EXPECT_EQ(ntfsPage.scanMode(), 3);
    EXPECT_EQ(ntfsPage.next(), RecoveryModeLogic::NextPage::VolumeScan);
}

TEST(RecoveryModeLogic, TheTypedCountIsThreeWhenEmptyOrNotAboveZero) {
    EXPECT_EQ(candidateLimitFromText(""), 3u);
    EXPECT_EQ(candidateLimitFromText("0"), 3u);
    EXPECT_EQ(candidateLimitFromText("-4"), 3u);
    EXPECT_EQ(candidateLimitFromText("many"), 3u);
    EXPECT_EQ(candidateLimitFromText("5"), 5u);
    EXPECT_EQ(candidateLimitFromText(" 7 files"), 7u);
    EXPECT_EQ(candidateLimitFromText("99999999999999999999"), 4294967295u);
    Sinks s;
    AdvanceOptionsLogic page(nullptr, VolumeRecord{"NTFS", "0", "1", 0}, 0,
                             AdvanceSinks{s.status, s.progress, s.messages});
    EXPECT_EQ(page.candidateLimit(), 3u);
}

TEST(AdvanceOptionsLogic, WithoutAReaderOrForOtherTypesNoSearchStarts) {
    Sinks s;
    AdvanceOptionsLogic noReader(nullptr, VolumeRecord{"NTFS", "0", "16", 0}, 3,
                                 AdvanceSinks{s.status, s.progress, s.messages});
    EXPECT_EQ(noReader.prepare(), AdvanceOptionsLogic::Prepared::NoReader);
    ASSERT_EQ(s.messages.messages.size(), 1u);
    EXPECT_EQ(s.messages.messages[0].text,
              "Please Restart the program to rebegin necessary initialisation...");
    EXPECT_FALSE(s.messages.messages[0].withCaption);
    MemoryReader reader(std::vector<std::uint8_t>(4096, 0));
    AdvanceOptionsLogic ext(&reader, VolumeRecord{"extX", "0", "16", 0}, 3,
                            AdvanceSinks{s.status, s.progress, s.messages});
    EXPECT_EQ(ext.prepare(), AdvanceOptionsLogic::Prepared::NotOffered);
}

TEST(AdvanceOptionsLogic, SearchesFillsTheListsAndHandsItsParserToTheScanPage) {
    auto image = corpusNtfs();
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    NtfsAdvancePage advance(std::move(*image));
    AdvanceOptionsLogic& page = advance.page;
    Sinks& s = advance.s;
    ASSERT_EQ(page.prepare(), AdvanceOptionsLogic::Prepared::Ready);
    EXPECT_TRUE(page.listsVisible());
    EXPECT_FALSE(page.nextEnabled());
    bool finished = false;
    page.onSearchFinished = [&] { finished = true; };
    page.runSearch();
    EXPECT_TRUE(finished);
    EXPECT_EQ(page.candidateItems(), std::vector<std::string>{"MFT_ENTRY:0"});
    EXPECT_EQ(page.clusterItems(), (std::vector<std::string>{"8", "4", "2", "16", "32", "64"}));
    EXPECT_EQ(page.candidateSelection(), 0);
    EXPECT_EQ(page.clusterSelection(), 0);
    EXPECT_TRUE(page.nextAllowed());
    EXPECT_TRUE(page.nextEnabled());
    EXPECT_FALSE(page.threadButtonsVisible());
    EXPECT_EQ(s.messages.texts(),
              std::vector<std::string>{"Number of MFT-ENTRY found = 1 . Please select the choice "
                                       "from combo box and click Parse button to proceed."});
    EXPECT_EQ(s.status.snapshot().front(), "ntfs partition selected....");
    EXPECT_EQ(s.status.snapshot().back(), "Parsing done.Click next to continue.");

    // The scan page in Advanced mode: the same parser, the page's choices, two end messages.
    page.selectCluster(1); // "4": 2 KiB clusters would misread this volume...
    page.selectCluster(0); // ...so the user goes back to "8"
    AdvancedScanPage scanPage(advance);
    VolumeScanLogic& logic = scanPage.logic;
    Sinks& scan = scanPage.scan;
    CheckTree& tree = scanPage.tree;
    ASSERT_EQ(logic.prepare(), VolumeScanLogic::Prepared::Ready);
    EXPECT_EQ(logic.parser(), page.parser());
    logic.run();
    EXPECT_EQ(scan.messages.texts(), (std::vector<std::string>{"Scanning process completed."}));
    EXPECT_EQ(scan.status.snapshot().back(), "Processing done...");
    EXPECT_EQ(ntfsOf(logic).clusterSize, 4096u);
    const std::vector<std::string> firstLevel = scanPage.firstLevel();
    EXPECT_NE(std::find(firstLevel.begin(), firstLevel.end(), "Compressed"), firstLevel.end());
    EXPECT_EQ(firstLevel.back(), "ORPHAN_ENTRY");
    EXPECT_EQ(tree.children(kTreeTop).size(), 1u); // the volume item was inserted afresh
}

// The scan page's rebuild is a run of its own: a Stop pressed for the candidate search just as
// it ended (after the search last looked) does not end the rebuild the user then starts.
TEST(AdvanceOptionsLogic, AStopMeantForTheSearchDoesNotEndTheRebuild) {
    auto image = corpusNtfs();
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    NtfsAdvancePage advance(std::move(*image));
    ASSERT_EQ(advance.page.prepare(), AdvanceOptionsLogic::Prepared::Ready);
    advance.page.runSearch();
    advance.page.stop();
    AdvancedScanPage scanPage(advance);
    ASSERT_EQ(scanPage.logic.prepare(), VolumeScanLogic::Prepared::Ready);
    scanPage.logic.run();
    const std::vector<std::string> firstLevel = scanPage.firstLevel();
    EXPECT_NE(std::find(firstLevel.begin(), firstLevel.end(), "Compressed"), firstLevel.end());
}

TEST(AdvanceOptionsLogic, NoCandidateLeavesTheListEmptyAndNextDoesNothing) {
    auto image = corpusNtfs();
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    std::fill_n(image->begin(), 512, 0);
    std::fill_n(image->begin() + 4 * 4096, 4096, 0);
    MemoryReader reader(*image);
    Sinks s;
    AdvanceOptionsLogic page(&reader, VolumeRecord{"NTFS", "0", "16", 0}, 3,
                             AdvanceSinks{s.status, s.progress, s.messages});
    ASSERT_EQ(page.prepare(), AdvanceOptionsLogic::Prepared::Ready);
    page.runSearch();
    EXPECT_TRUE(page.candidateItems().empty());
    EXPECT_FALSE(page.nextAllowed());
    EXPECT_EQ(s.messages.texts().back(),
              "Number of MFT-ENTRY found = 0 . Please select the choice from combo box "
              "and click Parse button to proceed.");
}

TEST(VolumeScanLogic, DeepModeRebuildsTheFirstLevelWithOrphanEntryLast) {
    auto image = corpusNtfs();
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    const auto firstLevelOf = [&](std::vector<std::uint8_t> bytes, int mode, Sinks& s) {
        MemoryReader reader(std::move(bytes));
        CheckTree tree;
        VolumeScanLogic logic(&reader, VolumeRecord{"NTFS", "0", "16", 0}, tree,
                              BrowserSinks{s.status, s.second, s.progress, s.messages}, mode);
        EXPECT_EQ(logic.prepare(), VolumeScanLogic::Prepared::Ready);
        logic.run();
        std::vector<std::string> labels;
        for (TreeItemId item : tree.children(logic.volumeItem())) labels.push_back(tree.label(item));
        const ntfs& parser = ntfsOf(logic);
        EXPECT_EQ(tree.getItemData(logic.volumeItem()), parser.rootIndex);
        return labels;
    };
    Sinks standardSinks;
    const auto standard = firstLevelOf(*image, kScanModeStandard, standardSinks);
    std::fill_n(image->begin(), 512, 0);
    Sinks s;
    const auto deep = firstLevelOf(*image, kScanModeDeep, s);
    const auto texts = s.status.snapshot();
    EXPECT_NE(std::find(texts.begin(), texts.end(), " scanning for mft entries in deep mode ...."),
              texts.end());
    ASSERT_GT(standard.size(), 5u);
    // The Standard mode lists $MFT (record 0) through an entry standing for it; the Deep mode
    // keeps the MFT's own record out of the tree.
    std::vector<std::string> standardWithoutMft = standard;
    std::erase(standardWithoutMft, "$MFT");
    EXPECT_EQ(standardWithoutMft.size() + 1, standard.size());
    EXPECT_EQ(deep, standardWithoutMft);
    EXPECT_EQ(deep.back(), "ORPHAN_ENTRY");
    EXPECT_EQ(s.messages.texts(), std::vector<std::string>{"Scanning process completed..."});
}

// An exFAT volume whose boot sector is lost, through both pages: no typed number searches for
// three FAT candidates and four heap candidates; the command line's shifts beyond the list are
// taken; the scan page rebuilds with the page's parser and choice.
TEST(AdvanceOptionsLogic, ExfatWithoutItsBootSectorIsRebuiltFromTheChosenFatAndHeap) {
    const auto path = test::unpackedCorpusImage("generated/exfat.img.zst");
    if (!path) GTEST_SKIP() << "corpus image generated/exfat.img.zst (or zstd) absent";
    std::vector<std::uint8_t> bytes = test::readFile(*path);
    std::fill_n(bytes.begin(), 512, 0);
    MemoryReader reader(bytes);
    Sinks s;
    const VolumeRecord volume{"exFat", "0", "16", 0};
    AdvanceOptionsLogic page(&reader, volume, 0, AdvanceSinks{s.status, s.progress, s.messages});
    ASSERT_EQ(page.prepare(), AdvanceOptionsLogic::Prepared::Ready);
    page.runSearch();
    EXPECT_GE(page.candidateItems().size(), 1u);
    EXPECT_LE(page.candidateItems().size(), 3u);
    EXPECT_LE(page.heapItems().size(), 4u);
    ASSERT_FALSE(page.heapItems().empty());
    EXPECT_TRUE(page.heapListVisible());
    EXPECT_EQ(page.candidateItemsLabel(), "Total fat64 Entries Found:");
    // The backup boot sector passed: its shift (4 KiB clusters) first.
    EXPECT_EQ(page.clusterItems(), (std::vector<std::string>{"3", "8", "9", "10", "11"}));
    EXPECT_EQ(s.status.snapshot().front(), "Finding Fat64 entries....");
    EXPECT_EQ(s.status.snapshot().back(), "Parsing done.Click Next to continue.");
    ASSERT_EQ(s.messages.texts().size(), 1u);
    EXPECT_TRUE(s.messages.texts()[0].starts_with("Number of FAT64-ENTRY found = "));
    // The list shows shifts: the command line's "2", beyond it, is clusters of 4 sectors.
    EXPECT_FALSE(page.search().clusterSectorsFor("12"));
    EXPECT_EQ(page.search().clusterSectorsFor("2"), 4u);
    EXPECT_EQ(page.search().clusterSectorsFor("3"), 8u);
    EXPECT_EQ(page.clusterSelection(), 0);
    EXPECT_EQ(page.choice().sectorsPerCluster, 8u);

    Sinks scan;
    CheckTree tree;
    VolumeScanLogic logic(&reader, volume, tree, BrowserSinks{scan.status, scan.second, scan.progress, scan.messages},
                          kScanModeAdvanced);
    logic.takeAdvancedParser(page.sharedParser(), page.choice());
    ASSERT_EQ(logic.prepare(), VolumeScanLogic::Prepared::Ready);
    logic.run();
    EXPECT_EQ(scan.messages.texts(), std::vector<std::string>{"Scanning process completed..."});
    EXPECT_EQ(scan.status.snapshot().back(), "Processing done...");
    std::vector<std::string> firstLevel;
    for (TreeItemId item : tree.children(logic.volumeItem())) firstLevel.push_back(tree.label(item));
    EXPECT_EQ(firstLevel.front(), "ORPHAN ENTRY");
    EXPECT_NE(std::find(firstLevel.begin(), firstLevel.end(), "Docs-Onyx"), firstLevel.end());
}
