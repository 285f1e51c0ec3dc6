// vindaru-cli save, run as a user runs it: folders and files of the corpus NTFS volume written
// with the content and modification time The Sleuth Kit reads.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <sys/stat.h>

#include "cli/CliRunner.h"
#include "support/ListingTsv.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::runCommand;
using test::shellQuote;
namespace fs = std::filesystem;

test::CommandResult save(const fs::path& image, const fs::path& out, const std::string& paths) {
    return runCommand(std::string(VINDARU_CLI_PATH) + " save " + shellQuote(image.string()) +
                      " --start 0 --type NTFS --extent FLAT --out " + shellQuote(out.string()) +
                      " " + paths);
}

std::int64_t mtimeOf(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
}

TEST(SaveCli, AFolderAndAFileAsThePageSavesThem) {
    const auto image = test::unpackedCorpusImage("generated/ntfs.img.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst is not available";
    test::ScratchDir out;
    const auto r = save(*image, out.path(), "--verbose /Docs-Kelp /Compressed/log-raven.txt");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("number of files found inside this folder = 5 .do u want to continue "
                         "dumping these files..? [answered Yes"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Saving process done"), std::string::npos);
    const fs::path leaf = out / "Archive xenon/2011/Deeper/leaf-fjord.txt";
    EXPECT_EQ(mtimeOf(leaf), 1555394948);
    EXPECT_EQ(test::md5OfFile(leaf), "c6e285d922cb91253540875a0966f6fa");
    EXPECT_EQ(test::md5OfFile(out / "Archive xenon/2011/data-basil.bin"),
              "87dd0db5ed34e519e0dfbfee4e6cf5ca");
    EXPECT_EQ(test::md5OfFile(out / "report-pepper.txt"), "9d177445bd8aeb56d817a89116686011");
    EXPECT_EQ(test::md5OfFile(out / "log-raven.txt"), "6a02fc5854ab050480b0dcf3fb3e972e");
    EXPECT_EQ(mtimeOf(out / "log-raven.txt"), 1555618506);
}

TEST(SaveCli, TheWholeVolumeSkipsBadClusAndKeepsEveryFolder) {
    const auto image = test::unpackedCorpusImage("generated/ntfs.img.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst is not available";
    test::ScratchDir out;
    const auto r = save(*image, out.path(), "");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::exists(out / "$BadClus"));
    EXPECT_TRUE(fs::exists(out / "$UpCase"));
    EXPECT_TRUE(fs::is_directory(out / "ORPHAN_ENTRY"));
    EXPECT_EQ(test::md5OfFile(out / "Fragmented/frag-atlas.bin"),
              "aa695aa34f33ab75987f621f759c31d4");
    EXPECT_EQ(test::md5OfFile(out / "Ærøskøbing-nectar/Straße.bin"),
              "6fde06fe002b8fdcafef0f88dcbc2d69");
    EXPECT_EQ(test::md5OfFile(out / "Compressed/zeros-umber.dat"),
              "0dfbe8aa4c20b52e1b8bf3cb6cbdf193");
    EXPECT_EQ(test::md5OfFile(out / "empty-nectar.dat"), "d41d8cd98f00b204e9800998ecf8427e");

    EXPECT_EQ(save(*image, out.path(), "/nothing-here").exitCode, 3);
    EXPECT_EQ(save(*image, out / "empty-nectar.dat/sub", "/readme-tundra.txt").exitCode, 4)
        << "an output folder that cannot be made is reported";
}

} // namespace
} // namespace vindaru

namespace vindaru {
namespace {

using test::jsonField;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(SaveCli, TheManifestHasEveryFileWithTheDigestsOfWhatWasWritten) {
    const auto image = test::unpackedCorpusImage("generated/ntfs.img.zst");
    const auto expectedTsv = test::corpusFile("generated/ntfs.expected.tsv");
    if (!image || !expectedTsv) GTEST_SKIP() << "corpus image generated/ntfs.img.zst is not available";
    test::ScratchDir dir;
    const fs::path out = dir / "out";
    const fs::path manifest = dir / "manifest.jsonl";
    const auto r = save(*image, out, "--manifest " + shellQuote(manifest.string()));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "") << "quiet without --verbose";
    const auto manifestBytes = test::readFile(manifest);
    const auto lines = linesOf(std::string(manifestBytes.begin(), manifestBytes.end()));
    std::uint64_t bytes = 0;
    for (const auto& line : lines) bytes += std::stoull(jsonField(line, "bytes_written"));
    EXPECT_EQ(r.out, "saved " + std::to_string(lines.size()) + " files, " + std::to_string(bytes) +
                         " bytes, 0 incomplete\n");

