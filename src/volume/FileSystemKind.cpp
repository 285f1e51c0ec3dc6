#include "volume/FileSystemKind.h"

#include <cctype>
#include <string>
#include <utility>

#include "common/TextConvert.h"

namespace vindaru {

FileSystemKind fileSystemKind(std::string_view typeName) {
    while (!typeName.empty() && std::isspace(static_cast<unsigned char>(typeName.front())))
        typeName.remove_prefix(1);
    while (!typeName.empty() && std::isspace(static_cast<unsigned char>(typeName.back())))
        typeName.remove_suffix(1);
    static const std::pair<const char*, FileSystemKind> names[] = {
        {"ntfs", FileSystemKind::Ntfs},       {"fat", FileSystemKind::Fat16},
        {"fat16", FileSystemKind::Fat16},     {"fat12", FileSystemKind::Fat12},
        {"fat32", FileSystemKind::Fat32},     {"fat64", FileSystemKind::ExFat},
        {"exfat", FileSystemKind::ExFat},     {"extx", FileSystemKind::Ext},
        {"ext2", FileSystemKind::Ext},        {"ext3", FileSystemKind::Ext},
        {"ext4", FileSystemKind::Ext},        {"hfs+", FileSystemKind::HfsPlus},
        {"hfsplus", FileSystemKind::HfsPlus}, {"hfsx", FileSystemKind::HfsPlus},
        {"raw", FileSystemKind::Raw},         {"unknown", FileSystemKind::Unknown}};
    const std::string lower = asciiLower(typeName);
    for (const auto& [name, kind] : names)
        if (lower == name) return kind;
    return FileSystemKind::Other;
}

bool isFatFamily(FileSystemKind kind) {
    return kind == FileSystemKind::Fat12 || kind == FileSystemKind::Fat16 ||
           kind == FileSystemKind::Fat32 || kind == FileSystemKind::ExFat;
}

} // namespace vindaru
