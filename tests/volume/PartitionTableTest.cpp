// The standard discovery: MBR, extended chains and GUID partition tables on synthetic disks.
#include <gtest/gtest.h>

#include "image/VolumeSlice.h"
#include "browser/FileSystemDrivers.h"
#include "volume/Partition.h"
#include "volume/SyntheticDisk.h"

namespace vindaru {
namespace {

using test::SyntheticDisk;

struct Discovery {
    std::vector<VolumeRecord> volumes;
    std::vector<std::string> texts;
    int result = 0;
};

Discovery discover(const SyntheticDisk& disk, bool gpt = false) {
    MemoryReader reader = disk.reader();
    RecordingStatusSink status;
    Partition partition(fileSystemDrivers());
    partition.gptMode = gpt;
    partition.statusTarget = &status;
    Discovery d;
    d.result = partition.readPartitionTable(reader);
    d.volumes = partition.volumeList;
    d.texts = status.texts;
    return d;
}

std::vector<std::uint64_t> starts(const Discovery& d) {
    std::vector<std::uint64_t> out;
    for (const auto& v : d.volumes) out.push_back(v.startSector);
    return out;
}

std::vector<std::string> names(const Discovery& d) {
    std::vector<std::string> out;
    for (const auto& v : d.volumes) out.push_back(v.fileSystemName);
    return out;
}

TEST(BareVolume, AVolumeAtSectorZeroWithoutATableIsListedAlone) {
    SyntheticDisk ntfs(20000);
    ntfs.ntfsBoot(0, 16383);
    ntfs.putLe(510, 0xAA55, 2);
    Discovery d = discover(ntfs);
    EXPECT_EQ(names(d), (std::vector<std::string>{"NTFS"}));
    EXPECT_EQ(starts(d), (std::vector<std::uint64_t>{0}));
    EXPECT_EQ(d.volumes[0].sectorCount, 16383u); // as the boot sector counts

    // An ext superblock 1 KiB in: 2048 blocks of 4 KiB.
    SyntheticDisk ext(20000);
    ext.putLe(1024 + 4, 2048, 4);
    ext.putLe(1024 + 24, 2, 4);
    ext.putLe(1024 + 32, 4096 * 8, 4);
    ext.putLe(1024 + 56, 0xEF53, 2);
    d = discover(ext);
    EXPECT_EQ(names(d), (std::vector<std::string>{"extX"}));
    EXPECT_EQ(d.volumes[0].sectorCount, 2048u * 8);

    // The magic alone is not a superblock; and a partition table wins over one.
    SyntheticDisk weak(20000);
    weak.putLe(1024 + 56, 0xEF53, 2);
    EXPECT_TRUE(discover(weak).volumes.empty());
    ext.mbrEntry(0, 0, 0x07, 2048, 8192);
    EXPECT_EQ(starts(discover(ext)), (std::vector<std::uint64_t>{2048}));
}

TEST(MbrTable, PrimaryTypesGiveTheirNamesTextsAndSizes) {
    SyntheticDisk disk(40000);
    disk.mbrEntry(0, 0, 0x07, 2048, 8192);  // NTFS (no exFAT boot sector)
    disk.mbrEntry(0, 1, 0x07, 12000, 4096); // exFAT under the NTFS type
    disk.exfatBoot(12000, 4096);
    disk.mbrEntry(0, 2, 0x0C, 20000, 4095); // FAT32, just under 2 MB
    disk.mbrEntry(0, 3, 0x83, 30000, 6144);
    const Discovery d = discover(disk);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(names(d), (std::vector<std::string>{"NTFS", "FAT64", "FAT32", "extX"}));
    EXPECT_EQ(starts(d), (std::vector<std::uint64_t>{2048, 12000, 20000, 30000}));
    EXPECT_EQ(d.volumes[0].sizeText, "4   MB");
    EXPECT_EQ(d.volumes[2].sizeText, "1   MB");
    EXPECT_EQ(d.volumes[3].volumeName, "3");
    EXPECT_EQ(d.texts, (std::vector<std::string>{"found NTFS 1...", "found FAT64...", "found FAT 32...",
                                                 "found ext2..."}));
}

TEST(MbrTable, OtherTypesAreUnknownAndFat12HasNoText) {
    SyntheticDisk disk(100);
    disk.mbrEntry(0, 0, 0x01, 10, 20);
    disk.mbrEntry(0, 1, 0xEE, 1, 99); // a GPT disk's protective entry
    disk.mbrEntry(0, 2, 0x42, 50, 20);
    const Discovery d = discover(disk);
    EXPECT_EQ(names(d), (std::vector<std::string>{"FAT12", "Unknown", "NTFS"}));
    EXPECT_EQ(d.texts, (std::vector<std::string>{"found UNKNOWN...", "NTFS..."}));
    EXPECT_EQ(d.volumes[1].sizeText, "0   MB");
}

// An empty slot does not hide the primary volumes after it (a deleted partition leaves one).
TEST(MbrTable, EmptySecondEntryDoesNotHideTheThird) {
    SyntheticDisk disk(100);
    disk.mbrEntry(0, 0, 0x06, 10, 20);
    disk.mbrEntry(0, 2, 0x0B, 40, 20);
    const Discovery d = discover(disk);
    EXPECT_EQ(starts(d), (std::vector<std::uint64_t>{10, 40}));
    EXPECT_EQ(d.volumes[1].volumeName, "1");
}

TEST(MbrTable, FirstEntryExtendedListsTheChainThenTheLaterPrimaries) {
    SyntheticDisk disk(400);
    disk.mbrEntry(0, 0, 0x0F, 100, 200);
    disk.mbrEntry(0, 1, 0x83, 320, 50);
    // EBR 1 at 100: logical at 100+2, link to EBR at 100+150; EBR 2: logical at 250+2.
    disk.mbrEntry(100, 0, 0x83, 2, 40);
    disk.mbrEntry(100, 1, 0x05, 150, 50);
    disk.mbrEntry(250, 0, 0x07, 2, 40);
    const Discovery d = discover(disk);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(starts(d), (std::vector<std::uint64_t>{102, 252, 320}));
    EXPECT_EQ(names(d), (std::vector<std::string>{"extX", "NTFS", "extX"}));
    // Logical volumes have their own texts: "found extx..." and NTFS without a number.
    EXPECT_EQ(d.texts, (std::vector<std::string>{"found extx...", "found NTFS...", "found ext2..."}));
}

TEST(MbrTable, LogicalDynamicDiskTypeIsUnknown) {
    SyntheticDisk disk(200);
    disk.mbrEntry(0, 0, 0x05, 100, 100);
    disk.mbrEntry(100, 0, 0x42, 2, 40);
    EXPECT_EQ(names(discover(disk)), (std::vector<std::string>{"Unknown"}));
}

// Deleting the first logical volume leaves an EBR whose first slot is empty but which still
// links on.
TEST(MbrTable, EbrWithEmptyFirstSlotStillLinksOn) {
    SyntheticDisk disk(400);
    disk.mbrEntry(0, 0, 0x05, 100, 300);
    disk.mbrEntry(100, 1, 0x05, 100, 100);
    disk.mbrEntry(200, 0, 0x06, 2, 40);
    EXPECT_EQ(starts(discover(disk)), (std::vector<std::uint64_t>{202}));
}

TEST(MbrTable, LoopingChainListsEachLogicalOnce) {
    SyntheticDisk disk(400);
    disk.mbrEntry(0, 0, 0x05, 100, 300);
    disk.mbrEntry(100, 0, 0x06, 2, 40);
    disk.mbrEntry(100, 1, 0x05, 100, 100); // → EBR at 200
    disk.mbrEntry(200, 0, 0x0B, 2, 40);
    disk.mbrEntry(200, 1, 0x05, 0, 100); // → back to EBR at 100
    const Discovery d = discover(disk);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(starts(d), (std::vector<std::uint64_t>{102, 202}));
}

TEST(MbrTable, ChainStopsAfterFiftyRecords) {
    SyntheticDisk disk(100 + 60 * 10);
    disk.mbrEntry(0, 0, 0x05, 100, 600);
    for (int k = 0; k < 60; ++k) {
        disk.mbrEntry(100 + k * 10, 0, 0x83, 1, 5);
        disk.mbrEntry(100 + k * 10, 1, 0x05, (k + 1) * 10, 10);
    }
    const Discovery d = discover(disk);
    ASSERT_EQ(d.volumes.size(), 50u);
    EXPECT_EQ(d.volumes.back().startSector, 100u + 49 * 10 + 1);
    EXPECT_EQ(d.volumes.back().volumeName, "49");
}

TEST(MbrTable, UnreadableEbrEndsDiscoveryKeepingEarlierVolumes) {
    SyntheticDisk disk(100);
    disk.mbrEntry(0, 0, 0x06, 10, 20);
    disk.mbrEntry(0, 1, 0x05, 5000000, 20); // far past the disk's end
    const Discovery d = discover(disk);
    EXPECT_NE(d.result, 0);
    EXPECT_EQ(starts(d), (std::vector<std::uint64_t>{10}));
}

TEST(MbrTable, EmptyDiskFailsToReadSectorZero) {
    MemoryReader reader;
    Partition partition(fileSystemDrivers());
    EXPECT_NE(partition.readPartitionTable(reader), 0);
    EXPECT_TRUE(partition.volumeList.empty());
}

// --- GPT ---

constexpr std::uint32_t kBasicData = 0xEBD0A0A2;
constexpr std::uint32_t kReserved = 0xE3C9E316;
constexpr std::uint32_t kHfsType = 0x48465300;

SyntheticDisk gptDisk() {
    SyntheticDisk disk(60000);
    disk.mbrEntry(0, 0, 0xEE, 1, 59999);
    disk.gptHeader();
    disk.gptEntry(0, kReserved, 34, 2047, u"Microsoft reserved partition");
    disk.gptEntry(1, kBasicData, 2048, 10239, u"NTFS data");
    disk.ntfsBoot(2048, 8191);
    disk.gptEntry(2, kBasicData, 10240, 20479, u"FAT32 data");
    disk.fatBoot(10240, 0, 0, 10240, 1);
    disk.gptEntry(3, kBasicData, 20480, 30719, u"exFAT data");
    disk.exfatBoot(20480, 10240);
    disk.gptEntry(4, kHfsType, 30720, 40959, u"HFS+ data");
    disk.hfsHeader(30720, 4096, 1280);
    disk.gptEntry(5, kBasicData, 40960, 51199, u"Daten \u00fc \u6570");
    return disk;
}

TEST(GptTable, NamesEachPartitionAndSkipsTheReservedOne) {
    const Discovery d = discover(gptDisk(), true);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(names(d), (std::vector<std::string>{"NTFS", "FAT32", "FAT64", "HFS+", "Daten \u00fc ?"}));
    EXPECT_EQ(starts(d), (std::vector<std::uint64_t>{2048, 10240, 20480, 30720, 40960}));
    EXPECT_EQ(d.volumes[0].sizeText, "3   MB");
    EXPECT_EQ(d.volumes[1].sizeText, "5  MB");
    EXPECT_EQ(d.volumes[2].sizeText, "5  MB");
    EXPECT_EQ(d.volumes[3].sizeText, "5"); // a whole 5 MiB partition, first..last inclusive
    EXPECT_EQ(d.volumes[4].volumeName, "4");
    EXPECT_EQ(d.texts, (std::vector<std::string>{"found NTFS 1...", "found FAT 32...", "found FAT 64..."}));
}

TEST(GptTable, WithoutGptModeTheProtectiveEntryIsUnknown) {
    const Discovery d = discover(gptDisk(), false);
    ASSERT_EQ(d.volumes.size(), 1u);
    EXPECT_EQ(d.volumes[0].fileSystemName, "Unknown");
    EXPECT_EQ(d.volumes[0].startSector, 1u);
}

// Volumes are numbered as they are listed (the page numbers its rows by their place anyway).
TEST(GptTable, TinyNtfsIsNotListed) {
    SyntheticDisk disk(8000);
    disk.gptHeader();
    disk.gptEntry(0, kBasicData, 100, 1000, u"small");
    disk.ntfsBoot(100, 900);
    disk.gptEntry(1, kBasicData, 2000, 7000, u"other");
    const Discovery d = discover(disk, true);
    ASSERT_EQ(d.volumes.size(), 1u);
    EXPECT_EQ(d.volumes[0].volumeName, "0");
    EXPECT_EQ(d.volumes[0].fileSystemName, "other");
    EXPECT_TRUE(d.texts.empty());
}

TEST(GptTable, Fat16IsListedWhateverItsSectorsPerFat) {
    SyntheticDisk disk(50000);
    disk.gptHeader();
    disk.gptEntry(0, kBasicData, 2048, 43007, u"fat");
    disk.fatBoot(2048, 64, 40960, 0);
    const Discovery d = discover(disk, true);
    ASSERT_EQ(d.volumes.size(), 1u);
    EXPECT_EQ(d.volumes[0].fileSystemName, "FAT16");
    EXPECT_EQ(d.volumes[0].sizeText, "20  MB");
    EXPECT_EQ(d.texts, (std::vector<std::string>{"found FAT 16..."}));
}

TEST(GptTable, GapIsPassedOverButAFailingEntryEndsTheList) {
    SyntheticDisk disk(8000);
    disk.gptHeader();
    disk.gptEntry(0, kBasicData, 100, 2147, u"one");
    disk.gptEntry(2, kBasicData, 3000, 5047, u"three"); // slot 1 left empty
    disk.gptEntry(3, 0x11223330, 5100, 6000, u"stops");  // a 0x30 byte in the type ends the count
    disk.gptEntry(4, kBasicData, 6100, 7000, u"after");
    const Discovery d = discover(disk, true);
    EXPECT_EQ(names(d), (std::vector<std::string>{"one", "three"}));
    EXPECT_EQ(d.volumes[1].sizeText, "1");
}

TEST(GptTable, HostileEntriesDoNotCrash) {
    SyntheticDisk disk(200);
    disk.gptHeader();
    disk.gptEntry(0, kBasicData, 0x7FFFFFFFFFFFFFFFull, 5, u"beyond"); // last < first, past the disk
    disk.gptEntry(1, kBasicData, 150, 0xFFFFFFFFFFFFFFFFull, u"huge");
    const Discovery d = discover(disk, true);
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(names(d), (std::vector<std::string>{"beyond", "huge"}));
    EXPECT_EQ(d.volumes[0].sizeText, "0");
}

TEST(GptTable, EntryArrayPastTheEndFails) {
    SyntheticDisk disk(200);
    disk.gptHeader(0xFFFFFFFFFFFFull);
    const Discovery d = discover(disk, true);
    EXPECT_NE(d.result, 0);
    EXPECT_TRUE(d.volumes.empty());
}

} // namespace
} // namespace vindaru

