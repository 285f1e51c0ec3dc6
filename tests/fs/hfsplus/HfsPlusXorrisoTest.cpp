// Volumes this project did not write: xorriso's HFS+ writer (the HFS+ partition of a hybrid
// image) with a catalog of thousands of files, deep folders, Unicode names and empty files,
// checked against The Sleuth Kit's fls and icat in the normal mode, and by name and content in
// the deep mode with the catalog's header node zeroed.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

#include "HfsTestSupport.h"
#include "fs/hfsplus/HfsPlusFormat.h"
#include "fs/parser/VolumeParser.h"
#include "support/TestSupport.h"

namespace vindaru::test {
namespace {

bool haveTools() {
    return runCommand("command -v xorriso && command -v mmls && command -v fls && command -v icat").exitCode == 0;
}

struct XorrisoVolume {
    ScratchDir dir;
    fs::path iso;
    std::uint64_t startSector = 0;
    std::map<std::string, std::string> sourceMd5; // ASCII-named files: path -> md5
};

// Writes the source tree: `folders` folders of `perFolder` files (sizes around the block
// edges), a deep chain, Unicode names, empty files and a few larger files.
std::unique_ptr<XorrisoVolume> makeVolume(int folders, int perFolder) {
    auto v = std::make_unique<XorrisoVolume>();
    const fs::path src = v->dir / "src";
    fs::create_directories(src);
    auto put = [&](const std::string& rel, const std::vector<std::uint8_t>& bytes, bool ascii = true) {
        fs::create_directories((src / rel).parent_path());
        writeFile(src / rel, bytes);
        if (ascii) v->sourceMd5["/" + rel] = md5Of(std::string(bytes.begin(), bytes.end()));
    };
    static const std::size_t kSizes[] = {0, 1, 511, 512, 513, 2047, 2048, 2049, 4096, 10000};
    std::uint32_t seed = 1;
    for (int f = 0; f < folders; ++f)
        for (int i = 0; i < perFolder; ++i, ++seed)
            put("set" + std::to_string(f) + "/file" + std::to_string(i) + ".dat",
                patternBytes(kSizes[seed % std::size(kSizes)] + seed % 7, seed));
    std::string deep;
    for (int d = 0; d < 12; ++d) deep += "level" + std::to_string(d) + "/";
    put(deep + "bottom.txt", patternBytes(777, 5));
    put("big/one.bin", patternBytes(300000, 6));
    put("big/two.bin", patternBytes(1 << 20, 7));
    put("empty.txt", {});
    put("big/empty too", {});
    put("\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1 \xE6\x97\xA5\xE6\x9C\xAC.txt", patternBytes(1234, 8), false);
    put("emoji \xF0\x9F\x98\x80/caf\xC3\xA9.txt", patternBytes(4321, 9), false);
    v->iso = v->dir / "volume.iso";
    const auto made = runCommand("xorriso -as mkisofs -hfsplus -o " + shellQuote(v->iso.string()) + " " +
                                 shellQuote(src.string()) + " 2>&1");
    if (made.exitCode != 0) return nullptr;
    // The hybrid image's Apple partition map names the HFS+ partition.
    const auto map = runCommand("mmls " + shellQuote(v->iso.string()));
    std::istringstream lines(map.out);
    std::string line;
    while (std::getline(lines, line))
        if (line.find("Apple_HFS") != std::string::npos) {
            std::istringstream cells(line);
            std::string slot, number, start;
            cells >> slot >> number >> start;
            v->startSector = std::stoull(start);
        }
    if (v->startSector == 0) return nullptr;
    return v;
}

// fls -r -p: the files and folders of the volume by path, with their inode numbers.
std::map<std::string, std::pair<bool, std::string>> flsListing(const XorrisoVolume& v) {
    const auto out = runCommand("fls -r -p -o " + std::to_string(v.startSector) + " " + shellQuote(v.iso.string()));
    std::map<std::string, std::pair<bool, std::string>> rows;
    std::istringstream lines(out.out);
    std::string line;
    while (std::getline(lines, line)) {
        const auto tab = line.find('\t');
        const auto colon = line.find(':');
        if (tab == std::string::npos || colon == std::string::npos) continue;
        const std::string path = "/" + line.substr(tab + 1);
        if (path.starts_with("/$")) continue;
        const std::string inode = line.substr(4, colon - 4);
        rows[path] = {line[0] == 'd', inode};
    }
    return rows;
}

class HfsPlusXorriso : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!haveTools()) return;
        volume_ = makeVolume(40, 100).release(); // about 4,000 files: the catalog spans many nodes
    }
    static void TearDownTestSuite() {
        delete volume_;
        volume_ = nullptr;
    }
    void SetUp() override {
        if (!volume_) GTEST_SKIP() << "xorriso or The Sleuth Kit is not installed";
    }
    static XorrisoVolume* volume_;
};
XorrisoVolume* HfsPlusXorriso::volume_ = nullptr;

