// Stop pressed between two steps of an HFS+ scan ends the next long step, although each step
// clears the flag as it ends so that a step that was stopped lets the next one go on.
#include <gtest/gtest.h>

#include "HfsImageBuilder.h"
#include "HfsTestSupport.h"
#include "fs/hfsplus/HfsPlusVolumeParser.h"
#include "image/MemoryReader.h"
#include "support/StopAtScan.h"

namespace vindaru::test {
namespace {

struct StopVolume {
    std::vector<std::uint8_t> image;
    StopVolume() {
        HfsImageBuilder builder(4096, 8192, 4096);
        const auto docs = builder.addFolder(2, u"Docs");
        builder.addFile(docs, u"report.txt", patternBytes(10000, 1));
        builder.addFile(2, u"notes.txt", patternBytes(300, 2));
        image = builder.build();
    }
};

std::unique_ptr<StoppedScan> scan(const StopVolume& v, int mode, std::optional<std::size_t> pressAt = {}) {
    const VolumeRecord volume{"HFS+", "1", "1", 0};
    return scanStoppingAt(createHfsPlusParser, std::make_shared<MemoryReader>(v.image), volume, mode,
                          StopAt{{}, pressAt});
}

// The event numbers of the progress ranges, each of which opens a long step.
std::vector<std::size_t> stepStarts(const std::vector<std::string>& events) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < events.size(); ++i)
        if (events[i].starts_with("range ")) starts.push_back(i);
    return starts;
}

// Positions reported by the step that the first range after the press opens.
std::size_t positionsOfNextStep(const StopAtEvent& sink) {
    const std::vector<std::string> after = sink.afterPress();
    const auto open = firstEventFrom(after, "range ");
    if (!open) return 0;
    const std::size_t end = firstEventFrom(after, "range ", *open + 1).value_or(after.size());
    std::size_t n = 0;
    for (std::size_t i = *open + 1; i < end; ++i) n += after[i].starts_with("position ");
    return n;
}

TEST(HfsPlusStop, AStopBetweenStepsOfTheNormalScanEndsTheNextStep) {
    StopVolume v;
    const auto clean = scan(v, kScanModeStandard);
    ASSERT_EQ(clean->topLevel(), (std::vector<std::string>{"Docs", "notes.txt"}));
    const auto starts = stepStarts(clean->sink.events);
    // Extents walk, catalog walk, record reading, linking.
    ASSERT_EQ(starts.size(), 4u);

    {
        SCOPED_TRACE("after the extents file's last node chunk: the catalog walk");
        const auto run = scan(v, kScanModeStandard, starts[1] - 1);
        EXPECT_EQ(positionsOfNextStep(run->sink), 0u);
        EXPECT_TRUE(run->topLevel().empty());
        EXPECT_EQ(run->outcome.endStatus, "Scanning process Done.") << "a stop is not a failure";
    }
    {
        SCOPED_TRACE("after the catalog's last node chunk: the records");
        const auto run = scan(v, kScanModeStandard, starts[2] - 1);
        EXPECT_TRUE(run->topLevel().empty());
    }
    {
        SCOPED_TRACE("after the last link: the tree's first level");
        const auto lastLink = lastEventBefore(clean->sink.events, "position ", clean->sink.events.size());
        ASSERT_TRUE(lastLink.has_value());
        ASSERT_GT(*lastLink, starts[3]);
        const auto run = scan(v, kScanModeStandard, *lastLink);
        EXPECT_EQ(run->sink.countAfterPress("status found "), 0u);
        EXPECT_TRUE(run->topLevel().empty());
    }
}

TEST(HfsPlusStop, AStopAfterTheDeepSweepEndsTheExtentsWalk) {
    StopVolume v;
    const auto clean = scan(v, kScanModeDeep);
    const auto starts = stepStarts(clean->sink.events);
    // Sweep, extents walk, record reading, linking.
    ASSERT_GE(starts.size(), 3u);
    ASSERT_TRUE(clean->sink.events[starts[1] - 1].starts_with("position ")) << "the sweep's last piece";
    const auto run = scan(v, kScanModeDeep, starts[1] - 1);
    EXPECT_EQ(positionsOfNextStep(run->sink), 0u) << "the extents walk read no node";
    // The walk took the stop: the records the sweep found are still read and shown.
    EXPECT_EQ(run->topLevel(), clean->topLevel());

    SCOPED_TRACE("after the extents walk's last node chunk: the records");
    const auto afterWalk = scan(v, kScanModeDeep, starts[2] - 1);
    EXPECT_TRUE(afterWalk->topLevel().empty());
}

} // namespace
} // namespace vindaru::test
