// The on-disk layout of a VHDX image (all fields little-endian) and the decoders of its
// structures: the file identifier, the two headers, the region table, the metadata table and its
// items, the block allocation table's entries, and the log whose unreplayed entries are applied
// in memory. Each decoder takes the bytes of exactly one structure and trusts none of them.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/ByteLoader.h"

namespace vindaru::vhdx {

using Guid = std::array<std::uint8_t, 16>;

inline constexpr std::uint64_t KiB = 1024;
inline constexpr std::uint64_t MiB = 1024 * KiB;

// The header section: the file identifier, two headers and two region tables in the first MiB.
inline constexpr std::uint64_t kFileIdentifierOffset = 0; // "vhdxfile", then the creator
inline constexpr std::uint64_t kHeader1Offset = 64 * KiB;
inline constexpr std::uint64_t kHeader2Offset = 128 * KiB;
inline constexpr std::uint64_t kHeaderSize = 4 * KiB;
inline constexpr std::uint64_t kRegionTable1Offset = 192 * KiB;
inline constexpr std::uint64_t kRegionTable2Offset = 256 * KiB;
inline constexpr std::uint64_t kRegionTableSize = 64 * KiB;
inline constexpr std::uint64_t kHeaderSectionSize = 1 * MiB;

// Header fields.
inline constexpr std::size_t kHeaderSignature = 0;     // "head"
inline constexpr std::size_t kHeaderChecksum = 4;      // CRC-32C of the 4 KiB, this field zero
inline constexpr std::size_t kHeaderSequence = 8;      // u64, the current header has the larger
inline constexpr std::size_t kHeaderFileWriteGuid = 16;
inline constexpr std::size_t kHeaderDataWriteGuid = 32; // a child's parent linkage names it
inline constexpr std::size_t kHeaderLogGuid = 48;       // zero: no log to replay
inline constexpr std::size_t kHeaderLogVersion = 64;    // u16, 0
inline constexpr std::size_t kHeaderVersion = 66;       // u16, 1
inline constexpr std::size_t kHeaderLogLength = 68;     // u32, MiB multiple
inline constexpr std::size_t kHeaderLogOffset = 72;     // u64, MiB multiple

// Region table: a 16-byte header, then 32-byte entries.
inline constexpr std::size_t kRegionSignature = 0; // "regi"
inline constexpr std::size_t kRegionChecksum = 4;  // CRC-32C of the 64 KiB
inline constexpr std::size_t kRegionEntryCount = 8;
inline constexpr std::size_t kRegionEntriesStart = 16;
inline constexpr std::size_t kRegionEntrySize = 32;
inline constexpr std::size_t kRegionEntryOffset = 16;   // u64
inline constexpr std::size_t kRegionEntryLength = 24;   // u32
inline constexpr std::size_t kRegionEntryRequired = 28; // bit 0
inline constexpr std::uint32_t kMaxRegionEntries = 2047;

// Metadata table: a 32-byte header ("metadata", entry count at 10), then 32-byte entries whose
// offsets count from the region's start.
inline constexpr std::uint64_t kMetadataTableSize = 64 * KiB;
inline constexpr std::size_t kMetadataEntryCount = 10; // u16
inline constexpr std::size_t kMetadataEntriesStart = 32;
inline constexpr std::size_t kMetadataEntrySize = 32;
inline constexpr std::size_t kMetadataEntryOffset = 16; // u32
inline constexpr std::size_t kMetadataEntryLength = 20; // u32
inline constexpr std::size_t kMetadataEntryFlags = 24;  // bit 0 user, 1 virtual disk, 2 required
inline constexpr std::uint32_t kMaxMetadataEntries = 2047;
inline constexpr std::uint32_t kMaxMetadataItem = 1 * MiB;

// Payload blocks: 1 MiB to 256 MiB, powers of two; the sector bitmap of a chunk is 1 MiB.
inline constexpr std::uint64_t kMinBlockSize = 1 * MiB;
inline constexpr std::uint64_t kMaxBlockSize = 256 * MiB;
inline constexpr std::uint64_t kSectorBitmapBlockSize = 1 * MiB;
inline constexpr std::uint64_t kSectorsPerBitmapBlock = 1ull << 23;
// The format's own limit on the virtual disk.
inline constexpr std::uint64_t kMaxVirtualDiskSize = 64ull * 1024 * 1024 * MiB;

// BAT entry: state in bits 0-2, the file offset in MiB in bits 20-63.
enum class BlockState : std::uint8_t {
    NotPresent = 0,
    Undefined = 1,
    Zero = 2,
    Unmapped = 3,
    FullyPresent = 6,
    PartiallyPresent = 7,
};
inline constexpr std::uint8_t kBitmapPresent = 6;

struct BatEntry {
    std::uint8_t state = 0;
    std::uint64_t fileOffset = 0; // bytes
};
inline BatEntry decodeBatEntry(std::uint64_t raw) {
    return {static_cast<std::uint8_t>(raw & 7), (raw >> 20) * MiB};
}
const char* blockStateText(std::uint8_t state);

// Well-known identifiers.
extern const Guid kBatRegion;
extern const Guid kMetadataRegion;
extern const Guid kFileParametersItem;
extern const Guid kVirtualDiskSizeItem;
extern const Guid kPage83DataItem;
extern const Guid kLogicalSectorSizeItem;
extern const Guid kPhysicalSectorSizeItem;
extern const Guid kParentLocatorItem;
extern const Guid kVhdxParentLocatorType;

Guid loadGuid(ByteSpan bytes, std::size_t offset);
bool isZero(const Guid& guid);
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", lower case, the first three fields little-endian as
// the format stores them.
std::string guidText(const Guid& guid);
// The GUID a text names, braces optional, any case; nullopt when it names none.
std::optional<Guid> parseGuid(std::string_view text);

// CRC-32C (Castagnoli) of `bytes`, the four bytes at `checksumOffset` taken as zero.
std::uint32_t crc32c(ByteSpan bytes, std::size_t checksumOffset);
std::uint32_t crc32c(ByteSpan bytes);

bool hasFileIdentifier(ByteSpan bytes);

struct Header {
    bool signatureOk = false;
    bool checksumOk = false;
    std::uint64_t sequence = 0;
    Guid fileWrite{};
    Guid dataWrite{};
    Guid log{};
    std::uint16_t logVersion = 0;
    std::uint16_t version = 0;
    std::uint32_t logLength = 0;
    std::uint64_t logOffset = 0;

