// Volumes whose boot sectors lie about their size: every whole-volume sweep ends at the disk's
// real end, so a claim of 2^64 sectors costs no more than the disk itself.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/CliRunner.h"

using namespace vindaru::test;

namespace {

constexpr std::size_t kNtfsTotalSectors = 0x28;

} // namespace

TEST(HostileVolume, DeepScanOfAVolumeClaimingTwoToTheSixtyFourSectorsEndsAtTheDisksEnd) {
    const auto ntfs = unpackedCorpusImage("generated/ntfs.img.zst");
    if (!ntfs) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    std::vector<std::uint8_t> image = readFile(*ntfs);
    ASSERT_GE(image.size(), 512u);
    std::fill_n(image.begin() + kNtfsTotalSectors, 8, 0xFF);
    ScratchDir dir;
    writeFile(dir / "huge.img", image);

    // The test's own time-out is the check: before the sweep knew the disk's end, this ran for
    // many minutes over zeros the flat reader invented past the file.
    const auto deep = runCli({"ls", (dir / "huge.img").string(), "--extent", "FLAT", "--start", "0",
                              "--type", "NTFS", "--mode", "deep", "-r"});
    EXPECT_EQ(deep.exitCode, 0) << deep.err;
    EXPECT_NE(deep.out.find("ORPHAN_ENTRY"), std::string::npos);

    // The candidate search and the corrupt-boot scan sweep the same way.
    const auto candidates = runCli({"candidates", (dir / "huge.img").string(), "--extent", "FLAT",
                                    "--start", "0", "--type", "NTFS", "--max", "3"});
    EXPECT_NE(candidates.exitCode, 2) << candidates.err;
    std::fill_n(image.begin() + 3, 4, 0); // no "NTFS" signature: the MFT is searched for
    writeFile(dir / "unsigned.img", image);
    const auto standard = runCli({"ls", (dir / "unsigned.img").string(), "--extent", "FLAT",
                                  "--start", "0", "--type", "NTFS", "-r"});
    EXPECT_EQ(standard.exitCode, 0) << standard.err;
}
