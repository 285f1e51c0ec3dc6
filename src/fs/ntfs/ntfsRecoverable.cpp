// How intact a deleted file is: the share of the clusters its content needs that the volume's
// $Bitmap shows free, so no live file has taken them since; and the clusters in use as byte
// ranges, for carving free space only.
#include <bit>

#include "fs/ntfs/ntfs.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kBitmapRecordNumber = 6;
// A $Bitmap larger than this (a volume of 8 Ti clusters) is not read.
constexpr std::uint64_t kMaxBitmapBytes = 1ull << 30;

// Clear bits in [first, first + count) of `bitmap`; bits past its end count as set.
std::uint64_t clearBits(const std::vector<std::uint8_t>& bitmap, std::uint64_t first, std::uint64_t count) {
    const std::uint64_t bits = std::uint64_t{bitmap.size()} * 8;
    if (first >= bits) return 0;
    std::uint64_t end = count > bits - first ? bits : first + count;
    std::uint64_t clear = 0;
    std::uint64_t at = first;
    for (; at < end && at % 8 != 0; ++at) clear += (bitmap[at / 8] >> (at % 8) & 1) == 0;
    for (; at + 8 <= end; at += 8) clear += 8 - static_cast<unsigned>(std::popcount(bitmap[at / 8]));
    for (; at < end; ++at) clear += (bitmap[at / 8] >> (at % 8) & 1) == 0;
    return clear;
}

} // namespace

bool ntfs::loadVolumeBitmap() {
    if (volumeBitmapTried_) return volumeBitmapRead_;
    volumeBitmapTried_ = true;
    const std::uint64_t index = indexOfRecordNumber(kBitmapRecordNumber);
    if (index >= entries.size() || entryName(index) != u"$Bitmap" || !isInUse(index)) return false;
    if (entrySize(index) > kMaxBitmapBytes) return false;
    std::vector<std::uint8_t> bytes;
    const bool whole = writeEntryContent(index, [&](std::span<const std::uint8_t> piece) {
        if (bytes.size() + piece.size() > kMaxBitmapBytes) return false;
        bytes.insert(bytes.end(), piece.begin(), piece.end());
        return true;
    });
    if (!whole || bytes.empty()) return false;
    volumeBitmap_ = std::move(bytes);
    volumeBitmapRead_ = true;
    return true;
}

bool ntfs::loadVolumeBitmapFromMft() {
    if (volumeBitmapTried_) return volumeBitmapRead_;
    volumeBitmapTried_ = true;
    if (bootSector.empty()) readBootSector();
    if (!hasNtfsSignature()) return false;
    if (mftRuns.empty()) locateMft();
    const std::optional<std::uint64_t> position = mftRecordPosition(kBitmapRecordNumber);
    std::vector<std::uint8_t> raw(recordSize);
    if (!position || clusterSize == 0 || !readAt(*position, raw)) return false;
    MftRecord record;
    record.load(raw);
    if (!record.hasFileSignature()) return false;
    const std::uint64_t clusters = volumeSize / clusterSize;
    const std::uint64_t bytes = clusters / 8 + (clusters % 8 != 0);
    if (bytes == 0 || bytes > kMaxBitmapBytes) return false;
    for (const AttributeHeader& h : record.attributes()) {
        if (h.type != kAttrData || !h.nonResident || h.nameLength != 0) continue;
        std::vector<std::uint8_t> bitmap = readNonResidentBytes(record, h, bytes);
        if (bitmap.size() < bytes) return false;
        volumeBitmap_ = std::move(bitmap);
        volumeBitmapRead_ = true;
        return true;
    }
    return false;
}

std::optional<UsedRanges> ntfs::usedByteRanges() {
    // After a scan the $Bitmap entry is read as any file; before one, straight from the MFT.
    const bool loaded = entries.empty() ? loadVolumeBitmapFromMft() : loadVolumeBitmap();
    if (!loaded || clusterSize == 0) return std::nullopt;
    UsedRanges ranges;
    appendSetBitRanges(ranges, volumeBitmap_, volumeSize / clusterSize, BitOrder::LowFirst, 0, clusterSize);
    return ranges;
}

std::optional<double> ntfs::recoverableShare(std::uint64_t index) {
    if (!isValidIndex(index) || isDirectory(index)) return std::nullopt;
    if (isInUse(index)) return 1.0;
    const DataAttributeInfo info = dataAttributeInfo(index);
    if (info.residency != 'N' || info.realSize == 0 || clusterSize == 0) return 1.0;
    if (!loadVolumeBitmap()) return std::nullopt;
    // Only the clusters the content needs count; sparse runs hold nothing to lose.
    std::uint64_t needed = info.realSize / clusterSize + (info.realSize % clusterSize != 0);
    std::uint64_t total = 0;
    std::uint64_t free = 0;
    for (const ClusterRun& run : info.runs) {
        if (needed == 0) break;
        const std::uint64_t count = std::min<std::uint64_t>(run.clusterCount, needed);
        needed -= count;
        if (run.sparse) continue;
        total += count;
        if (run.lcn >= 0) free += clearBits(volumeBitmap_, static_cast<std::uint64_t>(run.lcn), count);
    }
    // Clusters the runs do not cover are lost.
    total += needed;
    return total == 0 ? 1.0 : static_cast<double>(free) / static_cast<double>(total);
}

} // namespace vindaru
