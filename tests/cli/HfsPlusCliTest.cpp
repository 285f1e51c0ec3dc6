// vindaru-cli ls, save and search on HFS+ volumes, run as a user runs them: the corpus volume and
// the HFS+ partition of the GPT disk against The Sleuth Kit's listings, and the deep mode on a
// copy whose catalog header node is zeroed.
#include <gtest/gtest.h>

#include <set>
#include <sys/stat.h>

#include "support/ListingTsv.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::runCommand;
using test::shellQuote;
namespace fs = std::filesystem;

constexpr const char* kBareVolume = "--start 0 --type HFS+ --size-mb 2 --extent FLAT";

test::CommandResult cli(const std::string& command, const std::string& image, const std::string& options) {
    return runCommand(std::string(VINDARU_CLI_PATH) + " " + command + " " + shellQuote(image) + " " + options);
}

std::string readAll(const fs::path& p) {
    auto bytes = test::readFile(p);
    return std::string(bytes.begin(), bytes.end());
}

std::map<std::string, test::ListingRow> liveFiles(const std::string& start) {
    std::map<std::string, test::ListingRow> rows;
    for (auto& [path, row] : test::parseListing(readAll(*test::corpusFile(
             start == "0" ? "generated/hfsplus.expected.tsv" : "generated/gpt-disk.expected.tsv")), "hfsplus"))
        if (row.start == start && test::isLivePathRow(row)) rows.emplace(path, row);
    return rows;
}

void expectEveryLiveFile(const std::string& listing, const std::string& start) {
    const auto got = test::parseListing(listing, "hfsplus");
    int files = 0;
    for (const auto& [path, want] : liveFiles(start)) {
        const auto it = got.find(path);
        ASSERT_NE(it, got.end()) << path;
        EXPECT_EQ(it->second.dir, want.dir) << path;
        if (want.dir) continue;
        ++files;
        EXPECT_EQ(it->second.size, want.size) << path;
        EXPECT_EQ(it->second.md5, want.md5) << path;
        EXPECT_EQ(it->second.mtime, want.mtime) << path;
    }
    EXPECT_GT(files, 20);
}

TEST(HfsPlusCli, LsOfTheCorpusVolumeMatchesEveryLiveFile) {
    const auto image = test::unpackedCorpusImage("generated/hfsplus.img.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/hfsplus.img.zst is not available";
    const auto r = cli("ls", image->string(), std::string(kBareVolume) + " -r --tsv --md5 --verbose");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectEveryLiveFile(r.out, "0");
    EXPECT_NE(r.err.find("Scanning process Done."), std::string::npos) << r.err;
}

TEST(HfsPlusCli, LsOfTheGptDisksHfsPartition) {
    const auto image = test::unpackedCorpusImage("generated/gpt-disk.raw.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/gpt-disk.raw.zst is not available";
    const auto r = cli("ls", image->string(), "--extent FLAT --gpt --volume 3 -r --tsv --md5");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectEveryLiveFile(r.out, "141312");
}

TEST(HfsPlusCli, DeepModeFindsTheFilesOfAVolumeWhoseCatalogHeaderIsLost) {
    const auto image = test::unpackedCorpusImage("generated/hfsplus.img.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/hfsplus.img.zst is not available";
    test::ScratchDir dir;
    auto bytes = test::readFile(*image);
    // 2 KiB blocks, the catalog from block 1 with 4 KiB nodes (see fsstat of the image).
    std::fill_n(bytes.begin() + 2048, 4096, 0);
    const fs::path damaged = dir / "damaged.img";
    test::writeFile(damaged, bytes);

    const auto normal = cli("ls", damaged.string(), std::string(kBareVolume) + " --verbose");
    EXPECT_NE(normal.err.find("Scanning process Aborted...."), std::string::npos) << normal.err;

    const auto r = cli("ls", damaged.string(), std::string(kBareVolume) + " --mode deep -r --tsv --md5");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The leaf records name their folders: every file at its own path.
    std::set<std::pair<std::string, std::string>> found;
    for (const auto& [path, row] : test::parseListing(r.out, "hfsplus"))
        if (!row.dir) found.emplace(path, row.md5);
    int files = 0;
    for (const auto& [path, want] : liveFiles("0")) {
        if (want.dir) continue;
        ++files;
        EXPECT_TRUE(found.count({path, want.md5})) << path;
    }
    EXPECT_GT(files, 20);
}

TEST(HfsPlusCli, SaveWritesContentEmptyFilesAndRealTimes) {
    const auto image = test::unpackedCorpusImage("generated/hfsplus.img.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/hfsplus.img.zst is not available";
    test::ScratchDir out;
    // Run in a zone far from UTC: saved times must not move with it.
    const auto r = runCommand("TZ=Asia/Kolkata " + std::string(VINDARU_CLI_PATH) + " save " +
                              shellQuote(image->string()) + " " + kBareVolume + " --yes --out " +
                              shellQuote(out.path().string()) + " /");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int files = 0;
    for (const auto& [path, want] : liveFiles("0")) {
        if (want.dir) continue;
        const fs::path saved = out.path() / path.substr(1);
        ASSERT_TRUE(fs::exists(saved)) << path;
        EXPECT_EQ(test::md5OfFile(saved), want.md5) << path;
        struct stat st {};
        ASSERT_EQ(::stat(saved.c_str(), &st), 0);
        EXPECT_EQ(std::to_string(st.st_mtime), want.mtime) << path;
        ++files;
    }
    EXPECT_GT(files, 20);
    EXPECT_EQ(fs::file_size(out.path() / "empty-saffron.dat"), 0u);
}

TEST(HfsPlusCli, SearchListsMatchingFilesInBothModes) {
    const auto image = test::unpackedCorpusImage("generated/hfsplus.img.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/hfsplus.img.zst is not available";
    for (const char* mode : {"standard", "deep"}) {
        SCOPED_TRACE(mode);
        const auto r = cli("search", image->string(), std::string(kBareVolume) + " --mode " + mode + " " +
                                                          shellQuote("entry 0[0-4]"));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::size_t lines = 0;
        for (std::size_t at = r.out.find("entry 0"); at != std::string::npos; at = r.out.find("entry 0", at + 1))
            ++lines;
        EXPECT_GE(lines, 50u) << r.out;
    }
}

} // namespace
} // namespace vindaru
