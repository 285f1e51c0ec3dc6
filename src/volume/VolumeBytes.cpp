#include "volume/VolumeBytes.h"

#include <algorithm>

namespace vindaru {

VolumeSlice volumeSlice(const ByteSource& disk, const VolumeRecord& volume) {
    auto made = VolumeSlice::fromSectors(disk, volume.startSector, 0);
    return made ? *made.slice : VolumeSlice::empty(disk);
}

std::uint64_t volumeLength(const VolumeRecord& volume, const VolumeSlice& slice) {
    return volume.sectorCount != 0 ? volume.byteLength() : slice.size();
}

} // namespace vindaru
