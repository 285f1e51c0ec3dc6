// Acceptance: real NTFS volumes made by independent tools, against the listings of The Sleuth
// Kit. Every live file must be reachable at its path with its size, and what saveEntry writes
// must have the expected md5; deleted files that still have a name are found and drawn red.
#include <gtest/gtest.h>

#include <set>

#include "fs/ntfs/NtfsTestSupport.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

struct CorpusCase {
    std::string image;    // under the corpus folder
    std::string expected; // NAME.expected.tsv
};

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Rows The Sleuth Kit lists that this system does not show as entries of their own.
bool shownAsEntry(const ExpectedRow& r) {
    if (r.path.find(':') != std::string::npos) return false; // named streams
    // Records without any $FILE_NAME, which The Sleuth Kit names itself.
    if (r.path.find("/OrphanFile-") != std::string::npos) return false;
    return true;
}

void checkVolume(const CorpusCase& c, std::uint64_t startSector, const std::vector<ExpectedRow>& rows) {
    const auto image = unpackedCorpusImage(c.image);
    ASSERT_TRUE(image) << "cannot unpack " << c.image;
    const auto v = scanImage(*image, startSector);
    ASSERT_TRUE(v);
    ntfs& p = *v->parser;
    ASSERT_LT(p.rootIndex, p.entryCount()) << "no root directory found";

    std::multimap<std::string, std::uint64_t> byName;
    for (const auto& [path, index] : v->paths) byName.emplace(baseName(path), index);

    std::vector<std::uint64_t> toHash;
    std::vector<const ExpectedRow*> hashed;
    int liveFiles = 0, deletedFound = 0, deletedRows = 0;
    for (const ExpectedRow& r : rows) {
        if (r.startSector != startSector || !shownAsEntry(r)) continue;
        const bool orphan = r.path.starts_with("/$OrphanFiles/");
        if (r.isDeleted || orphan) {
            // A name left in a folder index whose record now holds another file ("reallocated
            // metadata", no md5) is not a record of its own.
            if (r.md5.empty() && !r.isDir) continue;
            ++deletedRows;
            // Found at its path, or (its folder gone or reused) by name anywhere.
            auto it = v->paths.find(r.path);
            bool found = it != v->paths.end() && !p.isInUse(it->second);
            for (auto [a, b] = byName.equal_range(baseName(r.path)); !found && a != b; ++a)
                found = !p.isInUse(a->second) || orphan;
            deletedFound += found;
            EXPECT_TRUE(found) << c.image << ": deleted " << r.path << " not found";
            continue;
        }
        const auto it = v->paths.find(r.path);
        if (it == v->paths.end()) {
            // One entry per record: of a file's hard links only the name of the record's last
            // $FILE_NAME is shown. Such a row must have a reachable twin with the same content.
            bool twin = false;
            for (const ExpectedRow& o : rows)
                twin = twin || (&o != &r && !o.isDeleted && o.md5 == r.md5 && o.size == r.size &&
                                v->paths.contains(o.path));
            EXPECT_TRUE(twin) << c.image << ": live " << r.path << " not reachable";
            continue;
        }
        EXPECT_TRUE(p.isInUse(it->second)) << r.path;
        EXPECT_EQ(p.isDirectory(it->second), r.isDir) << r.path;
        if (r.isDir) continue;
        ++liveFiles;
        EXPECT_EQ(p.entrySize(it->second), r.size) << c.image << ": " << r.path;
        if (!r.md5.empty() && r.md5 != "-") {
            toHash.push_back(it->second);
            hashed.push_back(&r);
        }
    }
    const auto md5s = savedMd5s(p, toHash);
    for (std::size_t k = 0; k < toHash.size(); ++k) {
        const auto got = md5s.find(toHash[k]);
        EXPECT_TRUE(got != md5s.end() && got->second == hashed[k]->md5)
            << c.image << ": md5 of " << hashed[k]->path << " size " << hashed[k]->size;
    }
    EXPECT_GT(liveFiles, 0);
    ::testing::Test::RecordProperty("deleted_found", deletedFound);
    (void)deletedRows;
}

void checkImage(const CorpusCase& c) {
    const auto tsv = corpusFile(c.expected);
    if (!tsv || !corpusFile(c.image)) GTEST_SKIP() << "corpus image " << c.image << " is absent";
    const auto rows = loadExpected(*tsv);
    std::set<std::uint64_t> starts;
    for (const auto& r : rows)
        if (r.fsType == "ntfs" || r.fsType == "NTFS") starts.insert(r.startSector);
    ASSERT_FALSE(starts.empty());
    for (std::uint64_t s : starts) checkVolume(c, s, rows);
}

} // namespace

TEST(NtfsCorpus, GeneratedVolumeWithCompressedFragmentedAndDeletedFiles) {
    checkImage({"generated/ntfs.img.zst", "generated/ntfs.expected.tsv"});
}
TEST(NtfsCorpus, NtfsVolumeInMbrDisk) {
    checkImage({"generated/mbr-disk.raw.zst", "generated/mbr-disk.expected.tsv"});
}
TEST(NtfsCorpus, NtfsVolumeInGptDisk) {
    checkImage({"generated/gpt-disk.raw.zst", "generated/gpt-disk.expected.tsv"});
}
TEST(NtfsCorpus, LinuxNtfs3DriverVolume) {
    checkImage({"external/dfirntfs-ntfs3.raw.gz", "external/dfirntfs-ntfs3.raw.expected.tsv"});
}
TEST(NtfsCorpus, AttributeListVolume) {
    checkImage({"external/dfirntfs-ntfs3_attrlist.raw.gz", "external/dfirntfs-ntfs3_attrlist.raw.expected.tsv"});
}
TEST(NtfsCorpus, WindowsVolumeWithRecycleBin) {
    checkImage({"external/dfirntfs-ntfs_index.raw.gz", "external/dfirntfs-ntfs_index.raw.expected.tsv"});
}
TEST(NtfsCorpus, DeletedFilesAndStreams) {
    checkImage({"external/tsktd-7-ntfs-undel.dd.gz", "external/tsktd-7-ntfs-undel.dd.expected.tsv"});
}
TEST(NtfsCorpus, WindowsCompressedVolume) {
    checkImage({"external/ntfssamples-ntfs-ramslack.raw.gz", "external/ntfssamples-ntfs-ramslack.raw.expected.tsv"});
}
TEST(NtfsCorpus, SparseFilesAndBigIndex) {
    checkImage({"external/colinfinck-testfs1.gz", "external/colinfinck-testfs1.expected.tsv"});
}
