// vindaru-cli ls, run as a user runs it, on the corpus NTFS volume and on the NTFS volume of the
// MBR disk, compared with The Sleuth Kit's listings of the same images.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/CliRunner.h"
#include "support/ListingTsv.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::runCommand;
using test::shellQuote;
namespace fs = std::filesystem;

test::CommandResult ls(const std::string& image, const std::string& options) {
    return runCommand(std::string(VINDARU_CLI_PATH) + " ls " + shellQuote(image) + " " + options);
}

std::string readAll(const fs::path& p) {
    auto bytes = test::readFile(p);
    return std::string(bytes.begin(), bytes.end());
}

void expectEveryLiveFile(const std::string& listing, const fs::path& expectedTsv,
                         const std::string& start) {
    const auto got = test::parseListing(listing);
    const auto expected = test::parseListing(readAll(expectedTsv), "ntfs");
    int files = 0;
    for (const auto& [path, want] : expected) {
        if (!test::isLivePathRow(want) || want.start != start) continue;
        auto it = got.find(path);
        ASSERT_NE(it, got.end()) << path;
        const auto& row = it->second;
        EXPECT_EQ(row.start, start);
        EXPECT_EQ(row.fsType, "ntfs");
        EXPECT_EQ(row.dir, want.dir) << path;
        EXPECT_FALSE(row.deleted) << path;
        if (want.dir) {
            EXPECT_EQ(row.md5, "-") << path;
            continue;
        }
        ++files;
        EXPECT_EQ(row.size, want.size) << path;
        EXPECT_EQ(row.md5, want.md5) << path;
        EXPECT_EQ(row.mtime, want.mtime) << path;
    }
    EXPECT_GT(files, 10);
}

TEST(LsCli, RecursiveTsvOfTheNtfsVolumeMatchesEveryLiveFile) {
    const auto image = test::unpackedCorpusImage("generated/ntfs.img.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst is not available";
    const auto r = ls(image->string(), "--start 0 --type NTFS --extent FLAT -r --tsv --md5");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with(
        "partition_start_sector\tfs_type\tpath\tis_dir\tis_deleted\tsize\tmd5\tmtime\tpath_guessed\trecoverable\n"));
    expectEveryLiveFile(r.out, *test::corpusFile("generated/ntfs.expected.tsv"), "0");

    const auto rows = test::parseListing(r.out);
    for (const char* red : {"/tmp-juniper.txt", "/Old nectar", "/Docs-Kelp/draft-juniper.txt"}) {
        auto it = rows.find(red);
        ASSERT_NE(it, rows.end()) << red;
        EXPECT_TRUE(it->second.deleted) << red;
    }
    EXPECT_TRUE(rows.contains("/\\[ORPHAN_ENTRY]")) << "the placeholder, marked";
    EXPECT_EQ(r.err, "") << "quiet without --verbose";

    const auto verbose = ls(image->string(), "--start 0 --type NTFS --extent FLAT --verbose");
    ASSERT_EQ(verbose.exitCode, 0) << verbose.err;
    EXPECT_NE(verbose.err.find("Scanning process completed...\n"), std::string::npos);
    EXPECT_NE(verbose.err.find("Processing done..."), std::string::npos);
}

// The recoverable column: 1 for every file of the corpus volume (its deleted files are whole)
// but the ballast whose space later files took, "-" for folders; --sort recoverable orders the rows by it, unknown last, in TSV and JSON.
TEST(LsCli, RecoverableColumnAndSortingByIt) {
    const auto image = test::unpackedCorpusImage("generated/ntfs.img.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst is not available";
    const std::string vol = "--start 0 --type NTFS --extent FLAT ";
    const auto r = ls(image->string(), vol + "-r --tsv --sort recoverable");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream in(r.out);
    std::string line;
    std::getline(in, line);
    ASSERT_TRUE(line.ends_with("\tpath_guessed\trecoverable")) << line;
    bool unknownSeen = false;
    int deletedFiles = 0;
    while (std::getline(in, line)) {
        const std::string value = line.substr(line.rfind('\t') + 1);
        if (value == "-") {
            unknownSeen = true;
            continue;
        }
        EXPECT_FALSE(unknownSeen) << "unknown shares sort last: " << line;
        // ballast.tmp was deleted to free space that later files took: it sorts first.
        if (line.find("/ballast.tmp") != std::string::npos) {
            EXPECT_EQ(value, "0.8828") << line;
            EXPECT_EQ(deletedFiles, 0);
        } else if (line.find("/\\[ORPHAN_ENTRY]") == std::string::npos) {
            EXPECT_EQ(value, "1") << line;
        }
        if (line.find("juniper.txt") != std::string::npos) ++deletedFiles;
    }
    EXPECT_EQ(deletedFiles, 2); // draft-juniper.txt and tmp-juniper.txt
    const auto json = ls(image->string(), vol + "--json --sort recoverable /Docs-Kelp");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"recoverable\": 1,"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"recoverable\": null,"), std::string::npos) << "the sub-folder";
    EXPECT_EQ(ls(image->string(), vol + "--sort size").exitCode, 1);
}

