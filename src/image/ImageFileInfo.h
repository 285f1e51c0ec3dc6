// The "File Information" the image page shows for a VHD or VDI image, and `vindaru-cli info`
// prints: format version, geometry and disk size, read straight from the image's header. The
// texts are formatted as the page shows them. The image is only read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vindaru {

struct ImageFileInfo {
    std::string formatVersion;   // "%ld" of the header's version field
    std::string sectorsPerTrack; // "%d"
    std::string heads;           // "%d"
    std::string cylinders;       // "%d"
    std::uint64_t sizeMB = 0;    // disk size ÷ 1 MiB (VHD: the footer's original size)
    std::string sizeText;        // "%ld MB" of sizeMB, the text that replaces the "MB" label
};

// nullopt when the file cannot be opened or is too short to hold the header. The extension
// check ("not a vhd file" / "not a vdi file") is the caller's: see endsWithImageExtension.
std::optional<ImageFileInfo> readVhdFileInfo(const std::string& path);
std::optional<ImageFileInfo> readVdiFileInfo(const std::string& path);

} // namespace vindaru
