// The file-system type names a user may give a volume ("Treat file system as:" on the volume
// list page, --type on the command line) and the names they become in its VolumeRecord: each
// driver row's treat-as names (volume/FileSystemDriver.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "volume/FileSystemDriver.h"

namespace vindaru {

// The entries of "Treat file system as:", in the order the sorted combo box shows them.
std::vector<std::string> treatAsChoices(FileSystemTable table);

// The row a "Treat file system as:" entry or --type names (any of the row's names, letter case
// ignored); null for anything else and for rows without an entry.
const FileSystemDriver* treatAsFileSystem(FileSystemTable table, std::string_view choice);

// The record's name after that choice: "NTFS" → "ntfs", "EXTX" → "extX", "HFS+" → "HFS+",
// "exfat" → "fat64", ...; nullopt when `choice` names no entry.
std::optional<std::string> treatAsFileSystemName(FileSystemTable table, std::string_view choice);

} // namespace vindaru
