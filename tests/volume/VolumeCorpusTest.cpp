// Discovery on the shared corpus: disks partitioned by sfdisk, sgdisk, Windows and others, with
// The Sleuth Kit's listings as the reference, and a scan of a disk built from corpus volumes.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "support/TestSupport.h"
#include "support/FileDiskReader.h"
#include "browser/FileSystemDrivers.h"
#include "volume/Partition.h"

namespace vindaru {
namespace {

using test::FileDiskReader;

struct Listed {
    std::vector<VolumeRecord> volumes;
    int result = 0;
};

std::optional<std::filesystem::path> disk(const std::string& relative) {
    return test::unpackedCorpusImage(relative);
}

Listed standard(const std::filesystem::path& path, bool gpt) {
    FileDiskReader reader;
    EXPECT_TRUE(reader.open(path.string()));
    Partition partition(fileSystemDrivers());
    partition.gptMode = gpt;
    Listed out;
    out.result = partition.readPartitionTable(reader);
    out.volumes = partition.volumeList;
    return out;
}

std::set<std::uint64_t> startsOf(const Listed& l) {
    std::set<std::uint64_t> out;
    for (const auto& v : l.volumes) out.insert(v.startSector);
    return out;
}

// The partition start sectors an expected.tsv lists.
std::set<std::uint64_t> expectedStarts(const std::string& relative) {
    std::set<std::uint64_t> out;
    auto file = test::corpusFile(relative);
    if (!file) return out;
    std::ifstream in(*file);
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line))
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) out.insert(std::stoull(line));
    return out;
}

// mmls's partitions (not Meta or Unallocated rows): start → length. Empty when mmls is absent.
std::map<std::uint64_t, std::uint64_t> mmlsPartitions(const std::filesystem::path& path) {
    std::map<std::uint64_t, std::uint64_t> out;
    const auto r = test::runCommand("mmls " + test::shellQuote(path.string()) + " 2>/dev/null");
    if (r.exitCode != 0) return out;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string index, slot;
        std::uint64_t start = 0, end = 0, length = 0;
        if (!(fields >> index >> slot >> start >> end >> length)) continue;
        if (slot == "Meta" || slot.front() == '-') continue;
        out[start] = length;
    }
    return out;
}

void expectMatchesMmls(const std::filesystem::path& path, const Listed& listed, bool sizesFromTable) {
    const auto mmls = mmlsPartitions(path);
    if (mmls.empty()) return; // The Sleuth Kit is not installed: the expected.tsv checks remain
    std::set<std::uint64_t> mmlsStarts;
    for (const auto& [start, length] : mmls) mmlsStarts.insert(start);
    EXPECT_EQ(startsOf(listed), mmlsStarts) << path;
    if (!sizesFromTable) return;
    for (const auto& v : listed.volumes)
        EXPECT_EQ(std::stoull(v.sizeText), mmls.at(v.startSector) / 2048) << path << " at " << v.startSector;
}

#define CORPUS_DISK(var, relative)                                                                 \
    const auto var = disk(relative);                                                               \
    if (!var) GTEST_SKIP() << "corpus image " << relative << " is not available (or cannot be unpacked)"

TEST(VolumeCorpus, MbrDiskWithLogicalVolumes) {
    CORPUS_DISK(path, "generated/mbr-disk.raw.zst");
    const Listed l = standard(*path, false);
    ASSERT_EQ(l.volumes.size(), 3u);
    EXPECT_EQ(l.volumes[0].fileSystemName, "NTFS");
    EXPECT_EQ(l.volumes[1].fileSystemName, "FAT32");
    EXPECT_EQ(l.volumes[2].fileSystemName, "extX");
    EXPECT_EQ(l.volumes[1].sizeText, "36   MB");
    EXPECT_EQ(startsOf(l), expectedStarts("generated/mbr-disk.expected.tsv"));
    expectMatchesMmls(*path, l, true);
}

TEST(VolumeCorpus, GptDiskWithAndWithoutGptMode) {
    CORPUS_DISK(path, "generated/gpt-disk.raw.zst");
    const Listed gpt = standard(*path, true);
    ASSERT_EQ(gpt.volumes.size(), 4u);
    std::vector<std::string> names;
    for (const auto& v : gpt.volumes) names.push_back(v.fileSystemName);
    EXPECT_EQ(names, (std::vector<std::string>{"NTFS", "FAT32", "FAT64", "HFS+"}));
    EXPECT_EQ(startsOf(gpt), expectedStarts("generated/gpt-disk.expected.tsv"));
    EXPECT_EQ(gpt.volumes[3].sizeText, "1");
    auto mmls = mmlsPartitions(*path);
    if (!mmls.empty()) {
        mmls.erase(2048); // the Microsoft reserved partition is never listed
        for (const auto& v : gpt.volumes) EXPECT_TRUE(mmls.count(v.startSector)) << v.startSector;
        EXPECT_EQ(gpt.volumes.size(), mmls.size());
    }

    const Listed plain = standard(*path, false);
    ASSERT_EQ(plain.volumes.size(), 1u);
    EXPECT_EQ(plain.volumes[0].fileSystemName, "Unknown");
    EXPECT_EQ(plain.volumes[0].startSector, 1u);
}

