// Volumes of the shapes real use produces (made by fixtures/make-fixtures.sh with mkntfs and
// ntfs-3g): a grown MFT with its own attribute list, 4096-byte sectors and records, names of 255
// UTF-16 units, deleted files whose folder's record was reused, hard links, and names and index
// roots moved to extension records. Every live file must be at each of its paths with the size
// and md5 the ntfs-3g mount gave; deleted files are under their own folder or ORPHAN_ENTRY.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "common/TextConvert.h"
#include "fs/ntfs/NtfsTestSupport.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

struct TruthRow {
    std::string path;
    bool isDir = false;
    std::uint64_t size = 0;
    std::string md5;
};

fs::path fixtureDir() { return fs::path(VINDARU_SOURCE_DIR) / "tests/fs/ntfs/fixtures"; }

// The raw volume, unpacked once per test run.
std::optional<fs::path> unpackedFixture(const std::string& name) {
    const fs::path source = fixtureDir() / (name + ".raw.zst");
    const fs::path cache = fs::temp_directory_path() / ("vindaru-ntfs-fixtures-" + std::to_string(getuid()));
    fs::create_directories(cache);
    const fs::path out = cache / (name + ".raw");
    if (fs::exists(out)) return out;
    const fs::path partial = cache / (name + ".part" + std::to_string(getpid()));
    if (runCommand("zstd -q -d -f -o " + shellQuote(partial.string()) + " " + shellQuote(source.string())).exitCode != 0)
        return std::nullopt;
    fs::rename(partial, out);
    return out;
}

std::vector<TruthRow> loadTruth(const std::string& name) {
    const auto r = runCommand("zstd -q -d -c " + shellQuote((fixtureDir() / (name + ".truth.tsv.zst")).string()));
    std::vector<TruthRow> rows;
    std::stringstream in(r.out);
    for (const auto& cols : readTsvRows(in)) {
        if (cols.size() < 4) continue;
        rows.push_back({cols[0], cols[1] == "1", std::stoull(cols[2]), cols[3]});
    }
    return rows;
}

struct Checked {
    std::unique_ptr<ScannedVolume> volume;
    std::vector<std::string> deletedPaths;
};

// Checks every live row of the truth, and that every deleted entry is either under
// ORPHAN_ENTRY or at one of `deletedInPlace`; returns the scan for further checks.
Checked checkFixture(const std::string& name, const std::set<std::string>& deletedInPlace = {}) {
    Checked c;
    const auto image = unpackedFixture(name);
    if (!image) {
        ADD_FAILURE() << "cannot unpack " << name << " (zstd missing?)";
        return c;
    }
    const auto rows = loadTruth(name);
    EXPECT_FALSE(rows.empty()) << name;
    c.volume = scanImage(*image, 0);
    if (!c.volume) {
        ADD_FAILURE() << "cannot scan " << name;
        return c;
    }
    ntfs& p = *c.volume->parser;
    const auto& paths = c.volume->paths;
    std::vector<std::uint64_t> toHash;
    std::vector<const TruthRow*> hashed;
    for (const TruthRow& r : rows) {
        const auto it = paths.find(r.path);
        if (it == paths.end()) {
            ADD_FAILURE() << name << ": " << r.path << " not listed";
            continue;
        }
        EXPECT_TRUE(p.isInUse(it->second)) << name << ": " << r.path;
        EXPECT_EQ(p.isDirectory(it->second), r.isDir) << name << ": " << r.path;
        if (r.isDir) continue;
        EXPECT_EQ(p.entrySize(it->second), r.size) << name << ": " << r.path;
        toHash.push_back(it->second);
        hashed.push_back(&r);
    }
    const auto md5s = savedMd5s(p, toHash);
    for (std::size_t k = 0; k < toHash.size(); ++k) {
        const auto got = md5s.find(toHash[k]);
        EXPECT_TRUE(got != md5s.end() && got->second == hashed[k]->md5) << name << ": md5 of " << hashed[k]->path;
    }
    for (const auto& [path, index] : paths) {
        if (p.isInUse(index)) continue;
        c.deletedPaths.push_back(path);
        EXPECT_TRUE(path.starts_with("/ORPHAN_ENTRY/") || deletedInPlace.contains(path))
            << name << ": deleted " << path << " shown in a folder it did not live in";
    }
    return c;
}