TEST_F(HfsPlusXorriso, NormalModeListsWhatFlsListsWithIcatsContent) {
    auto scan = scanHfsFile(volume_->iso.string(), kScanModeStandard, volume_->startSector);
    ASSERT_TRUE(scan);
    ASSERT_EQ(scan->outcome.endStatus, "Scanning process Done.");
    const auto ours = scan->paths();
    const auto fls = flsListing(*volume_);
    ASSERT_GT(fls.size(), 4000u);
    std::set<std::string> oursSet, flsSet;
    for (const auto& [p, e] : ours) oursSet.insert(p);
    for (const auto& [p, row] : fls) flsSet.insert(p);
    EXPECT_EQ(oursSet, flsSet);
    // Every ASCII-named file against its source; every Unicode-named one and a sample of the
    // rest against icat.
    for (const auto& [path, md5] : volume_->sourceMd5) {
        SCOPED_TRACE(path);
        const auto it = ours.find(path);
        ASSERT_NE(it, ours.end());
        bool whole = false;
        EXPECT_EQ(md5Of(scan->content(it->second, &whole)), md5);
        EXPECT_TRUE(whole);
    }
    int checked = 0;
    for (const auto& [path, row] : fls) {
        const bool unicode = std::any_of(path.begin(), path.end(), [](char c) { return c & 0x80; });
        if (row.first || !(unicode || (std::hash<std::string>{}(path) % 97 == 0))) continue;
        SCOPED_TRACE(path);
        const auto icat = runCommand("icat -o " + std::to_string(volume_->startSector) + " " +
                                     shellQuote(volume_->iso.string()) + " " + row.second);
        ASSERT_TRUE(ours.count(path));
        EXPECT_EQ(md5Of(scan->content(ours.at(path))), md5Of(icat.out));
        ++checked;
    }
    EXPECT_GT(checked, 10);
}

TEST_F(HfsPlusXorriso, DeepModeWithTheHeaderNodeZeroedFindsEveryFileByName) {
    std::vector<std::uint8_t> disk = readFile(volume_->iso);
    const std::uint64_t base = volume_->startSector * 512;
    const HfsVolumeHeader h = decodeVolumeHeader(ByteSpan(disk).subspan(static_cast<std::size_t>(base + 1024), 512));
    ASSERT_TRUE(h.hasSignature());
    std::vector<std::uint8_t> volume(disk.begin() + static_cast<std::ptrdiff_t>(base),
                                     disk.begin() + static_cast<std::ptrdiff_t>(base + std::uint64_t{h.totalBlocks} * h.blockSize));
    const std::uint64_t catalog = std::uint64_t{h.catalogFile.extents[0].startBlock} * h.blockSize;
    const std::uint32_t nodeSize = decodeBTreeHeader(ByteSpan(volume).subspan(static_cast<std::size_t>(catalog), 512)).nodeSize;
    ASSERT_TRUE(isValidNodeSize(nodeSize));
    std::fill_n(volume.begin() + static_cast<std::ptrdiff_t>(catalog), nodeSize, 0);
    auto deep = scanHfsBytes(volume, kScanModeDeep);
    ASSERT_EQ(deep->outcome.endStatus, "Scanning process Done.");
    // The leaf records name their folders: every file at its own path.
    std::multiset<std::pair<std::string, std::string>> found;
    for (const auto& [path, entry] : deep->paths())
        if (!deep->view().isDirectory(entry)) found.emplace(path, md5Of(deep->content(entry)));
    for (const auto& [path, md5] : volume_->sourceMd5) {
        const std::string rooted = path.starts_with("/") ? path : "/" + path;
        EXPECT_TRUE(found.count({rooted, md5})) << path;
    }
}

} // namespace
} // namespace vindaru::test
