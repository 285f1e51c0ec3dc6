#include "fs/ntfs/NtfsProbe.h"

namespace vindaru {

namespace {

constexpr std::size_t kJump = 0;
constexpr std::size_t kOemName = 3;
constexpr std::size_t kBytesPerSector = 11;
constexpr std::size_t kTotalSectors = 40;
constexpr std::uint8_t kJumpShort = 0xEB;
constexpr std::uint8_t kJumpTarget = 0x52;
// Other sector sizes are not this system's NTFS.
constexpr std::uint16_t kSectorBytes = 512;
constexpr std::uint16_t kLargeSectorBytes = 4096;
constexpr char kName[] = "NTFS";

} // namespace

ProbeHit probeNtfsBootSector(ByteSpan sector) {
    const std::uint16_t bytesPerSector = le16(sector, kBytesPerSector);
    if (u8(sector, kJump) != kJumpShort || u8(sector, kJump + 1) != kJumpTarget ||
        (bytesPerSector != kSectorBytes && bytesPerSector != kLargeSectorBytes))
        return {};
    bool named = true;
    for (std::size_t i = 0; i + 1 < sizeof kName; ++i)
        if (u8(sector, kOemName + i) != static_cast<std::uint8_t>(kName[i])) named = false;
    return {named ? ProbeConfidence::Valid : ProbeConfidence::Signature,
            in512Sectors(le64(sector, kTotalSectors), bytesPerSector), bytesPerSector};
}

} // namespace vindaru
