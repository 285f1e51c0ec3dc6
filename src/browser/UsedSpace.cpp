#include "browser/UsedSpace.h"

#include <array>

#include "browser/FileSystemDrivers.h"
#include "common/ByteLoader.h"
#include "volume/VolumeBytes.h"
#include "volume/VolumeSignatures.h"

namespace vindaru {

namespace {

// The ext superblock lies 1024 bytes in; its magic 0x38 bytes into it. The HFS+ volume header
// also lies 1024 bytes in.
constexpr std::size_t kSecondKiB = 1024;
constexpr std::size_t kExtMagicOffset = kSecondKiB + 0x38;
constexpr std::uint16_t kExtMagic = 0xEF53;
constexpr std::size_t kProbeBytes = 2048;

} // namespace

FileSystemKind fileSystemAtVolumeStart(const ByteSource& disk, const VolumeRecord& volume) {
    const VolumeSlice slice = volumeSlice(disk, volume);
    std::array<std::uint8_t, kProbeBytes> head{};
    if (slice.size() < head.size() || !slice.readAt(0, head)) return FileSystemKind::Unknown;
    const ByteSpan bytes(head);
    switch (classifyScanSector(bytes.first(512)).kind) {
    case BootKind::Ntfs:
        return FileSystemKind::Ntfs;
    case BootKind::Exfat:
        return FileSystemKind::ExFat;
    case BootKind::Fat32:
        return FileSystemKind::Fat32;
    case BootKind::Fat16:
        return FileSystemKind::Fat16;
    case BootKind::Fat12:
        return FileSystemKind::Fat12;
    case BootKind::HfsPlus:
    case BootKind::None:
        break;
    }
    if (isHfsPlusHeader(bytes.subspan(kSecondKiB, 512))) return FileSystemKind::HfsPlus;
    if (le16(bytes, kExtMagicOffset) == kExtMagic) return FileSystemKind::Ext;
    return FileSystemKind::Unknown;
}

UsedSpace usedSpaceOf(const ByteSource& disk, const VolumeRecord& volume) {
    UsedSpace answer;
    FileSystemKind kind = fileSystemKind(volume.fileSystemName);
    if (!driverFor(kind).create) kind = fileSystemAtVolumeStart(disk, volume);
    const FileSystemDriver& driver = driverFor(kind);
    if (!driver.create) {
        answer.message = kFreeSpaceUnknownFileSystem;
        return answer;
    }
    VolumeRecord record = volume;
    record.fileSystemName = driver.listName;
    const std::shared_ptr<VolumeParser> parser = driver.create(ParserSetup{disk, record, ScanSinks{}, false});
    answer.ranges = parser->usedByteRanges();
    if (!answer.ranges) answer.message = kFreeSpaceMapUnreadable;
    return answer;
}

} // namespace vindaru
