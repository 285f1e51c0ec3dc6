// The program's table of file systems: one driver row (volume/FileSystemDriver.h) for each,
// plus the rows of the kinds that are not file systems (RAW, Unknown, Other). Adding a file
// system is one folder under src/fs/ and one row here (docs/adding-a-file-system.md).
#pragma once

#include <string_view>

#include "fs/parser/VolumeParser.h"
#include "volume/FileSystemDriver.h"

namespace vindaru {

// Every row, in the order discovery tries their probes.
FileSystemTable fileSystemDrivers();

// The row a volume record's type name resolves to; the Other row when no row has the name.
const FileSystemDriver& driverNamed(std::string_view typeName);
inline const FileSystemDriver& driverFor(const VolumeRecord& volume) { return driverNamed(volume.fileSystemName); }
// The kind a type name resolves to (Other for a file system without a key of its own). Rows are
// looked up by name, never by kind: kinds do not tell apart the rows whose kind is Other.
inline FileSystemKind fileSystemKind(std::string_view typeName) { return driverNamed(typeName).kind; }

// The wizard's message for a kind whose parser is not in this build.
inline constexpr const char* kNotBuiltYetMessage = "This file system cannot be scanned by this version.";

} // namespace vindaru
