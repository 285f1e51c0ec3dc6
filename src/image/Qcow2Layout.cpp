#include "image/Qcow2Layout.h"

#include <algorithm>
#include <cstdio>
#include <zlib.h>
#include <zstd.h>

namespace vindaru::qcow2 {

std::optional<Header> decodeHeader(ByteSpan bytes, std::string& problem) {
    if (be32(bytes, 0) != kMagic || bytes.size() < kVersion2HeaderLength) {
        problem = "no QCOW2 header";
        return std::nullopt;
    }
    Header h;
    h.version = be32(bytes, kVersion);
    if (h.version != 2 && h.version != 3) {
        problem = "QCOW version " + std::to_string(h.version) + " is not read (versions 2 and 3 are)";
        return std::nullopt;
    }
    h.backingFileOffset = be64(bytes, kBackingFileOffset);
    h.backingFileSize = be32(bytes, kBackingFileSize);
    h.clusterBits = be32(bytes, kClusterBits);
    h.size = be64(bytes, kSize);
    h.cryptMethod = be32(bytes, kCryptMethod);
    h.l1Size = be32(bytes, kL1Size);
    h.l1TableOffset = be64(bytes, kL1TableOffset);
    h.snapshotCount = be32(bytes, kSnapshotCount);
    h.snapshotsOffset = be64(bytes, kSnapshotsOffset);
    if (h.version >= 3) {
        if (bytes.size() < kMinVersion3HeaderLength) {
            problem = "the version 3 header is cut short";
            return std::nullopt;
        }
        h.incompatible = be64(bytes, kIncompatibleFeatures);
        h.compatible = be64(bytes, kCompatibleFeatures);
        h.autoclear = be64(bytes, kAutoclearFeatures);
        h.refcountOrder = be32(bytes, kRefcountOrder);
        h.headerLength = be32(bytes, kHeaderLength);
        if (h.headerLength < kMinVersion3HeaderLength || h.headerLength % 8 != 0) {
            problem = "the header length " + std::to_string(h.headerLength) + " is not valid";
            return std::nullopt;
        }
        if (h.headerLength > kCompressionType) h.compressionType = u8(bytes, kCompressionType);
    }
    if (h.clusterBits < kMinClusterBits || h.clusterBits > kMaxClusterBits) {
        problem = "the cluster size 2^" + std::to_string(h.clusterBits) +
                  " is outside 512 bytes to 2 MiB";
        return std::nullopt;
    }
    if (h.headerLength > h.clusterSize()) {
        problem = "the header is longer than its cluster";
        return std::nullopt;
    }
    if (h.cryptMethod != 0) {
        problem = std::string("the image is encrypted (") +
                  (h.cryptMethod == 1 ? "AES" : h.cryptMethod == 2 ? "LUKS" : "unknown method") +
                  "); encrypted images are not read";
        return std::nullopt;
    }
    if ((h.incompatible & kIncompatibleDataFile) != 0) {
        problem = "the image keeps its data in an external data file, which is not read";
        return std::nullopt;
    }
    if ((h.incompatible & ~kKnownIncompatible) != 0) {
        char bits[32];
        std::snprintf(bits, sizeof bits, "0x%llx",
                      static_cast<unsigned long long>(h.incompatible & ~kKnownIncompatible));
        problem = std::string("the image uses incompatible features this reader does not know (") +
                  bits + ")";
        return std::nullopt;
    }
    const bool typeBit = (h.incompatible & kIncompatibleCompressionType) != 0;
    if (h.compressionType > 1 || typeBit != (h.compressionType != 0)) {
        problem = "the compression type " + std::to_string(h.compressionType) + " is not known";
        return std::nullopt;
    }
    if (h.extendedL2() && h.clusterBits < kMinExtendedL2ClusterBits) {
        problem = "extended L2 entries need clusters of at least 16 KiB";
        return std::nullopt;
    }
    if (h.backingFileOffset != 0 && h.backingFileSize > kMaxBackingNameLength) {
        problem = "the backing file name is longer than 1023 bytes";
        return std::nullopt;
    }
    return h;
}

Extensions decodeExtensions(ByteSpan cluster, const Header& header) {
    Extensions out;
    std::size_t at = header.headerLength;
    // Each extension takes at least 8 bytes, so the walk ends within the cluster.
    while (fits(cluster, at, 8)) {
        const std::uint32_t type = be32(cluster, at);
        const std::uint32_t length = be32(cluster, at + 4);
        if (type == kExtensionEnd) break;
        const ByteSpan data = subspan(cluster, at + 8, length);
        if (data.size() != length) break;
        const std::string text(reinterpret_cast<const char*>(data.data()), data.size());
        if (type == kExtensionBackingFormat) {
            out.backingFormat = text.substr(0, text.find('\0'));
        } else if (type == kExtensionDataFile) {
            out.dataFile = text.substr(0, text.find('\0'));
        } else if (type == kExtensionEncryption) {
            out.encryptionHeader = true;
        } else if (type != kExtensionFeatureNames && type != 0x23852875 /* bitmaps */) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08x", type);
            out.unknown.emplace_back(hex);
        }
        const std::uint64_t padded = (std::uint64_t{length} + 7) & ~std::uint64_t{7};
        at += 8 + padded;
    }
    return out;
}

