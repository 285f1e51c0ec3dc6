// vindaru-cli save, run as a user runs it: folders and files of the corpus NTFS volume written
// with the content and modification time The Sleuth Kit reads.
#include <gtest/gtest.h>

#include <sys/stat.h>

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