    bool usable() const { return signatureOk && checksumOk && version == 1; }
};
// `bytes`: the header's 4 KiB.
Header decodeHeader(ByteSpan bytes);

// Which header is current: the usable one with the larger sequence number; -1 when neither is
// usable.
int currentHeader(const Header& first, const Header& second);

struct RegionEntry {
    Guid guid{};
    std::uint64_t fileOffset = 0;
    std::uint32_t length = 0;
    bool required = false;
};
struct RegionTable {
    bool signatureOk = false;
    bool checksumOk = false;
    std::vector<RegionEntry> entries;

    bool usable() const { return signatureOk && checksumOk; }
    const RegionEntry* find(const Guid& guid) const;
};
// `bytes`: the table's 64 KiB.
RegionTable decodeRegionTable(ByteSpan bytes);

struct MetadataEntry {
    Guid item{};
    std::uint32_t offset = 0; // from the metadata region's start
    std::uint32_t length = 0;
    bool isUser = false;
    bool isVirtualDisk = false;
    bool isRequired = false;
};
// `bytes`: the table's 64 KiB. Nullopt without the "metadata" signature.
std::optional<std::vector<MetadataEntry>> decodeMetadataTable(ByteSpan bytes);

struct FileParameters {
    std::uint32_t blockSize = 0;
    bool leaveBlocksAllocated = false;
    bool hasParent = false;
};
std::optional<FileParameters> decodeFileParameters(ByteSpan item);

// The parent locator's key/value pairs (UTF-16 in the file, UTF-8 here), in file order.
struct ParentLocator {
    Guid type{};
    std::vector<std::pair<std::string, std::string>> entries;

