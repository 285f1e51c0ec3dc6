// Shared machinery of the readers whose image is a table of equal-sized blocks (VHD, VDI): the
// virtual disk is cut into blocks of `blockSize` bytes, and each block is either stored at some
// place in the image file or is a hole that reads as zeros.
//
// The cursor-style seek/read keeps the behaviour callers rely on (seek maps the position and sets
// sectorMapped; read delivers the bytes from there, holes as zeros, and leaves the cursor after
// them), but the bytes themselves always come from readAbsolute: one table lookup per block and
// one pread over every run of blocks that lie back to back in the file.
#pragma once

#include <cstdint>
#include <span>

#include "common/Session.h"
#include "image/ReadOnlyFile.h"
#include "image/readWriteInterface.h"

namespace vindaru {

class BlockMappedReader : public readWriteInterface {
  public:
    explicit BlockMappedReader(Session& session) : session(session) {}

    bool read(void* buffer, std::uint64_t length) override;
    bool isHole(std::uint64_t offset, std::uint64_t length) const override;
    // The declared disk size, cut to what the table can map (and, for a fixed VHD, the file
    // holds): past it every read fails or is made up.
    std::uint64_t capacity() const override;
    std::uint64_t declaredSectors() const override { return declaredBytes / kSectorSize; }
    // A stretch inside one stored block, from the mapped image file.
    std::span<const std::uint8_t> viewAt(std::uint64_t offset, std::uint64_t length) const override;

    // The last position given to seek; read moves it past the bytes read.
    std::int64_t position = 0;

    std::uint64_t blockBytes() const { return blockSize; }
    // Blocks the table describes (a table longer than the file holds reads its tail as holes).
    std::uint64_t tableEntryCount() const { return entryCount; }

  protected:
    enum class BlockState { Beyond, Hole, Data };
    struct BlockPlace {
        BlockState state = BlockState::Beyond;
        std::uint64_t fileOffset = 0; // where the block's first data byte lies in the file
    };

    // Where block `block` lies; Beyond for a block past the end of the table.
    virtual BlockPlace locateBlock(std::uint64_t block) const = 0;

    // Positions the cursor at `absolute` (a byte offset on the disk) and
    // sets sectorMapped from its block. False, with sectorMapped unchanged, when the position
    // lies past the table.
    bool placeCursor(std::uint64_t absolute);
    // The position as a disk offset, or false when it is negative.
    bool absoluteOf(std::int64_t relative, std::uint64_t& absolute) const;
    bool readRange(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const override;
    // Fills out with the disk bytes at `absolute`. Holes and bytes the file does not hold read as
    // zeros; false only when part of the range lies past the table (that part reads as zeros).
    bool readAbsolute(std::uint64_t absolute, std::uint8_t* out, std::uint64_t length) const;

    // Sets entryCount and loads into blockTable the entries of a table of `count` u32 at `offset`
    // that the file really holds (the rest of the table then reads as holes). False when that
    // is more than kMaxBlockTableEntries.
    bool loadTable(std::uint64_t offset, std::uint64_t count, bool bigEndian);

    // Drops the table and closes the file, so every later seek fails.
    void reset();

    // File offset of a stored block: entry × scale + base, or a hole when that does not fit the
    // file (a table entry that points past the end of the image reads as zeros).
    BlockPlace storedAt(std::uint64_t entry, std::uint64_t scale, std::uint64_t base) const;

    Session& session;
    ReadOnlyFile file;
    std::uint64_t blockSize = 0;
    std::uint64_t entryCount = 0;
    // File bytes beyond this are never data (a fixed VHD keeps its footer there).
    std::uint64_t dataLimit = 0;
    // The disk size the image's header or footer gives.
    std::uint64_t declaredBytes = 0;

  private:
    std::uint64_t cursor_ = 0;
    bool cursorValid_ = false;
};

// Entries past this many are refused rather than loaded: 16 Mi entries (64 MiB of table) covers a
// 16 TiB disk at 1 MiB blocks, far beyond what either format holds in practice.
inline constexpr std::uint64_t kMaxBlockTableEntries = 1ull << 24;

} // namespace vindaru