TEST(VolumeCorpus, TinyAndBigDisks) {
    CORPUS_DISK(tiny, "generated/tiny-disk.raw.zst");
    const Listed t = standard(*tiny, false);
    EXPECT_EQ(startsOf(t), expectedStarts("generated/tiny-disk.expected.tsv"));
    expectMatchesMmls(*tiny, t, true);

    CORPUS_DISK(big, "generated/big-disk.raw.zst");
    const Listed b = standard(*big, false);
    ASSERT_EQ(b.volumes.size(), 3u);
    EXPECT_EQ(b.volumes[2].fileSystemName, "NTFS");
    EXPECT_EQ(b.volumes[2].startSector, 8380416u);
    EXPECT_EQ(startsOf(b), expectedStarts("generated/big-disk.expected.tsv"));
    expectMatchesMmls(*big, b, true);
}

// Disks made by other tools: EBR chains, an extended partition in the first slot with a primary
// after it, a Windows-made chain of logical volumes, a GPT with three partitions.
TEST(VolumeCorpus, ExternalPartitionTables) {
    const std::vector<std::pair<std::string, bool>> disks = {
        {"external/dfirntfs-mbr-512-p1e2.bin.gz", false}, {"external/dfirntfs-mbr-512-p1e2_2.bin.gz", false},
        {"external/dfirntfs-mbr-win-512.raw.gz", false},  {"external/tsktd-ext-part-test-2.dd.gz", false},
        {"external/dfvfs-mbr.raw", false},                {"external/dfirntfs-gpt-512-3p.raw.gz", true}};
    int checked = 0;
    for (const auto& [relative, gpt] : disks) {
        const auto path = disk(relative);
        if (!path) continue;
        ++checked;
        std::string expected = relative;
        if (expected.ends_with(".gz")) expected.resize(expected.size() - 3);
        const Listed l = standard(*path, gpt);
        EXPECT_EQ(l.result, 0) << relative;
        EXPECT_EQ(startsOf(l), expectedStarts(expected + ".expected.tsv")) << relative;
        expectMatchesMmls(*path, l, true);
    }
    if (checked == 0) GTEST_SKIP() << "no external corpus disks available";
}

TEST(VolumeCorpus, ScanFindsTheCorpusVolumesOnADiskWithoutATable) {
    const std::vector<std::pair<std::string, std::uint64_t>> volumes = {
        {"generated/ntfs.img.zst", 2048},     {"generated/fat32.img.zst", 36864},
        {"generated/fat16.img.zst", 110592},  {"generated/exfat.img.zst", 145408},
        {"generated/hfsplus.img.zst", 180224}};
    test::ScratchDir dir;
    const auto diskPath = dir / "zeroed-table.raw";
    test::writeFile(diskPath, {});
    std::filesystem::resize_file(diskPath, 184320ull * 512);
    for (const auto& [relative, sector] : volumes) {
        const auto image = disk(relative);
        if (!image) GTEST_SKIP() << "corpus volume " << relative << " is not available";
        test::copyIntoFile(diskPath, *image, sector * 512);
    }

    auto scan = [&](bool skip) {
        FileDiskReader reader;
        EXPECT_TRUE(reader.open(diskPath.string()));
        RecordingStatusSink status;
        Partition partition(fileSystemDrivers());
        partition.statusTarget = &status;
        partition.diskSectorCount = 184320;
        partition.skipVolumeSize = skip;
        partition.scanForVolumes(reader);
        std::vector<std::string> rows;
        for (const auto& v : partition.volumeList)
            rows.push_back(v.fileSystemName + "|" + v.sizeText + "|" + std::to_string(v.startSector));
        return rows;
    };
    EXPECT_EQ(scan(true), (std::vector<std::string>{"NTFS|15   MB|2048", "FAT32|36  MB|36864", "FAT16|16  MB|110592",
                                                    "FAT64|16  MB|145408", "HFS+|1  MB|180224"}));
    const auto all = scan(false);
    EXPECT_NE(std::find(all.begin(), all.end(), "NTFS|15   MB|" + std::to_string(2048 + 32767)), all.end())
        << "the NTFS backup boot sector at the volume's last sector";
    for (const char* row : {"FAT32|36  MB|36864", "FAT16|16  MB|110592", "FAT64|16  MB|145408", "HFS+|1  MB|180224"})
        EXPECT_NE(std::find(all.begin(), all.end(), row), all.end()) << row;
}

} // namespace
} // namespace vindaru