    // The value of `key`; empty when absent.
    std::string value(std::string_view key) const;
};
std::optional<ParentLocator> decodeParentLocator(ByteSpan item);

// The shape of the virtual disk the metadata gives, checked once.
struct Geometry {
    std::uint64_t blockSize = 0;
    std::uint32_t logicalSectorSize = 512;
    std::uint64_t virtualSize = 0;
    std::uint64_t chunkRatio = 0;     // payload blocks per sector bitmap block
    std::uint64_t dataBlocks = 0;
    std::uint64_t bitmapBlocks = 0;
    std::uint64_t batEntries = 0;     // entries the table must hold

    // The table index of payload block `block`, and of the sector bitmap of its chunk.
    std::uint64_t payloadIndex(std::uint64_t block) const { return block + block / chunkRatio; }
    std::uint64_t bitmapIndex(std::uint64_t block) const {
        return (block / chunkRatio) * (chunkRatio + 1) + chunkRatio;
    }
};
// Nullopt with `problem` set when the values cannot describe a disk.
std::optional<Geometry> makeGeometry(std::uint32_t blockSize, std::uint32_t logicalSectorSize,
                                     std::uint64_t virtualSize, bool hasParent,
                                     std::string& problem);

// --- the log ---

inline constexpr std::uint64_t kLogSectorSize = 4 * KiB;
inline constexpr std::size_t kLogEntryHeaderSize = 64;
inline constexpr std::size_t kLogEntrySignature = 0; // "loge"
inline constexpr std::size_t kLogEntryChecksum = 4;  // CRC-32C of the whole entry
inline constexpr std::size_t kLogEntryLength = 8;    // u32, 4 KiB multiple
inline constexpr std::size_t kLogEntryTail = 12;     // u32, the sequence's first entry
inline constexpr std::size_t kLogEntrySequence = 16; // u64
inline constexpr std::size_t kLogEntryDescriptorCount = 24;
inline constexpr std::size_t kLogEntryLogGuid = 32;
inline constexpr std::size_t kLogEntryFlushedFileOffset = 48;
inline constexpr std::size_t kLogEntryLastFileOffset = 56;
inline constexpr std::size_t kLogDescriptorSize = 32;
// A log read whole into memory; larger ones are refused (real logs are a few MiB).
inline constexpr std::uint64_t kMaxLogLength = 256 * MiB;

// What replaying a log gives: the file's pages as the log leaves them, to be laid over what the
// file holds. Later writes win: a zero range drops the pages under it, a page written after a
// zero range lies over it.
struct LogOverlay {
    std::map<std::uint64_t, std::vector<std::uint8_t>> pages; // 4 KiB each, by file offset
    std::vector<std::pair<std::uint64_t, std::uint64_t>> zeroRanges; // offset, length

    bool empty() const { return pages.empty() && zeroRanges.empty(); }
    // The end of the last byte the overlay writes.
    std::uint64_t end() const;
    // Lays the overlay over `out`, the file bytes at `fileOffset`; true when it changed any.
    bool apply(std::uint64_t fileOffset, std::span<std::uint8_t> out) const;
    bool touches(std::uint64_t fileOffset, std::uint64_t length) const;
};

struct LogReplay {
    enum class Outcome { Empty, Replayed, Failed };
    Outcome outcome = Outcome::Empty;
    std::string problem; // Failed: why
    std::uint64_t entries = 0;
    std::uint64_t firstSequence = 0;
    std::uint64_t lastSequence = 0;
    std::uint64_t flushedFileOffset = 0;
    std::uint64_t lastFileOffset = 0;
    LogOverlay overlay;
};
// Finds the log's active sequence (the newest run of valid, consecutive entries whose tail it
// contains) and replays it. `log`: the whole log region; `logGuid`: the current header's.
LogReplay replayLog(ByteSpan log, const Guid& logGuid);

} // namespace vindaru::vhdx
