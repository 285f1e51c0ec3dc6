// The volume list page's logic: rows, selection, custom ranges, Filter, Add Custom Volume, Next.
#include <gtest/gtest.h>

#include <atomic>

#include "browser/FileSystemDrivers.h"
#include "pages/PopulateDriveLogic.h"
#include "support/TestSupport.h"
#include "volume/SyntheticDisk.h"
#include "volume/VolumeTypeNames.h"

namespace vindaru {
namespace {

using test::SyntheticDisk;

// An MBR disk: NTFS 4 MB at 2048, FAT32 at 12288, an unknown type at 20480, extX at 20481.
SyntheticDisk mbrDisk() {
    SyntheticDisk disk(30000);
    disk.mbrEntry(0, 0, 0x07, 2048, 8192);
    disk.mbrEntry(0, 1, 0x0C, 12288, 8192);
    disk.mbrEntry(0, 2, 0x9F, 20480, 1);
    disk.mbrEntry(0, 3, 0x83, 20481, 4096);
    return disk;
}

struct Page {
    explicit Page(const SyntheticDisk& disk, PopulateDriveLogic::Choices choices = {}) {
        choices.fileSystems = fileSystemDrivers();
        session.replaceReader(std::make_unique<MemoryReader>(disk.bytes));
        logic = std::make_unique<PopulateDriveLogic>(session, std::move(choices), status, progress, messages);
    }
    Session session;
    RecordingStatusSink status;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
    std::unique_ptr<PopulateDriveLogic> logic;
};

std::vector<std::string> rowTexts(const PopulateDriveLogic& logic) {
    std::vector<std::string> out;
    for (const VolumeRow& r : logic.rows()) out.push_back(r.volume + "|" + r.fileSystem + "|" + r.volumeSize + "|" + r.startSector);
    return out;
}

TEST(PopulateDriveLogic, StandardDiscoveryShowsTheTablesInOrder) {
    Page page(mbrDisk());
    page.logic->start();
    EXPECT_EQ(rowTexts(*page.logic), (std::vector<std::string>{"0|NTFS|4   MB|2048", "1|FAT32|4   MB|12288",
                                                               "2|Unknown|0   MB|20480", "3|extX|2   MB|20481"}));
    EXPECT_EQ(page.status.texts.back(), "Select volume and click next button...");
    EXPECT_EQ(page.status.texts[page.status.texts.size() - 2], "Finished Scanning.");
    EXPECT_EQ(page.progress.positions, (std::vector<std::int64_t>{1000}));
    EXPECT_EQ(page.session.diskSectorCount, 30000u);
    const PopulateDriveControls c = page.logic->controls();
    EXPECT_TRUE(c.customCheckEnabled);
    EXPECT_TRUE(c.filterEnabled);
    EXPECT_FALSE(c.addCustomVisible);
    EXPECT_FALSE(c.progressVisible);
    EXPECT_FALSE(c.stopVisible);
}

TEST(PopulateDriveLogic, MissingOrUnopenableReaderIsReported) {
    {
        Session session;
        RecordingStatusSink status;
        RecordingProgressSink progress;
        RecordingMessageSink messages;
        PopulateDriveLogic logic(session, {}, status, progress, messages);
        logic.start();
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].text, "Information lost ..go back and parse again");
        EXPECT_FALSE(messages.messages[0].withCaption);
    }
    struct Unopenable : MemoryReader {
        bool open(const std::string&) override { return false; }
    };
    Page page(mbrDisk());
    page.session.replaceReader(std::make_unique<Unopenable>());
    page.logic->start();
    ASSERT_EQ(page.messages.messages.size(), 1u);
    EXPECT_EQ(page.messages.messages[0].text, "file not opened..");
    EXPECT_EQ(page.messages.messages[0].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(page.logic->rows().empty());
    EXPECT_TRUE(page.logic->controls().filterEnabled);
}

TEST(PopulateDriveLogic, ReaderIsMadeFromTheImageChoicesWhenRecorded) {
    const SyntheticDisk disk = mbrDisk();
    PopulateDriveLogic::Choices choices;
    int made = 0;
    choices.makeReader = [&](Session&) {
        ++made;
        return std::make_unique<MemoryReader>(disk.bytes);
    };
    Page page(SyntheticDisk(10), choices);
    page.session.imageSourcePage = kImageSourceRecorded;
    page.session.diskSectorCount = 10;
    page.logic->start();
    EXPECT_EQ(made, 1);
    EXPECT_EQ(page.session.diskSectorCount, 30000u); // reset before the new reader opened
    EXPECT_EQ(page.logic->rows().size(), 4u);
}

TEST(PopulateDriveLogic, ReaderFromTheFactoryOpensACorpusImage) {
    const auto image = test::corpusFile("generated/tiny-disk-mono-flat.vmdk");
    if (!image) GTEST_SKIP() << "corpus file generated/tiny-disk-mono-flat.vmdk is not available";
    Session session;
    session.imageSourcePage = kImageSourceRecorded;
    RecordingStatusSink status;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
    PopulateDriveLogic::Choices choices;
    choices.imagePath = image->string();
    choices.fileSystems = fileSystemDrivers();
    choices.makeReader = PopulateDriveLogic::Choices::fromImageChoices(ImageChoices{ImageKind::Vmdk, false, true, "FLAT", false, {}});
    PopulateDriveLogic logic(session, choices, status, progress, messages);
    logic.start();
    EXPECT_TRUE(messages.messages.empty());
    EXPECT_EQ(rowTexts(logic), (std::vector<std::string>{"0|FAT16|3   MB|2048", "1|extX|1   MB|10240"}));
}

TEST(PopulateDriveLogic, SelectingARowFillsTheRange) {
    Page page(mbrDisk());
    page.logic->start();
    auto sel = page.logic->selectRow(1);
    ASSERT_TRUE(sel);
    EXPECT_EQ(sel->selectedVolume, "1");
    EXPECT_EQ(sel->startEdit, "12288");
    EXPECT_EQ(sel->endEdit, std::to_string(12288 + 4 * 2048 - 1));
    EXPECT_EQ(page.logic->selectRow(2)->endEdit, "20480") << "one sector: its end from the count, not 0 MB";
    EXPECT_FALSE(page.logic->selectRow(9));
    EXPECT_EQ(page.logic->treatAsForRow(3), 0u); // "extX" → "EXTX"
    EXPECT_EQ(treatAsChoices(fileSystemDrivers())[*page.logic->treatAsForRow(0)], "NTFS");
    EXPECT_FALSE(page.logic->treatAsForRow(2)); // "Unknown"
    EXPECT_EQ(PopulateDriveLogic::stepEdit("41", true), "42");
    EXPECT_EQ(PopulateDriveLogic::stepEdit("0", false), "0");
    EXPECT_EQ(PopulateDriveLogic::stepEdit("7", false), "6");
}

TEST(PopulateDriveLogic, CustomRangeAndTypeShapeTheSelectedRecord) {
    Page page(mbrDisk());
    page.logic->start();
    NextInput in{0, true, "100", std::to_string(100 + 2 * 2048 - 1), "EXTX"};
    NextResult r = page.logic->next(in);
    EXPECT_EQ(r.action, NextAction::RecoveryMode);
    EXPECT_EQ(r.selectedRecord.fileSystemName, "extX");
    EXPECT_EQ(r.selectedRecord.startSector, 100u);
    EXPECT_EQ(r.selectedRecord.sizeText, "2");
    EXPECT_EQ(r.selectedRecord.sectorCount, 2u * 2048) << "the count goes with the range, not only its text";
    in.endEdit = std::to_string(100 + 2 * 2048 - 2);
    EXPECT_EQ(page.logic->next(in).selectedRecord.sizeText, "1");
    in.endEdit = "100";
    EXPECT_EQ(page.logic->next(in).selectedRecord.sizeText, "0");
    in.endEdit = "18446744073709551615";
    in.startEdit = "0";
    EXPECT_EQ(page.logic->next(in).selectedRecord.sizeText, "9007199254740992");

    // Custom settings switched off again: the row's own texts count.
    r = page.logic->next(NextInput{0, false, "", "", "EXTX"});
    EXPECT_EQ(r.selectedRecord.fileSystemName, "NTFS");
    EXPECT_EQ(r.selectedRecord.sizeText, "4");
    EXPECT_EQ(r.selectedRecord.startSector, 2048u);
    EXPECT_EQ(r.selectedRecord.sectorCount, 8192u);
}

TEST(PopulateDriveLogic, NextDecidesWhereToGo) {
    Page page(mbrDisk());
    page.logic->start();
    EXPECT_EQ(page.logic->next(NextInput{}).action, NextAction::Stay);
    EXPECT_EQ(page.messages.texts().back(), "please select a valid volume.");

    // "RAW" counts only with the custom box checked.
    NextResult r = page.logic->next(NextInput{1, false, "", "", "RAW"});
    EXPECT_EQ(r.action, NextAction::RecoveryMode);
    EXPECT_EQ(r.selectedRecord.fileSystemName, "FAT32");
    r = page.logic->next(NextInput{1, true, "12288", "20479", "RAW"});
    EXPECT_EQ(r.action, NextAction::RawRecovery);
    EXPECT_EQ(r.selectedRecord.fileSystemName, "RAW");
    EXPECT_EQ(r.selectedRecord.sizeText, "4");

    EXPECT_EQ(page.logic->next(NextInput{2, false, "", "", ""}).action, NextAction::Stay);
    EXPECT_EQ(page.messages.messages.back().text, "can not parse unknown volume");
    EXPECT_FALSE(page.messages.messages.back().withCaption);
    // Re-typed, the unknown volume goes on.
    EXPECT_EQ(page.logic->next(NextInput{2, true, "20480", "30000", "NTFS"}).selectedRecord.fileSystemName, "ntfs");
}

TEST(PopulateDriveLogic, CustomVolumesKeepEveryRowLinkedToItsRecord) {
    Page page(mbrDisk());
    page.logic->start();
    std::size_t row = 0;
    for (int i = 0; i < 40; ++i) row = page.logic->addCustomVolume(); // grows the list many times
    EXPECT_EQ(row, 43u);
    const auto rows = page.logic->rows();
    EXPECT_EQ(rows[4].volume, "4");
    EXPECT_EQ(rows[4].fileSystem, "CUSTOM ");
    EXPECT_EQ(rows[4].volumeSize, "0");
    EXPECT_TRUE(page.logic->controls().customChecked);
    EXPECT_EQ(page.logic->next(NextInput{3, false, "", "", ""}).selectedRecord.startSector, 20481u);
    const NextResult custom = page.logic->next(NextInput{4, true, "0", "0", ""});
    EXPECT_EQ(custom.action, NextAction::RecoveryMode); // the parsers refuse "CUSTOM " later
    EXPECT_EQ(custom.selectedRecord.fileSystemName, "CUSTOM ");
}

TEST(PopulateDriveLogic, FilterKeepsVolumesStartingOneSectorAfterThePreviousAndIsUndone) {
    Page page(mbrDisk());
    page.logic->start();
    const auto before = rowTexts(*page.logic);
    EXPECT_TRUE(page.logic->filterEntries());
    EXPECT_EQ(rowTexts(*page.logic), (std::vector<std::string>{"3|extX|2   MB|20481"}));
    // The filter can be undone.
    EXPECT_TRUE(page.logic->filtered());
    EXPECT_TRUE(page.logic->showAllEntries());
    EXPECT_EQ(rowTexts(*page.logic), before);
    EXPECT_FALSE(page.logic->showAllEntries());

    // A filter that would keep nothing leaves the list as it was.
    SyntheticDisk apart(100);
    apart.mbrEntry(0, 0, 0x07, 10, 20);
    apart.mbrEntry(0, 1, 0x07, 40, 20);
    Page other(apart);
    other.logic->start();
    EXPECT_FALSE(other.logic->filterEntries());
    EXPECT_EQ(other.logic->rows().size(), 2u);
    EXPECT_FALSE(other.logic->filtered());
}

SyntheticDisk scanDisk() {
    SyntheticDisk disk(12 * 2048);
    disk.ntfsBoot(2048, 2 * 2048 - 1);
    disk.ntfsBoot(2048 + 2 * 2048 - 1, 2 * 2048 - 1);
    disk.exfatBoot(6 * 2048, 2048);
    return disk;
}

TEST(PopulateDriveLogic, AdvancedScanListsNewestFirstAndFinishesThePage) {
    PopulateDriveLogic::Choices choices;
    choices.discoveryMode = DiscoveryMode::Advanced;
    Page page(scanDisk(), choices);
    std::atomic<int> changes{0};
    std::atomic<bool> finished{false};
    page.logic->onRowsChanged = [&] { ++changes; };
    page.logic->onScanFinished = [&] { finished = true; };
    page.logic->start();
    page.logic->finishAdvancedScan();
    EXPECT_TRUE(finished);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(rowTexts(*page.logic), (std::vector<std::string>{"1|FAT64|1  MB|12288", "0|NTFS|1   MB|2048"}));
    EXPECT_EQ(page.messages.texts(), (std::vector<std::string>{"populated partitions...."}));
    EXPECT_EQ(page.status.texts.back(), "Select volume and click next button...");
    const PopulateDriveControls c = page.logic->controls();
    EXPECT_TRUE(c.nextEnabled && c.backEnabled && c.addCustomEnabled && c.customCheckEnabled && c.filterEnabled);

    // A custom volume goes after the rows; Next on a scanned row works on the row's own copy.
    EXPECT_EQ(page.logic->addCustomVolume(), 2u);
    EXPECT_EQ(page.logic->next(NextInput{1, false, "", "", ""}).selectedRecord.startSector, 2048u);
}

TEST(PopulateDriveLogic, AdvancedScanWithoutSkipAndRange) {
    PopulateDriveLogic::Choices choices;
    choices.discoveryMode = DiscoveryMode::Advanced;
    choices.doNotSkipVolumeSize = true;
    choices.customStartSector = 2048;
    choices.customEndSector = 6 * 2048;
    Page page(scanDisk(), choices);
    page.logic->start();
    page.logic->finishAdvancedScan();
    EXPECT_EQ(rowTexts(*page.logic), (std::vector<std::string>{"1|NTFS|1   MB|6143", "0|NTFS|1   MB|2048"}));
}

TEST(PopulateDriveLogic, StopEndsTheScan) {
    PopulateDriveLogic::Choices choices;
    choices.discoveryMode = DiscoveryMode::Advanced;
    Page page(scanDisk(), choices);
    PopulateDriveLogic* logic = page.logic.get();
    page.logic->onRowsChanged = [logic] { logic->stop(); };
    page.logic->start();
    page.logic->finishAdvancedScan();
    EXPECT_EQ(page.logic->rows().size(), 1u);
    EXPECT_TRUE(page.logic->controls().backEnabled);
}

} // namespace
} // namespace vindaru
