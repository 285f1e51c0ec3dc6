// vindaru-cli carve and signatures, run as a user runs them over a flat volume of random bytes
// with files placed in it.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/CliRunner.h"
#include "common/Md5.h"
#include "raw/CarveSamples.h"
#include "raw/DefaultSignatures.h"
#include "raw/SignatureFile.h"

namespace vindaru {
namespace {

namespace fs = std::filesystem;
using test::runCli;

class CarveCli : public ::testing::Test {
protected:
    void SetUp() override {
        files = test::mixedLayout(21);
        volume = test::buildVolume(8, files, 21);
        test::writeFile(image(), volume);
    }
    fs::path image() const { return dir / "volume.img"; }
    std::vector<std::string> carve(std::vector<std::string> extra) const {
        std::vector<std::string> args{"carve", image().string(), "--start", "0", "--type", "RAW",
                                      "--extent", "FLAT"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    test::ScratchDir dir;
    std::vector<test::PlacedFile> files;
    test::Bytes volume;
};

TEST_F(CarveCli, ListsAndSavesEveryFindAsThePageDoes) {
    const fs::path out = dir / "out";
    const auto r = runCli(carve({"--out", out.string(), "--json", "--verbose"}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("done.."), std::string::npos);
    for (const auto& f : files) {
        const std::string name = std::to_string(f.position) + " ." + f.kind;
        EXPECT_NE(r.out.find("\"name\": \"" + name + "\""), std::string::npos) << name << "\n" << r.out;
        // Every placed file is saved byte for byte.
        const auto saved = test::readFile(out / (std::to_string(f.position) + "." + f.kind));
        EXPECT_EQ(saved, f.bytes) << name;
    }
    EXPECT_NE(r.out.find("\"category\": \"Archives\""), std::string::npos);

    // A second run into the same folder keeps the first run's files and numbers its own.
    const auto again = runCli(carve({"--out", out.string()}));
    ASSERT_EQ(again.exitCode, 0) << again.err;
    const std::string first = std::to_string(files[0].position);
    EXPECT_TRUE(fs::exists(out / (first + " (2).jpg")));
    EXPECT_NE(again.out.find(first + " (2).jpg"), std::string::npos);
}

TEST_F(CarveCli, SignaturesAddWritesWhatTheEditorWritesAndCarveUsesIt) {
    const fs::path settings = dir / "mine.txt";
    for (const SignatureFields& f : defaultSignatureFields()) {
        std::vector<std::string> args{"signatures", "add", settings.string(), "--ext", f.extension,
                                      "--start", f.startSignature};
        const auto opt = [&](const char* name, const std::string& value) {
            if (!value.empty()) {
                args.push_back(name);
                args.push_back(value);
            }
        };
        opt("--start-offset", f.startOffset);
        opt("--end", f.endSignature);
        opt("--size-offset", f.sizeOffset);
        opt("--size-bytes", f.bytesInSize);
        opt("--header-size", f.headerSize);
        opt("--skip", f.skipSize);
        opt("--approx", f.approximateSize);
        opt("--category", f.category);
        if (f.sizeIncludesHeader) args.push_back("--size-includes-header");
        args.push_back("--verbose"); // the editor's message is informational
        const auto r = runCli(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find("everything initialized well....."), std::string::npos);
    }
    // The shipped file is the same but for the format each of its records names in the first
    // reserved field, which the editor leaves 0.
    const fs::path shipped = fs::path(VINDARU_CLI_PATH).parent_path() / kDefaultSignatureFileName;
    test::Bytes withoutFormats = test::readFile(shipped);
    for (std::size_t at = 0; at + kSignatureRecordBytes <= withoutFormats.size(); at += kSignatureRecordBytes)
        test::putLe32(withoutFormats, at + signature_offsets::reserved1, 0);
    EXPECT_EQ(test::readFile(settings), withoutFormats);

    const auto listed = runCli({"signatures", "list", settings.string(), "--json"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("\"start\": \"0x89,0x50,0x4E,0x47,0x0D,0x0A,0x1A,0x0A\""), std::string::npos);

    const auto carved = runCli(carve({"--no-default", "--signatures", settings.string()}));
    ASSERT_EQ(carved.exitCode, 0) << carved.err;
    EXPECT_NE(carved.out.find(std::to_string(files[1].position) + "\t" +
                              std::to_string(files[1].bytes.size()) + "\tPictures\t"),
              std::string::npos)
        << carved.out;
}

TEST_F(CarveCli, ReportsEveryFindWithItsDigestAndTheTotalFirst) {
    const fs::path report = dir / "report.jsonl";
    const auto r = runCli(carve({"--report", report.string()}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::uint64_t total = 0;
    for (const auto& f : files) total += f.bytes.size();
    EXPECT_NE(r.err.find(std::to_string(files.size()) + " find(s), "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(" + std::to_string(total) + " bytes)"), std::string::npos) << r.err;
    const auto lines = test::readFile(report);
    const std::string text(lines.begin(), lines.end());
    for (const auto& f : files) {
        Md5 digest;
        digest.update(f.bytes);
        const std::string line = "{\"offset\": " + std::to_string(f.position) + ", \"size\": " +
                                 std::to_string(f.bytes.size()) + ", \"type\": \"" + f.kind +
                                 "\", \"state\": \"whole\", \"md5\": \"" + digest.finishHex() + "\"}\n";
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
        EXPECT_NE(r.out.find(std::to_string(f.position) + " ." + f.kind + "\twhole"), std::string::npos);
    }
    // A report that cannot be written is a failure, not a success.
    const auto unwritable = runCli(carve({"--report", (dir / "no" / "such" / "r.jsonl").string()}));
    EXPECT_EQ(unwritable.exitCode, 4);
    EXPECT_NE(unwritable.err.find("cannot write the report"), std::string::npos);
}

TEST_F(CarveCli, RefusedSettingsAndBadUsage) {
    const auto missing = runCli(carve({"--signatures", (dir / "none.txt").string()}));
    EXPECT_EQ(missing.exitCode, 5);
    EXPECT_NE(missing.err.find("Cannot open the selected file"), std::string::npos);
    test::writeFile(dir / "short.txt", test::Bytes(10, 0));
    const auto invalid = runCli({"signatures", "list", (dir / "short.txt").string()});
    EXPECT_EQ(invalid.exitCode, 5);
    EXPECT_NE(invalid.err.find("Please select a valid file.."), std::string::npos);
    EXPECT_EQ(runCli(carve({"--no-default"})).exitCode, 1);
    const auto noExt = runCli({"signatures", "add", (dir / "x.txt").string(), "--start", "FF,D8"});
    EXPECT_EQ(noExt.exitCode, 5);
    EXPECT_NE(noExt.err.find("extention length is zero.."), std::string::npos);
    const auto noStart = runCli({"signatures", "add", (dir / "x.txt").string(), "--ext", "jpg"});
    EXPECT_NE(noStart.err.find("signature length is zero.."), std::string::npos);
    EXPECT_EQ(runCli({"signatures", "frobnicate"}).exitCode, 1);
}

// Free space only, on a FAT volume made by mkfs.fat and mtools with a live picture and a
// deleted one: the whole volume holds both, the free space only the deleted one.
TEST(CarveCliFreeSpace, FindsOnlyTheDeletedFileOnAFatVolume) {
    test::ScratchDir dir;
    const test::Bytes live = test::sampleJpeg(30000, 1);
    const test::Bytes gone = test::sampleJpeg(50000, 2);
    test::writeFile(dir / "live.jpg", live);
    test::writeFile(dir / "gone.jpg", gone);
    const std::string fat = test::shellQuote((dir / "fat.img").string());
    if (test::runCommand("mkfs.fat -C " + fat + " 4096 && mcopy -i " + fat + " " + test::shellQuote((dir / "live.jpg").string()) +
                         " " + test::shellQuote((dir / "gone.jpg").string()) + " :: && mdel -i " + fat + " ::gone.jpg")
            .exitCode != 0)
        GTEST_SKIP() << "mkfs.fat or mtools is not installed";
    const test::Bytes bytes = test::readFile(dir / "fat.img");
    const auto offsetOf = [&](const test::Bytes& file) {
        return std::to_string(std::search(bytes.begin(), bytes.end(), file.begin(), file.end()) - bytes.begin());
    };
    std::vector<std::string> args{"carve", (dir / "fat.img").string(), "--start", "0", "--type", "FAT16", "--extent", "FLAT"};
    const auto whole = runCli(args);
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_NE(whole.out.find(offsetOf(live) + " .jpg"), std::string::npos) << whole.out;
    args.push_back("--free-space");
    const auto free = runCli(args);
    ASSERT_EQ(free.exitCode, 0) << free.err;
    EXPECT_EQ(free.out, offsetOf(gone) + "\t50000\tPictures\t" + offsetOf(gone) + " .jpg\twhole\n");
}

// Free space only where it cannot be told: a volume of random bytes has no file system, an NTFS
// boot sector over it names an MFT that is not there. Nothing is carved, the user is told why,
// and the exit code says so.
TEST_F(CarveCli, FreeSpaceOnlyRefusesAVolumeWhoseFreeSpaceIsUnknown) {
    const auto unknown = runCli(carve({"--free-space"}));
    EXPECT_EQ(unknown.exitCode, 6);
    EXPECT_NE(unknown.err.find("Free space only: the file system of this volume is not known"), std::string::npos)
        << unknown.err;
    EXPECT_TRUE(unknown.out.empty()) << unknown.out;

    std::fill_n(volume.begin(), 512, 0);
    const std::uint8_t boot[] = {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' ', ' ', 0x00, 0x02, 0x08};
    std::copy(std::begin(boot), std::end(boot), volume.begin());
    test::putLe32(volume, 0x28, 8 * 2048); // sectors
    test::putLe32(volume, 0x30, 4);        // the MFT's cluster
    volume[510] = 0x55;
    volume[511] = 0xAA;
    test::writeFile(image(), volume);
    const auto unreadable = runCli(carve({"--free-space"}));
    EXPECT_EQ(unreadable.exitCode, 6);
    EXPECT_NE(unreadable.err.find("the allocation map of this volume could not be read"), std::string::npos) << unreadable.err;
}

} // namespace
} // namespace vindaru
