#include "browser/FileSystemDrivers.h"

#include <iterator>

#include "fs/ext2/Ext2VolumeParser.h"
#include "fs/fat/FatParsers.h"
#include "fs/hfsplus/HfsPlusVolumeParser.h"
#include "fs/ntfs/NtfsVolumeParser.h"

namespace vindaru {

namespace {

constexpr const char* kNtfsSelected = "ntfs partition selected....";
constexpr const char* kHfsSelected = "HFS+ partition selected....";

// kind, list name, Standard, Advanced, Deep, factory, status when selected
const FileSystemDriver kDrivers[] = {
    {FileSystemKind::Ntfs, "ntfs", true, true, true, createNtfsParser, kNtfsSelected},
    {FileSystemKind::Fat12, "fat12", true, true, false, createFat16Parser, nullptr},
    {FileSystemKind::Fat16, "fat16", true, true, false, createFat16Parser, nullptr},
    {FileSystemKind::Fat32, "fat32", true, true, false, createFat32Parser, nullptr},
    {FileSystemKind::ExFat, "exfat", true, true, false, createExFatParser, nullptr},
    {FileSystemKind::Ext, "ext2", true, false, false, createExt2Parser, nullptr},
    {FileSystemKind::HfsPlus, "hfsplus", true, false, true, createHfsPlusParser, kHfsSelected},
    {FileSystemKind::Raw, "", true, true, true, nullptr, nullptr},
    {FileSystemKind::Unknown, "", true, true, true, nullptr, nullptr},
    {FileSystemKind::Other, "", true, true, true, nullptr, nullptr},
};

} // namespace

const FileSystemDriver& driverFor(FileSystemKind kind) {
    for (const FileSystemDriver& driver : kDrivers)
        if (driver.kind == kind) return driver;
    return kDrivers[std::size(kDrivers) - 1];
}

} // namespace vindaru
