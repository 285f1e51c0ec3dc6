#include "volume/VolumeTypeNames.h"

#include <algorithm>

namespace vindaru {

std::vector<std::string> treatAsChoices(FileSystemTable table) {
    std::vector<std::string> choices;
    for (const FileSystemDriver& row : table)
        if (row.treatAsName) choices.emplace_back(row.treatAsName);
    std::sort(choices.begin(), choices.end());
    return choices;
}

const FileSystemDriver* treatAsFileSystem(FileSystemTable table, std::string_view choice) {
    const FileSystemDriver* row = findFileSystem(table, choice);
    return row && row->treatAsName ? row : nullptr;
}

std::optional<std::string> treatAsFileSystemName(FileSystemTable table, std::string_view choice) {
    const FileSystemDriver* row = treatAsFileSystem(table, choice);
    if (!row) return std::nullopt;
    return std::string(row->treatAsRecordName ? row->treatAsRecordName : row->treatAsName);
}

} // namespace vindaru
