// Stop pressed between two steps of the FAT-family Advanced mode: after the entry scan's last
// piece the rebuild builds nothing more (the scan clears the flag as it ends so that a scan that
// was stopped is still built, but a later Stop is the user's), and after exFAT's FAT search its
// heap search finds nothing.
#include <gtest/gtest.h>

#include "fs/fat/FatParsers.h"
#include "fs/fat/FatTestSupport.h"
#include "support/StopAtScan.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

struct StopCase {
    const char* image;
    const char* type;
    ParserFactory create;
    std::uint64_t sectorsPerCluster; // exFAT lists 8 as its shift, "3"
    const char* buildingStatus; // the first report after the entry scan
};

class FatAdvancedStop : public ::testing::TestWithParam<StopCase> {};

std::unique_ptr<StoppedScan> rebuild(const StopCase& c, const fs::path& image, StopAt at = {}) {
    auto reader = std::make_shared<FileDiskReader>();
    if (!reader->open(image.string())) return nullptr;
    AdvancedChoice choice;
    choice.sectorsPerCluster = c.sectorsPerCluster;
    return scanStoppingAt(c.create, reader, VolumeRecord{c.type, "0", "0", 0}, kScanModeAdvanced, at, choice);
}

TEST_P(FatAdvancedStop, AStopAfterTheEntryScansLastPieceEndsTheRebuild) {
    const StopCase& c = GetParam();
    const auto image = unpackedCorpusImage(c.image);
    if (!image) GTEST_SKIP() << "corpus image " << c.image << " is absent";
    const auto clean = rebuild(c, *image);
    ASSERT_TRUE(clean);
    ASSERT_FALSE(clean->topLevel("ORPHAN ENTRY").empty());
    const auto building = firstEventFrom(clean->sink.events, std::string("status ") + c.buildingStatus);
    ASSERT_TRUE(building.has_value() && *building > 0);

    const auto stopped = rebuild(c, *image, StopAt{{}, *building - 1});
    EXPECT_TRUE(stopped->topLevel("ORPHAN ENTRY").empty());
    EXPECT_EQ(stopped->outcome.endMessages, clean->outcome.endMessages);
}

INSTANTIATE_TEST_SUITE_P(
    Images, FatAdvancedStop,
    ::testing::Values(StopCase{"generated/fat16.img.zst", "FAT16", createFat16Parser, 4,
                               "Maintaining directory Structure in AdvanceScanning"},
                      StopCase{"generated/fat32.img.zst", "FAT32", createFat32Parser, 1,
                               "Maintaining directory Structure in AdvanceScanning"},
                      StopCase{"generated/exfat.img.zst", "FAT64", createExFatParser, 8,
                               "Maintaining TreeStructure for Tree Control"}));

TEST(FatAdvancedStop, AStopAfterExfatsFatSearchEndsItsHeapSearch) {
    const StopCase c{"generated/exfat.img.zst", "FAT64", createExFatParser, 8, ""};
    const auto image = unpackedCorpusImage(c.image);
    if (!image) GTEST_SKIP() << "corpus image " << c.image << " is absent";
    const auto clean = rebuild(c, *image);
    ASSERT_TRUE(clean && clean->lists);
    ASSERT_FALSE(clean->lists->candidates.empty());
    ASSERT_FALSE(clean->lists->heaps.empty());
    // The FAT search reports last; the heap search reports nothing.
    const auto stopped = rebuild(c, *image, StopAt{clean->searchEvents.size() - 1, {}});
    EXPECT_EQ(stopped->lists->candidates, clean->lists->candidates);
    EXPECT_TRUE(stopped->lists->heaps.empty());
}

} // namespace