ClusterEntry decodeL2Entry(std::uint64_t entry, std::uint32_t clusterBits, bool zeroFlagApplies) {
    ClusterEntry c;
    if ((entry & kCompressedFlag) != 0) {
        // The offset takes the low x bits, the count of further 512-byte sectors the rest up to
        // bit 61.
        const unsigned x = 62 - (clusterBits - 8);
        const std::uint64_t offsetMask = (std::uint64_t{1} << x) - 1;
        const std::uint64_t sectors = ((entry & ((std::uint64_t{1} << 62) - 1)) >> x) + 1;
        c.kind = ClusterKind::Compressed;
        c.hostOffset = entry & offsetMask;
        c.compressedBytes = sectors * 512 - (c.hostOffset & 511);
        return c;
    }
    if (zeroFlagApplies && (entry & kZeroFlag) != 0) {
        c.kind = ClusterKind::Zero;
        return c;
    }
    c.hostOffset = entry & kOffsetMask;
    if (c.hostOffset == 0) {
        c.kind = ClusterKind::Unallocated;
        return c;
    }
    if ((c.hostOffset & ((std::uint64_t{1} << clusterBits) - 1)) != 0) {
        c.kind = ClusterKind::Invalid;
        return c;
    }
    c.kind = ClusterKind::Normal;
    return c;
}

ClusterKind subclusterKind(const ClusterEntry& cluster, std::uint64_t bitmap, unsigned index) {
    const bool allocated = ((bitmap >> index) & 1) != 0;
    const bool zero = ((bitmap >> (index + kSubclusters)) & 1) != 0;
    if (allocated && zero) return ClusterKind::Invalid;
    if (zero) return ClusterKind::Zero;
    if (!allocated) return ClusterKind::Unallocated;
    return cluster.kind == ClusterKind::Normal ? ClusterKind::Normal : ClusterKind::Invalid;
}

