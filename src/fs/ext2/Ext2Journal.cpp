#include "fs/ext2/Ext2Journal.h"

#include <algorithm>
#include <array>

namespace vindaru {

namespace {

// Journal header and superblock fields (big-endian).
constexpr std::uint32_t kJournalMagic = 0xC03B3998;
constexpr std::size_t kJhMagic = 0;
constexpr std::size_t kJhBlockType = 4;
constexpr std::size_t kJhSequence = 8;
constexpr std::size_t kJhSize = 12;
constexpr std::size_t kJsbBlockSize = 0x0C;
constexpr std::size_t kJsbMaxLen = 0x10;
constexpr std::size_t kJsbFirst = 0x14;
constexpr std::size_t kJsbIncompat = 0x28;

constexpr std::uint32_t kTypeDescriptor = 1;
constexpr std::uint32_t kTypeCommit = 2;
constexpr std::uint32_t kTypeSuperblockV1 = 3;
constexpr std::uint32_t kTypeSuperblockV2 = 4;
constexpr std::uint32_t kTypeRevoke = 5;

constexpr std::uint32_t kIncompat64Bit = 0x02;
constexpr std::uint32_t kIncompatCsumV2 = 0x08;
constexpr std::uint32_t kIncompatCsumV3 = 0x10;

// Tag layouts: the csum v3 tag is {blocknr, flags, blocknr_high, checksum} in 32-bit fields; the
// older one is {blocknr, checksum16, flags16, blocknr_high}, cut to 8 bytes without 64bit and
// grown by 2 with csum v2.
constexpr std::size_t kTag3Bytes = 16;
constexpr std::size_t kTagBytes = 12;
constexpr std::size_t kTagBlockHi = 8;
constexpr std::size_t kTag3Flags = 4;
constexpr std::size_t kTagFlags = 6;
constexpr std::uint32_t kFlagEscape = 0x1;
constexpr std::uint32_t kFlagSameUuid = 0x2;
constexpr std::uint32_t kFlagLastTag = 0x8;
constexpr std::size_t kUuidBytes = 16;
constexpr std::size_t kDescriptorTailBytes = 4;

constexpr std::uint64_t kStopCheckBlocks = 4096;

struct Claim {
    std::uint64_t journalBlock = 0;
    std::uint64_t fsBlock = 0;
    std::uint32_t sequence = 0;
    bool escaped = false;
};

} // namespace

void Ext2JournalReader::unescape(std::span<std::uint8_t> block, bool escaped) {
    if (!escaped || block.size() < 4) return;
    block[0] = 0xC0;
    block[1] = 0x3B;
    block[2] = 0x39;
    block[3] = 0x98;
}

Ext2JournalScan Ext2JournalReader::scan(std::uint32_t blockSize, std::uint64_t journalBlocks,
                                        std::uint64_t volumeBlocks, const ReadFn& read,
                                        const std::function<bool()>& stop, const BlockFn& onBlock) {
    Ext2JournalScan out;
    out.blockSize = blockSize;
    if (blockSize < 1024 || journalBlocks < 2) {
        out.note = "journal too small";
        return out;
    }
    std::vector<std::uint8_t> block(blockSize);
    if (!read(0, block)) {
        out.note = "journal superblock unreadable";
        return out;
    }
    const std::uint32_t type = be32(block, kJhBlockType);
    if (be32(block, kJhMagic) != kJournalMagic || (type != kTypeSuperblockV1 && type != kTypeSuperblockV2)) {
        out.note = "no journal superblock";
        return out;
    }
    if (be32(block, kJsbBlockSize) != blockSize) {
        out.note = "journal block size differs from the volume's";
        return out;
    }
    std::uint64_t length = be32(block, kJsbMaxLen);
    const std::uint64_t first = be32(block, kJsbFirst);
    length = std::min({length, journalBlocks, kMaxJournalBlocks});
    if (first == 0 || first >= length) {
        out.note = "journal area out of range";
        return out;
    }
    const std::uint32_t incompat = type == kTypeSuperblockV2 ? be32(block, kJsbIncompat) : 0;
    const bool wide = (incompat & kIncompat64Bit) != 0;
    const bool csum3 = (incompat & kIncompatCsumV3) != 0;
    const bool csum2 = (incompat & kIncompatCsumV2) != 0;
    std::size_t tagBytes = csum3 ? kTag3Bytes : kTagBytes + (csum2 ? 2 : 0) - (wide ? 0 : 4);
    const std::size_t tagEnd = blockSize - ((csum2 || csum3) ? kDescriptorTailBytes : 0);

    // A block that holds a header now is the header; data claims on it are stale.
    std::vector<bool> header(static_cast<std::size_t>(length), false);
    std::vector<Claim> claims;
    const std::uint64_t area = length - first;
    auto nextInArea = [&](std::uint64_t j) { return j + 1 < length ? j + 1 : first; };

    // Only a block's first bytes say whether it is a header. The log is read in pieces of many
    // blocks (one read call for each block's head costs more than copying the blocks); where a
    // piece cannot be read, its blocks are read one by one, each head alone and a header block
    // whole.
    const std::uint64_t pieceBlocks = std::max<std::uint64_t>(1, kJournalPieceBytes / blockSize);
    std::vector<std::uint8_t> piece;
    std::uint64_t pieceFirst = 0;
    std::uint64_t pieceEnd = 0;
    bool pieceRead = false;
    std::array<std::uint8_t, kJhSize> head{};
    for (std::uint64_t j = first; j < length; ++j) {
        if (j % kStopCheckBlocks == 0 && stop && stop()) {
            out.note = "stopped";
            break;
        }
        if (j >= pieceEnd) {
            pieceFirst = j;
            pieceEnd = j + std::min(pieceBlocks, length - j);
            piece.resize(static_cast<std::size_t>((pieceEnd - pieceFirst) * blockSize));
            pieceRead = read(j, piece);
        }
        ByteSpan b = pieceRead ? subspan(piece, static_cast<std::size_t>((j - pieceFirst) * blockSize), blockSize)
                               : ByteSpan(head);
        if (!pieceRead && !read(j, head)) continue;
        if (pieceRead && onBlock) onBlock(j, b);
        if (be32(b, kJhMagic) != kJournalMagic) continue;
        const std::uint32_t blockType = be32(b, kJhBlockType);
        const std::uint32_t sequence = be32(b, kJhSequence);
        if (blockType == kTypeCommit || blockType == kTypeRevoke) {
            // Revoke records only matter to a replay; older copies stay copies of their time.
            header[static_cast<std::size_t>(j)] = true;
            continue;
        }
        if (blockType != kTypeDescriptor) continue;
        if (!pieceRead) {
            if (!read(j, block)) continue;
            b = block;
        }
        header[static_cast<std::size_t>(j)] = true;
        std::uint64_t data = j;
        std::uint64_t tags = 0;
        for (std::size_t t = kJhSize; t + tagBytes <= tagEnd && tags < area; ++tags) {
            const std::uint32_t flags = csum3 ? be32(b, t + kTag3Flags) : be16(b, t + kTagFlags);
            std::uint64_t fsBlock = be32(b, t);
            if (wide) fsBlock |= std::uint64_t{be32(b, t + kTagBlockHi)} << 32;
            data = nextInArea(data);
            if (fsBlock < volumeBlocks) claims.push_back(Claim{data, fsBlock, sequence, (flags & kFlagEscape) != 0});
            t += tagBytes + ((flags & kFlagSameUuid) ? 0 : kUuidBytes);
            if (flags & kFlagLastTag) break;
        }
    }

    // Per journal block the newest data claim that no header overwrote.
    std::sort(claims.begin(), claims.end(), [](const Claim& a, const Claim& b) {
        return a.journalBlock != b.journalBlock ? a.journalBlock < b.journalBlock : a.sequence > b.sequence;
    });
    for (std::size_t i = 0; i < claims.size(); ++i) {
        const Claim& c = claims[i];
        if (i > 0 && claims[i - 1].journalBlock == c.journalBlock) continue;
        if (header[static_cast<std::size_t>(c.journalBlock)]) continue;
        out.copies.push_back(Ext2JournalCopy{c.fsBlock, c.journalBlock, c.sequence, c.escaped});
    }
    std::sort(out.copies.begin(), out.copies.end(), [](const Ext2JournalCopy& a, const Ext2JournalCopy& b) {
        return a.fsBlock != b.fsBlock ? a.fsBlock < b.fsBlock : a.sequence < b.sequence;
    });
    out.blocks = length;
    out.usable = true;
    return out;
}

} // namespace vindaru
