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

TEST(CandidatesCli, DeepModeListsEveryFileAtItsPathOrUnderTheOrphanPlaceholder) {
    DamagedCopy copy;
    if (!copy.ready) GTEST_SKIP() << "corpus image generated/ntfs.img.zst (or zstd) absent";
    const auto standard = cli("ls", copy.intact, "-r --tsv --md5");
    const auto deep = cli("ls", copy.noMft, "--mode deep -r --tsv --md5");
    ASSERT_EQ(deep.exitCode, 0) << deep.err;
    // Every entry sits at its Standard path with the Standard content (but $Boot, whose content
    // is the zeroed boot sector) or under the orphan placeholder; every live file of the
    // intact volume is found by name.
    const auto standardRows = test::parseListing(standard.out);
    std::map<std::string, std::string> deepByName;
    for (const auto& [path, row] : test::parseListing(deep.out)) {
        if (path.rfind("/\\[ORPHAN_ENTRY]", 0) != 0 && path != "/$Boot") {
            const auto it = standardRows.find(path);
            ASSERT_NE(it, standardRows.end()) << path;
            EXPECT_EQ(it->second.md5, row.md5) << path;
            EXPECT_EQ(it->second.deleted, row.deleted) << path;
        }
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

namespace vindaru {
namespace {

// A FAT-family corpus volume whose boot sector (and its backups) a failing disk zeroed.
struct DamagedFatCopy {
    test::ScratchDir scratch;
    fs::path intact = scratch / "intact.img";
    fs::path damaged = scratch / "damaged.img";
    bool ready = false;

    DamagedFatCopy(const char* image, std::initializer_list<std::uint64_t> bootSectors) {
        const auto source = test::unpackedCorpusImage(image);
        if (!source) return;
        auto bytes = test::readFile(*source);
        test::writeFile(intact, bytes);
        for (const std::uint64_t sector : bootSectors)
            std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(sector * 512), 512, 0);
        test::writeFile(damaged, bytes);
        ready = true;
    }
};

test::CommandResult fatCli(const std::string& command, const fs::path& image, const std::string& type,
                           const std::string& options) {
    return runCommand(std::string(VINDARU_CLI_PATH) + " " + command + " " + shellQuote(image.string()) +
                      " --verbose --extent FLAT --start 0 --type " + type + " " + options);
}

} // namespace

TEST(CandidatesCli, Fat32WithoutItsBootSectorsIsRebuiltWithItsOwnClusterSize) {
    DamagedFatCopy copy("generated/fat32.img.zst", {0, 6});
    if (!copy.ready) GTEST_SKIP() << "corpus image generated/fat32.img.zst (or zstd) absent";
    auto r = fatCli("candidates", copy.damaged, "FAT32", "--clusters");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{"FAT32_ENTRY:0", "FAT32_ENTRY:1", "Sector Per Cluster :", "2",
                                                      "4", "16", "32", "64", "8"}));
    EXPECT_NE(r.err.find("Number of FAT32-ENTRY found = 2 ."), std::string::npos);

    // 512-byte clusters are not in the page's list; the command line takes them.
    const auto want = fatCli("ls", copy.intact, "FAT32", "-r --tsv --md5");
    const auto got = fatCli("ls", copy.damaged, "FAT32", "--mode advanced --cluster-sectors 1 -r --tsv --md5");
    ASSERT_EQ(got.exitCode, 0) << got.err;
    EXPECT_NE(got.err.find("Scanning process completed..."), std::string::npos);
    const auto expected = test::parseListing(want.out);
    const auto rebuilt = test::parseListing(got.out);
    ASSERT_GT(expected.size(), 50u);
    for (const auto& [path, row] : expected) {
        if (row.deleted) continue;
        auto it = rebuilt.find(path);
        ASSERT_NE(it, rebuilt.end()) << path;
        EXPECT_EQ(it->second.md5, row.md5) << path;
    }
    EXPECT_TRUE(rebuilt.count("/\\[ORPHAN ENTRY]"));

    r = fatCli("ls", copy.damaged, "FAT32", "--mode advanced --cluster-sectors 3");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--cluster-sectors takes one of 2 4 16 32 64 8 (or any power of two up to 128)"),
              std::string::npos);
    EXPECT_EQ(fatCli("ls", copy.damaged, "FAT32", "--mode advanced --heap 1").exitCode, 1) << "no heap on FAT32";
    EXPECT_EQ(fatCli("ls", copy.damaged, "FAT32", "--mode advanced --candidate 2").exitCode, 3);
}

TEST(CandidatesCli, ExfatListsItsHeapCandidatesAndTakesAnyShiftUpToEleven) {
    DamagedFatCopy copy("generated/exfat.img.zst", {0});
    if (!copy.ready) GTEST_SKIP() << "corpus image generated/exfat.img.zst (or zstd) absent";
    auto r = fatCli("candidates", copy.damaged, "exFat", "--max 1");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(lines(r.out), (std::vector<std::string>{"FAT64_ENTRY:0", "Heap Offset :", "HEAP_OFFSET_ENTRY:0",
                                                      "HEAP_OFFSET_ENTRY:1"}));
    const auto want = fatCli("ls", copy.intact, "exFat", "-r --tsv --md5");
    // The backup boot sector gives the shift (3: 4 KiB clusters) and heap candidate 0.
    const auto got = fatCli("ls", copy.damaged, "exFat", "--mode advanced -r --tsv --md5");
    ASSERT_EQ(got.exitCode, 0) << got.err;
    const auto rebuilt = test::parseListing(got.out);
    for (const auto& [path, row] : test::parseListing(want.out)) {
        if (row.deleted) continue;
        auto it = rebuilt.find(path);
        ASSERT_NE(it, rebuilt.end()) << path;
        EXPECT_EQ(it->second.md5, row.md5) << path;
    }
    EXPECT_EQ(fatCli("ls", copy.damaged, "exFat", "--mode advanced --cluster-sectors 2 --heap 1").exitCode, 0);
    EXPECT_EQ(fatCli("ls", copy.damaged, "exFat", "--mode advanced --cluster-sectors 12").exitCode, 1);
    r = fatCli("ls", copy.damaged, "exFat", "--mode advanced --heap 9");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("there is no heap candidate 9"), std::string::npos);
}

} // namespace vindaru
