// Acceptance on volumes made here by mkfs.fat and mtools, at several cluster sizes: a folder of
// 300 files, a root of more than one cluster, a fragmented file, deleted files, the OEM name the
// formatter writes. Every live file is at its path with the bytes that were copied in, also when
// the volume is rebuilt without its boot sector; a deleted file that nothing overwrote comes back
// whole.
#include <gtest/gtest.h>

#include <random>

#include "fs/fat/FatTestSupport.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

struct Layout {
    std::string name;
    std::string mkfsOptions;
    std::string type; // parser
    std::uint64_t sizeMb;
};

void PrintTo(const Layout& l, std::ostream* os) { *os << l.name; }

bool haveTools() {
    return runCommand("command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null").exitCode == 0;
}

std::vector<std::uint8_t> randomBytes(std::mt19937& r, std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(r());
    return v;
}

class FatMkfs : public ::testing::TestWithParam<Layout> {};

TEST_P(FatMkfs, LiveFilesFragmentedFilesAndDeletedFiles) {
    if (!haveTools()) GTEST_SKIP() << "mkfs.fat and mtools are needed";
    const Layout& l = GetParam();
    ScratchDir dir;
    std::mt19937 rng(42);
    std::map<std::string, std::vector<std::uint8_t>> truth;
    const fs::path src = dir / "src";
    fs::create_directories(src / "Many files");
    for (int i = 0; i < 300; ++i) {
        const std::string name = "entry number " + std::to_string(i) + ".txt";
        truth["/Many files/" + name] = randomBytes(rng, 1 + rng() % 3000);
        writeFile(src / "Many files" / name, truth["/Many files/" + name]);
    }
    for (int i = 0; i < 40; ++i) {
        const std::string name = "Root file " + std::to_string(i) + ".bin";
        truth["/" + name] = randomBytes(rng, rng() % 5000);
        writeFile(src / name, truth["/" + name]);
    }
    const fs::path img = dir / "v.img";
    const std::string i = " -i " + shellQuote(img.string()) + " ";
    auto sh = [&](const std::string& cmd) {
        const CommandResult r = runCommand("MTOOLS_SKIP_CHECK=1 " + cmd + " 2>&1");
        ASSERT_EQ(r.exitCode, 0) << cmd << "\n" << r.out;
    };
    sh("truncate -s " + std::to_string(l.sizeMb) + "M " + shellQuote(img.string()));
    sh("mkfs.fat " + l.mkfsOptions + " " + shellQuote(img.string()) + " >/dev/null");
    sh("mcopy -s" + i + shellQuote((src / "Many files").string()) + " ::/");
    std::string roots, fillers, odd;
    for (int n = 0; n < 40; ++n) roots += " " + shellQuote((src / ("Root file " + std::to_string(n) + ".bin")).string());
    sh("mcopy" + i + roots + " ::/");
    // Fillers, every other one deleted, then a file that must take the holes.
    for (int n = 0; n < 12; ++n) {
        writeFile(dir / ("fill" + std::to_string(n)), randomBytes(rng, 2048));
        fillers += " " + shellQuote((dir / ("fill" + std::to_string(n))).string());
        if (n % 2 == 0) odd += " ::/fill" + std::to_string(n);
    }
    sh("mcopy" + i + fillers + " ::/");
    sh("mdel" + i + odd);
    truth["/fragmented.bin"] = randomBytes(rng, 9000);
    writeFile(dir / "fragmented.bin", truth["/fragmented.bin"]);
    sh("mcopy" + i + shellQuote((dir / "fragmented.bin").string()) + " ::/");
    // A deleted file at the end of the data: nothing overwrites it.
    const auto deleted = randomBytes(rng, 7000);
    writeFile(dir / "gone-late.dat", deleted);
    sh("mcopy" + i + shellQuote((dir / "gone-late.dat").string()) + " ::/");
    sh("mdel" + i + "::/gone-late.dat");

    auto s = scanFatFile(img.string(), l.type, 0);
    ASSERT_TRUE(s);
    ASSERT_FALSE(s->outcome.rejected) << l.name;
    for (const auto& [path, bytes] : truth) {
        const auto it = s->paths.find(path);
        ASSERT_NE(it, s->paths.end()) << l.name << ": " << path;
        EXPECT_FALSE(s->view().isDeleted(it->second)) << path;
        bool whole = false;
        EXPECT_EQ(s->content(it->second, &whole), bytes) << l.name << ": " << path;
        EXPECT_TRUE(whole) << path;
    }
    const auto gone = s->paths.find("/gone-late.dat");
    ASSERT_NE(gone, s->paths.end()) << "deleted file with its long name";
    EXPECT_TRUE(s->view().isDeleted(gone->second));
    EXPECT_EQ(s->content(gone->second), deleted);

    // The same volume without its boot sector (and FAT32's backup), rebuilt in the Advanced mode
    // with its own cluster size: every live file at its path with its bytes.
    if (l.name == "Fat12") return; // the Advanced mode looks for FAT16 and FAT32 FATs
    std::vector<std::uint8_t> bytes = readFile(img);
    std::fill_n(bytes.begin(), 512, 0);
    if (l.type == "FAT32") std::fill_n(bytes.begin() + 6 * 512, 512, 0);
    AdvancedRun run = advancedWith(l.mkfsOptions.substr(l.mkfsOptions.find("-s ") + 3));
    auto rebuilt = rebuildFatBytes(std::move(bytes), l.type, run);
    for (const auto& [path, content] : truth) {
        const auto it = rebuilt->paths.find(path);
        ASSERT_NE(it, rebuilt->paths.end()) << l.name << " rebuilt: " << path;
        EXPECT_EQ(rebuilt->content(it->second), content) << l.name << " rebuilt: " << path;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, FatMkfs,
                         ::testing::Values(Layout{"Fat12", "-F 12 -s 4", "FAT16", 4},
                                           Layout{"Fat16Sector", "-F 16 -s 1", "FAT16", 16},
                                           Layout{"Fat16Cluster4k", "-F 16 -s 8", "FAT16", 64},
                                           Layout{"Fat32Sector", "-F 32 -s 1", "FAT32", 40},
                                           Layout{"Fat32Cluster4k", "-F 32 -s 8", "FAT32", 300}),
                         [](const auto& info) { return info.param.name; });

} // namespace

