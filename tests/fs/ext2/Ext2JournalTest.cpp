// The journal walker on journals built byte by byte: every tag layout (8, 10, 12 and 16 bytes),
// escaped blocks, a log that wrapped over older transactions, and damaged or hostile journals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "fs/ext2/Ext2Journal.h"

namespace vindaru::test {
namespace {

constexpr std::uint32_t kBs = 1024;
constexpr std::uint32_t kMagic = 0xC03B3998;

enum Layout : std::uint32_t { Plain = 0, Wide = 0x02, CsumV2 = 0x08, CsumV3 = 0x10, WideV3 = 0x12 };

void be32At(std::vector<std::uint8_t>& j, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) j[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
void be16At(std::vector<std::uint8_t>& j, std::size_t at, std::uint16_t v) {
    j[at] = static_cast<std::uint8_t>(v >> 8);
    j[at + 1] = static_cast<std::uint8_t>(v);
}

struct Tag {
    std::uint64_t fsBlock;
    std::uint32_t flags = 0x2; // same UUID
};

class JournalImage {
public:
    JournalImage(std::uint32_t blocks, std::uint32_t incompat) : bytes(std::size_t{blocks} * kBs, 0), incompat_(incompat) {
        header(0, 4, 0);
        be32At(bytes, 0x0C, kBs);
        be32At(bytes, 0x10, blocks);
        be32At(bytes, 0x14, 1);
        be32At(bytes, 0x28, incompat);
    }
    void header(std::uint32_t block, std::uint32_t type, std::uint32_t sequence) {
        be32At(bytes, std::size_t{block} * kBs, kMagic);
        be32At(bytes, std::size_t{block} * kBs + 4, type);
        be32At(bytes, std::size_t{block} * kBs + 8, sequence);
    }
    void descriptor(std::uint32_t block, std::uint32_t sequence, std::vector<Tag> tags) {
        header(block, 1, sequence);
        std::size_t at = std::size_t{block} * kBs + 12;
        const bool v3 = incompat_ & CsumV3, wide = incompat_ & Wide;
        const std::size_t size = v3 ? 16 : 12 + ((incompat_ & CsumV2) ? 2 : 0) - (wide ? 0 : 4);
        for (std::size_t i = 0; i < tags.size(); ++i) {
            std::uint32_t flags = tags[i].flags | (i + 1 == tags.size() ? 0x8 : 0);
            be32At(bytes, at, static_cast<std::uint32_t>(tags[i].fsBlock));
            if (v3) be32At(bytes, at + 4, flags);
            else be16At(bytes, at + 6, static_cast<std::uint16_t>(flags));
            if (wide) be32At(bytes, at + 8, static_cast<std::uint32_t>(tags[i].fsBlock >> 32));
            at += size + ((flags & 0x2) ? 0 : 16);
        }
    }
    void fill(std::uint32_t block, std::uint8_t value) { std::memset(bytes.data() + std::size_t{block} * kBs, value, kBs); }
    // Reads covering the block `unreadable` fail, as a bad sector of the image would.
    Ext2JournalScan scan(std::uint64_t volumeBlocks = 1000, std::uint64_t unreadable = UINT64_MAX,
                         const Ext2JournalReader::BlockFn& onBlock = {}) const {
        return Ext2JournalReader::scan(
            kBs, bytes.size() / kBs, volumeBlocks,
            [&](std::uint64_t first, std::span<std::uint8_t> out) {
                if (first * kBs + out.size() > bytes.size()) return false;
                if (unreadable >= first && unreadable * kBs < first * kBs + out.size()) return false;
                std::memcpy(out.data(), bytes.data() + first * kBs, out.size());
                return true;
            },
            {}, onBlock);
    }
    std::vector<std::uint8_t> bytes;

private:
    std::uint32_t incompat_;
};

std::vector<std::tuple<std::uint64_t, std::uint64_t, std::uint32_t>> copiesOf(const Ext2JournalScan& s) {
    std::vector<std::tuple<std::uint64_t, std::uint64_t, std::uint32_t>> out;
    for (const auto& c : s.copies) out.emplace_back(c.fsBlock, c.journalBlock, c.sequence);
    return out;
}

class JournalLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(JournalLayouts, EveryTagLayoutNamesTheBlocksAfterItsDescriptor) {
    JournalImage j(16, GetParam());
    j.descriptor(1, 5, {{100, 0x2 | 0x1}, {200, 0x0}, {300}});
    j.fill(2, 0xAA);
    j.fill(3, 0xBB);
    j.fill(4, 0xCC);
    j.header(5, 2, 5); // commit
    j.header(6, 5, 6); // revoke with a count far past the block
    be32At(j.bytes, 6 * kBs + 12, 0xFFFFFFFF);
    j.descriptor(7, 6, {{100}});
    const Ext2JournalScan s = j.scan();
    ASSERT_TRUE(s.usable) << s.note;
    using C = std::tuple<std::uint64_t, std::uint64_t, std::uint32_t>;
    EXPECT_EQ(copiesOf(s), (std::vector<C>{{100, 2, 5}, {100, 8, 6}, {200, 3, 5}, {300, 4, 5}}));
    EXPECT_TRUE(s.copies[0].escaped);
    std::vector<std::uint8_t> block(kBs, 0);
    Ext2JournalReader::unescape(block, s.copies[0].escaped);
    EXPECT_EQ(block[0], 0xC0);
    EXPECT_EQ(block[3], 0x98);
}

INSTANTIATE_TEST_SUITE_P(Tags, JournalLayouts, ::testing::Values(Plain, Wide, CsumV2, CsumV3, WideV3));

TEST(Ext2Journal, AWrappedLogKeepsTheNewestClaimAndNoClaimOnAHeader) {
    JournalImage j(8, Plain);
    // Transaction 3 wrote blocks 2..4; transaction 9 ran from block 5 round to block 2. Block 1
    // still holds 3's descriptor (as if 9's data there had not been written).
    j.descriptor(1, 3, {{60}, {61}, {62}});
    j.descriptor(5, 9, {{70}, {71}, {72}, {73}});
    const Ext2JournalScan s = j.scan();
    ASSERT_TRUE(s.usable);
    using C = std::tuple<std::uint64_t, std::uint64_t, std::uint32_t>;
    EXPECT_EQ(copiesOf(s), (std::vector<C>{{61, 3, 3}, {62, 4, 3}, {70, 6, 9}, {71, 7, 9}, {73, 2, 9}}));
}

TEST(Ext2Journal, AnUnreadableBlockLosesOnlyItselfNotTheBlocksReadWithIt) {
    // Long enough that the log is read in several pieces; the bad block shares its piece with
    // two transactions and sits inside the data of one of them.
    JournalImage j(700, Plain);
    j.descriptor(3, 4, {{40}, {41}, {42}});
    j.header(7, 2, 4);
    j.descriptor(20, 5, {{50}});
    j.descriptor(401, 6, {{60}, {61}});
    const Ext2JournalScan whole = j.scan();
    ASSERT_TRUE(whole.usable);
    using C = std::tuple<std::uint64_t, std::uint64_t, std::uint32_t>;
    const std::vector<C> expected{{40, 4, 4}, {41, 5, 4}, {42, 6, 4}, {50, 21, 5}, {60, 402, 6}, {61, 403, 6}};
    EXPECT_EQ(copiesOf(whole), expected);
    // Block 5 holds a copy's bytes, not a header: the scan finds the same claims without it.
    EXPECT_EQ(copiesOf(j.scan(1000, 5)), expected);
    // An unreadable descriptor loses its own claims, and nothing else.
    EXPECT_EQ(copiesOf(j.scan(1000, 20)), (std::vector<C>{{40, 4, 4}, {41, 5, 4}, {42, 6, 4}, {60, 402, 6}, {61, 403, 6}}));
}

TEST(Ext2Journal, TheBlocksTheScanHandsOnAreTheStoredBytesOfThoseBlocks) {
    JournalImage j(700, Plain);
    for (std::uint32_t b = 1; b < 700; ++b) j.fill(b, static_cast<std::uint8_t>(b * 7));
    j.descriptor(3, 4, {{40}});
    std::map<std::uint64_t, int> seen;
    const auto check = [&](std::uint64_t block, ByteSpan bytes) {
        ++seen[block];
        ASSERT_EQ(bytes.size(), kBs);
        EXPECT_EQ(std::memcmp(bytes.data(), j.bytes.data() + block * kBs, kBs), 0) << block;
    };
    ASSERT_TRUE(j.scan(1000, UINT64_MAX, check).usable);
    // Every block of the log area once; the journal superblock is not part of it.
    EXPECT_EQ(seen.size(), 699u);
    EXPECT_EQ(seen.begin()->first, 1u);
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](const auto& s) { return s.second == 1; }));
    // A block that cannot be read is never handed on as if it had been.
    seen.clear();
    ASSERT_TRUE(j.scan(1000, 9, check).usable);
    EXPECT_EQ(seen.count(9), 0u);
    EXPECT_TRUE(seen.count(600));
}

