// The one way the engine reads a disk: a byte source. Every stage of the byte path is one — a
// container reader, a snapshot chain, the disk, a volume slice — and each answers a positional
// read of any byte range at any offset, from any thread, with no cursor and no alignment asked of
// the caller. A read also says what it met: which parts of the range are holes (the container
// stores nothing there; they read as zeros and are real zeros of the disk) and which could not be
// read, and why (they read as zeros too, but those zeros are not the disk's). Whatever is built on
// a read (a saved file, an export, a listing) carries that mark on through its ReadReport.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vindaru {

// Why a range of the disk could not be read.
enum class Damage : std::uint8_t {
    None,
    PastEndOfFile,     // the image file ends before the range (a truncated copy)
    PastEndOfDisk,     // outside the disk, or outside a volume cut to the disk's end
    MissingExtent,     // the extent or piece file that holds the range is missing
    InvalidMapEntry,   // a map entry points outside the file, or at a place another entry uses
    DamagedTable,      // the table that maps the range could not be read or is corrupt
    LostDirectory,     // the directory of the map's tables is blank, yet the file holds data
    MissingParent,     // a snapshot child read without the parent that holds the range
    BadCompressedData, // a compressed grain or cluster that does not decompress to its size
    ReadError,         // the host could not read the file (an I/O error)
    Unsupported,       // a kind of block the reader does not decode
};

// The text a message or a report gives for a reason ("past the end of the file", ...).
const char* damageText(Damage reason);

enum class RangeKind : std::uint8_t { Hole, Unreadable };

struct ByteRange {
    std::uint64_t offset = 0; // in the coordinates of the source that reported it
    std::uint64_t length = 0;
    RangeKind kind = RangeKind::Hole;
    Damage reason = Damage::None; // Unreadable ranges only

    std::uint64_t end() const { return offset + length; }
    bool operator==(const ByteRange&) const = default;
};

// What reads met: their holes and unreadable ranges in ascending order, neighbours of the same
// kind and reason joined into one. Whatever is not listed was read as data. One report may
// collect many reads (a whole saved file); it keeps at most kMaxRanges ranges and folds the rest
// into the last one so that a badly damaged disk cannot grow it without bound (the byte counts
// stay exact).
class ReadReport {
  public:
    static constexpr std::size_t kMaxRanges = 4096;

    void addHole(std::uint64_t offset, std::uint64_t length);
    void addUnreadable(std::uint64_t offset, std::uint64_t length, Damage reason);
    // Takes another report's ranges, moved by `shift` (added to every offset).
    void merge(const ReadReport& other, std::int64_t shift = 0);
    void clear();

    const std::vector<ByteRange>& ranges() const { return ranges_; }
    std::uint64_t unreadableBytes() const { return unreadableBytes_; }
    std::uint64_t holeBytes() const { return holeBytes_; }
    bool damaged() const { return unreadableBytes_ != 0; }
    // Only the unreadable ranges.
    std::vector<ByteRange> unreadableRanges() const;

  private:
    void add(ByteRange range);

    std::vector<ByteRange> ranges_;
    std::uint64_t unreadableBytes_ = 0;
    std::uint64_t holeBytes_ = 0;
};

// Collects, for as long as it lives, what every read made on this thread met, as the outermost
// source of each read saw it (a volume slice's reads in the volume's coordinates). Saving a file
// opens one around the file so that whatever the parser read for it (content, runs, records)
// marks the file incomplete when any of it was unreadable, without a report passed down through
// every parser. Scopes nest; each read is added to the innermost.
class ReadScope {
  public:
    ReadScope();
    ~ReadScope();
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

    const ReadReport& report() const { return report_; }

  private:
    friend class ByteSource;
    ReadReport report_;
    ReadScope* outer_;
};

class ByteSource {
  public:
    ByteSource() = default;
    virtual ~ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // The source's length in bytes: no byte at or past it exists.
    virtual std::uint64_t size() const = 0;

    // Fills `out` with the bytes at [offset, offset + out.size()). Holes and unreadable bytes are
    // zeros; with `report`, the holes and unreadable ranges met are added to it (in this source's
    // coordinates). Whatever lies at or past size() is unreadable (PastEndOfDisk). True when
    // every byte was read as data or hole; false when any byte was unreadable. Safe to call from
    // several threads at once.
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out,
                ReadReport* report = nullptr) const;

    // True when every byte of [offset, offset + length) is known to be a hole without reading,
    // from the source's map; false when unknown. Bulk work uses it to skip empty stretches.
    virtual bool isHole(std::uint64_t offset, std::uint64_t length) const;

    // The first offset at or after `offset` that may hold data, from the source's map alone:
    // every byte of [offset, nextData(offset)) is a hole, as isHole would say. size() when the
    // rest of the source is all hole; `offset` itself when the source cannot tell (the
    // default). Whole-disk work uses it to pass long empty stretches in one step, so it costs a
    // walk of the map's tables, not of the bytes they map.
    virtual std::uint64_t nextData(std::uint64_t offset) const;

    // The bytes [offset, offset + length) where they lie in one piece of a mapped image file,
    // without copying; empty when they do not (a hole, a compressed grain, several pieces).
    // Valid while the source lives.
    virtual std::span<const std::uint8_t> viewAt(std::uint64_t offset, std::uint64_t length) const;

    // The size in bytes of the disk's logical sector: the unit LBAs of partition tables count
    // in (512, or 4096 for a disk that declares 4 KiB sectors).
    virtual std::uint32_t logicalSectorSize() const { return 512; }

  private:
    bool readChecked(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const;

  protected:
    // nextData for a source whose map is in units of `unit` bytes, by isHole over one unit after
    // another: for maps that are cheap to ask a unit at a time (a block table in memory). The
    // walk stops at `end` (size() when 0 or past it), which it returns when all before it is hole.
    std::uint64_t nextDataByUnits(std::uint64_t offset, std::uint64_t unit, std::uint64_t end = 0) const;

    // Reads [offset, offset + out.size()), which lies wholly below size(); the contract of
    // readAt otherwise. Implementations add holes and unreadable ranges to `report` only when it
    // is not null, and must zero every byte they do not read.
    virtual bool readRange(std::uint64_t offset, std::span<std::uint8_t> out,
                           ReadReport* report) const = 0;
};

} // namespace vindaru
