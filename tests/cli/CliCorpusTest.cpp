// vindaru-cli on every container form of the shared corpus: `export` gives the raw disk the
// container was made from, `cat` gives the same bytes as the raw disk for any range, `info`
// reports the disk's size, and no command changes the image files.
#include <gtest/gtest.h>

#include "cli/CliRunner.h"

namespace vindaru::test {
namespace {

struct Container {
    std::string name;  // test name
    std::string image; // under generated/
    std::vector<std::string> options;
    std::string raw;                // the raw disk it was made from, under generated/
    std::vector<std::string> files; // every file of the set (for the unchanged check)
};

// Failure messages name the container rather than dumping its bytes.
void PrintTo(const Container& c, std::ostream* os) {
    *os << c.name;
}

constexpr std::uint64_t kGiB = 1ull << 30;
constexpr std::uint64_t kMiB = 1ull << 20;

std::vector<Container> containers() {
    const std::vector<std::string> bigSet = {"big-disk-split-sparse-s001.vmdk",
                                             "big-disk-split-sparse-s002.vmdk",
                                             "big-disk-split-sparse-s003.vmdk"};
    const std::vector<std::string> multiFlat = {"tiny-disk-multi-flat-f001.vmdk",
                                                "tiny-disk-multi-flat-f002.vmdk",
                                                "tiny-disk-multi-flat-f003.vmdk"};
    auto with = [](std::vector<std::string> files, std::string first) {
        files.insert(files.begin(), std::move(first));
        return files;
    };
    return {
        {"MbrSparseVmdk", "mbr-disk.vmdk", {}, "mbr-disk.raw.zst", {"mbr-disk.vmdk"}},
        {"GptSparseVmdk", "gpt-disk.vmdk", {}, "gpt-disk.raw.zst", {"gpt-disk.vmdk"}},
        {"GptDynamicVhd", "gpt-disk.vhd", {}, "gpt-disk.raw.zst", {"gpt-disk.vhd"}},
        {"MbrDynamicVhd", "mbr-disk.vhd", {}, "mbr-disk.raw.zst", {"mbr-disk.vhd"}},
        {"MbrVdi", "mbr-disk.vdi", {}, "mbr-disk.raw.zst", {"mbr-disk.vdi"}},
        {"GptVdi", "gpt-disk.vdi", {}, "gpt-disk.raw.zst", {"gpt-disk.vdi"}},
        {"MonoFlatDescriptor",
         "tiny-disk-mono-flat.vmdk",
         {"--descriptor"},
         "tiny-disk.raw.zst",
         {"tiny-disk-mono-flat.vmdk", "tiny-disk-mono-flat-flat.vmdk"}},
        {"MultiFlatDescriptor",
         "tiny-disk-multi-flat.vmdk",
         {"--descriptor"},
         "tiny-disk.raw.zst",
         with(multiFlat, "tiny-disk-multi-flat.vmdk")},
        {"SplitFlatDescriptor",
         "tiny-disk-split-flat.vmdk",
         {"--descriptor"},
         "tiny-disk.raw.zst",
         {"tiny-disk-split-flat.vmdk", "tiny-disk-split-flat-f001.vmdk"}},
        {"MultiFlatNumberedExtent",
         "tiny-disk-multi-flat-f002.vmdk",
         {"--split", "--extent", "FLAT"},
         "tiny-disk.raw.zst",
         multiFlat},
        {"BareFlatExtent",
         "tiny-disk-mono-flat-flat.vmdk",
         {"--extent", "FLAT"},
         "tiny-disk.raw.zst",
         {"tiny-disk-mono-flat-flat.vmdk"}},
        {"MbrSplitSparseNumberedExtent",
         "mbr-disk-split-sparse-s001.vmdk",
         {"--split"},
         "mbr-disk.raw.zst",
         {"mbr-disk-split-sparse-s001.vmdk"}},
        {"MbrSplitSparseDescriptor",
         "mbr-disk-split-sparse.vmdk",
         {"--descriptor"},
         "mbr-disk.raw.zst",
         {"mbr-disk-split-sparse.vmdk", "mbr-disk-split-sparse-s001.vmdk"}},
        {"BigSplitSparseNumberedExtent",
         "big-disk-split-sparse-s002.vmdk",
         {"--split"},
         "big-disk.raw.zst",
         bigSet},
        {"BigSplitSparseDescriptor",
         "big-disk-split-sparse.vmdk",
         {"--descriptor"},
         "big-disk.raw.zst",
         with(bigSet, "big-disk-split-sparse.vmdk")},
        {"BigSparseVmdk", "big-disk.vmdk", {}, "big-disk.raw.zst", {"big-disk.vmdk"}},
    };
}

class CliOnContainer : public ::testing::TestWithParam<Container> {
  protected:
    void SetUp() override {
        const auto& c = GetParam();
        auto image = corpusFile("generated/" + c.image);
        if (!image) GTEST_SKIP() << "corpus image generated/" << c.image << " is absent";
        auto raw = unpackedCorpusImage("generated/" + c.raw);
        if (!raw)
            GTEST_SKIP() << "cannot unpack generated/" << c.raw << " (corpus or zstd missing)";
        image_ = *image;
        raw_ = *raw;
        rawSize_ = fs::file_size(raw_);
        for (const auto& f : c.files)
            before_.push_back(fingerprint(image_.parent_path() / f));
    }

