// vindaru-cli candidates and the recovery modes of ls, run as a user runs them, on scratch copies
// of the corpus NTFS volume damaged the way a failing disk damages them: boot sector zeroed,
// and boot sector plus the MFT's first cluster zeroed.
#include <gtest/gtest.h>

#include <map>

#include "support/ListingTsv.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::runCommand;
using test::shellQuote;
namespace fs = std::filesystem;

// --verbose: these tests read the pages' messages.
constexpr const char* kVolume = " --verbose --extent FLAT --start 0 --type NTFS ";
constexpr std::uint64_t kMftOffset = 4 * 4096; // mkntfs put the MFT at cluster 4

test::CommandResult cli(const std::string& command, const fs::path& image,
                        const std::string& options) {
    return runCommand(std::string(VINDARU_CLI_PATH) + " " + command + " " +
                      shellQuote(image.string()) + kVolume + options);
}

// A scratch copy of the corpus volume with [offset, offset + length) ranges zeroed.
struct DamagedCopy {
    test::ScratchDir scratch;
    fs::path intact = scratch / "intact.img";
    fs::path noBoot = scratch / "noboot.img";
    fs::path noMft = scratch / "nomft.img";
    bool ready = false;

    DamagedCopy() {
        const auto source = test::unpackedCorpusImage("generated/ntfs.img.zst");
        if (!source) return;
        auto bytes = test::readFile(*source);
        test::writeFile(intact, bytes);
        std::fill_n(bytes.begin(), 512, 0);
        test::writeFile(noBoot, bytes);
        std::fill_n(bytes.begin() + kMftOffset, 4096, 0);
        test::writeFile(noMft, bytes);
        ready = true;
    }
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            out.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    return out;
}

} // namespace

TEST(CandidatesCli, ListsTheCandidatesAsThePageOffersThem) {
    DamagedCopy copy;
    if (!copy.ready) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    auto r = cli("candidates", copy.intact, "--max 0 --clusters");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{"MFT_ENTRY:0", "Sector Per Cluster :", "8",
                                                      "4", "2", "16", "32", "64"}));
    EXPECT_NE(r.err.find("Number of MFT-ENTRY found = 1 . Please select the choice from combo box "
                         "and click Parse "
                         "button to proceed."),
              std::string::npos);
    EXPECT_NE(r.err.find("Parsing done.Click next to continue."), std::string::npos);

    // Without the MFT's first cluster there is no "$MFT" seven records before "$Boot".
    r = cli("candidates", copy.noMft, "");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Number of MFT-ENTRY found = 0 ."), std::string::npos);
    r = cli("ls", copy.noMft, "--mode advanced");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("no MFT candidate was found"), std::string::npos);

    EXPECT_EQ(cli("candidates", copy.intact, "--max x").exitCode, 0)
        << "an unreadable count searches for 3";
    EXPECT_EQ(cli("ls", copy.intact, "--mode advanced --candidate 1").exitCode, 3);
    EXPECT_EQ(cli("ls", copy.intact, "--mode advanced --cluster-sectors 3").exitCode, 1);
}

TEST(CandidatesCli, DamagedBootSectorAndAdvancedModeListTheSameLiveFiles) {
    DamagedCopy copy;
    if (!copy.ready) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    const auto want = cli("ls", copy.intact, "-r --tsv --md5");
    ASSERT_EQ(want.exitCode, 0) << want.err;
    const auto noBoot = cli("ls", copy.noBoot, "-r --tsv --md5");
    ASSERT_EQ(noBoot.exitCode, 0) << noBoot.err;
    const auto advanced =
        cli("ls", copy.intact, "--mode advanced --candidate 0 --cluster-sectors 8 -r --tsv --md5");
    ASSERT_EQ(advanced.exitCode, 0) << advanced.err;
    EXPECT_NE(advanced.err.find("Scanning process completed.\n"), std::string::npos);

    const auto expected = test::parseListing(want.out);
    ASSERT_GT(expected.size(), 600u);
    for (const auto* listing : {&noBoot.out, &advanced.out}) {
        const auto got = test::parseListing(*listing);
        EXPECT_EQ(got.size(), expected.size());
        for (const auto& [path, row] : expected) {
            if (path == "/$Boot") continue; // its content is the zeroed boot sector
            auto it = got.find(path);
            ASSERT_NE(it, got.end()) << path;
            EXPECT_EQ(it->second.size, row.size) << path;
            EXPECT_EQ(it->second.md5, row.md5) << path;
            EXPECT_EQ(it->second.deleted, row.deleted) << path;
        }
    }
}

TEST(CandidatesCli, DeepModeListsEveryNamedRecordUnderTheOrphanPlaceholder) {
    DamagedCopy copy;
    if (!copy.ready) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    const auto standard = cli("ls", copy.intact, "-r --tsv --md5");
    const auto deep = cli("ls", copy.noMft, "--mode deep -r --tsv --md5");
    ASSERT_EQ(deep.exitCode, 0) << deep.err;
    const auto first = cli("ls", copy.noMft, "--mode deep --tsv");
    EXPECT_EQ(lines(first.out).size(), 2u) << "only ORPHAN_ENTRY below the volume item";

    // Every live file of the intact volume is found by name with its content, under a folder
    // found before it on disk.
    std::map<std::string, std::string> deepByName;
    for (const auto& [path, row] : test::parseListing(deep.out)) {
        EXPECT_EQ(path.rfind("/\\[ORPHAN_ENTRY]", 0), 0u) << path;
        if (!row.dir) deepByName[path.substr(path.rfind('/') + 1) + " " + row.md5] = path;
    }
    int files = 0;
    for (const auto& [path, row] : test::parseListing(standard.out)) {
        if (row.dir || row.deleted || path.rfind("/$", 0) == 0 ||
            path.rfind("/\\[ORPHAN_ENTRY]", 0) == 0)
            continue;
        const std::string name = path.substr(path.rfind('/') + 1);
        if (name == "$Boot" || name == "$MFT" || name == "$MFTMirr" || name == "$LogFile" ||
            name == "$Volume")
            continue;
        EXPECT_TRUE(deepByName.count(name + " " + row.md5)) << path;
        ++files;
    }
    EXPECT_GT(files, 50);
}

} // namespace vindaru
