// The program's driver table: every name a volume record or a user may give resolves to one row,
// the "Treat file system as:" entries and the names they write, and one probe pass telling what
// begins a volume.
#include <gtest/gtest.h>

#include <algorithm>

#include "browser/FileSystemDrivers.h"
#include "volume/SyntheticDisk.h"
#include "volume/VolumeTypeNames.h"

namespace vindaru {
namespace {

const FileSystemDriver* rowOf(FileSystemKind kind) {
    for (const FileSystemDriver& row : fileSystemDrivers())
        if (row.kind == kind) return &row;
    return nullptr;
}

TEST(FileSystemDrivers, EverySpellingTheSystemUsesResolvesOnce) {
    struct Case {
        const char* name;
        FileSystemKind kind;
        const char* jsonKind;
    };
    for (const Case& c : {Case{"ntfs", FileSystemKind::Ntfs, "ntfs"}, Case{"NTFS", FileSystemKind::Ntfs, "ntfs"},
                          Case{"fat", FileSystemKind::Fat16, "fat16"}, Case{"FAT16", FileSystemKind::Fat16, "fat16"},
                          Case{"FAT12", FileSystemKind::Fat12, "fat12"}, Case{"fat32", FileSystemKind::Fat32, "fat32"},
                          Case{"fat64", FileSystemKind::ExFat, "exfat"}, Case{"exFat", FileSystemKind::ExFat, "exfat"},
                          Case{"FAT64", FileSystemKind::ExFat, "exfat"}, Case{"extX", FileSystemKind::Ext, "ext"},
                          Case{"EXTX", FileSystemKind::Ext, "ext"}, Case{"ext4", FileSystemKind::Ext, "ext"},
                          Case{"HFS+", FileSystemKind::HfsPlus, "hfsplus"}, Case{"hfsx", FileSystemKind::HfsPlus, "hfsplus"},
                          Case{"RAW", FileSystemKind::Raw, "raw"}, Case{"unknown", FileSystemKind::Unknown, "unknown"},
                          Case{"Unknown", FileSystemKind::Unknown, "unknown"}, Case{"  ntfs", FileSystemKind::Ntfs, "ntfs"},
                          Case{"Basic data partition", FileSystemKind::Other, "other"},
                          Case{"CUSTOM ", FileSystemKind::Other, "other"}, Case{"", FileSystemKind::Other, "other"},
                          // A script's kind names are not record names.
                          Case{"ext", FileSystemKind::Other, "other"}, Case{"other", FileSystemKind::Other, "other"}}) {
        EXPECT_EQ(fileSystemKind(c.name), c.kind) << c.name;
        EXPECT_STREQ(driverNamed(c.name).jsonKind, c.jsonKind) << c.name;
    }
}

TEST(FileSystemDrivers, EveryNameOfARowLeadsBackToItAndEveryKindHasOneRow) {
    for (const FileSystemDriver& row : fileSystemDrivers()) {
        for (const char* name : {row.recordName, row.listName, row.treatAsName, row.treatAsRecordName}) {
            if (name && *name) {
                EXPECT_EQ(findFileSystem(fileSystemDrivers(), name), &row) << name;
            }
        }
        for (const char* name : row.spellings) EXPECT_EQ(findFileSystem(fileSystemDrivers(), name), &row) << name;
        // The kinds other code still names are keys of one row each.
        EXPECT_EQ(std::count_if(fileSystemDrivers().begin(), fileSystemDrivers().end(),
                                [&](const FileSystemDriver& other) { return other.kind == row.kind; }),
                  1)
            << row.jsonKind;
        // The factory and the names listings print go together.
        EXPECT_EQ(row.create != nullptr, *row.listName != '\0') << row.jsonKind;
    }
}

TEST(FileSystemDrivers, TreatAsEntriesAndTheNamesTheyWrite) {
    const FileSystemTable table = fileSystemDrivers();
    EXPECT_EQ(treatAsChoices(table), (std::vector<std::string>{"EXTX", "FAT16", "FAT32", "FAT64", "HFS+", "NTFS", "RAW"}));
    for (const auto& [given, name] : std::vector<std::pair<std::string, std::string>>{
             {"NTFS", "ntfs"}, {"fat16", "fat16"}, {"fat", "fat16"}, {"FAT32", "fat32"}, {"FAT64", "fat64"},
             {"exfat", "fat64"}, {"EXTX", "extX"}, {"ext2", "extX"}, {"HFS+", "HFS+"}, {"hfsplus", "HFS+"}, {"raw", "RAW"}})
        EXPECT_EQ(treatAsFileSystemName(table, given), name) << given;
    // FAT12 volumes are read by the FAT16 entry; discovery's "Unknown" is no choice.
    for (const char* refused : {"fat12", "unknown", "zfs", ""}) EXPECT_FALSE(treatAsFileSystemName(table, refused)) << refused;
}

TEST(FileSystemDrivers, OneProbePassTellsWhatBeginsAVolume) {
    const auto startOf = [](const test::SyntheticDisk& disk) {
        return probeVolumeStart(fileSystemDrivers(), ByteSpan(disk.bytes).first(2048));
    };
    test::SyntheticDisk disk(8);
    EXPECT_EQ(startOf(disk), nullptr);
    disk.hfsHeader(0, 4096, 0); // a damaged header still names its file system
    EXPECT_EQ(startOf(disk), rowOf(FileSystemKind::HfsPlus));
    disk.putLe(1024 + 56, 0xEF53, 2); // the ext magic in the same sector is looked at first
    EXPECT_EQ(startOf(disk), rowOf(FileSystemKind::Ext));
    disk.fatBoot(0, 0, 0, 70000); // and a boot sector before either
    EXPECT_EQ(startOf(disk), rowOf(FileSystemKind::Fat32));
    disk.ntfsBoot(0, 70000);
    EXPECT_EQ(startOf(disk), rowOf(FileSystemKind::Ntfs));
    disk.putText(3, "MKFS.NT "); // the jump and sector size still show NTFS
    EXPECT_EQ(startOf(disk), rowOf(FileSystemKind::Ntfs));
}

} // namespace
} // namespace vindaru
