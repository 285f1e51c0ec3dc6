// The on-disk layout of a QCOW2 image (versions 2 and 3, all fields big-endian) and the decoders
// of its structures: the header and its extensions, L1 and L2 entries (standard and extended),
// the snapshot table, and compressed clusters (deflate or zstd). Each decoder takes the bytes
// of exactly one structure and trusts none of them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/ByteLoader.h"

namespace vindaru::qcow2 {

inline constexpr std::uint32_t kMagic = 0x514649FB; // "QFI\xfb"

// Header fields.
inline constexpr std::size_t kVersion = 4;
inline constexpr std::size_t kBackingFileOffset = 8;    // u64
inline constexpr std::size_t kBackingFileSize = 16;     // u32
inline constexpr std::size_t kClusterBits = 20;         // u32
inline constexpr std::size_t kSize = 24;                // u64, the virtual disk
inline constexpr std::size_t kCryptMethod = 32;         // u32
inline constexpr std::size_t kL1Size = 36;              // u32, entries
inline constexpr std::size_t kL1TableOffset = 40;       // u64
inline constexpr std::size_t kRefcountTableOffset = 48; // u64
inline constexpr std::size_t kRefcountTableClusters = 56;
inline constexpr std::size_t kSnapshotCount = 60;       // u32
inline constexpr std::size_t kSnapshotsOffset = 64;     // u64
inline constexpr std::size_t kIncompatibleFeatures = 72; // u64, version 3 on
inline constexpr std::size_t kCompatibleFeatures = 80;
inline constexpr std::size_t kAutoclearFeatures = 88;
inline constexpr std::size_t kRefcountOrder = 96;       // u32
inline constexpr std::size_t kHeaderLength = 100;       // u32
inline constexpr std::size_t kCompressionType = 104;    // u8, when the header reaches it
inline constexpr std::uint32_t kVersion2HeaderLength = 72;
inline constexpr std::uint32_t kMinVersion3HeaderLength = 104;

inline constexpr std::uint64_t kIncompatibleDirty = 1u << 0;
inline constexpr std::uint64_t kIncompatibleCorrupt = 1u << 1;
inline constexpr std::uint64_t kIncompatibleDataFile = 1u << 2;
inline constexpr std::uint64_t kIncompatibleCompressionType = 1u << 3;
inline constexpr std::uint64_t kIncompatibleExtendedL2 = 1u << 4;
inline constexpr std::uint64_t kKnownIncompatible = 0x1F;

// Header extensions.
inline constexpr std::uint32_t kExtensionEnd = 0;
inline constexpr std::uint32_t kExtensionBackingFormat = 0xE2792ACA;
inline constexpr std::uint32_t kExtensionFeatureNames = 0x6803F857;
inline constexpr std::uint32_t kExtensionDataFile = 0x44415441;
inline constexpr std::uint32_t kExtensionEncryption = 0x0537BE77;

// Clusters from 512 bytes to 2 MiB: what images are written with; beyond that nothing reads
// them, and an L2 table (one cluster) would be held in memory at that size.
inline constexpr std::uint32_t kMinClusterBits = 9;
inline constexpr std::uint32_t kMaxClusterBits = 21;
inline constexpr std::uint32_t kMinExtendedL2ClusterBits = 14;
inline constexpr std::uint32_t kMaxBackingNameLength = 1023;
inline constexpr std::uint32_t kSubclusters = 32;

inline constexpr std::uint64_t kOffsetMask = 0x00FFFFFFFFFFFE00ull; // bits 9-55
inline constexpr std::uint64_t kCompressedFlag = 1ull << 62;
inline constexpr std::uint64_t kZeroFlag = 1;

enum class CompressionType : std::uint8_t { Deflate = 0, Zstd = 1 };

struct Header {
    std::uint32_t version = 0;
    std::uint64_t backingFileOffset = 0;
    std::uint32_t backingFileSize = 0;
    std::uint32_t clusterBits = 0;
    std::uint64_t size = 0;
    std::uint32_t cryptMethod = 0;
    std::uint32_t l1Size = 0;
    std::uint64_t l1TableOffset = 0;
    std::uint32_t snapshotCount = 0;
    std::uint64_t snapshotsOffset = 0;
    std::uint64_t incompatible = 0;
    std::uint64_t compatible = 0;
    std::uint64_t autoclear = 0;
    std::uint32_t refcountOrder = 4;
    std::uint32_t headerLength = kVersion2HeaderLength;
    std::uint8_t compressionType = 0;

