// The QCOW2 structure decoders on byte fixtures: the header and what it refuses, L2 entries of
// each kind, subcluster bitmaps, the snapshot table, header extensions and compressed clusters.
#include <gtest/gtest.h>

#include <zstd.h>

#include "image/Qcow2Layout.h"
#include "image/Qcow2TestImages.h"

namespace vindaru {
namespace {

using namespace qcow2;
using test::Qcow2Image;

std::vector<std::uint8_t> headerOf(Qcow2Image img) { return img.build(); }

TEST(Qcow2Layout, HeadersOfBothVersionsDecode) {
    Qcow2Image v2;
    v2.version = 2;
    std::string problem;
    auto h = decodeHeader(headerOf(v2), problem);
    ASSERT_TRUE(h) << problem;
    EXPECT_EQ(h->headerLength, 72u);
    EXPECT_EQ(h->clusterSize(), 4096u);
    EXPECT_EQ(h->l2Entries(), 512u);
    Qcow2Image v3;
    v3.clusterBits = 14;
    v3.incompatible = kIncompatibleExtendedL2;
    h = decodeHeader(headerOf(v3), problem);
    ASSERT_TRUE(h) << problem;
    EXPECT_TRUE(h->extendedL2());
    EXPECT_EQ(h->l2Entries(), 1024u);
}

TEST(Qcow2Layout, HeadersThatCannotBeReadAreRefusedByName) {
    std::string problem;
    Qcow2Image img;
    img.cryptMethod = 2;
    EXPECT_FALSE(decodeHeader(headerOf(img), problem));
    EXPECT_NE(problem.find("encrypted (LUKS)"), std::string::npos);
    img.cryptMethod = 0;
    img.incompatible = kIncompatibleDataFile;
    EXPECT_FALSE(decodeHeader(headerOf(img), problem));
    EXPECT_NE(problem.find("external data file"), std::string::npos);
    img.incompatible = 1ull << 40;
    EXPECT_FALSE(decodeHeader(headerOf(img), problem));
    EXPECT_NE(problem.find("0x10000000000"), std::string::npos);
    img.incompatible = kIncompatibleCompressionType; // the bit without a type
    EXPECT_FALSE(decodeHeader(headerOf(img), problem));
    img.incompatible = kIncompatibleExtendedL2; // needs 16 KiB clusters
    EXPECT_FALSE(decodeHeader(headerOf(img), problem));
    img.incompatible = 0;
    img.clusterBits = 22;
    EXPECT_FALSE(decodeHeader(headerOf(img), problem));
    img.clusterBits = 12;
    img.version = 4;
    EXPECT_FALSE(decodeHeader(headerOf(img), problem));
    img.version = 3;
    auto bytes = headerOf(img);
    EXPECT_FALSE(decodeHeader(ByteSpan(bytes).first(80), problem)); // a v3 header cut short
    Qcow2Image::putBe32(bytes, kHeaderLength, 101);
    EXPECT_FALSE(decodeHeader(bytes, problem));
    EXPECT_FALSE(decodeHeader(ByteSpan(bytes).first(3), problem));
}

TEST(Qcow2Layout, L2EntriesOfEveryKind) {
    EXPECT_EQ(decodeL2Entry(0, 16, true).kind, ClusterKind::Unallocated);
    const ClusterEntry normal = decodeL2Entry((1ull << 63) | 0x50000, 16, true);
    EXPECT_EQ(normal.kind, ClusterKind::Normal);
    EXPECT_EQ(normal.hostOffset, 0x50000u);
    EXPECT_EQ(decodeL2Entry(0x50001, 16, true).kind, ClusterKind::Zero);
    // Version 2 has no zero flag: bit 0 is ignored.
    EXPECT_EQ(decodeL2Entry(0x50001, 16, false).kind, ClusterKind::Normal);
    EXPECT_EQ(decodeL2Entry(0x50200, 16, true).kind, ClusterKind::Invalid); // not cluster-aligned
    // 64 KiB clusters: the offset takes 54 bits, then the count of further sectors.
    const ClusterEntry packed = decodeL2Entry((1ull << 62) | (3ull << 54) | 0x12345, 16, true);
    EXPECT_EQ(packed.kind, ClusterKind::Compressed);
    EXPECT_EQ(packed.hostOffset, 0x12345u);
    EXPECT_EQ(packed.compressedBytes, 4 * 512u - 0x145);
}

TEST(Qcow2Layout, SubclusterBitmaps) {
    const ClusterEntry normal{ClusterKind::Normal, 0x10000, 0};
    const ClusterEntry none{};
    const std::uint64_t bitmap = 0b0101ull | (0b0010ull << 32) | (1ull << 3) | (1ull << 35);
    EXPECT_EQ(subclusterKind(normal, bitmap, 0), ClusterKind::Normal);
    EXPECT_EQ(subclusterKind(normal, bitmap, 1), ClusterKind::Zero);
    EXPECT_EQ(subclusterKind(normal, bitmap, 2), ClusterKind::Normal);
    EXPECT_EQ(subclusterKind(normal, bitmap, 3), ClusterKind::Invalid); // allocated and zero
    EXPECT_EQ(subclusterKind(normal, bitmap, 4), ClusterKind::Unallocated);
    EXPECT_EQ(subclusterKind(none, 1, 0), ClusterKind::Invalid); // allocated without an offset
}

TEST(Qcow2Layout, SnapshotTableEntriesAndATruncatedTable) {
    std::vector<std::uint8_t> t(200);
    auto entry = [&](std::size_t at, const std::string& id, const std::string& name, std::uint32_t extra) {
        Qcow2Image::putBe64(t, at, 0x30000);
        Qcow2Image::putBe32(t, at + 8, 2);
        t[at + 13] = static_cast<std::uint8_t>(id.size());
        t[at + 15] = static_cast<std::uint8_t>(name.size());
        Qcow2Image::putBe32(t, at + 16, 1700000000);
        Qcow2Image::putBe32(t, at + 36, extra);
        if (extra >= 16) Qcow2Image::putBe64(t, at + 48, 1 << 20);
        std::memcpy(t.data() + at + 40 + extra, id.data(), id.size());
        std::memcpy(t.data() + at + 40 + extra + id.size(), name.data(), name.size());
        return (40 + extra + id.size() + name.size() + 7) / 8 * 8;
    };
    const std::size_t second = entry(0, "1", "first", 16);
    entry(second, "2", "second", 0);
    const auto snaps = decodeSnapshots(t, 2);
    ASSERT_EQ(snaps.size(), 2u);
    EXPECT_EQ(snaps[0].name, "first");
    EXPECT_EQ(snaps[0].diskSize, 1u << 20);
    EXPECT_EQ(snaps[0].l1TableOffset, 0x30000u);
    EXPECT_EQ(snaps[1].id, "2");
    EXPECT_EQ(snaps[1].diskSize, 0u);
    EXPECT_EQ(decodeSnapshots(ByteSpan(t).first(second + 20), 2).size(), 1u);
    Qcow2Image::putBe32(t, 36, 0xFFFFFFF0); // extra data said to run past the table
    EXPECT_TRUE(decodeSnapshots(t, 2).empty());
}

TEST(Qcow2Layout, ExtensionsStopAtTheEndMarkerOrTheClustersEnd) {
    Qcow2Image img;
    img.backingFormat = "qcow2";
    img.backing = "base.qcow2";
    auto bytes = img.build();
    std::string problem;
    const auto h = decodeHeader(bytes, problem);
    ASSERT_TRUE(h);
    EXPECT_EQ(decodeExtensions(ByteSpan(bytes).first(4096), *h).backingFormat, "qcow2");
    // An extension whose length runs past the cluster ends the walk.
    Qcow2Image::putBe32(bytes, 104 + 4, 0xFFFFFF00);
    const Extensions e = decodeExtensions(ByteSpan(bytes).first(4096), *h);
    EXPECT_EQ(e.backingFormat, "");
}

TEST(Qcow2Layout, CompressedClustersInflateWholeOrNotAtAll) {
    Qcow2Image img;
    const std::vector<std::uint8_t> cluster(4096, 0x5A);
    img.addCompressed(0, cluster);
    const auto bytes = img.build();
    const std::uint64_t l2 = be64(bytes, 4096) & kOffsetMask;
    const ClusterEntry e = decodeL2Entry(be64(bytes, l2), 12, true);
    ASSERT_EQ(e.kind, ClusterKind::Compressed);
    std::vector<std::uint8_t> out(4096);
    EXPECT_TRUE(decompressCluster(ByteSpan(bytes).subspan(e.hostOffset, e.compressedBytes), out, 0));
    EXPECT_EQ(out, cluster);
    std::vector<std::uint8_t> big(8192);
    EXPECT_FALSE(decompressCluster(ByteSpan(bytes).subspan(e.hostOffset, e.compressedBytes), big, 0));
    const std::vector<std::uint8_t> garbage(64, 0xFF);
    EXPECT_FALSE(decompressCluster(garbage, out, 0));
    EXPECT_FALSE(decompressCluster(garbage, out, 1));
    EXPECT_FALSE(decompressCluster(garbage, out, 7));
    // A zstd frame followed by the rest of its last sector.
    std::vector<std::uint8_t> frame(ZSTD_compressBound(cluster.size()) + 300, 0xEE);
    const std::size_t n = ZSTD_compress(frame.data(), frame.size() - 300, cluster.data(), cluster.size(), 3);
    ASSERT_FALSE(ZSTD_isError(n));
    std::fill(out.begin(), out.end(), 0);
    EXPECT_TRUE(decompressCluster(ByteSpan(frame).first(n + 300), out, 1));
    EXPECT_EQ(out, cluster);
    EXPECT_FALSE(decompressCluster(ByteSpan(frame).first(n / 2), out, 1));
}

} // namespace
} // namespace vindaru
