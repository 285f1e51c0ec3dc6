#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "cli/CliRunner.h"
#include "support/TestSupport.h"

using namespace vindaru::test;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

// Names (last path component) of the truth rows whose name contains jpg or png, any case.
std::multiset<std::string> truthNamesMatching(const fs::path& truth) {
    std::multiset<std::string> out;
    std::ifstream in(truth);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream row(line);
        std::string start, path, isDir;
        std::getline(row, start, '\t');
        std::getline(row, path, '\t');
        std::getline(row, isDir, '\t');
        const std::string name = path.substr(path.rfind('/') + 1);
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (isDir == "0" && (lower.find("jpg") != std::string::npos || lower.find("png") != std::string::npos))
            out.insert(name);
    }
    return out;
}

} // namespace

TEST(SearchCli, FindsExactlyTheFilesWhoseNamesContainEitherExtension) {
    auto image = unpackedCorpusImage("generated/ntfs.img.zst");
    auto truth = corpusFile("generated/ntfs.truth.tsv");
    if (!image || !truth) GTEST_SKIP() << "corpus image generated/ntfs.img.zst not available";
    auto r = runCli({"search", image->string(), "--start", "0", "--type", "NTFS", "--extent", "FLAT",
                     "--verbose", "jpg|png"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::multiset<std::string> found;
    for (const auto& line : lines(r.out)) {
        const std::string path = line.substr(0, line.find('\t'));
        EXPECT_EQ(path.rfind("ROOT\\", 0), 0u) << path;
        found.insert(path.substr(path.rfind('\\') + 1));
    }
    // Deleted files the parser still finds may match too; every file put in must be found.
    for (const auto& name : truthNamesMatching(*truth)) EXPECT_TRUE(found.count(name)) << name;
    for (const auto& name : found) {
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(lower.find("jpg") != std::string::npos || lower.find("png") != std::string::npos) << name;
    }
    EXPECT_NE(r.err.find("Searching Finished"), std::string::npos);
}

TEST(SearchCli, InvalidPatternIsRefusedWithTheMessage) {
    auto image = unpackedCorpusImage("generated/ntfs.img.zst");
    if (!image) GTEST_SKIP() << "corpus image generated/ntfs.img.zst not available";
    auto r = runCli({"search", image->string(), "--start", "0", "--type", "NTFS", "--extent", "FLAT", "*x"});
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("such characters are not allowed for search.Try again with different pattern."),
              std::string::npos);
    EXPECT_EQ(r.err.find("Searching Finished"), std::string::npos);
}

TEST(SearchCli, RecycledFilesAreListedAndSavedUnderTheirFormerNames) {
    auto image = unpackedCorpusImage("generated/ntfs.img.zst");
    auto recycle = corpusFile("generated/ntfs.recycle.tsv");
    if (!image || !recycle) GTEST_SKIP() << "corpus recycle-bin image not available";
    auto r = runCli({"ls", image->string(), "--start", "0", "--type", "NTFS", "--extent", "FLAT", "-r",
                     "--tsv", "--md5"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Each $I record names the former path; its $R partner must appear under that name with
    // the content the truth lists for the $R path.
    std::ifstream in(*recycle);
    std::string line;
    std::getline(in, line);
    int checked = 0;
    while (std::getline(in, line)) {
        std::istringstream row(line);
        std::string iPath, version, size, deleted, original;
        std::getline(row, iPath, '\t');
        std::getline(row, version, '\t');
        std::getline(row, size, '\t');
        std::getline(row, deleted, '\t');
        std::getline(row, original, '\t');
        const std::string folder = iPath.substr(0, iPath.rfind('/'));
        const std::string former = original.substr(original.rfind('\\') + 1);
        const std::string listed = "/" + folder + "/" + former + "\t";
        EXPECT_NE(r.out.find(listed), std::string::npos) << "v" << version << " " << listed;
        ++checked;
    }
    EXPECT_GT(checked, 0);
    // The report (a v2 record) keeps the content of its $R partner under the new name.
    auto truth = corpusFile("generated/ntfs.truth.tsv");
    ASSERT_TRUE(truth);
    std::ifstream t(*truth);
    std::string expectedMd5;
    for (std::string row; std::getline(t, row);)
        if (row.find("/$RY9C6C0.txt\t") != std::string::npos) {
            std::vector<std::string> c;
            std::istringstream cols(row);
            for (std::string col; std::getline(cols, col, '\t');) c.push_back(col);
            if (c.size() > 5) expectedMd5 = c[5];
        }
    ASSERT_FALSE(expectedMd5.empty());
    const auto at = r.out.find("-1005/report-pepper.txt\t");
    ASSERT_NE(at, std::string::npos);
    std::vector<std::string> c;
    std::istringstream cols(r.out.substr(at, r.out.find('\n', at) - at));
    for (std::string col; std::getline(cols, col, '\t');) c.push_back(col);
    ASSERT_GE(c.size(), 5u);
    EXPECT_EQ(c[4], expectedMd5);
}
