// The common description of a volume: what discovery lists, and what every parser is given a
// copy of. Type names are compared without regard to letter case.
#pragma once

#include <cstdint>
#include <string>

namespace vindaru {

struct VolumeRecord {
    std::string fileSystemName; // "NTFS", "FAT16", "FAT32", "FAT64", "extX", "HFS+", "RAW", ...
    std::string volumeName;     // the volume's number as decimal text
    std::string sizeText;       // starts with a whole number of MB
    std::uint64_t startSector = 0;
    // The volume's length in 512-byte sectors as its table entry or boot sector gives it
    // (sizeText is this rounded down to MB); 0 when discovery did not learn it.
    std::uint64_t sectorCount = 0;
};

} // namespace vindaru
