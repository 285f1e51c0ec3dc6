// Stop pressed between two steps of an ext scan: after the inode tables' last group the folders
// are not walked, and once the folders (the journal's copies included) are walked nothing is
// linked.
#include <gtest/gtest.h>

#include "fs/ext2/Ext2VolumeParser.h"
#include "support/FileDiskReader.h"
#include "support/StopAtScan.h"
#include "support/TestSupport.h"

namespace vindaru::test {
namespace {

std::unique_ptr<StoppedScan> scanExt(const std::filesystem::path& image, std::optional<std::size_t> pressAt = {}) {
    auto reader = std::make_shared<FileDiskReader>();
    if (!reader->open(image.string())) return nullptr;
    return scanStoppingAt(createExt2Parser, reader, VolumeRecord{"extX", "1", "0", 0}, kScanModeStandard,
                          StopAt{{}, pressAt});
}

TEST(Ext2Stop, AStopAfterAStepsLastGroupEndsTheNextStep) {
    for (const char* name : {"generated/ext2.img.zst", "generated/ext4.img.zst"}) {
        SCOPED_TRACE(name);
        const auto image = unpackedCorpusImage(name);
        if (!image) GTEST_SKIP() << "corpus image " << name << " (or zstd) absent";
        const auto clean = scanExt(*image);
        ASSERT_TRUE(clean);
        ASSERT_FALSE(clean->topLevel("ORPHAN_ENTRY").empty());
        const auto& events = clean->sink.events;
        const struct {
            const char* lastOfStep;
            const char* itemOfNextStep;
        } boundaries[] = {{"status parsing group ", "status parsing inode entry "},
                          {"status parsed inode entry ", "status Maintaining Parent Child for record "}};
        for (const auto& b : boundaries) {
            SCOPED_TRACE(b.lastOfStep);
            const auto last = lastEventBefore(events, b.lastOfStep, events.size());
            ASSERT_TRUE(last.has_value());
            ASSERT_TRUE(firstEventFrom(events, b.itemOfNextStep, *last).has_value());
            const auto stopped = scanExt(*image, *last);
            EXPECT_EQ(stopped->sink.countAfterPress(b.itemOfNextStep), 0u);
            EXPECT_TRUE(stopped->topLevel("ORPHAN_ENTRY").empty());
            EXPECT_EQ(stopped->outcome.endMessages, clean->outcome.endMessages);
        }
    }
}

} // namespace
} // namespace vindaru::test
