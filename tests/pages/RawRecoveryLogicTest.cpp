#include <gtest/gtest.h>

#include "image/MemoryReader.h"
#include "pages/RawRecoveryLogic.h"
#include "raw/CarveSamples.h"
#include "raw/DefaultSignatures.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

constexpr std::uint64_t MiB = 1u << 20;

struct Page {
    explicit Page(test::Bytes disk, std::uint64_t startSector = 0, std::string sizeText = "4") {
        session.sessionReader = std::make_unique<MemoryReader>(std::move(disk));
        defaultPath = (dir / kDefaultSignatureFileName).string();
        writeDefaultSignatureFile(defaultPath);
        VolumeRecord record{"RAW", "0", sizeText, startSector};
        record.sectorCount = std::stoull(sizeText) * 2048; // the record's whole MB
        logic = std::make_unique<RawRecoveryLogic>(
            session, record, tree,
            RawRecoverySinks{status, progress, messages}, defaultPath);
    }
    bool parse(bool defaults = true, const std::string& path = "") {
        if (logic->prepare(defaults, path) != RawRecoveryLogic::Prepared::Ready) return false;
        logic->carve();
        return true;
    }
    test::ScratchDir dir;
    std::string defaultPath;
    Session session;
    CheckTree tree;
    RecordingStatusSink status;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
    std::unique_ptr<RawRecoveryLogic> logic;
};

TEST(RawRecoveryPage, CarvesTheVolumeFromItsOwnStartAndListsACategory) {
    // The volume starts at sector 2048 of the disk; a JPEG 4096 bytes into it.
    test::Bytes disk(6 * MiB, 0);
    const test::Bytes jpg = test::sampleJpeg(3000, 1);
    std::copy(jpg.begin(), jpg.end(), disk.begin() + MiB + 4096);
    Page page(disk, 2048);
    ASSERT_TRUE(page.parse());
    EXPECT_EQ(page.status.snapshot().back(), "Processing done");
    const auto& finds = page.logic->engine()->foundFiles();
    ASSERT_EQ(finds.size(), 1u);
    EXPECT_EQ(finds[0].start, 4096u);

    const TreeItemId root = page.logic->engine()->rootItem();
    EXPECT_TRUE(page.logic->listFor(root).empty()); // categories are folders
    TreeItemId pictures = kNoTreeItem;
    for (TreeItemId c : page.tree.children(root))
        if (page.tree.label(c) == "Pictures (1)") pictures = c;
    ASSERT_NE(pictures, kNoTreeItem);
    const auto rows = page.logic->listFor(pictures);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].text, "4096 .jpg");
    EXPECT_EQ(rows[0].size, 3000u);
    EXPECT_EQ(rows[0].state, FindState::Whole);
    EXPECT_TRUE(page.logic->listFor(rows[0].item).empty());
}

TEST(RawRecoveryPage, LoadFailuresAndAZeroSizeVolumeEndTheParse) {
    Page page(test::Bytes(MiB, 0), 0, "0");
    EXPECT_EQ(page.logic->prepare(true, ""), RawRecoveryLogic::Prepared::ZeroSize);
    EXPECT_EQ(page.messages.messages.back().text, "zero size volume..");
    EXPECT_FALSE(page.messages.messages.back().withCaption);
    EXPECT_EQ(page.logic->prepare(false, (page.dir / "missing").string()),
              RawRecoveryLogic::Prepared::LoadFailed);
    EXPECT_EQ(page.messages.texts().back(), "Cannot open the selected file");
    test::writeFile(page.dir / "short.txt", test::Bytes(100, 1));
    EXPECT_EQ(page.logic->prepare(false, (page.dir / "short.txt").string()),
              RawRecoveryLogic::Prepared::LoadFailed);
    EXPECT_EQ(page.messages.texts().back(), "Please select a valid file..");
    EXPECT_EQ(page.status.snapshot().back(), "Processing done");

    // A missing default file is skipped without a word.
    std::filesystem::remove(page.defaultPath);
    const std::size_t before = page.messages.messages.size();
    EXPECT_EQ(page.logic->prepare(true, ""), RawRecoveryLogic::Prepared::ZeroSize);
    EXPECT_EQ(page.messages.messages.size(), before + 1); // only "zero size volume.."
}

TEST(RawRecoveryPage, EveryParseAddsARootAndTheDefaultTwiceNeverWinsTwice) {
    test::Bytes disk = test::buildVolume(4, {{"png", 8192, test::samplePng(5000, 3)}});
    Page page(disk);
    ASSERT_TRUE(page.parse(true, page.defaultPath)); // the default set loaded twice
    const auto first = page.logic->engine();
    EXPECT_EQ(first->signatures().size(), 2 * defaultSignatureRecords().size());
    ASSERT_EQ(first->foundFiles().size(), 1u);
    EXPECT_LT(first->foundFiles()[0].rule, defaultSignatureRecords().size());
    ASSERT_TRUE(page.parse());
    EXPECT_NE(page.logic->engine(), first);
    EXPECT_EQ(page.tree.children(kTreeTop).size(), 2u);
}