std::vector<Snapshot> decodeSnapshots(ByteSpan table, std::uint32_t count) {
    constexpr std::size_t kFixed = 40;
    std::vector<Snapshot> out;
    std::size_t at = 0;
    for (std::uint32_t i = 0; i < std::min(count, kMaxSnapshots); ++i) {
        if (!fits(table, at, kFixed)) break;
        Snapshot s;
        s.l1TableOffset = be64(table, at);
        s.l1Size = be32(table, at + 8);
        const std::uint16_t idLength = be16(table, at + 12);
        const std::uint16_t nameLength = be16(table, at + 14);
        s.dateSeconds = be32(table, at + 16);
        s.dateNanoseconds = be32(table, at + 20);
        s.vmClockNanoseconds = be64(table, at + 24);
        s.vmStateSize = be32(table, at + 32);
        const std::uint32_t extra = be32(table, at + 36);
        const std::uint64_t length = kFixed + std::uint64_t{extra} + idLength + nameLength;
        if (!fits(table, at, length)) break;
        if (extra >= 8) s.vmStateSize = be64(table, at + kFixed);
        if (extra >= 16) s.diskSize = be64(table, at + kFixed + 8);
        const std::size_t idAt = at + kFixed + extra;
        s.id.assign(reinterpret_cast<const char*>(table.data() + idAt), idLength);
        s.name.assign(reinterpret_cast<const char*>(table.data() + idAt + idLength), nameLength);
        out.push_back(std::move(s));
        at += (length + 7) & ~std::uint64_t{7};
    }
    return out;
}

Decompressor::~Decompressor() {
    if (zlib_ != nullptr) {
        auto* z = static_cast<z_stream*>(zlib_);
        inflateEnd(z);
        delete z;
    }
    if (zstd_ != nullptr) ZSTD_freeDCtx(static_cast<ZSTD_DCtx*>(zstd_));
}

bool Decompressor::inflateRaw(ByteSpan in, std::span<std::uint8_t> out) {
    auto* z = static_cast<z_stream*>(zlib_);
    if (z == nullptr) {
        z = new z_stream{};
        // Raw deflate; the largest window reads whatever window the writer used.
        if (inflateInit2(z, -15) != Z_OK) {
            delete z;
            return false;
        }
        zlib_ = z;
    } else if (inflateReset(z) != Z_OK) {
        return false;
    }
    z->next_in = const_cast<Bytef*>(in.data());
    z->avail_in = static_cast<uInt>(std::min<std::size_t>(in.size(), UINT32_MAX));
    z->next_out = out.data();
    z->avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(z, Z_FINISH);
    return z->avail_out == 0 && (rc == Z_STREAM_END || rc == Z_OK || rc == Z_BUF_ERROR);
}

bool Decompressor::decompressZstd(ByteSpan in, std::span<std::uint8_t> out) {
    auto* ctx = static_cast<ZSTD_DCtx*>(zstd_);
    if (ctx == nullptr) {
        ctx = ZSTD_createDCtx();
        if (ctx == nullptr) return false;
        zstd_ = ctx;
    } else {
        ZSTD_DCtx_reset(ctx, ZSTD_reset_session_only);
    }
    // A stream, not one call: the compressed bytes run on to the end of a 512-byte sector, past
    // the frame, and decompression stops once the cluster is whole.
    ZSTD_inBuffer input{in.data(), in.size(), 0};
    ZSTD_outBuffer output{out.data(), out.size(), 0};
    while (output.pos < output.size) {
        const std::size_t inBefore = input.pos;
        const std::size_t outBefore = output.pos;
        const std::size_t rc = ZSTD_decompressStream(ctx, &output, &input);
        if (ZSTD_isError(rc)) return false;
        // The frame ended, or nothing moved (the input is used up).
        if (rc == 0 || (input.pos == inBefore && output.pos == outBefore)) break;
    }
    return output.pos == output.size;
}

bool Decompressor::decompress(ByteSpan in, std::span<std::uint8_t> out, std::uint8_t compressionType) {
    if (in.empty() || out.empty()) return false;
    if (compressionType == static_cast<std::uint8_t>(CompressionType::Deflate)) return inflateRaw(in, out);
    if (compressionType == static_cast<std::uint8_t>(CompressionType::Zstd)) return decompressZstd(in, out);
    return false;
}

bool decompressCluster(ByteSpan in, std::span<std::uint8_t> out, std::uint8_t compressionType) {
    Decompressor d;
    return d.decompress(in, out, compressionType);
}

} // namespace vindaru::qcow2
