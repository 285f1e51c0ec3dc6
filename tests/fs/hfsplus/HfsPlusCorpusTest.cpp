// The HFS+ volumes of the shared corpus against The Sleuth Kit's listings: every live file at its
// path with its size, md5 and modification time; and the deep mode on the same volumes with the
// catalog's header node zeroed, where every file must still be found by name with its content.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <set>

#include "HfsTestSupport.h"
#include "fs/hfsplus/HfsPlusFormat.h"
#include "fs/parser/VolumeParser.h"
#include "image/MemoryReader.h"
#include "support/ListingTsv.h"
#include "support/TestSupport.h"

namespace vindaru::test {
namespace {

struct CorpusVolume {
    const char* image;    // under the corpus folder
    const char* expected; // expected.tsv beside it
    std::uint64_t startSector;
    const char* fsType;   // as the listing names it
};

constexpr CorpusVolume kVolumes[] = {
    {"generated/hfsplus.img.zst", "generated/hfsplus.expected.tsv", 0, "hfsplus"},
    {"generated/gpt-disk.raw.zst", "generated/gpt-disk.expected.tsv", 141312, "hfsplus"},
    {"external/dfvfs-hfsplus.raw", "external/dfvfs-hfsplus.raw.expected.tsv", 0, "HFS+"},
};

std::optional<fs::path> imagePath(const std::string& relative) {
    if (relative.ends_with(".zst") || relative.ends_with(".gz")) return unpackedCorpusImage(relative);
    return corpusFile(relative);
}

// The Sleuth Kit prints control characters in names as '^'.
std::string tskName(const std::string& label) {
    std::string out;
    for (char c : label) out.push_back(static_cast<unsigned char>(c) < 0x20 ? '^' : c);
    return out;
}

// Live files and folders of one partition, by path with a leading '/' (the special files the
// catalog does not hold, CNID below 16, are left out).
std::map<std::string, ListingRow> liveRows(const CorpusVolume& v) {
    std::ifstream in(*corpusFile(v.expected));
    std::string textAll((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<std::string, ListingRow> rows;
    for (auto& [path, row] : parseListing(textAll, v.fsType)) {
        if (row.start != std::to_string(v.startSector) || row.deleted) continue;
        std::string p = path.starts_with("/") ? path : "/" + path;
        if (p.starts_with("/$") || p.starts_with("/$OrphanFiles")) continue;
        rows.emplace(p, row);
    }
    return rows;
}

std::map<std::string, EntryRef> tskPaths(HfsScan& scan) {
    std::map<std::string, EntryRef> out;
    for (auto& [path, entry] : scan.paths()) out.emplace(tskName(path), entry);
    return out;
}

class HfsPlusCorpus : public ::testing::TestWithParam<CorpusVolume> {};

TEST_P(HfsPlusCorpus, NormalModeMatchesTheSleuthKit) {
    const CorpusVolume v = GetParam();
    auto image = imagePath(v.image);
    if (!image) GTEST_SKIP() << "corpus image " << v.image << " not available";
    auto scan = scanHfsFile(image->string(), kScanModeStandard, v.startSector);
    ASSERT_TRUE(scan);
    ASSERT_EQ(scan->outcome.endStatus, "Scanning process Done.");
    const auto paths = tskPaths(*scan);
    const auto rows = liveRows(v);
    ASSERT_FALSE(rows.empty());
    std::size_t files = 0;
    for (const auto& [path, row] : rows) {
        SCOPED_TRACE(path);
        const auto it = paths.find(path);
        ASSERT_NE(it, paths.end());
        EXPECT_EQ(scan->view().isDirectory(it->second), row.dir);
        if (row.dir) continue;
        ++files;
        EXPECT_EQ(std::to_string(scan->view().byteSize(it->second)), row.size);
        bool whole = false;
        EXPECT_EQ(md5Of(scan->content(it->second, &whole)), row.md5);
        EXPECT_TRUE(whole);
        if (!row.mtime.empty()) {
            EXPECT_EQ(std::to_string(scan->view().times(it->second).modificationSeconds), row.mtime);
        }
    }
    EXPECT_GT(files, 5u);
}

TEST_P(HfsPlusCorpus, DeepModeFindsEveryFileWithTheCatalogHeaderNodeZeroed) {
    const CorpusVolume v = GetParam();
    auto image = imagePath(v.image);
    if (!image) GTEST_SKIP() << "corpus image " << v.image << " not available";
    // The volume alone, in memory, with the catalog's node 0 wiped.
    std::vector<std::uint8_t> disk = readFile(*image);
    const std::uint64_t base = v.startSector * 512;
    ASSERT_GT(disk.size(), base + 1536);
    std::vector<std::uint8_t> volume(disk.begin() + static_cast<std::ptrdiff_t>(base), disk.end());
    const HfsVolumeHeader h = decodeVolumeHeader(ByteSpan(volume).subspan(1024, 512));
    const std::uint64_t catalog = std::uint64_t{h.catalogFile.extents[0].startBlock} * h.blockSize;
    const std::uint32_t nodeSize = decodeBTreeHeader(ByteSpan(volume).subspan(static_cast<std::size_t>(catalog), 512)).nodeSize;
    ASSERT_TRUE(isValidNodeSize(nodeSize));
    std::fill_n(volume.begin() + static_cast<std::ptrdiff_t>(catalog), nodeSize, 0);
    if (v.startSector != 0) {
        // Only this partition: the disk's other volumes would add their own files.
        const std::uint64_t bytes = std::uint64_t{h.totalBlocks} * h.blockSize;
        if (volume.size() > bytes) volume.resize(static_cast<std::size_t>(bytes));
    }
    auto normal = scanHfsBytes(volume, kScanModeStandard);
    EXPECT_EQ(normal->outcome.endStatus, "Scanning process Aborted....");
    auto deep = scanHfsBytes(volume, kScanModeDeep);
    ASSERT_EQ(deep->outcome.endStatus, "Scanning process Done.");
    // Every file at its own path: the leaf records name their folders.
    std::set<std::pair<std::string, std::string>> found; // path, md5
    for (const auto& [path, entry] : deep->paths())
        if (!deep->view().isDirectory(entry)) found.emplace(tskName(path), md5Of(deep->content(entry)));
    std::size_t files = 0;
    for (const auto& [path, row] : liveRows(v)) {
        if (row.dir) continue;
        ++files;
        EXPECT_TRUE(found.count({path, row.md5})) << path;
    }
    EXPECT_GT(files, 5u);
}

INSTANTIATE_TEST_SUITE_P(Volumes, HfsPlusCorpus, ::testing::ValuesIn(kVolumes),
                         [](const auto& info) {
                             std::string n = info.param.image;
                             std::string out;
                             for (char c : n) out.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
                             return out;
                         });

} // namespace
} // namespace vindaru::test