TEST(RawRecoveryPage, SavedFindsGetUniqueNamesAndNeverOverwrite) {
    test::Bytes disk = test::buildVolume(4, {{"jpg", MiB, test::sampleJpeg(3000, 5)},
                                             {"bmp", 2 * MiB, test::sampleBmp(7000, 6)}});
    Page page(disk);
    ASSERT_TRUE(page.parse());
    EXPECT_TRUE(page.logic->checkedFinds().empty());
    page.tree.setCheck(page.logic->engine()->rootItem(), true);
    const auto finds = page.logic->checkedFinds();
    ASSERT_EQ(finds.size(), 2u);
    EXPECT_EQ(RawRecoveryLogic::bytesOf(finds), 3000u + 7000u);

    const auto out = page.dir / "out";
    std::filesystem::create_directories(out);
    test::writeFile(out / "1048576.jpg", {'k', 'e', 'e', 'p'});
    const auto saved = page.logic->saveChecked(out, finds);
    EXPECT_TRUE(saved.folderOpened);
    EXPECT_EQ(saved.names, (std::vector<std::string>{"1048576 (2).jpg", "2097152.bmp"}));
    EXPECT_EQ(test::readFile(out / "1048576.jpg"), (test::Bytes{'k', 'e', 'e', 'p'}));
    const auto jpg = test::readFile(out / "1048576 (2).jpg");
    EXPECT_EQ(jpg, test::Bytes(disk.begin() + MiB, disk.begin() + MiB + 3000));
    const auto bmp = test::readFile(out / "2097152.bmp");
    EXPECT_EQ(bmp, test::Bytes(disk.begin() + 2 * MiB, disk.begin() + 2 * MiB + 7000));

    // A symlink planted under the next free name is not followed.
    std::filesystem::create_symlink(page.dir / "elsewhere", out / "2097152 (2).bmp");
    const auto again = page.logic->saveChecked(out, finds);
    EXPECT_EQ(again.names, (std::vector<std::string>{"1048576 (3).jpg", "2097152 (3).bmp"}));
    EXPECT_FALSE(std::filesystem::exists(page.dir / "elsewhere"));
}

TEST(RawRecoveryPage, PauseResumeStopTexts) {
    Page page(test::Bytes(MiB, 0));
    page.logic->pause();
    page.logic->resume();
    page.logic->stop();
    EXPECT_EQ(page.status.snapshot(),
              (std::vector<std::string>{"Pause button pressed", "Resume button pressed",
                                        "Stop button pressed.Please wait for the process to stop"}));
    // The next Parse runs although the last one was stopped.
    ASSERT_TRUE(page.parse(false, page.defaultPath));
    EXPECT_EQ(page.progress.positions.back(), 1) << "4 MB asked of a 1 MiB disk: what the disk holds";
}

// The Parse's steps: the page starts the run, the allocation map is read, then the volume is
// carved. A Stop pressed at either boundary ends the carving before its first chunk.
TEST(RawRecoveryPage, AStopBetweenTheParsesStepsEndsTheCarving) {
    test::Bytes disk(4 * MiB, 0);
    const test::Bytes jpg = test::sampleJpeg(3000, 1);
    std::copy(jpg.begin(), jpg.end(), disk.begin() + 4096);
    {
        SCOPED_TRACE("pressed once the run was started, before the worker carves");
        Page page(disk);
        ASSERT_EQ(page.logic->prepare(true, ""), RawRecoveryLogic::Prepared::Ready);
        page.logic->stop();
        page.logic->carve();
        EXPECT_TRUE(page.logic->engine()->foundFiles().empty());
    }
    {
        SCOPED_TRACE("pressed while the allocation map was read");
        Page page(disk);
        page.logic->usedSpace = [&page](const ByteSource&, const VolumeRecord&) {
            page.logic->stop();
            return UsedSpace{UsedRanges{}, {}};
        };
        ASSERT_TRUE(page.parse());
        EXPECT_TRUE(page.logic->engine()->foundFiles().empty());
        SCOPED_TRACE("the next Parse is a new run");
        page.logic->usedSpace = nullptr;
        ASSERT_TRUE(page.parse());
        EXPECT_EQ(page.logic->engine()->foundFiles().size(), 1u);
    }
}

} // namespace
} // namespace vindaru
