// vindaru-cli volumes, run as a user runs it, on corpus containers and on a disk whose
// partition table is gone.
#include <gtest/gtest.h>

#include <fstream>

#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::runCommand;
using test::shellQuote;

test::CommandResult volumes(const std::string& image, const std::string& options) {
    return runCommand(std::string(VINDARU_CLI_PATH) + " volumes " + shellQuote(image) + " " + options);
}

#define CORPUS_FILE(var, relative)                                                                 \
    const auto var = test::corpusFile(relative);                                                   \
    if (!var) GTEST_SKIP() << "corpus file " << relative << " is not available"

TEST(VolumeCli, ListsTheRowsOfAnMbrDiskQuietlyOrWithTheStatusTexts) {
    CORPUS_FILE(image, "generated/mbr-disk.vmdk");
    const auto quiet = volumes(image->string(), "");
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "");
    const auto r = volumes(image->string(), "--verbose");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "Volume  File System  Volume Size  Start Sector\n"
              "0       NTFS         8   MB       2048\n"
              "1       FAT32        36   MB      20480\n"
              "2       extX         4   MB       96256\n");
    EXPECT_NE(r.err.find("found NTFS 1...\nfound FAT 32...\nfound extx...\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Finished Scanning."), std::string::npos);
}

TEST(VolumeCli, GptDiskIsFoundByItsProtectiveMbrWithOrWithoutGpt) {
    CORPUS_FILE(image, "generated/gpt-disk.vhd");
    auto r = volumes(image->string(), "--gpt --json");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string rows = "[\n"
                     " {\"volume\": \"0\", \"fileSystem\": \"NTFS\", \"sizeText\": \"7   MB\", \"startSector\": 34816, \"sectorCount\": 16383, \"sizeBytes\": 8388096, \"fileSystemKind\": \"ntfs\"},\n"
                     " {\"volume\": \"1\", \"fileSystem\": \"FAT32\", \"sizeText\": \"36  MB\", \"startSector\": 51200, \"sectorCount\": 73728, \"sizeBytes\": 37748736, \"fileSystemKind\": \"fat32\"},\n"
                     " {\"volume\": \"2\", \"fileSystem\": \"FAT64\", \"sizeText\": \"8  MB\", \"startSector\": 124928, \"sectorCount\": 16384, \"sizeBytes\": 8388608, \"fileSystemKind\": \"exfat\"},\n"
                     " {\"volume\": \"3\", \"fileSystem\": \"HFS+\", \"sizeText\": \"1\", \"startSector\": 141312, \"sectorCount\": 2048, \"sizeBytes\": 1048576, \"fileSystemKind\": \"hfsplus\"}\n"
                     "]\n";
    EXPECT_EQ(r.out, rows);
    r = volumes(image->string(), "--json");
    EXPECT_EQ(r.out, rows);

    // A volume chosen by its row is read from the GUID table too, and --verbose names the
    // chosen volume, not every volume the discovery passed.
    const auto listed = runCommand(std::string(VINDARU_CLI_PATH) + " ls " + shellQuote(image->string()) +
                                   " --volume 3 --verbose");
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.err.find("volume 3: HFS+ at sector 141312"), std::string::npos) << listed.err;
    EXPECT_EQ(listed.err.find("found FAT"), std::string::npos) << listed.err;
}

TEST(VolumeCli, EveryContainerGivesTheSameRows) {
    const std::vector<std::pair<std::string, std::string>> forms = {
        {"generated/mbr-disk.vmdk", ""},
        {"generated/mbr-disk.vhd", ""},
        {"generated/mbr-disk.vdi", ""},
        {"generated/mbr-disk-split-sparse.vmdk", "--descriptor"}};
    std::string first;
    for (const auto& [relative, options] : forms) {
        const auto image = test::corpusFile(relative);
        if (!image) continue;
        const auto r = volumes(image->string(), options + " --json");
        EXPECT_EQ(r.exitCode, 0) << relative << ": " << r.err;
        if (first.empty()) first = r.out;
        EXPECT_EQ(r.out, first) << relative;
    }
    if (first.empty()) GTEST_SKIP() << "mbr-disk containers are not available";
}

TEST(VolumeCli, UsageAndImageErrors) {
    auto r = volumes("/nonexistent/disk.vmdk", "");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("file not opened.."), std::string::npos);
    r = volumes("/nonexistent/disk.vmdk", "--start 5");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("belong to --scan"), std::string::npos);
    r = volumes("/nonexistent/disk.vmdk", "--scan --end ten");
    EXPECT_EQ(r.exitCode, 1);
}

