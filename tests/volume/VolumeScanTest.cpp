// The boot-sector scan on synthetic disks: what it finds, the skip, the range, stop, progress.
#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "browser/FileSystemDrivers.h"
#include "volume/Partition.h"
#include "volume/SyntheticDisk.h"

namespace vindaru {
namespace {

using test::SyntheticDisk;

struct ScanResult {
    std::vector<VolumeRecord> volumes;
    std::vector<std::string> texts;
    std::vector<std::int64_t> positions;
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
};

struct ScanOptions {
    bool skip = true;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    bool holes = false; // the disk's all-zero sectors are holes, as in a sparse container
};

// Stores in `reader` (a disk of holes as large as `disk`) the disk's sectors that are not all
// zeros.
void placeStoredSectors(const SyntheticDisk& disk, MemoryReader& reader) {
    const auto sector = [&](std::uint64_t s) { return std::span(disk.bytes).subspan(s * 512, 512); };
    const auto zero = [&](std::uint64_t s) {
        return std::all_of(sector(s).begin(), sector(s).end(), [](std::uint8_t b) { return b == 0; });
    };
    for (std::uint64_t s = 0; s < disk.sectorCount();) {
        if (zero(s)) {
            ++s;
            continue;
        }
        std::uint64_t end = s + 1;
        while (end < disk.sectorCount() && !zero(end)) ++end;
        reader.place(s * 512, std::span(disk.bytes).subspan(s * 512, (end - s) * 512));
        s = end;
    }
}

ScanResult scan(const SyntheticDisk& disk, ScanOptions options = {}, std::function<void(Partition&)> onFound = {}) {
    MemoryReader reader = options.holes ? MemoryReader(std::uint64_t{disk.bytes.size()}) : disk.reader();
    if (options.holes) placeStoredSectors(disk, reader);
    RecordingStatusSink status;
    RecordingProgressSink progress;
    Partition partition(fileSystemDrivers());
    partition.statusTarget = &status;
    partition.progressTarget = &progress;
    partition.diskSectorCount = disk.sectorCount();
    partition.skipVolumeSize = options.skip;
    partition.customStartSector = options.start;
    partition.customEndSector = options.end;
    if (onFound) partition.volumeFound = [&](const VolumeRecord&) { onFound(partition); };
    partition.scanForVolumes(reader);
    return {partition.volumeList, status.texts, progress.positions, progress.ranges};
}

std::vector<std::string> rowsOf(const ScanResult& r) {
    std::vector<std::string> out;
    for (const auto& v : r.volumes)
        out.push_back(v.volumeName + "|" + v.fileSystemName + "|" + v.sizeText + "|" + std::to_string(v.startSector));
    return out;
}

// One volume of each kind, each a few MiB, on a disk without a partition table.
SyntheticDisk everyKind() {
    SyntheticDisk disk(40 * 2048);
    disk.ntfsBoot(2048, 4 * 2048 - 1);
    disk.ntfsBoot(2048 + 4 * 2048 - 1, 4 * 2048 - 1); // its backup at the volume's last sector
    disk.fatBoot(6 * 2048 + 5, 0, 0, 3 * 2048);        // FAT32, not on a MiB boundary
    disk.fatBoot(10 * 2048, 32, 4 * 2048, 0);          // FAT16 with 32 sectors per FAT
    disk.exfatBoot(16 * 2048, 2 * 2048);
    disk.hfsHeader(20 * 2048, 4096, 768); // 3 MiB; header at 20*2048+2
    return disk;
}

TEST(VolumeScan, FindsEveryKindAndSkipsOverEach) {
    const ScanResult r = scan(everyKind());
    EXPECT_EQ(rowsOf(r), (std::vector<std::string>{"0|NTFS|3   MB|2048", "1|FAT32|3  MB|12293",
                                                   "2|FAT16|4  MB|20480", "3|FAT64|2  MB|32768",
                                                   "4|HFS+|3  MB|40960"}));
    EXPECT_EQ(r.texts, (std::vector<std::string>{"Scanning partition.....", "found NTFS 1...", "found FAT 32...",
                                                 "found FAT 16...", "found FAT 64...", "found HFS+..."}));
}

// Each sector goes to every row's probe: an ext magic in a boot sector's field (an NTFS mirror
// cluster number ending in 0xEF53) does not hide the boot sector, and a FAT boot sector with
// the near jump is found as the partition tables find it.
TEST(VolumeScan, EveryRowsProbeSeesEverySector) {
    SyntheticDisk disk(12 * 2048);
    disk.ntfsBoot(2048, 4 * 2048 - 1);
    disk.putLe(2048 * 512 + 56, 0xEF53, 2);
    disk.fatBoot(6 * 2048, 32, 4 * 2048, 0);
    disk.put8(6 * 2048 * 512, 0xE9);
    disk.put8(6 * 2048 * 512 + 510, 0x55);
    disk.put8(6 * 2048 * 512 + 511, 0xAA);
    const ScanResult r = scan(disk);
    EXPECT_EQ(rowsOf(r), (std::vector<std::string>{"0|NTFS|3   MB|2048", "1|FAT16|4  MB|12288"}));
}

TEST(VolumeScan, WithoutSkipAlsoFindsTheNtfsBackupBootSector) {
    const ScanResult r = scan(everyKind(), {.skip = false});
    ASSERT_EQ(r.volumes.size(), 6u);
    EXPECT_EQ(r.volumes[1].fileSystemName, "NTFS");
    EXPECT_EQ(r.volumes[1].startSector, 2048u + 4 * 2048 - 1);
    EXPECT_EQ(r.volumes[1].volumeName, "1");
    EXPECT_EQ(r.texts[2], "found NTFS 2...");
}

// The skip goes on right after the volume, even when the volume does not end on a whole MiB: its
// backup boot sector is not listed, and a volume right behind it is.
TEST(VolumeScan, SkipPassesOverTheWholeVolume) {
    SyntheticDisk disk(12 * 2048);
    const std::uint64_t ntfsSectors = 3 * 2048 + 100; // the backup boot sector is the last one
    disk.ntfsBoot(2048, ntfsSectors - 1);
    disk.ntfsBoot(2048 + ntfsSectors - 1, ntfsSectors - 1);
    disk.fatBoot(2048 + ntfsSectors, 0, 0, 2048 + 7);
    disk.fatBoot(2048 + ntfsSectors + 2048 + 7, 0, 0, 2048);
    EXPECT_EQ(rowsOf(scan(disk)), (std::vector<std::string>{"0|NTFS|3   MB|2048", "1|FAT32|1  MB|8292",
                                                            "2|FAT32|1  MB|10347"}));
    EXPECT_EQ(scan(disk, {.skip = false}).volumes.size(), 4u);
}

// The same for an NTFS of 4096-byte sectors (a disk of 4 KiB logical sectors): its size and its
// backup boot sector, one 4 KiB sector past its count, are in those sectors.
TEST(VolumeScan, SkipPassesOverAVolumeOfFourKibSectors) {
    SyntheticDisk disk(12 * 2048);
    const std::uint64_t ntfsSectors = 3 * 256 + 10; // of 4 KiB
    for (const std::uint64_t at : {std::uint64_t{2048}, 2048 + (ntfsSectors - 1) * 8}) {
        disk.ntfsBoot(at, ntfsSectors - 1);
        disk.putLe(at * 512 + 11, 4096, 2);
    }
    disk.fatBoot(2048 + ntfsSectors * 8, 0, 0, 2048);
    EXPECT_EQ(rowsOf(scan(disk)), (std::vector<std::string>{"0|NTFS|3   MB|2048", "1|FAT32|1  MB|8272"}));
    const ScanResult all = scan(disk, {.skip = false});
    ASSERT_EQ(all.volumes.size(), 3u);
    EXPECT_EQ(all.volumes[0].sectorCount, (ntfsSectors - 1) * 8);
}

TEST(VolumeScan, Fat16SizeRules) {
    SyntheticDisk disk(20 * 2048);
    disk.fatBoot(0, 256, 0x8000, 99999999);   // top bit set: read unsigned, 32-bit field ignored
    disk.fatBoot(2048 * 17, 64, 0, 3 * 2048); // 16-bit total 0: the 32-bit field counts
    disk.fatBoot(2048 * 19, 64, 0, 0);        // no size: found but not listed
    const ScanResult r = scan(disk, {.skip = false});
    EXPECT_EQ(rowsOf(r), (std::vector<std::string>{"0|FAT16|16  MB|0", "1|FAT16|3  MB|34816"}));
    EXPECT_EQ(std::count(r.texts.begin(), r.texts.end(), "found FAT 16..."), 3);
}

TEST(VolumeScan, SmallFatVolumeIsFat12) {
    SyntheticDisk disk(3 * 2048);
    disk.fatBoot(0, 8, 2880 * 2, 0, 8); // 5760 sectors in 8-sector clusters: ~700 clusters
    const ScanResult r = scan(disk);
    ASSERT_EQ(r.volumes.size(), 1u);
    EXPECT_EQ(r.volumes[0].fileSystemName, "FAT12");
    EXPECT_EQ(r.texts[1], "found unknown...");
}

TEST(VolumeScan, HfsHeaderNearTheDiskStartIsNotAVolume) {
    SyntheticDisk disk(2048);
    disk.putText(512, "H+");
    disk.put8(512 + 3, 4);
    disk.putBe(512 + 40, 4096, 4);
    disk.putBe(512 + 44, 1000, 4);
    EXPECT_TRUE(scan(disk).volumes.empty());
}

// Small HFS+ volumes exist (a hybrid ISO's is a few hundred KiB); the header itself must be sound.
TEST(VolumeScan, HfsHeaderIsJudgedByItselfNotBySize) {
    SyntheticDisk disk(8 * 2048);
    disk.hfsHeader(2048, 2048, 122);          // 244 KiB
    disk.hfsHeader(4096, 3000, 1000);         // block size not a power of two
    disk.hfsHeader(6144, 4096, 1000);
    disk.put8((6144 + 2) * 512 + 3, 5);       // version 5 is not HFS+
    disk.hfsHeader(8192, 1u << 20, 0xFFFFFFFF); // beyond the size bound
    disk.hfsHeader(10240, 512, 1);            // smaller than its own header's place
    const ScanResult r = scan(disk, {.skip = false});
    EXPECT_EQ(rowsOf(r), (std::vector<std::string>{"0|HFS+|0  MB|2048"}));
}

TEST(VolumeScan, RangeLimitsTheScan) {
    const SyntheticDisk disk = everyKind();
    // From 4 MiB on, chunks are counted from the start: the FAT32 at 6 MiB+5 is inside.
    ScanResult r = scan(disk, {.skip = false, .start = 4 * 2048, .end = 16 * 2048});
    EXPECT_EQ(rowsOf(r), (std::vector<std::string>{"0|NTFS|3   MB|10239", "1|FAT32|3  MB|12293", "2|FAT16|4  MB|20480"}));
    r = scan(disk, {.start = 40 * 2048});
    EXPECT_TRUE(r.volumes.empty());
    EXPECT_EQ(r.texts, (std::vector<std::string>{"Scanning partition....."}));
    // An end inside a chunk ends the scan there, and each volume is found once.
    r = scan(disk, {.start = 0, .end = 6 * 2048 + 6});
    EXPECT_EQ(r.volumes.size(), 2u);
}

TEST(VolumeScan, ProgressRunsFromZeroToAThousand) {
    const ScanResult r = scan(everyKind(), {.skip = false});
    ASSERT_EQ(r.ranges.size(), 1u);
    EXPECT_EQ(r.ranges[0], std::make_pair(std::int64_t{0}, std::int64_t{1000}));
    ASSERT_EQ(r.positions.size(), 40u);
    EXPECT_TRUE(std::is_sorted(r.positions.begin(), r.positions.end()));
    EXPECT_EQ(r.positions.front(), 25);
    EXPECT_EQ(r.positions.back(), 1000);
}

TEST(VolumeScan, StopKeepsTheVolumesFoundSoFar) {
    const ScanResult r = scan(everyKind(), {}, [](Partition& p) {
        if (p.volumeList.size() == 2) p.requestStop();
    });
    EXPECT_EQ(r.volumes.size(), 2u);
    EXPECT_EQ(r.texts.back(), "found FAT 32...");
}

TEST(VolumeScan, StopBeforeASectorWritesScannedPartitions) {
    SyntheticDisk disk(4 * 2048);
    MemoryReader reader = disk.reader();
    RecordingStatusSink status;
    Partition partition(fileSystemDrivers());
    partition.statusTarget = &status;
    partition.diskSectorCount = disk.sectorCount();
    // The stop arrives while the first piece is read.
    struct StopOnRead : MemoryReader {
        using MemoryReader::MemoryReader;
        Partition* partition = nullptr;
        bool readRange(std::uint64_t position, std::span<std::uint8_t> out, ReadReport* report) const override {
            partition->requestStop();
            return MemoryReader::readRange(position, out, report);
        }
    } stopping(disk.bytes);
    stopping.partition = &partition;
    partition.scanForVolumes(stopping);
    EXPECT_EQ(status.texts.back(), "Scanned Partitions");
}

// The page starts the scan on a worker: a Stop pressed before the worker's first look is the
// user's too, and the scan must not begin by forgetting it.
TEST(VolumeScan, AStopPressedBeforeTheWorkerBeginsEndsTheScan) {
    const SyntheticDisk disk = everyKind();
    MemoryReader reader = disk.reader();
    RecordingStatusSink status;
    Partition partition(fileSystemDrivers());
    partition.statusTarget = &status;
    partition.diskSectorCount = disk.sectorCount();
    partition.requestStop();
    partition.scanForVolumes(reader);
    EXPECT_TRUE(partition.volumeList.empty());
    EXPECT_EQ(status.texts.back(), "Scanned Partitions");
}

TEST(VolumeScan, HostileSizesEndTheScanQuickly) {
    SyntheticDisk disk(4 * 2048);
    disk.ntfsBoot(100, 0xFFFFFFFFFFFFFFFFull);
    disk.exfatBoot(3000, 0xFFFFFFFFFFFFFFFFull);
    const ScanResult r = scan(disk);
    ASSERT_EQ(r.volumes.size(), 1u); // the NTFS reaches past the disk: nothing after it is read
    EXPECT_EQ(r.positions.back(), 1000);
}

// The scan passes holes in steps as long as they are, and finds exactly what reading every
// sector finds: volumes right after a hole, on and off the scan's piece and chunk boundaries, in
// the last sector, with and without the skip, from a start that is not on a boundary.
TEST(VolumeScan, PassingHolesFindsWhatReadingEverySectorFinds) {
    SyntheticDisk disk(64 * 2048);
    disk.fatBoot(256, 0, 0, 2048);               // the first sector of the second piece
    disk.ntfsBoot(4095, 4095);                   // the last sector of the second chunk
    disk.ntfsBoot(4095 + 4095, 4095);            // its backup, found only without the skip
    disk.exfatBoot(9 * 2048 + 1, 2048);          // a sector after a long hole
    disk.hfsHeader(20 * 2048 + 254, 4096, 512);  // a volume whose header opens the next piece
    disk.fatBoot(40 * 2048 + 129, 128, 4096, 0); // in the middle of a piece
    disk.ntfsBoot(63 * 2048 + 2047, 4095);       // the disk's last sector
    for (const bool skip : {true, false}) {
        for (const std::uint64_t start : {std::uint64_t{0}, std::uint64_t{3}, std::uint64_t{9 * 2048 + 1}}) {
            const ScanResult read = scan(disk, {.skip = skip, .start = start});
            const ScanResult passed = scan(disk, {.skip = skip, .start = start, .holes = true});
            EXPECT_EQ(rowsOf(passed), rowsOf(read)) << "skip " << skip << ", start " << start;
            EXPECT_EQ(passed.texts, read.texts) << "skip " << skip << ", start " << start;
            ASSERT_FALSE(passed.positions.empty());
            EXPECT_EQ(passed.positions.back(), 1000);
            EXPECT_LT(passed.positions.size(), read.positions.size()) << "the holes were passed, not read";
        }
    }
    EXPECT_EQ(scan(disk, {.skip = false, .holes = true}).volumes.size(), 7u);
}

TEST(VolumeScan, PartialLastChunkIsScanned) {
    SyntheticDisk disk(2048 + 3000);
    disk.ntfsBoot(2048 + 2900, 4096);
    const ScanResult r = scan(disk);
    ASSERT_EQ(r.volumes.size(), 1u);
    EXPECT_EQ(r.volumes[0].startSector, 2048u + 2900);
}

// ext volumes have no boot sector: the scan knows them by their primary superblock, 1 KiB in,
// and passes over the backups in later groups (also without the skip).
TEST(VolumeScan, FindsExtVolumesByTheirSuperblock) {
    if (test::runCommand("command -v mke2fs >/dev/null").exitCode != 0) GTEST_SKIP() << "mke2fs not installed";
    test::ScratchDir dir;
    struct Made {
        const char* options;
        std::uint64_t sectors;
        std::uint64_t start;
    };
    // A 1 KiB-block ext2 at the disk's first sector (a bare volume image), then an ext4 of 4 KiB
    // blocks not on a MiB boundary.
    const Made made[] = {{"-t ext2 -b 1024", 20 * 2048, 0}, {"-t ext4 -b 4096", 40 * 2048, 20 * 2048 + 24}};
    SyntheticDisk disk(64 * 2048);
    for (const Made& m : made) {
        const auto image = dir / "v.img";
        std::filesystem::remove(image);
        const auto r = test::runCommand("mke2fs -q -F " + std::string(m.options) + " " +
                                        test::shellQuote(image.string()) + " " + std::to_string(m.sectors / 2) + "k 2>&1");
        ASSERT_EQ(r.exitCode, 0) << r.out;
        const auto bytes = test::readFile(image);
        for (std::size_t i = 0; i < bytes.size(); ++i) disk.put8(m.start * 512 + i, bytes[i]);
    }
    for (const bool skip : {true, false}) {
        const ScanResult r = scan(disk, {.skip = skip});
        EXPECT_EQ(rowsOf(r), (std::vector<std::string>{"0|extX|20  MB|0", "1|extX|40  MB|40984"})) << skip;
        ASSERT_EQ(r.volumes.size(), 2u);
        EXPECT_EQ(r.volumes[0].sectorCount, 20u * 2048);
        EXPECT_EQ(r.volumes[1].sectorCount, 40u * 2048);
    }
}

} // namespace
} // namespace vindaru
