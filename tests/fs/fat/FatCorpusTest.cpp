// Acceptance: FAT12, FAT16, FAT32 and exFAT volumes made by independent tools, against the
// listings of The Sleuth Kit. Every live file is at its path with its size and md5; deleted
// entries are found and drawn red.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "fs/fat/FatTestSupport.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

struct Row {
    std::uint64_t start = 0;
    std::string fsType, path;
    bool dir = false, deleted = false;
    std::uint64_t size = 0;
    std::string md5;
};

std::vector<Row> readExpected(const fs::path& file) {
    std::vector<Row> rows;
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, '\t')) f.push_back(cell);
        while (f.size() < 7) f.emplace_back();
        Row r;
        r.start = std::stoull(f[0]);
        r.fsType = f[1];
        r.path = f[2].starts_with("/") ? f[2] : "/" + f[2];
        r.dir = f[3] == "1";
        r.deleted = f[4] == "1";
        r.size = f[5].empty() ? 0 : std::stoull(f[5]);
        r.md5 = f[6] == "-" ? "" : f[6];
        rows.push_back(r);
    }
    return rows;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string parserName(const std::string& fsType) {
    const std::string t = lower(fsType);
    if (t == "fat32") return "FAT32";
    if (t == "exfat") return "FAT64";
    return "FAT16";
}

// Rows that are entries of the volume at a path of their own, as this system shows them.
bool isLiveEntryRow(const Row& r) {
    return !r.deleted && !r.path.starts_with("/$OrphanFiles") && r.path.find("(Volume Label Entry)") == std::string::npos &&
           r.path != "/$ALLOC_BITMAP" && r.path != "/$UPCASE_TABLE" && !(r.path.starts_with("/$RECYCLE.BIN/") && r.path.find("/$R", 13) != std::string::npos);
}

struct Case {
    std::string image, expected;
};

// A deleted file that nothing overwrote saves with its original content (the build's truth):
// not the fillers whose clusters the fragmented file took, nor the fragmented file itself.
void checkDeletedContent(const Case& c, FatScan& scan, const std::map<std::string, EntryRef>& byLowerPath) {
    std::string truth = c.expected;
    truth.replace(truth.rfind(".expected.tsv"), 13, ".truth.tsv");
    std::ifstream in(*corpusDir() / truth);
    std::string line;
    std::getline(in, line);
    int checked = 0;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, '\t')) f.push_back(cell);
        if (f.size() < 6 || f[2] != "0" || f[3] != "1") continue;
        const std::string path = f[1];
        if (path.find("~WRF") != std::string::npos || path.find("fragmented") != std::string::npos) continue;
        const std::string tail = lower(path.substr(path.rfind('/') + 2));
        const std::string folder = lower(path.substr(0, path.rfind('/') + 1));
        bool found = false;
        for (const auto& [p, ref] : byLowerPath) {
            if (!p.starts_with(folder) || p.size() < tail.size() || p.compare(p.size() - tail.size(), tail.size(), tail) != 0)
                continue;
            found = true;
            EXPECT_TRUE(scan.view().isDeleted(ref)) << path;
            EXPECT_EQ(scan.md5(ref), f[5]) << c.image << ": deleted " << path;
        }
        EXPECT_TRUE(found) << c.image << ": deleted " << path;
        ++checked;
    }
    EXPECT_GT(checked, 0) << truth;
}