TEST(VolumeCli, ScanFindsVolumesOnADiskWhosePartitionTableIsZeroed) {
    const auto source = test::unpackedCorpusImage("generated/mbr-disk.raw.zst");
    const auto fat16 = test::unpackedCorpusImage("generated/fat16.img.zst");
    const auto exfat = test::unpackedCorpusImage("generated/exfat.img.zst");
    const auto hfs = test::unpackedCorpusImage("generated/hfsplus.img.zst");
    if (!source || !fat16 || !exfat || !hfs) GTEST_SKIP() << "corpus images are not available";
    // The mbr-disk (NTFS at 2048, FAT32 at 20480, ext2 at 96256, found by its superblock) without its MBR and EBRs,
    // with FAT16, exFAT and HFS+ volumes after its end.
    test::ScratchDir dir;
    const auto disk = dir / "zeroed.raw";
    test::writeFile(disk, {});
    std::filesystem::resize_file(disk, 180224ull * 512);
    test::copyIntoFile(disk, *source, 0);
    {
        // copyIntoFile leaves zeros unwritten, so the table sectors are cleared by hand.
        std::fstream out(disk, std::ios::binary | std::ios::in | std::ios::out);
        const std::vector<char> blank(512, 0);
        for (const std::uint64_t sector : {0u, 18432u, 94208u}) {
            out.seekp(static_cast<std::streamoff>(sector * 512));
            out.write(blank.data(), 512);
        }
    }
    test::copyIntoFile(disk, *fat16, 108544ull * 512);
    test::copyIntoFile(disk, *exfat, 141312ull * 512);
    test::copyIntoFile(disk, *hfs, 174080ull * 512);

    auto r = volumes(disk.string(), "--extent FLAT --scan --json");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Newest first, as the page shows them.
    EXPECT_EQ(r.out, "[\n"
                     " {\"volume\": \"5\", \"fileSystem\": \"HFS+\", \"sizeText\": \"1  MB\", \"startSector\": 174080, \"sectorCount\": 3908, \"sizeBytes\": 2000896, \"fileSystemKind\": \"hfsplus\"},\n"
                     " {\"volume\": \"4\", \"fileSystem\": \"FAT64\", \"sizeText\": \"16  MB\", \"startSector\": 141312, \"sectorCount\": 32768, \"sizeBytes\": 16777216, \"fileSystemKind\": \"exfat\"},\n"
                     " {\"volume\": \"3\", \"fileSystem\": \"FAT16\", \"sizeText\": \"16  MB\", \"startSector\": 108544, \"sectorCount\": 32768, \"sizeBytes\": 16777216, \"fileSystemKind\": \"fat16\"},\n"
                     " {\"volume\": \"2\", \"fileSystem\": \"extX\", \"sizeText\": \"4  MB\", \"startSector\": 96256, \"sectorCount\": 8192, \"sizeBytes\": 4194304, \"fileSystemKind\": \"ext\"},\n"
                     " {\"volume\": \"1\", \"fileSystem\": \"FAT32\", \"sizeText\": \"36  MB\", \"startSector\": 20480, \"sectorCount\": 73728, \"sizeBytes\": 37748736, \"fileSystemKind\": \"fat32\"},\n"
                     " {\"volume\": \"0\", \"fileSystem\": \"NTFS\", \"sizeText\": \"7   MB\", \"startSector\": 2048, \"sectorCount\": 16383, \"sizeBytes\": 8388096, \"fileSystemKind\": \"ntfs\"}\n"
                     "]\n");
    EXPECT_EQ(r.err, "") << "quiet without --verbose";

    r = volumes(disk.string(), "--extent FLAT --scan --no-skip --json");
    EXPECT_NE(r.out.find("\"NTFS\", \"sizeText\": \"7   MB\", \"startSector\": 18431, \"sectorCount\": 16383, \"sizeBytes\": 8388096, \"fileSystemKind\": \"ntfs\"}"), std::string::npos)
        << "the NTFS backup boot sector: " << r.out;

    r = volumes(disk.string(), "--extent FLAT --scan --start 20480 --end 108544 --json");
    EXPECT_EQ(r.out, "[\n {\"volume\": \"1\", \"fileSystem\": \"extX\", \"sizeText\": \"4  MB\", \"startSector\": 96256, \"sectorCount\": 8192, \"sizeBytes\": 4194304, \"fileSystemKind\": \"ext\"},\n {\"volume\": \"0\", \"fileSystem\": \"FAT32\", \"sizeText\": \"36  MB\", \"startSector\": 20480, \"sectorCount\": 73728, \"sizeBytes\": 37748736, \"fileSystemKind\": \"fat32\"}\n]\n");
}

TEST(VolumeCli, ScanFindsTheVolumesOfAGptDiskWithoutItsTables) {
    const auto source = test::unpackedCorpusImage("generated/gpt-disk.raw.zst");
    if (!source) GTEST_SKIP() << "corpus image generated/gpt-disk.raw.zst is not available";
    test::ScratchDir dir;
    const auto disk = dir / "no-gpt.raw";
    test::writeFile(disk, {});
    std::filesystem::resize_file(disk, std::filesystem::file_size(*source));
    test::copyIntoFile(disk, *source, 0);
    {
        // The protective MBR, the GPT header and its entry array.
        std::fstream out(disk, std::ios::binary | std::ios::in | std::ios::out);
        const std::vector<char> blank(34 * 512, 0);
        out.write(blank.data(), static_cast<std::streamsize>(blank.size()));
    }
    const auto r = volumes(disk.string(), "--extent FLAT --scan --json");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The HFS+ volume is smaller than 1 MiB: it is listed as 0 MB.
    EXPECT_EQ(r.out, "[\n"
                     " {\"volume\": \"3\", \"fileSystem\": \"HFS+\", \"sizeText\": \"0  MB\", \"startSector\": 141312, \"sectorCount\": 488, \"sizeBytes\": 249856, \"fileSystemKind\": \"hfsplus\"},\n"
                     " {\"volume\": \"2\", \"fileSystem\": \"FAT64\", \"sizeText\": \"8  MB\", \"startSector\": 124928, \"sectorCount\": 16384, \"sizeBytes\": 8388608, \"fileSystemKind\": \"exfat\"},\n"
                     " {\"volume\": \"1\", \"fileSystem\": \"FAT32\", \"sizeText\": \"36  MB\", \"startSector\": 51200, \"sectorCount\": 73728, \"sizeBytes\": 37748736, \"fileSystemKind\": \"fat32\"},\n"
                     " {\"volume\": \"0\", \"fileSystem\": \"NTFS\", \"sizeText\": \"7   MB\", \"startSector\": 34816, \"sectorCount\": 16383, \"sizeBytes\": 8388096, \"fileSystemKind\": \"ntfs\"}\n"
                     "]\n");
}

} // namespace
} // namespace vindaru