    // sha256sum of every saved file, by the path the manifest gives.
    const auto sums = runCommand("cd " + shellQuote(dir.path().string()) +
                                 " && find out -type f -print0 | xargs -0 sha256sum");
    ASSERT_EQ(sums.exitCode, 0);
    std::map<std::string, std::string> sha256ByPath;
    for (const auto& line : linesOf(sums.out)) sha256ByPath[line.substr(66)] = line.substr(0, 64);

    const auto expectedBytes = test::readFile(*expectedTsv);
    const auto expected = test::parseListing(std::string(expectedBytes.begin(), expectedBytes.end()), "ntfs");
    int compared = 0;
    for (const auto& line : lines) {
        const std::string path = jsonField(line, "path");
        const std::string savedAs = jsonField(line, "saved_as");
        EXPECT_EQ(jsonField(line, "complete"), "true") << line;
        EXPECT_EQ(jsonField(line, "bytes_written"), jsonField(line, "size")) << line;
        ASSERT_TRUE(savedAs.starts_with(out.string() + "/")) << line;
        EXPECT_EQ(sha256ByPath["out/" + savedAs.substr(out.string().size() + 1)], jsonField(line, "sha256"))
            << line;
        auto want = expected.find(path);
        if (want == expected.end() || !test::isLivePathRow(want->second) || want->second.md5 == "-") continue;
        EXPECT_EQ(jsonField(line, "md5"), want->second.md5) << path;
        EXPECT_EQ(jsonField(line, "mtime"), want->second.mtime) << path;
        EXPECT_EQ(jsonField(line, "deleted"), "false") << path;
        ++compared;
    }
    EXPECT_GT(compared, 50); // the live files The Sleuth Kit lists with content
    EXPECT_EQ(sha256ByPath.size(), lines.size()) << "one line per saved file";
}

TEST(SaveCli, FilesThatCannotBeWrittenWholeAreCountedAndExitFour) {
    const auto image = test::unpackedCorpusImage("generated/ntfs.img.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst is not available";
    test::ScratchDir dir;
    const fs::path manifest = dir / "manifest.jsonl";
    // A file-size limit of 64 KiB (the signal ignored, so writes past it fail) cuts the large files.
    const auto r = runCommand("trap '' XFSZ; ulimit -f 128; " + std::string(VINDARU_CLI_PATH) + " save " +
                              shellQuote(image->string()) + " --start 0 --type NTFS --extent FLAT --out " +
                              shellQuote((dir / "out").string()) + " --manifest " +
                              shellQuote(manifest.string()) + " /Fragmented /readme-tundra.txt");
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_NE(r.err.find("could not be saved whole"), std::string::npos) << r.err;
    const auto manifestBytes = test::readFile(manifest);
    int cut = 0, whole = 0;
    for (const auto& line : linesOf(std::string(manifestBytes.begin(), manifestBytes.end()))) {
        const auto size = std::stoull(jsonField(line, "size"));
        if (jsonField(line, "complete") == "false") {
            ++cut;
            EXPECT_GT(size, 65536u) << line;
            EXPECT_LT(std::stoull(jsonField(line, "bytes_written")), size) << line;
        } else {
            ++whole;
            EXPECT_EQ(std::stoull(jsonField(line, "bytes_written")), size) << line;
        }
    }
    EXPECT_GT(cut, 0);
    EXPECT_GT(whole, 0);
    EXPECT_NE(r.out.find(" " + std::to_string(cut) + " incomplete\n"), std::string::npos) << r.out;
}

} // namespace
} // namespace vindaru
