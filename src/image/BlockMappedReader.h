// Shared machinery of the readers whose image is a table of equal-sized blocks (VHD, VDI): the
// virtual disk is cut into blocks of `blockSize` bytes, and each block is stored at some place
// in the image file, is a hole that reads as zeros, is left to the parent layer (a differencing
// image), or cannot be read (its table entry is invalid, or the file ends before it).
//
// Reads take one table lookup per block and one pread over every run of blocks that lie back to
// back in the file; a block whose sectors lie partly in the parent (a differencing VHD's bitmap)
// is read by the format's own readPartialBlock. The cursor-style seek/read keeps the behaviour
// the readers' tests rely on, over the same positional read.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "common/Session.h"
#include "image/ReadOnlyFile.h"
#include "image/readWriteInterface.h"

namespace vindaru {

class BlockMappedReader : public readWriteInterface {
  public:
    explicit BlockMappedReader(Session& session) : session(session) {}

    bool read(void* buffer, std::uint64_t length) override;
    // The declared disk size, cut to what the table can map (and, for a fixed VHD, the file
    // holds).
    std::uint64_t capacity() const override;
    bool isHole(std::uint64_t offset, std::uint64_t length) const override;
    std::uint64_t nextData(std::uint64_t offset) const override;
    std::span<const std::uint8_t> viewAt(std::uint64_t offset, std::uint64_t length) const override;
    std::uint64_t declaredSectors() const override { return declaredBytes / kSectorSize; }
    // Blocks whose entries are invalid or lie past the end of the file, and blocks left to a
    // parent that is missing.
    void describeDamage(std::vector<ByteRange>& out) const override;

    // The last position given to seek; read moves it past the bytes read.
    std::int64_t position = 0;

    std::uint64_t blockBytes() const { return blockSize; }
    // Blocks the table describes.
    std::uint64_t tableEntryCount() const { return entryCount; }
    // The entry of block `block` as stored, or `absent` past what the file holds.
    std::uint32_t tableEntry(std::uint64_t block, std::uint32_t absent) const;
    // Blocks that have a stored entry (not absent).
    std::uint64_t storedEntryCount() const;
    // Entries of the table the file holds (the rest lies past its end).
    std::uint64_t storedEntries() const { return storedEntries_; }

  protected:
    enum class BlockState { Beyond, Hole, Data, Parent, Unreadable };
    struct BlockPlace {
        BlockState state = BlockState::Beyond;
        std::uint64_t fileOffset = 0; // where the block's first data byte lies in the file
        Damage reason = Damage::None; // Unreadable only
        bool partial = false;         // Data whose sectors lie partly in the parent
    };

    // Where block `block` lies; Beyond for a block past the end of the table.
    virtual BlockPlace locateBlock(std::uint64_t block) const = 0;
    // Reads `out` from a partial block: the disk bytes at `diskOffset`, which lie `inBlock`
    // bytes into the block. The default reads it as whole data.
    virtual bool readPartialBlock(const BlockPlace& place, std::uint64_t inBlock,
                                  std::span<std::uint8_t> out, std::uint64_t diskOffset,
                                  ReadReport* report) const;

    bool readRange(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const override;

    // The file bytes at `fileStart` into `out` (the disk bytes at `diskOffset`): what lies past
    // dataLimit reads as zeros and is unreadable (PastEndOfFile), as is what the host cannot read.
    bool readStored(std::uint64_t fileStart, std::span<std::uint8_t> out, std::uint64_t diskOffset,
                    ReadReport* report) const;

    // Positions the cursor at `offset` and sets sectorMapped from its block. False, with
    // sectorMapped unchanged, when the position lies past the table.
    bool placeCursor(std::uint64_t offset);

    // Sets entryCount and loads the entries of a table of `count` u32 at `offset` that the file
    // really holds; the rest of the table lies past the end of the file and its blocks are
    // unreadable. False when the table is larger than kMaxBlockTableEntries. Entries equal to
    // `absent` are not kept, so a sparse table of a large disk takes little memory.
    bool loadTable(std::uint64_t offset, std::uint64_t count, bool bigEndian, std::uint32_t absent);
    // Finds the entries of the first `blocks` blocks that point where another entry does; their
    // blocks are unreadable. `special(entry)` tells entries that point nowhere (absent, zero).
    template <typename Special> void findSharedEntries(Special special, std::uint64_t blocks);
    // True when block `block`'s entry is shared with another block.
    bool sharedEntry(std::uint64_t block) const;
    // True when block `block`'s entry lies in the table's part past the end of the file.
    bool entryLost(std::uint64_t block) const { return block < entryCount && block >= storedEntries_; }

    // Drops the table and closes the file, so every later read fails.
    void reset();

    // Place of a stored block: entry × scale + base; Unreadable when that does not fit 64
    // bits, lies before `dataStart`, or past the end of the file (PastEndOfFile).
    BlockPlace storedAt(std::uint64_t entry, std::uint64_t scale, std::uint64_t base) const;

    Session& session;
    ReadOnlyFile file;
    std::uint64_t blockSize = 0;
    std::uint64_t entryCount = 0;
    // File bytes beyond this are never data (a fixed VHD keeps its footer there); the file's
    // length otherwise.
    std::uint64_t dataLimit = 0;
    // Data never lies before this (the headers and the table).
    std::uint64_t dataStart = 0;
    // The disk size the image's header or footer gives.
    std::uint64_t declaredBytes = 0;

  private:
    // The table: dense (one entry a block) when most blocks are stored, else the stored entries
    // alone, as (block, entry) pairs in block order.
    bool dense_ = true;
    std::vector<std::uint32_t> denseTable_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sparseTable_;
    std::uint32_t absent_ = 0xFFFFFFFF;
    std::uint64_t storedEntries_ = 0;
    bool hasTable_ = false; // a fixed VHD has none
    std::vector<std::uint32_t> sharedBlocks_; // sorted
    std::uint64_t cursor_ = 0;
    bool cursorValid_ = false;
};

template <typename Special> void BlockMappedReader::findSharedEntries(Special special, std::uint64_t blocks) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> byEntry; // (entry, block)
    if (dense_) {
        for (std::size_t b = 0; b < denseTable_.size() && b < blocks; ++b)
            if (!special(denseTable_[b])) byEntry.emplace_back(denseTable_[b], static_cast<std::uint32_t>(b));
    } else {
        for (auto [b, e] : sparseTable_)
            if (b < blocks && !special(e)) byEntry.emplace_back(e, b);
    }
    std::sort(byEntry.begin(), byEntry.end());
    sharedBlocks_.clear();
    for (std::size_t i = 0; i < byEntry.size(); ++i) {
        const bool same = (i > 0 && byEntry[i - 1].first == byEntry[i].first) ||
                          (i + 1 < byEntry.size() && byEntry[i + 1].first == byEntry[i].first);
        if (same) sharedBlocks_.push_back(byEntry[i].second);
    }
    std::sort(sharedBlocks_.begin(), sharedBlocks_.end());
}

// Entries past this many are refused rather than loaded: 16 Mi entries (64 MiB of table) covers a
// 16 TiB disk at 1 MiB blocks, far beyond what either format holds in practice.
inline constexpr std::uint64_t kMaxBlockTableEntries = 1ull << 24;

} // namespace vindaru
