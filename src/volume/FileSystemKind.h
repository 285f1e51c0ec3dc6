// The keys of the file systems the engine was first built with, which the parsers' kind() and
// some pages still compare. A volume record's type name is resolved to its driver row (and with
// it to a kind) by the rows' names (volume/FileSystemDriver.h); a file system added since has
// no key of its own and is Other.
#pragma once

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

// True for FAT12, FAT16, FAT32 and exFAT.
inline bool isFatFamily(FileSystemKind kind) {
    return kind == FileSystemKind::Fat12 || kind == FileSystemKind::Fat16 || kind == FileSystemKind::Fat32 ||
           kind == FileSystemKind::ExFat;
}

} // namespace vindaru