TEST(LsCli, NtfsVolumeOfAnMbrDiskByItsRow) {
    const auto image = test::corpusFile("generated/mbr-disk.vmdk");
    if (!image) GTEST_SKIP() << "corpus image generated/mbr-disk.vmdk is not available";
    const auto r = ls(image->string(), "--volume 0 -r --tsv --md5");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectEveryLiveFile(r.out, *test::corpusFile("generated/mbr-disk.expected.tsv"), "2048");
}

TEST(LsCli, OneFolderAsTextAndJsonAFileAsItselfAndBadPaths) {
    const auto image = test::unpackedCorpusImage("generated/ntfs.img.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst is not available";
    const std::string vol = "--start 0 --type NTFS --extent FLAT ";
    auto r = ls(image->string(), vol + "/Docs-Kelp");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("  9.77 KB  -A            /Docs-Kelp/report-pepper.txt\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\nd-  "), std::string::npos) << "the sub-folder line";
    EXPECT_EQ(r.out.find("leaf-fjord"), std::string::npos) << "not recursive without -r";
    EXPECT_NE(r.out.find("-x  "), std::string::npos) << "the deleted draft, drawn red";

    r = ls(image->string(), vol + "--json /Docs-Kelp/report-pepper.txt");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("[\n  {\"path\": \"/Docs-Kelp/report-pepper.txt\", \"name\": "
                                  "\"report-pepper.txt\", \"is_dir\": false, \"is_deleted\": false"))
        << r.out;
    EXPECT_NE(r.out.find("\"size_text\": \"9.77 KB\", \"size\": 10000, \"attributes\": \"-A\""),
              std::string::npos);
    EXPECT_TRUE(r.out.ends_with("}\n]\n"));

    r = ls(image->string(), vol + "/No/such/thing");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("no entry at '/No/such/thing'"), std::string::npos);
    EXPECT_EQ(ls(image->string(), vol + "--json --tsv").exitCode, 1);
    EXPECT_EQ(ls(image->string(), vol + "--mode bogus").exitCode, 1);
    EXPECT_EQ(ls(image->string(), vol + "--candidate 1").exitCode, 1) << "--candidate belongs to --mode advanced";
    EXPECT_EQ(ls(image->string(), "--extent FLAT").exitCode, 1) << "a volume must be chosen";
}

TEST(LsCli, JsonRowsCarryTheTsvsNumbersAndTheirTimeTexts) {
    const auto image = test::unpackedCorpusImage("generated/ntfs.img.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst is not available";
    const std::string vol = "--start 0 --type NTFS --extent FLAT -r ";
    const auto tsv = ls(image->string(), vol + "--tsv");
    const auto json = ls(image->string(), vol + "--json");
    ASSERT_EQ(tsv.exitCode, 0) << tsv.err;
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const auto rows = test::parseListing(tsv.out);
    std::size_t objects = 0;
    std::istringstream in(json.out);
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("  {")) continue;
        ++objects;
        const std::string path = test::jsonField(line, "path");
        auto row = rows.find(path);
        ASSERT_NE(row, rows.end()) << line;
        EXPECT_EQ(test::jsonField(line, "size"), row->second.size) << path;
        EXPECT_EQ(test::jsonField(line, "mtime"), row->second.mtime) << path;
        const std::string unix = test::jsonField(line, "modification_unix");
        // A record whose time is zero (the generator leaves $MFT's so) gives the epoch of the
        // file times, 1601.
        if (row->second.mtime != "0" && row->second.mtime != "-11644473600") {
            EXPECT_EQ(unix, row->second.mtime) << path;
            const std::string iso = test::jsonField(line, "modification_unix_iso");
            EXPECT_EQ(iso.size(), 20u) << path;
            EXPECT_EQ(iso.substr(0, 2), "20") << path;
        }
        EXPECT_EQ(test::jsonField(line, "is_placeholder"), path == "/\\[ORPHAN_ENTRY]" ? "true" : "false") << path;
    }
    EXPECT_EQ(objects, rows.size());
    EXPECT_GT(objects, 600u);
}

} // namespace
} // namespace vindaru