void checkImage(const Case& c) {
    const auto dir = corpusDir();
    if (!dir) GTEST_SKIP() << "corpus folder absent";
    const auto image = unpackedCorpusImage(c.image);
    ASSERT_TRUE(image) << "cannot unpack " << c.image;
    const std::vector<Row> rows = readExpected(*dir / c.expected);
    std::set<std::uint64_t> starts;
    for (const Row& r : rows)
        if (lower(r.fsType) != "none") starts.insert(r.start);
    for (std::uint64_t start : starts) {
        std::string type;
        for (const Row& r : rows)
            if (r.start == start) type = r.fsType;
        auto scan = scanFatFile(image->string(), parserName(type), start);
        ASSERT_TRUE(scan);
        ASSERT_FALSE(scan->outcome.rejected) << c.image << " at " << start << ": " << type;
        // Paths compare without regard to letter case: short names keep the case they are stored in.
        if (std::getenv("FAT_DUMP"))
            for (const auto& [path, ref] : scan->paths)
                std::cout << (scan->view().isDeleted(ref) ? "* " : "  ") << path << "\t" << scan->view().byteSize(ref) << "\n";
        std::map<std::string, EntryRef> byLowerPath;
        for (const auto& [path, ref] : scan->paths) byLowerPath.emplace(lower(path), ref);
        int live = 0, deletedRows = 0, deletedFound = 0;
        for (const Row& r : rows) {
            if (r.start != start) continue;
            if (isLiveEntryRow(r)) {
                ++live;
                auto it = byLowerPath.find(lower(r.path));
                if (it == byLowerPath.end()) {
                    // A folder reached only through a loop (a directory that holds its own
                    // ancestor) is listed once, without children; every file must be there.
                    if (!r.dir) ADD_FAILURE() << c.image << ": live " << r.path << " not found";
                    continue;
                }
                EXPECT_FALSE(scan->view().isDeleted(it->second)) << r.path;
                EXPECT_EQ(scan->view().isDirectory(it->second), r.dir) << r.path;
                if (r.dir) continue;
                EXPECT_EQ(scan->view().byteSize(it->second), r.size) << c.image << ": " << r.path;
                EXPECT_EQ(scan->md5(it->second), r.md5) << c.image << ": " << r.path;
            } else if (r.deleted && !r.path.starts_with("/$OrphanFiles") && r.path.find("(Volume Label") == std::string::npos) {
                ++deletedRows;
                // The lost first letter of a deleted short name differs; compare the rest.
                const std::string tail = lower(r.path.substr(r.path.rfind('/') + 2));
                for (const auto& [path, ref] : byLowerPath)
                    if (scan->view().isDeleted(ref) && path.size() >= tail.size() &&
                        path.compare(path.size() - tail.size(), tail.size(), tail) == 0) {
                        ++deletedFound;
                        break;
                    }
            }
        }
        // Deleted folders whose first cluster a later folder reused are merged with it.
        if (c.image.starts_with("generated/")) {
            EXPECT_EQ(deletedFound, deletedRows) << c.image;
        }
        if (c.image.starts_with("generated/")) checkDeletedContent(c, *scan, byLowerPath);
        std::cout << c.image << "@" << start << ": " << live << " live rows, " << deletedFound << "/" << deletedRows
                  << " deleted found, " << scan->paths.size() << " paths\n";
    }
}

class FatCorpus : public ::testing::TestWithParam<Case> {};

TEST_P(FatCorpus, LiveFilesAtTheirPathsWithTheirContent) { checkImage(GetParam()); }

INSTANTIATE_TEST_SUITE_P(
    Images, FatCorpus,
    ::testing::Values(Case{"generated/fat16.img.zst", "generated/fat16.expected.tsv"},
                      Case{"generated/fat16-oem-mkfs.img.zst", "generated/fat16-oem-mkfs.expected.tsv"},
                      Case{"generated/fat32.img.zst", "generated/fat32.expected.tsv"},
                      Case{"generated/exfat.img.zst", "generated/exfat.expected.tsv"},
                      Case{"external/dfirntfs-fat12.raw.gz", "external/dfirntfs-fat12.raw.expected.tsv"},
                      Case{"external/dfirntfs-fat16.raw.gz", "external/dfirntfs-fat16.raw.expected.tsv"},
                      Case{"external/dfirntfs-fat32_loop.raw.gz", "external/dfirntfs-fat32_loop.raw.expected.tsv"},
                      Case{"external/dfirntfs-fat_lfn_test.raw.gz", "external/dfirntfs-fat_lfn_test.raw.expected.tsv"},
                      Case{"external/dfirntfs-fat_deleted_dir.raw.gz", "external/dfirntfs-fat_deleted_dir.raw.expected.tsv"},
                      Case{"external/dfirntfs-fat_deleted_dir_2.raw.gz", "external/dfirntfs-fat_deleted_dir_2.raw.expected.tsv"},
                      Case{"external/tsktd-6-fat-undel.dd.gz", "external/tsktd-6-fat-undel.dd.expected.tsv"},
                      Case{"external/tsktd-9-fat-label.dd.gz", "external/tsktd-9-fat-label.dd.expected.tsv"},
                      Case{"external/tsktd-fat-img-kw.dd.gz", "external/tsktd-fat-img-kw.dd.expected.tsv"},
                      Case{"external/dfirntfs-exfat_win.raw.gz", "external/dfirntfs-exfat_win.raw.expected.tsv"},
                      Case{"external/dfirntfs-exfat_lin_part.raw.gz", "external/dfirntfs-exfat_lin_part.raw.expected.tsv"},
                      Case{"external/dfirntfs-exfat_orphan.raw.gz", "external/dfirntfs-exfat_orphan.raw.expected.tsv"},
                      Case{"external/dfirntfs-win_exfat_7.raw.gz", "external/dfirntfs-win_exfat_7.raw.expected.tsv"}));

} // namespace