    // Every command must leave every file of the set exactly as it was.
    void TearDown() override {
        if (image_.empty()) return;
        const auto& c = GetParam();
        for (std::size_t i = 0; i < c.files.size(); ++i)
            EXPECT_EQ(fingerprint(image_.parent_path() / c.files[i]), before_[i])
                << c.files[i] << " changed";
    }

    std::vector<std::string> args(const std::string& command,
                                  std::vector<std::string> extra = {}) const {
        std::vector<std::string> all = {command, image_.string()};
        all.insert(all.end(), extra.begin(), extra.end());
        all.insert(all.end(), GetParam().options.begin(), GetParam().options.end());
        return all;
    }

    std::uint64_t diskBytes() {
        auto r = runCli(args("info", {"--json"}));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const auto key = r.out.find("\"diskSectors\": ");
        if (key == std::string::npos) return 0;
        return std::stoull(r.out.substr(key + 15)) * 512;
    }

    fs::path image_;
    fs::path raw_;
    std::uint64_t rawSize_ = 0;
    std::vector<FileFingerprint> before_;
};

TEST_P(CliOnContainer, InfoReportsTheDiskSize) {
    const std::uint64_t bytes = diskBytes();
    // A VHD's disk is rounded up to its geometry; every other form is exactly the raw disk.
    if (image_.extension() == ".vhd") {
        EXPECT_GE(bytes, rawSize_);
        EXPECT_LT(bytes, rawSize_ + 8 * kMiB);
    } else {
        EXPECT_EQ(bytes, rawSize_);
    }
    auto text = runCli(args("info"));
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("Disk size: " + std::to_string(bytes / 512) + " sectors"),
              std::string::npos)
        << text.out;
}

TEST_P(CliOnContainer, CatRangesEqualTheRawDisk) {
    const std::uint64_t disk = diskBytes();
    ASSERT_GT(disk, 0u);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges = {
        {0, 512},                    // the partition table
        {1000, 70000},               // unaligned, crosses a 64 KiB grain
        {disk - 1000, 1000},         // the last bytes
        {disk - 300, 5000},          // past the end: stops at the end
        {1 * kMiB - 4096, 3 * kMiB}, // volume starts
    };
    if (disk > 2 * kGiB) {
        ranges.push_back({2 * kGiB - 2 * kMiB, 256 * 1024}); // ext2 behind the first extent's end
        ranges.push_back({2 * kGiB - 3000, 9000});           // across the extent boundary
        ranges.push_back({4 * kGiB - 4 * kMiB, 256 * 1024}); // NTFS across 4 GiB
        ranges.push_back({4 * kGiB - 700, 1400});
    }
    for (auto [offset, length] : ranges) {
        auto r = runCli(
            args("cat", {"--offset", std::to_string(offset), "--length", std::to_string(length)}));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::uint64_t expectedLength = std::min(length, disk - offset);
        ASSERT_EQ(r.out.size(), expectedLength) << "offset " << offset;
        auto expected = readRange(raw_, offset, expectedLength);
        expected.resize(expectedLength, 0); // a VHD's rounded-up tail reads as zeros
        EXPECT_TRUE(std::string(expected.begin(), expected.end()) == r.out)
            << "cat --offset " << offset << " --length " << length << " differs from the raw disk";
    }
    auto pastEnd = runCli(args("cat", {"--offset", std::to_string(disk + 512)}));
    EXPECT_EQ(pastEnd.exitCode, 0);
    EXPECT_TRUE(pastEnd.out.empty());

    // The whole disk through a pipe (the 4.5 GiB disk is compared through export instead).
    if (rawSize_ > 128 * kMiB) return;
    ScratchDir dir;
    const fs::path out = dir / "disk.cat";
    std::string command = shellQuote(VINDARU_CLI_PATH);
    for (const auto& a : args("cat"))
        command += " " + shellQuote(a);
    auto whole = runCommand(command + " | cat > " + shellQuote(out.string()));
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_EQ(compareWithRaw(out, raw_), std::nullopt);
}

TEST_P(CliOnContainer, ExportWritesTheRawDisk) {
    ScratchDir dir;
    auto r = runCli(args("export", {dir.path().string()}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const fs::path expected = dir / (image_.filename().string() + ".img");
    EXPECT_NE(r.out.find(expected.string()), std::string::npos) << r.out;
    ASSERT_TRUE(fs::exists(expected)) << r.out << r.err;
    EXPECT_EQ(compareWithRaw(expected, raw_), std::nullopt);
    EXPECT_EQ(r.err, "") << "not a terminal and not --verbose: nothing on stderr";

    // A second export beside the first takes the next free name.
    if (rawSize_ > 128 * kMiB) return;
    auto again = runCli(args("export", {dir.path().string()}));
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_TRUE(fs::exists(dir / ("1" + image_.filename().string() + ".img")));
}

INSTANTIATE_TEST_SUITE_P(Corpus, CliOnContainer, ::testing::ValuesIn(containers()),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace vindaru::test

namespace vindaru::test {
namespace {

// Containers cut short anywhere: the command reports the image with the program's message and
// exit 2, or reads what is there with the missing rest as zeros that it reports (exit 4); it
// never crashes.
TEST(CliTruncated, CutContainersFailCleanlyOrReportWhatIsMissing) {
    ScratchDir dir;
    for (const char* name : {"mbr-disk.vmdk", "gpt-disk.vhd", "mbr-disk.vdi"}) {
        auto image = corpusFile(std::string("generated/") + name);
        if (!image) GTEST_SKIP() << "corpus image generated/" << name << " is absent";
        const auto whole = readFile(*image);
        for (std::size_t length : {std::size_t{1}, std::size_t{511}, std::size_t{1536},
                                   std::size_t{65536}, whole.size() / 2, whole.size() - 512}) {
            const fs::path cut = dir / (std::to_string(length) + "-" + name);
            writeFile(cut, std::vector<std::uint8_t>(whole.begin(), whole.begin() + length));
            for (const std::vector<std::string>& command :
                 {std::vector<std::string>{"info", cut.string()},
                  std::vector<std::string>{"cat", cut.string(), "--length", "1048576"}}) {
                auto r = runCli(command);
                ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 2 || (r.exitCode == 4 && command[0] == "cat"))
                    << command[0] << " " << cut.filename() << " exit " << r.exitCode << "\n"
                    << r.err;
                if (r.exitCode == 2) {
                    EXPECT_FALSE(r.err.empty()) << cut.filename();
                } else if (r.exitCode == 4) {
                    EXPECT_NE(r.err.find("could not be read"), std::string::npos) << r.err;
                } else if (command[0] == "cat") {
                    EXPECT_LE(r.out.size(), 1048576u);
                }
            }
        }
    }
}

} // namespace
} // namespace vindaru::test
