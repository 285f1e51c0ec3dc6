// vindaru-cli ls, save and search on ext volumes, run as a user runs them: the ext2 volumes of
// the corpus's disks (inside a sparse VMDK, a flat VMDK set and a 4.5 GiB sparse VMDK where the
// volume crosses an extent's end) and the bare ext4 volume, against The Sleuth Kit's listings.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "cli/CliRunner.h"
#include "support/ListingTsv.h"

namespace vindaru::test {
namespace {

struct ExtVolume {
    std::string name, image, expected, start, fsType;
    std::vector<std::string> options;
    bool unpack = false;
};

void PrintTo(const ExtVolume& v, std::ostream* os) { *os << v.name; }

std::string readFileText(const fs::path& path) {
    const auto bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::optional<fs::path> imageOf(const ExtVolume& v) {
    return v.unpack ? unpackedCorpusImage("generated/" + v.image) : corpusFile("generated/" + v.image);
}

std::vector<std::string> volumeArgs(const std::string& command, const fs::path& image, const ExtVolume& v) {
    std::vector<std::string> args = {command, image.string(), "--start", v.start, "--type", "extX"};
    args.insert(args.end(), v.options.begin(), v.options.end());
    return args;
}

std::map<std::string, ListingRow> liveRows(const ExtVolume& v) {
    std::map<std::string, ListingRow> rows;
    for (auto& [path, row] : parseListing(readFileText(*corpusFile("generated/" + v.expected)), v.fsType))
        if (row.start == v.start && isLivePathRow(row)) rows.emplace(path, row);
    return rows;
}

class ExtCli : public ::testing::TestWithParam<ExtVolume> {};

TEST_P(ExtCli, LsListsEveryLiveFileWithItsSizeMd5AndTime) {
    const ExtVolume& v = GetParam();
    const auto image = imageOf(v);
    if (!image || !corpusFile("generated/" + v.expected)) GTEST_SKIP() << "corpus image generated/" << v.image << " is absent";
    auto args = volumeArgs("ls", *image, v);
    args.insert(args.end(), {"-r", "--tsv", "--md5", "--verbose"}); // --verbose: the page's texts
    const CommandResult r = runCli(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("done.."), std::string::npos) << r.err;
    const auto ours = parseListing(r.out);
    int compared = 0;
    for (const auto& [path, row] : liveRows(v)) {
        const auto it = ours.find(path);
        ASSERT_NE(it, ours.end()) << path;
        EXPECT_EQ(it->second.dir, row.dir) << path;
        if (row.dir) continue;
        EXPECT_EQ(it->second.size, row.size) << path;
        EXPECT_EQ(it->second.md5, row.md5) << path;
        EXPECT_EQ(it->second.mtime, row.mtime) << path;
        ++compared;
    }
    EXPECT_GT(compared, 15);
    // The root's own record stands among its children, as a folder.
    ASSERT_TRUE(ours.count("/."));
    EXPECT_TRUE(ours.at("/.").dir);
}

TEST_P(ExtCli, SaveWritesEveryFileWithItsTimeAndSearchFindsThem) {
    const ExtVolume& v = GetParam();
    const auto image = imageOf(v);
    if (!image || !corpusFile("generated/" + v.expected)) GTEST_SKIP() << "corpus image generated/" << v.image << " is absent";
    ScratchDir out;
    auto args = volumeArgs("save", *image, v);
    args.insert(args.end(), {"--out", out.path().string(), "--yes", "/"});
    const CommandResult saved = runCli(args);
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    int files = 0;
    for (const auto& [path, row] : liveRows(v)) {
        const fs::path file = out.path() / path.substr(1);
        if (row.dir) {
            EXPECT_TRUE(fs::is_directory(file)) << path;
            continue;
        }
        ASSERT_TRUE(fs::exists(file)) << path << "\n" << saved.err;
        EXPECT_EQ(md5OfFile(file), row.md5) << path;
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(std::to_string(st.st_mtime), row.mtime) << path;
        ++files;
    }
    EXPECT_GT(files, 15);
    // The root's "." is not made into a folder of its own.
    EXPECT_FALSE(fs::exists(out.path() / "_."));

    auto search = volumeArgs("search", *image, v);
    search.insert(search.end(), {"--verbose", "REPORT-"});
    const CommandResult found = runCli(search);
    ASSERT_EQ(found.exitCode, 0) << found.err;
    EXPECT_NE(found.out.find("\\report-"), std::string::npos) << found.out;
    EXPECT_NE(found.err.find("Searching Finished"), std::string::npos) << found.err;
    search.back() = "*txt";
    const CommandResult invalid = runCli(search);
    EXPECT_NE(invalid.err.find("such characters are not allowed for search.Try again with different pattern."),
              std::string::npos) << invalid.err;
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, ExtCli,
    ::testing::Values(ExtVolume{"MbrExt2", "mbr-disk.vmdk", "mbr-disk.expected.tsv", "96256", "ext2", {}},
                      ExtVolume{"TinyExt2", "tiny-disk-multi-flat.vmdk", "tiny-disk.expected.tsv", "10240", "ext2",
                                {"--descriptor"}},
                      ExtVolume{"BigDiskExt2", "big-disk.vmdk", "big-disk.expected.tsv", "4190208", "ext2", {}},
                      ExtVolume{"BareExt4", "ext4.img.zst", "ext4.expected.tsv", "0", "ext4", {"--extent", "FLAT"}, true}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace vindaru::test
