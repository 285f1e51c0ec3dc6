// vindaru-cli on FAT16, FAT32 and exFAT volumes inside the corpus's disks: `ls -r --tsv --md5`
// lists every live file of The Sleuth Kit's listing with its size and md5, `save` writes them,
// `search` finds them, and `--formatted` reads the volume as the formatted-drive mode does.
#include <gtest/gtest.h>

#include "cli/CliRunner.h"
#include "support/ListingTsv.h"

namespace vindaru::test {
namespace {

struct FatDisk {
    std::string name, image, start, type;
    std::vector<std::string> options;
};

void PrintTo(const FatDisk& d, std::ostream* os) { *os << d.name; }

std::string readFileText(const fs::path& path) {
    const auto bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// The disk's name up to its first '-' after "disk": mbr-disk, gpt-disk, tiny-disk.
std::string expectedFile(const std::string& image) {
    return image.substr(0, image.find("disk") + 4) + ".expected.tsv";
}

class FatCli : public ::testing::TestWithParam<FatDisk> {};

TEST_P(FatCli, LsListsEveryLiveFileWithItsSizeAndMd5) {
    const FatDisk& d = GetParam();
    const auto image = corpusFile("generated/" + d.image);
    const auto expected = corpusFile("generated/" + expectedFile(d.image));
    if (!image || !expected) GTEST_SKIP() << "corpus image generated/" << d.image << " is absent";
    std::vector<std::string> args = {"ls", image->string(), "--start", d.start, "--type", d.type, "-r", "--tsv", "--md5"};
    args.insert(args.end(), d.options.begin(), d.options.end());
    const CommandResult r = runCli(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto ours = parseListing(r.out);
    const auto theirs = parseListing(readFileText(*expected));
    int compared = 0;
    for (const auto& [path, row] : theirs) {
        if (row.start != d.start || !isLivePathRow(row)) continue;
        const auto it = ours.find(path);
        ASSERT_NE(it, ours.end()) << path;
        EXPECT_EQ(it->second.dir, row.dir) << path;
        EXPECT_FALSE(it->second.deleted) << path;
        if (row.dir) continue;
        EXPECT_EQ(it->second.size, row.size) << path;
        EXPECT_EQ(it->second.md5, row.md5) << path;
        ++compared;
    }
    EXPECT_GT(compared, 20);
}

TEST_P(FatCli, SaveWritesTheFolderAndSearchFindsItsFiles) {
    const FatDisk& d = GetParam();
    const auto image = corpusFile("generated/" + d.image);
    const auto expected = corpusFile("generated/" + expectedFile(d.image));
    if (!image || !expected) GTEST_SKIP() << "corpus image generated/" << d.image << " is absent";
    const auto theirs = parseListing(readFileText(*expected));
    // The 1 MiB file of the Media folder.
    std::string media;
    for (const auto& [path, row] : theirs)
        if (row.start == d.start && isLivePathRow(row) && path.starts_with("/Media/") && !row.dir) media = path;
    ASSERT_FALSE(media.empty());
    ScratchDir out;
    std::vector<std::string> args = {"save", image->string(), "--start", d.start, "--type", d.type, "--out",
                                     out.path().string(), "--yes", "/Media"};
    args.insert(args.end(), d.options.begin(), d.options.end());
    const CommandResult saved = runCli(args);
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    const auto file = out.path() / media.substr(media.rfind('/') + 1);
    ASSERT_TRUE(fs::exists(file)) << saved.out << saved.err;
    EXPECT_EQ(md5OfFile(file), theirs.at(media).md5);

    std::vector<std::string> search = {"search", image->string(), "--start", d.start, "--type", d.type, "report-"};
    search.insert(search.end(), d.options.begin(), d.options.end());
    const CommandResult found = runCli(search);
    ASSERT_EQ(found.exitCode, 0) << found.err;
    EXPECT_NE(found.out.find("report-"), std::string::npos) << found.out;
}

TEST(FatCliFormatted, FormattedDriveFollowsNoChain) {
    const auto image = corpusFile("generated/mbr-disk.vmdk");
    if (!image) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is absent";
    const std::vector<std::string> base = {"ls", image->string(), "--start", "20480", "--type", "FAT32", "-r", "--tsv"};
    const CommandResult normal = runCli(base);
    auto args = base;
    args.push_back("--formatted");
    const CommandResult formatted = runCli(args);
    ASSERT_EQ(normal.exitCode, 0) << normal.err;
    ASSERT_EQ(formatted.exitCode, 0) << formatted.err;
    // Folders are read in their first cluster only: the 40-file folder of 512-byte clusters loses entries.
    EXPECT_LT(parseListing(formatted.out).size(), parseListing(normal.out).size());
}

INSTANTIATE_TEST_SUITE_P(Disks, FatCli,
                         ::testing::Values(FatDisk{"MbrFat32", "mbr-disk.vmdk", "20480", "FAT32", {}},
                                           FatDisk{"GptFat32", "gpt-disk.vmdk", "51200", "FAT32", {}},
                                           FatDisk{"GptExfat", "gpt-disk.vhd", "124928", "FAT64", {}},
                                           FatDisk{"TinyFat16", "tiny-disk-mono-flat.vmdk", "2048", "FAT16",
                                                   {"--descriptor"}}),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace vindaru::test
