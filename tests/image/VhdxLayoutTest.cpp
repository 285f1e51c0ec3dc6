// The VHDX structure decoders on byte fixtures: checksums, headers and the choice between them,
// GUID texts, the disk geometry the metadata gives, the parent locator, and the log's replay.
#include <gtest/gtest.h>

#include "image/VhdxLayout.h"
#include "image/VhdxTestImages.h"

namespace vindaru {
namespace {

using namespace vhdx;
using test::VhdxImage;

std::vector<std::uint8_t> headerBytes(std::uint64_t sequence, bool goodChecksum) {
    std::vector<std::uint8_t> h(kHeaderSize);
    std::memcpy(h.data(), "head", 4);
    VhdxImage::put64(h, kHeaderSequence, sequence);
    VhdxImage::put16(h, kHeaderVersion, 1);
    VhdxImage::put32(h, kHeaderChecksum, crc32c(h, kHeaderChecksum) + (goodChecksum ? 0 : 1));
    return h;
}

TEST(VhdxLayout, Crc32cIsCastagnoli) {
    const std::string text = "123456789";
    EXPECT_EQ(crc32c(ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())), 0xE3069283u);
}

TEST(VhdxLayout, CurrentHeaderIsTheValidOneWithTheLargerSequence) {
    const Header one = decodeHeader(headerBytes(5, true));
    const Header two = decodeHeader(headerBytes(9, true));
    EXPECT_TRUE(one.usable());
    EXPECT_EQ(currentHeader(one, two), 1);
    EXPECT_EQ(currentHeader(two, one), 0);
    // The newer one damaged: the older one is the fallback.
    const Header damaged = decodeHeader(headerBytes(9, false));
    EXPECT_FALSE(damaged.checksumOk);
    EXPECT_EQ(currentHeader(one, damaged), 0);
    EXPECT_EQ(currentHeader(damaged, damaged), -1);
    // A short span is no header at all.
    EXPECT_FALSE(decodeHeader(ByteSpan(headerBytes(1, true)).first(100)).usable());
}

TEST(VhdxLayout, GuidTextsRoundTripAndRejectNonsense) {
    const Guid g = kBatRegion;
    EXPECT_EQ(guidText(g), "{2dc27766-f623-4200-9d64-115e9bfd4a08}");
    EXPECT_EQ(parseGuid("2DC27766-F623-4200-9D64-115E9BFD4A08"), g);
    EXPECT_EQ(parseGuid("{2dc27766-f623-4200-9d64-115e9bfd4a08}"), g);
    EXPECT_FALSE(parseGuid("{2dc27766-f623-4200-9d64-115e9bfd4a0}"));
    EXPECT_FALSE(parseGuid("2dc27766+f623-4200-9d64-115e9bfd4a08"));
    EXPECT_FALSE(parseGuid("zzc27766-f623-4200-9d64-115e9bfd4a08"));
    EXPECT_FALSE(parseGuid(""));
}

TEST(VhdxLayout, GeometryInterleavesBitmapEntries) {
    std::string problem;
    // 1 MiB blocks of 512-byte sectors: 4096 blocks a chunk.
    auto g = makeGeometry(1 << 20, 512, 10000ull << 20, false, problem);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->chunkRatio, 4096u);
    EXPECT_EQ(g->dataBlocks, 10000u);
    EXPECT_EQ(g->batEntries, 10000u + 2);
    EXPECT_EQ(g->payloadIndex(4096), 4097u);
    EXPECT_EQ(g->bitmapIndex(4095), 4096u);
    // A differencing disk holds every chunk's bitmap entry.
    g = makeGeometry(1 << 20, 512, 10000ull << 20, true, problem);
    EXPECT_EQ(g->batEntries, 3u * 4097);
    // 256 MiB blocks of 4 KiB sectors: 128 blocks a chunk.
    g = makeGeometry(256 << 20, 4096, 1ull << 40, false, problem);
    EXPECT_EQ(g->chunkRatio, 128u);

    EXPECT_FALSE(makeGeometry(3 << 20, 512, 1 << 30, false, problem));
    EXPECT_FALSE(makeGeometry(512 << 10, 512, 1 << 30, false, problem));
    EXPECT_FALSE(makeGeometry(1 << 20, 1024, 1 << 30, false, problem));
    EXPECT_FALSE(makeGeometry(1 << 20, 4096, (1 << 30) + 512, false, problem));
    EXPECT_FALSE(makeGeometry(1 << 20, 512, 0, false, problem));
    EXPECT_FALSE(makeGeometry(1 << 20, 512, ~0ull << 9, false, problem));
    EXPECT_NE(problem, "");
}

TEST(VhdxLayout, ParentLocatorKeysAndValues) {
    VhdxImage img;
    img.hasParent = true;
    img.locator = {{"parent_linkage", "{11111111-2222-3333-4444-555555555555}"},
                   {"relative_path", ".\\base.vhdx"}};
    const auto bytes = img.build();
    const auto table = decodeMetadataTable(ByteSpan(bytes).subspan(VhdxImage::kMetadataOffset, kMetadataTableSize));
    ASSERT_TRUE(table);
    const MetadataEntry* locatorEntry = nullptr;
    for (const auto& e : *table)
        if (e.item == kParentLocatorItem) locatorEntry = &e;
    ASSERT_NE(locatorEntry, nullptr);
    auto item = ByteSpan(bytes).subspan(VhdxImage::kMetadataOffset + locatorEntry->offset, locatorEntry->length);
    const auto loc = decodeParentLocator(item);
    ASSERT_TRUE(loc);
    EXPECT_EQ(loc->type, kVhdxParentLocatorType);
    EXPECT_EQ(loc->value("relative_path"), ".\\base.vhdx");
    EXPECT_EQ(loc->value("absent"), "");
    // A value said to run past the item is refused, not read beyond it.
    std::vector<std::uint8_t> broken(item.begin(), item.end());
    VhdxImage::put16(broken, 20 + 10, 0xFFFF);
    EXPECT_FALSE(decodeParentLocator(broken));
    EXPECT_FALSE(decodeParentLocator(ByteSpan(broken).first(10)));
}

