#include "volume/FileSystemDriver.h"

#include <cctype>
#include <string>

#include "common/TextConvert.h"

namespace vindaru {

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

bool sameName(const char* name, std::string_view lower) { return name && *name && asciiLower(name) == lower; }

} // namespace

const FileSystemDriver* findFileSystem(FileSystemTable table, std::string_view name) {
    const std::string lower = asciiLower(trimmed(name));
    if (lower.empty()) return nullptr;
    for (const FileSystemDriver& row : table) {
        if (sameName(row.recordName, lower) || sameName(row.listName, lower) || sameName(row.treatAsName, lower) ||
            sameName(row.treatAsRecordName, lower))
            return &row;
        for (const char* spelling : row.spellings)
            if (sameName(spelling, lower)) return &row;
    }
    return nullptr;
}

const FileSystemDriver* probeVolumeStart(FileSystemTable table, ByteSpan start) {
    for (const FileSystemDriver& row : table) {
        if (!row.probe || row.probeOffset >= start.size()) continue;
        if (row.probe(subspan(start, row.probeOffset, kProbeSectorBytes)).confidence != ProbeConfidence::None)
            return &row;
    }
    return nullptr;
}

} // namespace vindaru
