// The file-system type names a user may give a volume ("Treat file system as:" on the volume
// list page, --type on the command line) and the names they become in its VolumeRecord.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vindaru {

// The entries of "Treat file system as:", in the order the sorted combo box shows them.
const std::vector<std::string>& treatAsChoices();

// Maps a "Treat file system as:" entry (letter case ignored) to the record's name: "NTFS" →
// "ntfs", "FAT16" → "fat16", "FAT32" → "fat32", "FAT64" → "fat64", "EXTX" → "extX", "HFS+" →
// "HFS+", "RAW" → "RAW". Also takes the common spellings "exfat", "ext2", "hfsplus" and "fat".
// nullopt for anything else.
std::optional<std::string> treatAsFileSystemName(std::string_view choice);

} // namespace vindaru
