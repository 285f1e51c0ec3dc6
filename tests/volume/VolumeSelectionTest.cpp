// Choosing a volume without the page: row N of the standard discovery, or one described by hand.
#include <gtest/gtest.h>

#include "browser/FileSystemDrivers.h"
#include "volume/SyntheticDisk.h"
#include "volume/VolumeSelection.h"

namespace vindaru {
namespace {

TEST(VolumeSelection, RowNOfTheStandardDiscovery) {
    test::SyntheticDisk disk(400);
    disk.mbrEntry(0, 0, 0x05, 100, 300);
    disk.mbrEntry(0, 1, 0x07, 10, 80);
    disk.mbrEntry(100, 0, 0x0B, 2, 4096);
    MemoryReader reader = disk.reader();
    NullStatusSink status;
    StandardVolumeChoice c = standardVolume(reader, fileSystemDrivers(), false, 1, status);
    ASSERT_TRUE(c.record);
    EXPECT_EQ(c.listed, 2u);
    EXPECT_EQ(c.record->volumeName, "1");
    EXPECT_EQ(c.record->fileSystemName, "NTFS");
    EXPECT_EQ(c.record->startSector, 10u);
    c = standardVolume(reader, fileSystemDrivers(), false, 2, status);
    EXPECT_FALSE(c.record);
    EXPECT_EQ(c.listed, 2u);
}

TEST(VolumeSelection, DescribedVolumeTakesTheRestOfTheDiskByDefault) {
    auto v = describedVolume(fileSystemDrivers(), 0, "NTFS", std::nullopt, 32768);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->fileSystemName, "ntfs");
    EXPECT_EQ(v->sizeText, "16");
    EXPECT_EQ(v->startSector, 0u);
    v = describedVolume(fileSystemDrivers(), 2048, "exfat", 5, 32768);
    EXPECT_EQ(v->fileSystemName, "fat64");
    EXPECT_EQ(v->sizeText, "5");
    EXPECT_EQ(describedVolume(fileSystemDrivers(), 40000, "ext2", std::nullopt, 32768)->sizeText, "0");
    EXPECT_EQ(describedVolume(fileSystemDrivers(), 0, "hfsplus", std::nullopt, 0)->fileSystemName, "HFS+");
    EXPECT_FALSE(describedVolume(fileSystemDrivers(), 0, "zfs", std::nullopt, 100));
}

} // namespace
} // namespace vindaru
