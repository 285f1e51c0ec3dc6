// Free-space-only carving: which parts of a volume its file system's allocation map gives to
// live files and to the file system's own structures. The file system is the one the volume
// record names, or, for a volume typed "RAW" or not recognised, the one its first sectors show.
#pragma once

#include "common/UsedRanges.h"
#include "image/ByteSource.h"
#include "volume/FileSystemDriver.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

inline constexpr const char* kFreeSpaceUnknownFileSystem =
    "Free space only: the file system of this volume is not known, so its free space cannot be told. Nothing was carved.";
inline constexpr const char* kFreeSpaceMapUnreadable =
    "Free space only: the allocation map of this volume could not be read, so its free space cannot be told. Nothing was carved.";

// The row of the file system whose structures begin the volume, by one pass of the table's
// probes over its first 2 KiB; null when none recognises them.
const FileSystemDriver* fileSystemAtVolumeStart(const ByteSource& disk, const VolumeRecord& volume,
                                                FileSystemTable table);

// The ranges live files use, or no ranges and the message that tells why they cannot be known.
UsedSpace usedSpaceOf(const ByteSource& disk, const VolumeRecord& volume);

} // namespace vindaru
