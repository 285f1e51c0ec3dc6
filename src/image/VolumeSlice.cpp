#include "image/VolumeSlice.h"

#include "common/ByteLoader.h"

namespace vindaru {

VolumeSlice::Made VolumeSlice::fromBytes(const ByteSource& disk, std::uint64_t start,
                                         std::uint64_t length) {
    const std::uint64_t diskSize = disk.size();
    Made made;
    if (start >= diskSize && !(start == 0 && diskSize == 0)) {
        made.problem = "the volume starts at byte " + std::to_string(start) +
                       ", past the end of the disk (" + std::to_string(diskSize) + " bytes)";
        return made;
    }
    const std::uint64_t room = diskSize - start;
    bool cut = false;
    if (length == 0) {
        length = room;
    } else if (length > room) {
        made.problem = "the volume's " + std::to_string(length) + " bytes from byte " +
                       std::to_string(start) + " run past the end of the disk; cut to " +
                       std::to_string(room) + " bytes";
        length = room;
        cut = true;
    }
    made.slice = VolumeSlice(disk, start, length, cut);
    return made;
}

VolumeSlice::Made VolumeSlice::fromSectors(const ByteSource& disk, std::uint64_t startSector,
                                           std::uint64_t sectorCount, std::uint64_t sectorSize) {
    std::uint64_t start = 0;
    std::uint64_t length = 0;
    if (!checkedMul(startSector, sectorSize, start) || !checkedMul(sectorCount, sectorSize, length)) {
        Made refused;
        refused.problem = "the volume's sector numbers (start " + std::to_string(startSector) +
                          ", " + std::to_string(sectorCount) + " sectors) lie beyond any disk";
        return refused;
    }
    return fromBytes(disk, start, length);
}

bool VolumeSlice::isHole(std::uint64_t offset, std::uint64_t length) const {
    if (offset > length_ || length > length_ - offset) return false;
    return disk_->isHole(start_ + offset, length);
}

std::uint64_t VolumeSlice::nextData(std::uint64_t offset) const {
    if (offset >= length_) return offset;
    const std::uint64_t onDisk = disk_->nextData(start_ + offset);
    return onDisk < start_ + offset ? offset : std::min(onDisk - start_, length_);
}

std::span<const std::uint8_t> VolumeSlice::viewAt(std::uint64_t offset, std::uint64_t length) const {
    if (offset > length_ || length > length_ - offset) return {};
    return disk_->viewAt(start_ + offset, length);
}

bool VolumeSlice::readRange(std::uint64_t offset, std::span<std::uint8_t> out,
                            ReadReport* report) const {
    // readAt has kept the range inside the slice, and the slice inside the disk.
    if (!report) return disk_->readAt(start_ + offset, out);
    ReadReport onDisk;
    const bool ok = disk_->readAt(start_ + offset, out, &onDisk);
    report->merge(onDisk, -static_cast<std::int64_t>(start_));
    return ok;
}

} // namespace vindaru
