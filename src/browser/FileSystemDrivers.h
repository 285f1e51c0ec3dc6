// The one table of file systems: for each kind, the names it is shown under, the recovery modes
// the recovery mode page offers for it, whether it has an Advanced mode, and the factory of its
// parser. Adding a file system is one folder under src/fs/ and one row here (docs/adding-a-file-system.md).
#pragma once

#include <memory>
#include <string>

#include "fs/parser/VolumeParser.h"
#include "volume/FileSystemKind.h"

namespace vindaru {

struct FileSystemDriver {
    FileSystemKind kind;
    // Lower-case name listings print (ls --tsv, --json): "ntfs", "fat16", ...; empty for kinds
    // that are not file systems.
    const char* listName;
    // The modes the recovery mode page offers.
    bool offersStandard;
    bool offersAdvanced;
    bool offersDeep;
    // The parser's factory; null while the kind has no parser in this build.
    ParserFactory create;
    // The status text when the scan page (or the advance options page) starts on this kind;
    // null: none.
    const char* selectedStatus;
};

// The row of `kind` (every kind has one).
const FileSystemDriver& driverFor(FileSystemKind kind);
inline const FileSystemDriver& driverFor(const VolumeRecord& volume) {
    return driverFor(fileSystemKind(volume.fileSystemName));
}

// The wizard's message for a kind whose parser is not in this build.
inline constexpr const char* kNotBuiltYetMessage = "This file system cannot be scanned by this version.";

} // namespace vindaru
