// The text descriptor of a VMDK image: the embedded one at the head of a sparse extent and the
// separate descriptor file of a split set. Parsing is pure (text in, values out) so that the
// readers, the image page's File Information and the fuzz targets share one implementation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vindaru {

// One extent line of a descriptor ("RW 4194304 SPARSE \"disk-s001.vmdk\"").
struct VmdkExtentRecord {
    std::int32_t sectorCount = 0; // saturates at INT32_MAX; see `sectors` for the full value
    std::string extentType;
    std::string extentFile;
    std::uint64_t sectors = 0; // the line's sector count without the 32-bit limit
};

// What the embedded descriptor of a sparse extent says.
struct VmdkDescriptor {
    bool createTypeFound = false; // false: the reader refuses the file
    std::string formatVersion;
    std::string contentId;
    std::string parentContentId;
    std::string createType;
    std::vector<VmdkExtentRecord> extents; // extentFile keeps its opening double quote
    // The type of the last extent line read; the reader makes it its extentTypeChoice.
    std::optional<std::string> lastExtentType;
    std::string geometryCylinders;
    std::string geometryHeads;
    std::string geometrySectors;
    std::string virtualHardwareVersion;
    std::string adapterType;
    std::string toolsVersion;
};

// Parses an embedded descriptor. `text` ends at its first NUL (the caller cuts it there).
// Extent lines are looked for only in the descriptor's first 512 bytes.
VmdkDescriptor parseVmdkDescriptor(std::string_view text);

// What a separate descriptor file of a split set says.
struct VmdkDescriptorFile {
    std::string extentTypeChoice;          // "FLAT" when the text names FLAT extents, else empty
    std::vector<VmdkExtentRecord> extents; // extentFile without quotes
};

// Parses a descriptor file of a split set: its extent lines anywhere in the text.
VmdkDescriptorFile parseVmdkDescriptorFile(std::string_view text);

// The File Information of a sparse VMDK as the image page shows it.
struct VmdkFileInfo {
    // false when the file could not be opened at all: the page then keeps its texts as they were.
    bool fileOpened = true;
    std::string formatVersion;
    std::string geometrySectors;
    std::string geometryHeads;
    std::string geometryCylinders;
    std::string createType;
    std::uint64_t totalSectors = 0; // sum of the extent lines' sector counts
    std::uint64_t sizeMb = 0;       // totalSectors × 512 ÷ 1 MiB
};

class MemoryFiles;

// Reads the header and embedded descriptor of `path` (from `memory` when given). nullopt when the
// file is not a sparse extent with a usable descriptor; fileOpened false when it could not be
// opened.
std::optional<VmdkFileInfo> readVmdkFileInfo(const std::string& path, const MemoryFiles* memory = nullptr);

} // namespace vindaru
