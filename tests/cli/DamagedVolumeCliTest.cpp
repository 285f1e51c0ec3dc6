// ls and save of a volume whose image lost part of its bytes (a flat extent cut short, as a
// partial copy leaves it): a listing or a digest built on bytes the disk could not give is said
// to be so on stderr and never ends with the status of a sound one.
#include <gtest/gtest.h>

#include "support/ListingTsv.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::runCommand;
using test::shellQuote;
namespace fs = std::filesystem;

constexpr const char* kFat32 = "generated/fat32.img.zst";

// A descriptor that names the whole FAT32 volume as one flat extent, over a copy of the volume
// cut to `keep` bytes (all of it when 0).
struct CutVolume {
    test::ScratchDir dir;
    fs::path descriptor;

    CutVolume(const fs::path& volume, std::uint64_t keep) {
        auto bytes = test::readFile(volume);
        const std::uint64_t sectors = bytes.size() / 512;
        if (keep != 0) bytes.resize(keep);
        test::writeFile(dir / "vol.img", bytes);
        descriptor = dir / "vol.vmdk";
        const std::string text = "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\n"
                                 "createType=\"monolithicFlat\"\n# Extent description\nRW " +
                                 std::to_string(sectors) + " FLAT \"vol.img\" 0\n";
        test::writeFile(descriptor, std::vector<std::uint8_t>(text.begin(), text.end()));
    }

    test::CommandResult run(const std::string& command, const std::string& options) const {
        return runCommand(std::string(VINDARU_CLI_PATH) + " " + command + " " + shellQuote(descriptor.string()) +
                          " --start 0 --type FAT32 " + options);
    }
};

bool says(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(DamagedVolumeCli, AListingReadFromLostBytesSaysSoAndExitsFour) {
    const auto volume = test::unpackedCorpusImage(kFat32);
    if (!volume) GTEST_SKIP() << "corpus image " << kFat32 << " is not available";
    const CutVolume whole(*volume, 0);
    const auto sound = whole.run("ls", "-r --tsv --md5");
    ASSERT_EQ(sound.exitCode, 0) << sound.err;
    EXPECT_FALSE(says(sound.err, "could not be read")) << sound.err;
    const auto all = test::parseListing(sound.out);
    ASSERT_GT(all.size(), 50u);

    // Cut inside the FAT: the folders beyond it are lost, and with them most of the files.
    const CutVolume cut(*volume, 64 * 1024);
    const auto ls = cut.run("ls", "-r --tsv");
    EXPECT_EQ(ls.exitCode, 4) << ls.err;
    EXPECT_LT(test::parseListing(ls.out).size(), all.size());
    EXPECT_TRUE(says(ls.err, "entries may be missing or wrong")) << ls.err;

    test::ScratchDir out;
    const auto save = cut.run("save", "--out " + shellQuote((out / "saved").string()));
    EXPECT_EQ(save.exitCode, 4) << save.out << save.err;
    EXPECT_TRUE(says(save.err, "entries may be missing or wrong")) << save.err;
}

TEST(DamagedVolumeCli, DigestsOfLostBytesNameTheirFiles) {
    const auto volume = test::unpackedCorpusImage(kFat32);
    if (!volume) GTEST_SKIP() << "corpus image " << kFat32 << " is not available";
    const auto all = test::parseListing(CutVolume(*volume, 0).run("ls", "-r --tsv --md5").out);
    // Past every folder but inside the last files' data: the listing is whole, some contents not.
    const CutVolume cut(*volume, 1950 * 1024);
    const auto ls = cut.run("ls", "-r --tsv --md5");
    EXPECT_EQ(ls.exitCode, 4) << ls.err;
    const auto got = test::parseListing(ls.out);
    ASSERT_EQ(got.size(), all.size());
    int wrong = 0;
    for (const auto& [path, row] : got) {
        if (row.dir) continue;
        if (row.md5 == all.at(path).md5) continue;
        ++wrong;
        EXPECT_TRUE(says(ls.err, "\n  " + path + " (")) << path << " has a digest of lost bytes but is not named:\n"
                                                         << ls.err;
    }
    EXPECT_GT(wrong, 0);
    EXPECT_TRUE(says(ls.err, "md5 covers bytes from ranges of the disk that could not be read")) << ls.err;
}

} // namespace
} // namespace vindaru