// A volume of files in its root only, boot sector zeroed: no folder's dot entries tell where the
// data begins, so the rebuild takes it from the two FATs the search found (the root follows the
// second). Every file comes back with its content.
TEST(FatMkfsAdvanced, RootOnlyVolumeWithoutItsBootSector) {
    if (!haveTools()) GTEST_SKIP() << "mkfs.fat and mtools are needed";
    for (const auto& [type, mkfs, clusterText] :
         {std::tuple{"FAT16", "-F 16 -s 4 -R 2", "4"}, std::tuple{"FAT32", "-F 32 -s 1", "1"}}) {
        ScratchDir dir;
        std::mt19937 rng(7);
        const fs::path img = dir / "v.img";
        ASSERT_EQ(runCommand("truncate -s 40M " + shellQuote(img.string())).exitCode, 0);
        ASSERT_EQ(runCommand(std::string("mkfs.fat ") + mkfs + " " + shellQuote(img.string()) + " >/dev/null").exitCode, 0);
        std::map<std::string, std::vector<std::uint8_t>> truth;
        for (int i = 0; i < 12; ++i) {
            const std::string name = "root file " + std::to_string(i) + ".bin";
            truth["/" + name] = randomBytes(rng, 100 + rng() % 9000);
            writeFile(dir / name, truth["/" + name]);
            const CommandResult copied = runCommand("MTOOLS_SKIP_CHECK=1 mcopy -i " + shellQuote(img.string()) +
                                                    " " + shellQuote((dir / name).string()) + " ::/ 2>&1");
            ASSERT_EQ(copied.exitCode, 0) << copied.out;
        }
        std::vector<std::uint8_t> bytes = readFile(img);
        std::fill_n(bytes.begin(), 512, 0);
        std::fill_n(bytes.begin() + 6 * 512, 512, 0); // FAT32's backup
        AdvancedRun run = advancedWith(clusterText);
        auto s = rebuildFatBytes(bytes, type, run);
        ASSERT_EQ(run.lists.candidates.size(), 2u) << type;
        for (const auto& [path, content] : truth) {
            ASSERT_TRUE(s->paths.count(path)) << type << " " << path;
            EXPECT_EQ(s->content(s->paths.at(path)), content) << type << " " << path;
        }
    }
}
