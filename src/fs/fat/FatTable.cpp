#include "fs/fat/FatTable.h"

#include <algorithm>

namespace vindaru {

namespace {

// 64 KiB pieces, at most 256 of them held (16 MiB): a FAT32 walk touches the FAT in order.
constexpr std::uint64_t kPieceBytes = 64 * 1024;
constexpr std::size_t kMaxPieces = 256;
constexpr std::uint32_t kFat32EntryMask = 0x0FFFFFFF;

} // namespace

FatTable::FatTable(const ByteSource& reader, std::uint64_t offset, std::uint64_t length, unsigned entryBits,
                   bool maskUpperBits)
    : reader_(reader), offset_(offset), length_(length), entryBits_(entryBits),
      mask_(maskUpperBits ? kFat32EntryMask : 0xFFFFFFFF) {
    entryCount_ = entryBits == 12 ? length * 2 / 3 : length / (entryBits / 8);
}

const std::vector<std::uint8_t>& FatTable::piece(std::uint64_t index) {
    if (auto it = pieces_.find(index); it != pieces_.end()) {
        if (order_.front() != index) {
            order_.remove(index);
            order_.push_front(index);
        }
        return it->second;
    }
    if (pieces_.size() >= kMaxPieces) {
        pieces_.erase(order_.back());
        order_.pop_back();
    }
    const std::uint64_t start = index * kPieceBytes;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min(kPieceBytes, length_ - start)), 0);
    reader_.readAt(offset_ + start, bytes);
    order_.push_front(index);
    return pieces_.emplace(index, std::move(bytes)).first->second;
}

std::uint8_t FatTable::byteAt(std::uint64_t position) {
    if (position >= length_) return 0;
    const auto& p = piece(position / kPieceBytes);
    const std::uint64_t at = position % kPieceBytes;
    return at < p.size() ? p[static_cast<std::size_t>(at)] : 0;
}

std::uint32_t FatTable::entry(std::uint64_t cluster) {
    if (cluster >= entryCount_) return 0;
    switch (entryBits_) {
    case 12: {
        const std::uint64_t at = cluster + cluster / 2;
        const std::uint32_t pair = byteAt(at) | (std::uint32_t{byteAt(at + 1)} << 8);
        return (cluster & 1) ? pair >> 4 : pair & 0xFFF;
    }
    case 16: {
        const std::uint64_t at = cluster * 2;
        return byteAt(at) | (std::uint32_t{byteAt(at + 1)} << 8);
    }
    default: {
        const std::uint64_t at = cluster * 4;
        if (at % kPieceBytes + 4 <= kPieceBytes) {
            const auto& p = piece(at / kPieceBytes);
            const std::size_t i = static_cast<std::size_t>(at % kPieceBytes);
            if (i + 4 > p.size()) return 0;
            return (p[i] | (std::uint32_t{p[i + 1]} << 8) | (std::uint32_t{p[i + 2]} << 16) |
                    (std::uint32_t{p[i + 3]} << 24)) &
                   mask_;
        }
        return 0;
    }
    }
}

} // namespace vindaru
