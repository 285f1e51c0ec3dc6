#include "browser/UsedSpace.h"

#include <array>

#include "browser/FileSystemDrivers.h"
#include "volume/VolumeBytes.h"

namespace vindaru {

namespace {

// Enough for every probe's sector: the boot sector, and the superblock or volume header 1 KiB in.
constexpr std::size_t kStartBytes = 2048;

} // namespace

const FileSystemDriver* fileSystemAtVolumeStart(const ByteSource& disk, const VolumeRecord& volume,
                                                FileSystemTable table) {
    const VolumeSlice slice = volumeSlice(disk, volume);
    std::array<std::uint8_t, kStartBytes> start{};
    if (slice.size() < start.size() || !slice.readAt(0, start)) return nullptr;
    return probeVolumeStart(table, start);
}

UsedSpace usedSpaceOf(const ByteSource& disk, const VolumeRecord& volume) {
    UsedSpace answer;
    const FileSystemDriver* driver = &driverFor(volume);
    if (!driver->create) driver = fileSystemAtVolumeStart(disk, volume, fileSystemDrivers());
    if (!driver || !driver->create) {
        answer.message = kFreeSpaceUnknownFileSystem;
        return answer;
    }
    VolumeRecord record = volume;
    record.fileSystemName = driver->listName;
    const std::shared_ptr<VolumeParser> parser = driver->create(ParserSetup{disk, record, ScanSinks{}, false});
    answer.ranges = parser->usedByteRanges();
    if (!answer.ranges) answer.message = kFreeSpaceMapUnreadable;
    return answer;
}

} // namespace vindaru
