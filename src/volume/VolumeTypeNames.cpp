#include "volume/VolumeTypeNames.h"

#include <utility>

#include "common/TextConvert.h"

namespace vindaru {

const std::vector<std::string>& treatAsChoices() {
    static const std::vector<std::string> choices = {"EXTX", "FAT16", "FAT32", "FAT64", "HFS+", "NTFS", "RAW"};
    return choices;
}

std::optional<std::string> treatAsFileSystemName(std::string_view choice) {
    static const std::pair<const char*, const char*> names[] = {
        {"ntfs", "ntfs"},   {"fat16", "fat16"}, {"fat", "fat16"},    {"fat32", "fat32"},
        {"fat64", "fat64"}, {"exfat", "fat64"}, {"extx", "extX"},    {"ext2", "extX"},
        {"hfs+", "HFS+"},   {"hfsplus", "HFS+"}, {"raw", "RAW"}};
    const std::string lower = asciiLower(choice);
    for (const auto& [given, name] : names)
        if (lower == given) return std::string(name);
    return std::nullopt;
}

} // namespace vindaru
