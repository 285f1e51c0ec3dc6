// vindaru-cli on the project's own sample image (always present, unlike the shared corpus).
#include <gtest/gtest.h>

#include "cli/CliRunner.h"

namespace vindaru::test {
namespace {

const fs::path kSample = fs::path(VINDARU_SOURCE_DIR) / "samples" / "sample-disk.vmdk";
constexpr std::uint64_t kSampleSectors = 16384; // an 8 MiB disk

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(CliSample, InfoShowsTheFileInformationAndTheDiskSize) {
    const auto before = fingerprint(kSample);
    auto text = runCli({"info", kSample.string()});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    for (const char* line : {"Kind: vmdk (monolithicSparse)", "File Format Version: 1\n",
                             "Sector Per Track: 63\n", "Head: 16\n", "Cylindar: 16\n",
                             "Size of HDD: 8 MB\n", "Disk size: 16384 sectors (8388608 bytes"})
        EXPECT_TRUE(mentions(text.out, line)) << line << "\n" << text.out;

    auto json = runCli({"info", kSample.string(), "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_TRUE(mentions(json.out, "\"kind\": \"vmdk\"")) << json.out;
    EXPECT_TRUE(mentions(json.out, "\"formatVersion\": \"1\",")) << json.out;
    EXPECT_TRUE(mentions(json.out, "\"diskSectors\": 16384,")) << json.out;

    // The typed "Size of HDD" replaces the size the descriptor gives.
    auto sized = runCli({"info", kSample.string(), "--json", "--disk-mb", "4"});
    ASSERT_EQ(sized.exitCode, 0) << sized.err;
    EXPECT_TRUE(mentions(sized.out, "\"diskSectors\": 8192,")) << sized.out;
    EXPECT_EQ(fingerprint(kSample), before);
}

TEST(CliSample, ExportAndCatAgree) {
    const auto before = fingerprint(kSample);
    ScratchDir dir;
    auto exported = runCli({"export", kSample.string(), dir.path().string()});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    const fs::path image = dir / "sample-disk.vmdk.img";
    EXPECT_EQ(exported.out, image.string() + "\n");
    ASSERT_EQ(fs::file_size(image), kSampleSectors * 512);

    const auto bytes = readFile(image);
    EXPECT_EQ(bytes[510], 0x55);
    EXPECT_EQ(bytes[511], 0xAA);
    auto whole = runCli({"cat", kSample.string()});
    ASSERT_EQ(whole.exitCode, 0);
    EXPECT_TRUE(whole.out == std::string(bytes.begin(), bytes.end()));
    // The FAT16 boot sector of the first volume, read unaligned across sector boundaries.
    auto part = runCli({"cat", kSample.string(), "--offset", "1048573", "--length=1030"});
    ASSERT_EQ(part.exitCode, 0);
    EXPECT_TRUE(part.out == std::string(bytes.begin() + 1048573, bytes.begin() + 1048573 + 1030));
    EXPECT_EQ(part.out.substr(3 + 54, 5), "FAT16");

    // A relative image path still names the target after the image.
    auto relative = runCommand("cd " + shellQuote(kSample.parent_path().string()) + " && " +
                               shellQuote(VINDARU_CLI_PATH) + " export sample-disk.vmdk " +
                               shellQuote(dir.path().string()));
    ASSERT_EQ(relative.exitCode, 0) << relative.err;
    EXPECT_EQ(relative.out, (dir / "1sample-disk.vmdk.img").string() + "\n");
    EXPECT_EQ(fingerprint(kSample), before);
}

// On a terminal the export draws a bar (redrawn in place) that ends full, instead of lines of
// status text. `script` gives the command a terminal.
TEST(CliSample, ExportDrawsAProgressBarOnATerminal) {
    if (runCommand("command -v script").exitCode != 0) GTEST_SKIP() << "script(1) is not installed";
    ScratchDir dir;
    const std::string inner = shellQuote(VINDARU_CLI_PATH) + " export " +
                              shellQuote(kSample.string()) + " " + shellQuote(dir.path().string());
    auto r = runCommand("script -qec " + shellQuote(inner) + " /dev/null");
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(mentions(r.out, "\r[##############################] 100%  8.00 MB / 8.00 MB  Image Saved"))
        << r.out;
    EXPECT_FALSE(mentions(r.out, "MB Saved\n")) << r.out;
    EXPECT_TRUE(fs::exists(dir / "sample-disk.vmdk.img"));
}

TEST(CliSample, ExportNeedsAnExistingFolder) {
    ScratchDir dir;
    auto r = runCli({"export", kSample.string(), (dir / "missing").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(mentions(r.err, "is not a folder")) << r.err;
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(CompareWithRaw, FindsDifferencesInDataAndInHoles) {
    ScratchDir dir;
    const fs::path raw = dir / "raw";
    const fs::path copy = dir / "copy";
    std::vector<std::uint8_t> bytes(3 << 20, 0);
    for (std::size_t i = 0; i < 4096; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    writeFile(raw, bytes);
    writeFile(copy, bytes);
    EXPECT_EQ(compareWithRaw(copy, raw), std::nullopt);
    bytes[100] ^= 1;
    writeFile(copy, bytes);
    EXPECT_EQ(compareWithRaw(copy, raw), "first difference at byte 100");
    bytes[100] ^= 1;
    bytes[(2 << 20) + 5] = 9; // where the raw disk is all zeros
    writeFile(copy, bytes);
    EXPECT_EQ(compareWithRaw(copy, raw), "first difference at byte 2097157");
    bytes[(2 << 20) + 5] = 0;
    bytes.resize(bytes.size() + 512, 0); // a longer export with a zero tail is the same disk
    writeFile(copy, bytes);
    EXPECT_EQ(compareWithRaw(copy, raw), std::nullopt);
    bytes.back() = 1;
    writeFile(copy, bytes);
    EXPECT_NE(compareWithRaw(copy, raw), std::nullopt);
}

} // namespace
} // namespace vindaru::test