    std::uint64_t clusterSize() const { return std::uint64_t{1} << clusterBits; }
    bool extendedL2() const { return (incompatible & kIncompatibleExtendedL2) != 0; }
    std::uint64_t l2EntryBytes() const { return extendedL2() ? 16 : 8; }
    std::uint64_t l2Entries() const { return clusterSize() / l2EntryBytes(); }
};

// `bytes`: at least the header's first 72 bytes (the first cluster, or what the file holds of
// it). Nullopt with `problem` set when it is no QCOW2 header this reader can use; an encrypted
// image, an external data file or unknown incompatible features are refused by name.
std::optional<Header> decodeHeader(ByteSpan bytes, std::string& problem);

struct Extensions {
    std::string backingFormat;
    std::string dataFile;
    bool encryptionHeader = false;
    std::vector<std::string> unknown; // types as hex, for `info`
};
// The header extensions from header_length to the end marker or the end of `cluster` (the
// image's first cluster).
Extensions decodeExtensions(ByteSpan cluster, const Header& header);

// What one guest cluster (or one subcluster of an extended entry) is.
enum class ClusterKind : std::uint8_t {
    Unallocated, // read from the backing file, or zeros without one
    Zero,        // reads as zeros, whatever the backing file holds
    Normal,      // at hostOffset
    Compressed,  // compressedBytes at hostOffset, inflated to a cluster
    Invalid,     // an entry the format does not allow
};

struct ClusterEntry {
    ClusterKind kind = ClusterKind::Unallocated;
    std::uint64_t hostOffset = 0;
    std::uint64_t compressedBytes = 0; // Compressed: bytes from hostOffset that may hold the data
};
// A standard L2 entry (the first 64 bits of an extended one), given the cluster bits and
// whether bit 0 means "reads as zeros" (version 3 without extended entries).
ClusterEntry decodeL2Entry(std::uint64_t entry, std::uint32_t clusterBits, bool zeroFlagApplies);
// The kind of subcluster `index` (0-31) of an extended entry whose standard half decoded to
// `cluster` (Normal or Unallocated) and whose bitmap is `bitmap`.
ClusterKind subclusterKind(const ClusterEntry& cluster, std::uint64_t bitmap, unsigned index);

struct Snapshot {
    std::uint64_t l1TableOffset = 0;
    std::uint32_t l1Size = 0;
    std::string id;
    std::string name;
    std::uint32_t dateSeconds = 0;
    std::uint32_t dateNanoseconds = 0;
    std::uint64_t vmClockNanoseconds = 0;
    std::uint64_t vmStateSize = 0;
    std::uint64_t diskSize = 0; // 0: not recorded (the image's size applies)
};
// Up to `count` entries from the table's bytes; stops at the first that does not fit.
std::vector<Snapshot> decodeSnapshots(ByteSpan table, std::uint32_t count);
// The most the snapshot table may take in bytes (entries of at most 64 KiB of extra data, names
// and ids of at most 64 KiB each would be far larger; this bounds what is read).
inline constexpr std::uint32_t kMaxSnapshots = 65536;
inline constexpr std::uint64_t kMaxSnapshotTableBytes = 64ull << 20;

// Decompresses a compressed cluster into `out` (exactly one cluster). False when the data does
// not decompress to the whole cluster.
bool decompressCluster(ByteSpan in, std::span<std::uint8_t> out, std::uint8_t compressionType);

// The same, keeping its deflate and zstd state from one cluster to the next (one per thread).
class Decompressor {
  public:
    Decompressor() = default;
    ~Decompressor();
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    bool decompress(ByteSpan in, std::span<std::uint8_t> out, std::uint8_t compressionType);

  private:
    bool inflateRaw(ByteSpan in, std::span<std::uint8_t> out);
    bool decompressZstd(ByteSpan in, std::span<std::uint8_t> out);

    void* zlib_ = nullptr; // z_stream, once used
    void* zstd_ = nullptr; // ZSTD_DCtx, once used
};

} // namespace vindaru::qcow2