TEST(Ext2Journal, BlocksOutsideTheVolumeAndEndlessTagListsStayBounded) {
    JournalImage j(8, WideV3);
    // Tags with other UUIDs and no last-tag flag fill the block; block numbers past the volume
    // (and past 32 bits) are dropped.
    std::vector<Tag> tags;
    for (int i = 0; i < 40; ++i) tags.push_back({i % 2 ? (std::uint64_t{1} << 40) : 5000u, 0});
    j.descriptor(1, 1, tags); // runs on into block 2: the walk stops at block 1's end
    const Ext2JournalScan s = j.scan(1000);
    EXPECT_TRUE(s.usable);
    EXPECT_TRUE(s.copies.empty());
}

TEST(Ext2Journal, ADamagedSuperblockSkipsTheJournalWithANote) {
    JournalImage bad(8, Plain);
    bad.bytes[0] ^= 0xFF;
    EXPECT_FALSE(bad.scan().usable);
    EXPECT_FALSE(bad.scan().note.empty());

    JournalImage size(8, Plain);
    be32At(size.bytes, 0x0C, 4096);
    EXPECT_FALSE(size.scan().usable);

    JournalImage first(8, Plain);
    be32At(first.bytes, 0x14, 8);
    EXPECT_FALSE(first.scan().usable);

    // A journal that claims more blocks than it has is walked as far as it goes.
    JournalImage longer(8, Plain);
    be32At(longer.bytes, 0x10, 0xFFFFFFFF);
    longer.descriptor(6, 2, {{40}});
    const Ext2JournalScan s = longer.scan();
    ASSERT_TRUE(s.usable);
    ASSERT_EQ(s.copies.size(), 1u);
    EXPECT_EQ(s.copies[0].journalBlock, 7u);
}

} // namespace
} // namespace vindaru::test
