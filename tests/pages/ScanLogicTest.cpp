#include <gtest/gtest.h>

#include "image/MemoryReader.h"
#include "pages/VolumeScanLogic.h"

using namespace vindaru;

namespace {

struct Page {
    CheckTree tree;
    RecordingStatusSink status;
    RecordingStatusSink second;
    RecordingProgressSink progress;
    RecordingMessageSink messages;
    MemoryReader reader{std::vector<std::uint8_t>(1 << 20, 0)};

    VolumeScanLogic logic(const std::string& type, bool withReader = true) {
        return VolumeScanLogic(withReader ? &reader : nullptr, VolumeRecord{type, "0", "1", 0},
                               tree, BrowserSinks{status, second, progress, messages});
    }
};

} // namespace

TEST(VolumeScanLogic, RefusesWhatItCannotScanWithThePageTexts) {
    Page p;
    EXPECT_EQ(p.logic("unknown").prepare(), VolumeScanLogic::Prepared::UnknownVolume);
    EXPECT_EQ(p.messages.texts().back(), "unKnown Partition Cant be parsed...");
    auto odd = p.logic("Linux swap");
    EXPECT_EQ(odd.prepare(), VolumeScanLogic::Prepared::NotValid);
    EXPECT_FALSE(odd.busy());
    EXPECT_EQ(p.status.snapshot().back(), "Not a valid Drive .Go back");
    EXPECT_EQ(p.messages.texts().back(), "not a valid drive.");
    EXPECT_EQ(p.logic("NTFS", false).prepare(), VolumeScanLogic::Prepared::NoReader);
    EXPECT_EQ(p.messages.texts().back(),
              "Please Restart the program to rebegin necessary initialisation...");
    // A custom volume typed RAW goes to the raw recovery page, never to a parser.
    EXPECT_EQ(p.logic("RAW").prepare(), VolumeScanLogic::Prepared::NotValid);
    // "fat" is FAT16 and "exFat" exFAT: both have parsers.
    EXPECT_EQ(p.logic("fat").prepare(), VolumeScanLogic::Prepared::Ready);
    EXPECT_EQ(p.logic("exFat").prepare(), VolumeScanLogic::Prepared::Ready);
}

TEST(VolumeScanLogic, AStoppedScanOfAnEmptyVolumeStillEndsAsThePageDoes) {
    Page p;
    auto logic = p.logic("ntfs");
    ASSERT_EQ(logic.prepare(), VolumeScanLogic::Prepared::Ready);
    EXPECT_TRUE(logic.busy());
    logic.requestStop();
    EXPECT_EQ(p.status.snapshot().back(),
              "stop button pressed.Please wait for the process to be stopped.");
    EXPECT_TRUE(logic.saveStopRequested().load());
    logic.run();
    EXPECT_FALSE(logic.busy());
    EXPECT_EQ(p.status.snapshot().back(), "Processing done...");
    EXPECT_EQ(p.messages.texts().back(), "Scanning process completed...");
    ASSERT_NE(logic.volumeItem(), kNoTreeItem);
    EXPECT_EQ(p.tree.label(logic.volumeItem()), "ROOT");
    for (auto item : p.tree.children(logic.volumeItem()))
        EXPECT_TRUE(logic.browser()->selectItem(item).size() <= 1);
}

TEST(VolumeScanLogic, PauseAndResumeReportAndHoldTheGate) {
    Page p;
    auto logic = p.logic("NTFS");
    ASSERT_EQ(logic.prepare(), VolumeScanLogic::Prepared::Ready);
    logic.pause();
    EXPECT_TRUE(logic.control()->pauseGate.paused());
    EXPECT_EQ(p.status.snapshot().back(), "Pause button pressed");
    logic.resume();
    EXPECT_FALSE(logic.control()->pauseGate.paused());
    EXPECT_EQ(p.status.snapshot().back(), "Resume button pressed");
    logic.stopAll();
    EXPECT_EQ(p.status.snapshot().back(), "All thread Stopped");
}
