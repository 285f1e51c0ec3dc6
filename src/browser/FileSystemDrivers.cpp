#include "browser/FileSystemDrivers.h"

#include <iterator>

#include "fs/ext2/Ext2Probe.h"
#include "fs/ext2/Ext2VolumeParser.h"
#include "fs/fat/FatParsers.h"
#include "fs/fat/FatProbe.h"
#include "fs/hfsplus/HfsPlusProbe.h"
#include "fs/hfsplus/HfsPlusVolumeParser.h"
#include "fs/ntfs/NtfsProbe.h"
#include "fs/ntfs/NtfsVolumeParser.h"

namespace vindaru {

namespace {

// The MBR partition types of each file system. Type 07 is NTFS's and exFAT's: the boot sector
// tells them apart, NTFS when it does not. Type 42 (a dynamic disk) is read as NTFS where a
// primary entry has it.
// type, status (primary entry), status (extended chain), primary entries only
constexpr MbrTypeCode kNtfsTypes[] = {{0x07, "found NTFS %d...", "found NTFS...", false},
                                      {0x42, "NTFS...", nullptr, true}};
constexpr MbrTypeCode kFat12Types[] = {{0x01, nullptr, nullptr, false}};
constexpr MbrTypeCode kFat16Types[] = {{0x04, "found FAT 16...", "found FAT 16...", false},
                                       {0x06, "found FAT 16...", "found FAT 16...", false},
                                       {0x0E, "found FAT 16...", "found FAT 16...", false}};
constexpr MbrTypeCode kFat32Types[] = {{0x0B, "found FAT 32...", "found FAT 32...", false},
                                       {0x0C, "found FAT 32...", "found FAT 32...", false}};
constexpr MbrTypeCode kExfatTypes[] = {{0x07, "found FAT64...", "found FAT64...", false}};
constexpr MbrTypeCode kExtTypes[] = {{0x83, "found ext2...", "found extx...", false}};

constexpr const char* kFat16Spellings[] = {"fat"};
constexpr const char* kExtSpellings[] = {"ext3", "ext4"};
constexpr const char* kHfsPlusSpellings[] = {"hfsx"};

constexpr const char* kFatBootSector = "a FAT boot sector";
// A boot sector declaring less than 1 MiB is taken for a stray copy.
constexpr std::uint64_t kBootSectorMinimum = 2048;

// Discovery tries the probes in this order.
constexpr FileSystemDriver kDrivers[] = {
    {.kind = FileSystemKind::Ntfs,
     .recordName = "NTFS",
     .listName = "ntfs",
     .jsonKind = "ntfs",
     .treatAsName = "NTFS",
     .treatAsRecordName = "ntfs",
     .startHolds = "an NTFS boot sector",
     .probe = probeNtfsBootSector,
     .scanKey = kNtfsBootSectorKey,
     .mbrTypes = kNtfsTypes,
     .foundStatus = "found NTFS %d...",
     .foundSizeUnit = "   MB",
     .minimumSectors = kBootSectorMinimum,
     .trailingSectors = 1, // the backup boot sector
     .offersAdvanced = true,
     .offersDeep = true,
     .create = createNtfsParser,
     .selectedStatus = "ntfs partition selected...."},
    {.kind = FileSystemKind::Fat12,
     .recordName = "FAT12",
     .listName = "fat12",
     .jsonKind = "fat12",
     .startHolds = kFatBootSector,
     .probe = probeFat12BootSector,
     .scanKey = kFatBootSectorKey,
     .mbrTypes = kFat12Types,
     .foundStatus = "found unknown...",
     .statusBeforeSize = true,
     .minimumSectors = kBootSectorMinimum,
     .onBareDisk = false,
     .offersAdvanced = true,
     .create = createFat16Parser},
    {.kind = FileSystemKind::Fat16,
     .recordName = "FAT16",
     .listName = "fat16",
     .jsonKind = "fat16",
     .treatAsName = "FAT16",
     .treatAsRecordName = "fat16",
     .spellings = kFat16Spellings,
     .startHolds = kFatBootSector,
     .probe = probeFat16BootSector,
     .scanKey = kFatBootSectorKey,
     .mbrTypes = kFat16Types,
     .foundStatus = "found FAT 16...",
     .statusBeforeSize = true,
     .minimumSectors = kBootSectorMinimum,
     .offersAdvanced = true,
     .create = createFat16Parser},
    {.kind = FileSystemKind::Fat32,
     .recordName = "FAT32",
     .listName = "fat32",
     .jsonKind = "fat32",
     .treatAsName = "FAT32",
     .treatAsRecordName = "fat32",
     .startHolds = kFatBootSector,
     .probe = probeFat32BootSector,
     .scanKey = kFatBootSectorKey,
     .mbrTypes = kFat32Types,
     .foundStatus = "found FAT 32...",
     .statusBeforeSize = true,
     .minimumSectors = kBootSectorMinimum,
     .offersAdvanced = true,
     .create = createFat32Parser},
    {.kind = FileSystemKind::ExFat,
     .recordName = "FAT64",
     .listName = "exfat",
     .jsonKind = "exfat",
     .treatAsName = "FAT64",
     .treatAsRecordName = "fat64",
     .startHolds = "an exFAT boot sector",
     .probe = probeExfatBootSector,
     .scanKey = kExfatBootSectorKey,
     .mbrTypes = kExfatTypes,
     .foundStatus = "found FAT 64...",
     .statusBeforeSize = true,
     .minimumSectors = kBootSectorMinimum,
     .offersAdvanced = true,
     .create = createExFatParser},
    {.kind = FileSystemKind::Ext,
     .recordName = "extX",
     .listName = "ext2",
     .jsonKind = "ext",
     .treatAsName = "EXTX",
     .treatAsRecordName = "extX",
     .spellings = kExtSpellings,
     .startHolds = "an ext2/3/4 superblock",
     .probe = probeExtSuperblock,
     .probeOffset = kExtSuperblockOffset,
     .scanKey = kExtSuperblockKey,
     .mbrTypes = kExtTypes,
     .foundStatus = "found extX...",
     // An ext volume in a GPT partition is listed under the partition's name.
     .inGptPartitions = false,
     .create = createExt2Parser},
    {.kind = FileSystemKind::HfsPlus,
     .recordName = "HFS+",
     .listName = "hfsplus",
     .jsonKind = "hfsplus",
     .treatAsName = "HFS+",
     .spellings = kHfsPlusSpellings,
     .startHolds = "an HFS+ volume header",
     .probe = probeHfsPlusHeader,
     .probeOffset = kHfsHeaderOffset,
     .scanKey = kHfsPlusHeaderKey,
     .foundStatus = "found HFS+...",
     .offersDeep = true,
     .create = createHfsPlusParser,
     .selectedStatus = "HFS+ partition selected...."},
    // The kinds that are not file systems.
    {.kind = FileSystemKind::Raw,
     .recordName = "RAW",
     .jsonKind = "raw",
     .treatAsName = "RAW",
     .offersAdvanced = true,
     .offersDeep = true},
    {.kind = FileSystemKind::Unknown, .recordName = "Unknown", .jsonKind = "unknown", .offersAdvanced = true, .offersDeep = true},
    {.kind = FileSystemKind::Other, .jsonKind = "other", .offersAdvanced = true, .offersDeep = true},
};

} // namespace

FileSystemTable fileSystemDrivers() { return kDrivers; }

const FileSystemDriver& driverNamed(std::string_view typeName) {
    const FileSystemDriver* row = findFileSystem(kDrivers, typeName);
    return row ? *row : kDrivers[std::size(kDrivers) - 1];
}

} // namespace vindaru
