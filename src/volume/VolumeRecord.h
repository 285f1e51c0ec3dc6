// The common description of a volume: what discovery lists, and what every parser is given a
// copy of. Type names are compared without regard to letter case.
#pragma once

#include <cstdint>
#include <string>

namespace vindaru {

struct VolumeRecord {
    std::string fileSystemName; // "NTFS", "FAT16", "FAT32", "FAT64", "extX", "HFS+", "RAW", ...
    std::string volumeName;     // the volume's number as decimal text
    std::string sizeText;       // display only: starts with a whole number of MB
    std::uint64_t startSector = 0;
    // The volume's length in 512-byte sectors as its table entry or boot sector gives it
    // (sizeText shows it rounded down to MB); 0 when discovery did not learn it. The engine
    // takes the volume's size from here, never from sizeText.
    std::uint64_t sectorCount = 0;

    // sectorCount in bytes, saturating; 0 when unknown.
    std::uint64_t byteLength() const {
        return sectorCount > UINT64_MAX / 512 ? UINT64_MAX : sectorCount * 512;
    }
};

} // namespace vindaru
