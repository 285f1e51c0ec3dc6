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

// Free space only, on volumes the formatters made: a live JPEG and a deleted one. The whole
// volume holds both; the free space only the deleted one, whatever the volume is typed as.
TEST(CarveCliFreeSpace, FindsOnlyTheDeletedFileOnExtAndFatVolumes) {
    test::ScratchDir dir;
    const test::Bytes live = test::sampleJpeg(30000, 1);
    const test::Bytes gone = test::sampleJpeg(50000, 2);
    fs::create_directories(dir / "src");
    test::writeFile(dir / "src" / "live.jpg", live);
    test::writeFile(dir / "src" / "gone.jpg", gone);
    const auto sh = [](const std::string& command) { return test::runCommand(command + " 2>&1").exitCode == 0; };
    const std::string src = test::shellQuote((dir / "src").string());
    std::vector<std::pair<fs::path, std::string>> volumes; // image, type given
    const fs::path ext = dir / "ext2.img";
    if (sh("mke2fs -q -t ext2 -b 1024 -d " + src + " " + test::shellQuote(ext.string()) + " 4M") &&
        sh("debugfs -w -R 'rm gone.jpg' " + test::shellQuote(ext.string())))
        volumes.emplace_back(ext, "RAW");
    const fs::path fat = dir / "fat.img";
    const std::string fatArg = test::shellQuote(fat.string());
    if (sh("mkfs.fat -C " + fatArg + " 4096") &&
        sh("mcopy -i " + fatArg + " " + test::shellQuote((dir / "src" / "live.jpg").string()) + " " +
           test::shellQuote((dir / "src" / "gone.jpg").string()) + " ::") &&
        sh("mdel -i " + fatArg + " ::gone.jpg"))
        volumes.emplace_back(fat, "FAT16");
    if (volumes.empty()) GTEST_SKIP() << "neither mke2fs/debugfs nor mkfs.fat/mtools is installed";

    for (const auto& [image, type] : volumes) {
        SCOPED_TRACE(image.filename().string());
        const test::Bytes bytes = test::readFile(image);
        const auto offsetOf = [&](const test::Bytes& file) {
            return std::search(bytes.begin(), bytes.end(), file.begin(), file.begin() + 4096) - bytes.begin();
        };
        const std::string goneAt = std::to_string(offsetOf(gone));
        const std::string liveAt = std::to_string(offsetOf(live));
        const std::vector<std::string> args{"carve", image.string(), "--start", "0", "--type", type, "--extent", "FLAT"};
        const auto whole = runCli(args);
        ASSERT_EQ(whole.exitCode, 0) << whole.err;
        EXPECT_NE(whole.out.find(goneAt + " .jpg"), std::string::npos) << whole.out;
        EXPECT_NE(whole.out.find(liveAt + " .jpg"), std::string::npos) << whole.out;

        auto freeArgs = args;
        freeArgs.push_back("--free-space");
        const auto free = runCli(freeArgs);
        ASSERT_EQ(free.exitCode, 0) << free.err;
        // One find, the deleted picture (on ext2 its size takes in the indirect block among its own).
        EXPECT_EQ(std::count(free.out.begin(), free.out.end(), '\n'), 1) << free.out;
        EXPECT_TRUE(free.out.starts_with(goneAt + "\t")) << free.out;
    }
}

// Free space only where it cannot be told: a volume of random bytes has no file system, a
// volume typed NTFS whose MFT is gone has no readable $Bitmap. Nothing is carved, the user is
// told why, and the exit code says so; without the option the same volume is carved whole.
TEST_F(CarveCli, FreeSpaceOnlyRefusesAVolumeWhoseFreeSpaceIsUnknown) {
    auto args = carve({"--free-space"});
    const auto unknown = runCli(args);
    EXPECT_EQ(unknown.exitCode, 6);
    EXPECT_NE(unknown.err.find("Free space only: the file system of this volume is not known"), std::string::npos)
        << unknown.err;
    EXPECT_TRUE(unknown.out.empty()) << unknown.out;

    // An NTFS boot sector over the random volume: the MFT it names holds no records.
    test::Bytes damaged = volume;
    std::fill_n(damaged.begin(), 512, 0);
    const std::uint8_t boot[] = {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' ', ' ', 0x00, 0x02, 0x08};
    std::copy(std::begin(boot), std::end(boot), damaged.begin());
    test::putLe32(damaged, 0x28, 8 * 2048);  // total sectors
    test::putLe32(damaged, 0x30, 4);         // MFT cluster
    damaged[0x40] = 0xF6;                    // 1 KiB records
    damaged[510] = 0x55;
    damaged[511] = 0xAA;
    test::writeFile(image(), damaged);
    const auto unreadable = runCli(args);
    EXPECT_EQ(unreadable.exitCode, 6);
    EXPECT_NE(unreadable.err.find("Free space only: the allocation map of this volume could not be read"),
              std::string::npos)
        << unreadable.err;
    EXPECT_EQ(runCli(carve({})).exitCode, 0);
}

} // namespace
} // namespace vindaru