class VhdxLogTest : public ::testing::Test {
  protected:
    VhdxLogTest() { img.logGuid = VhdxImage::guid(0x5A); }

    LogReplay replay() {
        const auto bytes = img.build();
        return replayLog(ByteSpan(bytes).subspan(VhdxImage::kLogOffset, VhdxImage::kLogLength), img.logGuid);
    }
    static std::vector<std::uint8_t> page(std::uint8_t fill) { return std::vector<std::uint8_t>(4096, fill); }

    VhdxImage img;
};

TEST_F(VhdxLogTest, ASequenceIsReplayedInOrderLaterWritesWinning) {
    img.addLogEntry(0, 10, 0, {{8 << 20, page(1)}, {9 << 20, page(2)}});
    img.addLogEntry(12288, 11, 0, {{8 << 20, {}, 8192}, {(8 << 20) + 4096, page(3)}});
    const LogReplay r = replay();
    ASSERT_EQ(r.outcome, LogReplay::Outcome::Replayed) << r.problem;
    EXPECT_EQ(r.entries, 2u);
    EXPECT_EQ(r.lastSequence, 11u);
    std::vector<std::uint8_t> file(3 * 4096, 0xEE);
    EXPECT_TRUE(r.overlay.apply(8 << 20, file));
    EXPECT_EQ(file[0], 0);        // zeroed by the later entry
    EXPECT_EQ(file[4096], 3);     // written after the zeros
    EXPECT_EQ(file[8191], 3);     // trailing bytes restored from the descriptor
    EXPECT_EQ(file[8192], 0xEE);  // untouched
    std::vector<std::uint8_t> other(4096);
    EXPECT_TRUE(r.overlay.apply(9 << 20, other));
    EXPECT_EQ(other, page(2));
    EXPECT_FALSE(r.overlay.touches(10 << 20, 4096));
}

TEST_F(VhdxLogTest, ATornNewestEntryLeavesTheOlderSequence) {
    img.addLogEntry(0, 10, 0, {{8 << 20, page(1)}});
    img.addLogEntry(8192, 11, 0, {{8 << 20, page(2)}});
    auto bytes = img.build();
    bytes[VhdxImage::kLogOffset + 8192 + 4096 + 100] ^= 0xFF; // the newer entry's data sector
    const LogReplay r = replayLog(ByteSpan(bytes).subspan(VhdxImage::kLogOffset, VhdxImage::kLogLength), img.logGuid);
    ASSERT_EQ(r.outcome, LogReplay::Outcome::Replayed);
    EXPECT_EQ(r.lastSequence, 10u);
    std::vector<std::uint8_t> file(4096);
    r.overlay.apply(8 << 20, file);
    EXPECT_EQ(file, page(1));
}

TEST_F(VhdxLogTest, EntriesOfAnotherLogOrNoneAtAllReplayNothing) {
    EXPECT_EQ(replay().outcome, LogReplay::Outcome::Empty);
    img.addLogEntry(0, 10, 0, {{8 << 20, page(1)}});
    const auto bytes = img.build();
    const LogReplay r = replayLog(ByteSpan(bytes).subspan(VhdxImage::kLogOffset, VhdxImage::kLogLength),
                                  VhdxImage::guid(0x77));
    EXPECT_EQ(r.outcome, LogReplay::Outcome::Empty);
}

TEST_F(VhdxLogTest, ASequenceWhoseTailIsMissingCannotBeReplayed) {
    // The entry says its sequence began at 64 KiB, where nothing valid lies.
    img.addLogEntry(0, 10, 65536, {{8 << 20, page(1)}});
    const LogReplay r = replay();
    EXPECT_EQ(r.outcome, LogReplay::Outcome::Failed);
    EXPECT_NE(r.problem, "");
}

TEST_F(VhdxLogTest, ASequenceMayWrapAroundTheLogsEnd) {
    const std::uint64_t last = VhdxImage::kLogLength - 8192;
    img.addLogEntry(last, 20, last, {{8 << 20, page(4)}});
    img.addLogEntry(0, 21, last, {{8 << 20, page(5)}});
    const LogReplay r = replay();
    ASSERT_EQ(r.outcome, LogReplay::Outcome::Replayed) << r.problem;
    EXPECT_EQ(r.entries, 2u);
    std::vector<std::uint8_t> file(4096);
    r.overlay.apply(8 << 20, file);
    EXPECT_EQ(file, page(5));
}

TEST_F(VhdxLogTest, UnalignedOrOverflowingDescriptorsMakeAnEntryInvalid) {
    img.addLogEntry(0, 10, 0, {{(8 << 20) + 512, page(1)}});
    EXPECT_EQ(replay().outcome, LogReplay::Outcome::Empty);
    VhdxImage other;
    other.logGuid = img.logGuid;
    other.addLogEntry(0, 10, 0, {{~0ull << 12, {}, 1ull << 40}});
    const auto bytes = other.build();
    EXPECT_EQ(replayLog(ByteSpan(bytes).subspan(VhdxImage::kLogOffset, VhdxImage::kLogLength), img.logGuid).outcome,
              LogReplay::Outcome::Empty);
}

} // namespace
} // namespace vindaru
