// The ext3/ext4 journal (JBD2) as a store of older block copies. Every block of the journal area
// is looked at once, in order, whatever the journal's start says (a cleanly unmounted volume
// keeps its old transactions behind an empty log): descriptor blocks name the file-system blocks
// whose copies follow them; revoke and commit blocks only claim their own place. Where the log
// wrapped, a journal block belongs to the newest transaction that claims it.
//
// Hostile journals stay bounded: one look per journal block, tags per descriptor limited by the
// block size, revoke counts cut at the block's end, file-system block numbers checked against
// the volume; a damaged journal superblock gives no copies and a note.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "common/ByteLoader.h"

namespace vindaru {

// Journals of up to 8 GiB in 4 KiB blocks are walked whole; the rest of a larger one is left.
inline constexpr std::uint64_t kMaxJournalBlocks = 1u << 21;
// The log is read in pieces of this size where it is read in order.
inline constexpr std::uint64_t kJournalPieceBytes = 256 * 1024;

struct Ext2JournalCopy {
    std::uint64_t fsBlock = 0;      // the volume block the copy is of
    std::uint64_t journalBlock = 0; // where it lies in the journal (journal block number)
    std::uint32_t sequence = 0;     // the transaction's number
    bool escaped = false;           // its first four bytes were the journal magic, stored as zeros
};

struct Ext2JournalScan {
    bool usable = false;
    std::string note; // why the journal was skipped, for diagnostics
    std::uint32_t blockSize = 0;
    std::uint64_t blocks = 0; // journal length in blocks
    // Sorted by fsBlock, then by sequence (oldest first).
    std::vector<Ext2JournalCopy> copies;
};

class Ext2JournalReader {
public:
    // Reads out.size() bytes from the start of journal block `first` on (whole blocks, or the
    // head of one block); false when unreadable.
    using ReadFn = std::function<bool(std::uint64_t first, std::span<std::uint8_t> out)>;

    // Sees each block of the log area the scan read, with its journal block number, as it is
    // stored (escaped blocks not put back): what a later look at the copies would read again.
    using BlockFn = std::function<void(std::uint64_t journalBlock, ByteSpan block)>;

    // `journalBlocks` is how many blocks the journal inode maps; `volumeBlocks` bounds the
    // file-system block numbers a tag may name; `stop` is polled between pieces.
    static Ext2JournalScan scan(std::uint32_t blockSize, std::uint64_t journalBlocks, std::uint64_t volumeBlocks,
                                const ReadFn& read, const std::function<bool()>& stop = {},
                                const BlockFn& onBlock = {});

    // The copy's bytes as the volume block held them (the escaped magic put back).
    static void unescape(std::span<std::uint8_t> block, bool escaped);
};

} // namespace vindaru