namespace vindaru {
namespace {

// A boot sector as formatted on a disk of 4 KiB logical sectors: 4096 bytes per sector.
void ntfs4k(SyntheticDisk& disk, std::uint64_t sector, std::uint64_t ntfsSectors) {
    disk.ntfsBoot(sector, ntfsSectors);
    disk.putLe(sector * 512 + 11, 4096, 2);
}
void fat16Of4k(SyntheticDisk& disk, std::uint64_t sector, std::uint16_t fatSectors) {
    disk.fatBoot(sector, 12, fatSectors, 0);
    disk.putLe(sector * 512 + 11, 4096, 2);
}

// A disk of 4 KiB logical sectors: its GPT header at byte 4096, LBAs in 4 KiB units, and its
// volumes formatted with 4096-byte sectors; the records still count 512-byte sectors.
TEST(GptTable, FourKibLogicalSectorsGiveBytePositions) {
    SyntheticDisk disk(64000);
    disk.putText(4096, "EFI PART");
    disk.putLe(4096 + 72, 2, 8); // the entry array at LBA 2: byte 8192
    disk.putLe(4096 + 80, 128, 4);
    disk.putLe(4096 + 84, 128, 4);
    const std::uint64_t at = 8192;
    for (const auto& [slot, first, last] : {std::tuple{0, 256, 2815}, {1, 2816, 7935}}) {
        disk.putLe(at + slot * 128, kBasicData, 4);
        disk.put8(at + slot * 128 + 15, 0x77);
        disk.putLe(at + slot * 128 + 32, first, 8);
        disk.putLe(at + slot * 128 + 40, last, 8);
    }
    ntfs4k(disk, 2048, 2559);      // 10 MiB less its last sector, which holds the backup
    fat16Of4k(disk, 2816 * 8, 5120); // 20 MiB
    const Discovery d = discover(disk, true);
    EXPECT_EQ(names(d), (std::vector<std::string>{"NTFS", "FAT16"}));
    EXPECT_EQ(starts(d), (std::vector<std::uint64_t>{2048, 2816 * 8}));
    ASSERT_EQ(d.volumes.size(), 2u);
    EXPECT_EQ(d.volumes[0].sectorCount, 2559u * 8);
    EXPECT_EQ(d.volumes[1].sectorCount, 5120u * 8);
    EXPECT_EQ(d.volumes[1].sizeText, "20  MB");
}

// A reader of a container that declares 4 KiB logical sectors.
class FourKibDisk : public MemoryReader {
  public:
    using MemoryReader::MemoryReader;
    std::uint32_t logicalSectorSize() const override { return 4096; }
};

// The same with an MBR: the exFAT test under type 0x07 reads the partition's first sector where
// its LBA says, not 1/8 of the way there.
TEST(MbrTable, FourKibLogicalSectorsFindTheExfatBootSector) {
    SyntheticDisk disk(40000);
    disk.mbrEntry(0, 0, 0x07, 256, 1280);
    disk.exfatBoot(256 * 8, 1280);
    disk.put8(256 * 8 * 512 + 108, 12);
    disk.mbrEntry(0, 1, 0x07, 2048, 2048);
    ntfs4k(disk, 2048 * 8, 2047);
    FourKibDisk reader(disk.bytes);
    Partition partition(fileSystemDrivers());
    ASSERT_EQ(partition.readPartitionTable(reader), 0);
    ASSERT_EQ(partition.volumeList.size(), 2u);
    EXPECT_EQ(partition.volumeList[0].fileSystemName, "FAT64");
    EXPECT_EQ(partition.volumeList[0].startSector, 256u * 8);
    EXPECT_EQ(partition.volumeList[0].sectorCount, 1280u * 8);
    EXPECT_EQ(partition.volumeList[1].fileSystemName, "NTFS");
    EXPECT_EQ(partition.volumeList[1].startSector, 2048u * 8);
}

TEST(GptTable, AnEntryPastAnyDiskIsListedButItsSliceIsRefused) {
    SyntheticDisk disk(200);
    disk.gptHeader();
    disk.gptEntry(0, kBasicData, 0x0100000000000000ull, 0x0100000000000010ull, u"wraps");
    const Discovery d = discover(disk, true);
    ASSERT_EQ(d.volumes.size(), 1u);
    MemoryReader reader = disk.reader();
    const auto made = VolumeSlice::fromSectors(reader, d.volumes[0].startSector, d.volumes[0].sectorCount);
    EXPECT_FALSE(made) << "start × 512 does not fit 64 bits: refused, not wrapped";
    EXPECT_FALSE(made.problem.empty());
}

} // namespace
} // namespace vindaru
