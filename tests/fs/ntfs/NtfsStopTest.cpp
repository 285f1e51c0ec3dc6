// Stop pressed after the MFT's last run was read, before its records are parsed: the parse
// reads nothing more, in the Standard mode and in the Advanced rebuild from a candidate.
#include <gtest/gtest.h>

#include <algorithm>

#include "NtfsTestSupport.h"
#include "fs/ntfs/NtfsVolumeParser.h"
#include "support/StopAtScan.h"
#include "support/TestSupport.h"

namespace vindaru::test {
namespace {

std::unique_ptr<StoppedScan> scanNtfs(const std::filesystem::path& image, int mode,
                                      std::optional<std::size_t> pressAt = {}) {
    auto reader = std::make_shared<ReadsAsEvents<FileDiskReader>>();
    if (!reader->open(image.string())) return nullptr;
    AdvancedChoice choice;
    choice.sectorsPerCluster = 8;
    return scanStoppingAt(createNtfsParser, reader, VolumeRecord{"NTFS", "0", "16", 0}, mode,
                          StopAt{{}, pressAt}, choice);
}

TEST(NtfsStop, AStopAfterTheMftIsReadEndsTheParseOfItsRecords) {
    const auto image = unpackedCorpusImage("generated/ntfs.img.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    for (const int mode : {kScanModeStandard, kScanModeAdvanced}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const auto clean = scanNtfs(*image, mode);
        ASSERT_TRUE(clean);
        ASSERT_GT(clean->topLevel().size(), 5u);
        const auto& events = clean->sink.events;
        const auto lastRun = std::find_if(events.rbegin(), events.rend(), [](const std::string& e) {
            return e.ends_with(" cluster of MFT run.");
        });
        ASSERT_NE(lastRun, events.rend());
        const auto parse = firstEventFrom(events, "status parsing MFT entry ", events.rend() - lastRun);
        ASSERT_TRUE(parse.has_value());
        const auto lastRead = lastEventBefore(events, "read ", *parse);
        ASSERT_TRUE(lastRead && *lastRead >= static_cast<std::size_t>(events.rend() - lastRun))
            << "the MFT's last run is read after its status";

        const auto stopped = scanNtfs(*image, mode, *lastRead);
        EXPECT_EQ(stopped->sink.countAfterPress("status parsing MFT entry "), 0u) << "the parse did not begin";
        EXPECT_EQ(stopped->outcome.endMessages, clean->outcome.endMessages);
    }
}

} // namespace
} // namespace vindaru::test