std::string savedMd5(ntfs& p, std::uint64_t index) {
    const auto m = savedMd5s(p, {index});
    return m.empty() ? std::string() : m.begin()->second;
}

} // namespace

TEST(NtfsFixture, GrownMftWithItsOwnAttributeListKeepsEveryFileInItsFolder) {
    const Checked c = checkFixture("grown");
    ASSERT_TRUE(c.volume);
    ntfs& p = *c.volume->parser;
    EXPECT_GT(p.mftRuns.size(), 1000u) << "the fixture's MFT is not fragmented enough";
    EXPECT_EQ(p.childrenOf(p.orphanIndex).size(), 0u);
    // $MFT's name is in an extension record: it is listed, with the size of the MFT's data.
    const auto mft = c.volume->paths.find("/$MFT");
    ASSERT_NE(mft, c.volume->paths.end());
    std::uint64_t runBytes = 0;
    for (const ClusterRun& r : p.mftRuns) runBytes += r.clusterCount * p.clusterSize;
    EXPECT_GT(p.entrySize(mft->second), runBytes - p.clusterSize);
    EXPECT_LE(p.entrySize(mft->second), runBytes);
}

TEST(NtfsFixture, FourKilobyteSectorsAndRecords) {
    const Checked c = checkFixture("sector4k");
    ASSERT_TRUE(c.volume);
    EXPECT_EQ(c.volume->parser->recordSize, 4096u);
    EXPECT_EQ(c.volume->parser->childrenOf(c.volume->parser->orphanIndex).size(), 0u);
}

TEST(NtfsFixture, NamesOf255UnitsInEveryScript) {
    const Checked c = checkFixture("names255");
    ASSERT_TRUE(c.volume);
    std::size_t longest = 0;
    for (const auto& [path, index] : c.volume->paths)
        longest = std::max(longest, c.volume->parser->entryName(index).size());
    EXPECT_EQ(longest, 255u);
}

TEST(NtfsFixture, DeletedFilesOfAReusedFolderAreOrphans) {
    const Checked c = checkFixture("reused", {"/keep/gone.txt"});
    ASSERT_TRUE(c.volume);
    // Record 65 of lost.txt now holds stranger/own.txt; lost-small.txt's folder record holds
    // the folder "stranger".
    EXPECT_EQ(c.deletedPaths, (std::vector<std::string>{"/ORPHAN_ENTRY/lost-small.txt", "/keep/gone.txt"}));
    ntfs& p = *c.volume->parser;
    EXPECT_EQ(savedMd5(p, c.volume->paths.at("/ORPHAN_ENTRY/lost-small.txt")), "d15dbfcb847653913855e21370d83af1");
}

TEST(NtfsFixture, EveryHardLinkIsListedWithTheRecordsContent) {
    const Checked c = checkFixture("hardlinks");
    ASSERT_TRUE(c.volume);
    const auto& paths = c.volume->paths;
    ntfs& p = *c.volume->parser;
    for (const char* link : {"/d00/orig.txt", "/d00/same_folder.txt", "/d01/link_elsewhere.txt"})
        EXPECT_EQ(p.baseRecordIndex(paths.at(link)), p.baseRecordIndex(paths.at("/d00/orig.txt"))) << link;
    EXPECT_EQ(paths.size(), 24u) << "each name once ($MFT too), nothing more";
}

TEST(NtfsFixture, NamesAndIndexRootsInExtensionRecords) {
    const Checked c = checkFixture("extension");
    ASSERT_TRUE(c.volume);
    // The deleted compressed file's name went with its extension record: it is listed by its
    // record number, with its content.
    ASSERT_EQ(c.deletedPaths, (std::vector<std::string>{"/ORPHAN_ENTRY/MFT_RECORD_279"}));
    ntfs& p = *c.volume->parser;
    const std::uint64_t deleted = c.volume->paths.at("/ORPHAN_ENTRY/MFT_RECORD_279");
    EXPECT_EQ(p.entrySize(deleted), 2000000u);
    EXPECT_EQ(savedMd5(p, deleted), "1644e2c4988f33e6fa857cd1c97821b0");
}
