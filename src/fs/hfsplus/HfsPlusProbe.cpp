#include "fs/hfsplus/HfsPlusProbe.h"

#include "fs/hfsplus/HfsPlusFormat.h"

namespace vindaru {

namespace {

// Header fields (big-endian).
constexpr std::size_t kSignature = 0;
constexpr std::size_t kVersion = 2;
constexpr std::size_t kBlockSize = 40;
constexpr std::size_t kTotalBlocks = 44;
constexpr std::uint32_t kMinBlockSize = 512;
constexpr std::uint32_t kMaxBlockSize = 1u << 20;
constexpr std::uint64_t kSector = 512;
// Larger volumes are not believed.
constexpr std::uint64_t kMaxMb = 0x13FFFFF;

} // namespace

ProbeHit probeHfsPlusHeader(ByteSpan sector) {
    if (sector.size() < 3 || be16(sector, kSignature) != kHfsPlusSignature || u8(sector, kVersion) != 0) return {};
    const std::uint32_t blockSize = be32(sector, kBlockSize);
    const std::uint64_t sectors = std::uint64_t{blockSize} * be32(sector, kTotalBlocks) / kSector;
    const bool valid = be16(sector, kVersion) == kHfsPlusVersion && isPowerOfTwo(blockSize) &&
                       blockSize >= kMinBlockSize && blockSize <= kMaxBlockSize &&
                       sectors > kHfsHeaderOffset / kSector && sectors / 2048 <= kMaxMb;
    return {valid ? ProbeConfidence::Valid : ProbeConfidence::Signature, sectors};
}

} // namespace vindaru
