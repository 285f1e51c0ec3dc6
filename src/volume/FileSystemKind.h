// The file systems the engine tells apart. A volume record's type name is resolved to a kind
// once, here; nothing else compares type-name strings.
#pragma once

#include <string_view>

namespace vindaru {

enum class FileSystemKind {
    Ntfs,
    Fat12,  // read by the FAT16 parser with 12-bit FAT entries
    Fat16,
    Fat32,
    ExFat,  // the system's "FAT64"
    Ext,    // "extX": ext2, and the ext3/ext4 volumes it meets
    HfsPlus,
    Raw,    // a custom volume for signature carving
    Unknown,// discovery found no file system ("Unknown", "unknown")
    Other   // anything else: a GPT partition's own name, "CUSTOM ", ...
};

// Every spelling the system writes or accepts, letter case and leading white space ignored:
// "ntfs", "fat"/"fat16", "FAT12", "fat32", "fat64"/"exFat"/"exfat", "extX"/"ext2"/"ext3"/"ext4",
// "HFS+"/"hfsplus"/"HFSX", "RAW", "unknown".
FileSystemKind fileSystemKind(std::string_view typeName);

// True for FAT12, FAT16, FAT32 and exFAT.
bool isFatFamily(FileSystemKind kind);

} // namespace vindaru
