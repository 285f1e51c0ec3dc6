// Byte fixtures for the record-level decoding: fix-up, attribute walk, run lists, LZNT1.
#include <gtest/gtest.h>

#include <numeric>

#include "fs/ntfs/Lznt1.h"
#include "fs/ntfs/MftRecord.h"
#include "fs/ntfs/NtfsImageBuilder.h"
#include "fs/ntfs/RunListDecoder.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

Bytes blankRecord(std::uint16_t firstAttribute = 0x38) {
    Bytes r(1024, 0);
    std::copy_n("FILE", 4, r.begin());
    put16(r, 0x04, 0x30);
    put16(r, 0x06, 3);
    put16(r, 0x14, firstAttribute);
    return r;
}

std::vector<AttributeHeader> walk(const Bytes& r) {
    std::vector<AttributeHeader> out;
    MftRecord::collectAttributes(r, out);
    return out;
}

} // namespace

TEST(MftFixup, RestoresSectorEndsFromTheArrayWithoutCheckingTheSequence) {
    Bytes r = blankRecord();
    r[510] = 0x11, r[511] = 0x22, r[1022] = 0x33, r[1023] = 0x44;
    NtfsImageBuilder::protect(r, 7);
    EXPECT_EQ(r[510], 7);
    r[1022] = 0x99; // a torn sector: the stored number no longer matches; used as it is
    Bytes fixed(1024);
    MftRecord::applyFixup(r, fixed);
    EXPECT_EQ(fixed[510], 0x11);
    EXPECT_EQ(fixed[511], 0x22);
    EXPECT_EQ(fixed[1022], 0x33);
    EXPECT_EQ(fixed[1023], 0x44);
}

TEST(MftFixup, A4096ByteRecordIsFixedUpAtEvery512BytesAndTheWalkReachesItsEnd) {
    Bytes r(4096, 0);
    std::copy_n("FILE", 4, r.begin());
    put16(r, 0x04, 0x30);
    put16(r, 0x06, 9); // the sequence number and eight sector ends
    put16(r, 0x30, 0x0505);
    for (int k = 1; k <= 8; ++k) {
        put16(r, 0x30 + 2 * k, static_cast<std::uint16_t>(0x1100 + k));
        put16(r, k * 512 - 2, 0x0505);
    }
    // An attribute past the first 1024 bytes.
    put16(r, 0x14, 0x800);
    put32(r, 0x800, 0x80);
    put32(r, 0x804, 0x18);
    put32(r, 0x818, 0xFFFFFFFF);
    MftRecord record;
    record.load(r);
    EXPECT_EQ(record.fixed().size(), 4096u);
    for (int k = 1; k <= 8; ++k) EXPECT_EQ(le16(record.fixed(), k * 512 - 2), 0x1100 + k) << k;
    ASSERT_EQ(record.attributes().size(), 2u);
    EXPECT_EQ(record.attributes()[0].type, 0x80u);
}

TEST(MftFixup, ArrayOffsetsAndCountsFromDiskCannotReachOutsideTheRecord) {
    Bytes r = blankRecord();
    r[510] = 0xAB;
    put16(r, 0x04, 1024); // array offset past the record: nothing is replaced
    put16(r, 0x06, 0xFFFF);
    Bytes fixed(1024);
    MftRecord::applyFixup(r, fixed);
    EXPECT_EQ(fixed, r);
    put16(r, 0x04, 1020); // the array's second and third entries lie past the record
    MftRecord::applyFixup(r, fixed);
    EXPECT_EQ(fixed[1022], 0);
    put16(r, 0x04, 0x30);
    put16(r, 0x06, 1); // only the sequence number itself: nothing to replace
    MftRecord::applyFixup(r, fixed);
    EXPECT_EQ(fixed[510], 0xAB);
    MftRecord::applyFixup(Bytes(10, 0xFF), fixed); // a short source is padded with zeros
    EXPECT_EQ(fixed[900], 0);
}

TEST(MftAttributeWalk, StopsAtTheEndMarkerAtALengthOfZeroAndPastTheRecord) {
    Bytes r = blankRecord();
    const Bytes a = NtfsImageBuilder::resident(0x10, Bytes(0x30, 1));
    std::copy(a.begin(), a.end(), r.begin() + 0x38);
    put32(r, 0x38 + a.size(), 0xFFFFFFFF);
    auto headers = walk(r);
    ASSERT_EQ(headers.size(), 2u);
    EXPECT_EQ(headers[0].type, 0x10u);
    EXPECT_EQ(headers[1].type, 0xFFFFFFFFu) << "the end marker is the last header kept";

    put32(r, 0x38 + 4, 0); // length 0: the walk cannot advance and stops there
    EXPECT_EQ(walk(r).size(), 1u);

    put32(r, 0x38 + 4, 0x00010000 | 0x3F0); // only the low 16 bits step; the next offset is past
    headers = walk(r);
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].length, 0x000103F0u);

    put16(r, 0x14, 0x3F8); // a header in the last 8 bytes reads its missing bytes as zero
    put32(r, 0x3F8, 0x30);
    put32(r, 0x3FC, 0x40);
    headers = walk(r);
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].type, 0x30u);
    EXPECT_TRUE(MftRecord::residentContent(r, headers[0]).empty());
}

TEST(MftAttributeWalk, ContentsAndRunListsAreClippedToTheRecord) {
    Bytes r = blankRecord(0x3C0);
    put32(r, 0x3C0, 0x80);
    put32(r, 0x3C4, 0x200);       // claims to run 0x200 bytes past its start
    put32(r, 0x3C0 + 0x10, 5000); // content length past the record
    put16(r, 0x3C0 + 0x14, 0x18);
    const auto h = walk(r).at(0);
    EXPECT_EQ(MftRecord::residentContent(r, h).size(), 1024u - 0x3D8);
    put16(r, 0x3C0 + 0x20, 0x30); // run list starts inside, ends at the record's end
    EXPECT_EQ(MftRecord::runListBytes(r, walk(r).at(0)).size(), 1024u - 0x3F0);
    put16(r, 0x3C0 + 0x20, 0x300); // run-list offset past the attribute's own length
    EXPECT_TRUE(MftRecord::runListBytes(r, walk(r).at(0)).empty());
}

TEST(RunList, DecodesFieldWidthsSignsAndSparseRuns) {
    Bytes list;
    for (const Bytes& b : {NtfsImageBuilder::run(0x20, 0x100, 1, 2),     // lcn 0x100
                           NtfsImageBuilder::run(0x10, -0x80, 1, 3),     // 3-byte negative
                           NtfsImageBuilder::run(0x08, 0, 1, 0),         // sparse
                           NtfsImageBuilder::run(0x1234, 0x10, 2, 1)})   // u16 length
        list.insert(list.end(), b.begin(), b.end());
    list.push_back(0);
    RunListDecoder d;
    std::vector<ClusterRun> runs;
    EXPECT_FALSE(d.decode(list, 0xFFFFFFFF, runs)) << "a zero header ends the list";
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0], (ClusterRun{0x100, 0x20, false}));
    EXPECT_EQ(runs[1], (ClusterRun{0x80, 0x10, false}));
    EXPECT_EQ(runs[2], (ClusterRun{0, 0x08, true})) << "a sparse run has lcn 0";
    EXPECT_EQ(runs[3], (ClusterRun{0x90, 0x1234, false})) << "the running LCN skips the sparse run";
    EXPECT_EQ(d.runningTotal, 0x20u + 0x10 + 0x08 + 0x1234);
}

TEST(RunList, EightByteFieldsKeepOnlyTheirLowFourBytes) {
    const Bytes list = NtfsImageBuilder::run(0xAAAAAAAA00000005ull, static_cast<std::int64_t>(0x7777777700000040ull), 8, 8);
    RunListDecoder d;
    std::vector<ClusterRun> runs;
    EXPECT_TRUE(d.decode(list, 0xFFFFFFFF, runs));
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].clusterCount, 5u);
    EXPECT_EQ(runs[0].lcn, 0x40);
    EXPECT_EQ(RunListDecoder::readOffset(Bytes{0x00, 0x00, 0x00, 0x80, 0x00}), std::int32_t(0x80000000u))
        << "five bytes, positive by their top byte, read as 32 bits";
    EXPECT_EQ(RunListDecoder::readOffset(Bytes{0xFF, 0xFF, 0x7F}), 0x7FFFFF);
    EXPECT_EQ(RunListDecoder::readOffset(Bytes{0x00, 0x00, 0x80}), -0x800000);
    EXPECT_EQ(RunListDecoder::readLength(Bytes{1, 2, 3}), 0x030201u);
}

TEST(RunList, RunsPastTheVcnRangeOrPastTheBytesAreNotTaken) {
    Bytes list;
    for (const Bytes& b : {NtfsImageBuilder::run(4, 10), NtfsImageBuilder::run(8, 10), NtfsImageBuilder::run(2, 10)})
        list.insert(list.end(), b.begin(), b.end());
    RunListDecoder d;
    std::vector<ClusterRun> runs;
    d.decode(list, 6, runs); // total 4 fits, 12 does not, 14 does not
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(d.runningLcn, 30) << "decoding goes on after a dropped run";

    const Bytes cut = {0x44, 0x01, 0x00}; // claims 8 field bytes, holds 2
    RunListDecoder d2;
    runs.clear();
    EXPECT_TRUE(d2.decode(cut, 100, runs));
    EXPECT_TRUE(runs.empty());

    RunListDecoder d3;
    runs.clear();
    EXPECT_FALSE(d3.decode(Bytes{0x00, 0x11, 0x05, 0x05}, 100, runs)) << "first header 0: no runs";
    EXPECT_TRUE(runs.empty());
}

TEST(Lznt1, CopiesStoredChunksAndResolvesBackReferences) {
    // "abc" as literals, then a reference 3 back for 9 bytes.
    const Bytes compressed = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20};
    Bytes out(64, 0xEE);
    auto r = lznt1Decompress(compressed, out);
    EXPECT_TRUE(r.ok);
    ASSERT_EQ(r.produced, 12u);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 12), "abcabcabcabc");

    Bytes stored = {0xFF, 0x3F};
    for (int i = 0; i < 4096; ++i) stored.push_back(static_cast<std::uint8_t>(i * 7));
    Bytes big(8192);
    r = lznt1Decompress(stored, big);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.produced, 4096u);
    EXPECT_EQ(big[4095], static_cast<std::uint8_t>(4095 * 7));
}

TEST(Lznt1, AShortChunkIsPaddedToAWholeChunkWhenAnotherFollows) {
    Bytes two = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20, 0x05, 0xB0, 0x08, 'x', 'y', 'z', 0x06, 0x20};
    Bytes out(8192, 0xEE);
    const auto r = lznt1Decompress(two, out);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.produced, 4096u + 12);
    EXPECT_EQ(out[100], 0);
    EXPECT_EQ(out[4096], 'x');
}

TEST(Lznt1, DamagedInputKeepsWhatWasDecodedAndReportsFailure) {
    // A reference 4 back when only 3 bytes exist.
    Bytes bad = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x30};
    Bytes out(64);
    auto r = lznt1Decompress(bad, out);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.produced, 3u);
    // A chunk that claims more bytes than the input holds.
    r = lznt1Decompress(Bytes{0xFF, 0xBF, 0x00, 'a'}, out);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.produced, 0u);
    // A reference as the first item of a chunk.
    r = lznt1Decompress(Bytes{0x02, 0xB0, 0x01, 0x00, 0x00}, out);
    EXPECT_FALSE(r.ok);
}

TEST(Lznt1, StopsAtTheOutputsEndAndAtAZeroHeader) {
    const Bytes compressed = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20, 0x00, 0x00, 0x05, 0xB0};
    Bytes small(5);
    auto r = lznt1Decompress(compressed, small);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.produced, 5u);
    Bytes out(64);
    r = lznt1Decompress(compressed, out);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.produced, 12u) << "the zero header ends the input";
}

TEST(Lznt1, OffsetBitsGrowWithThePositionInTheChunk) {
    // 20 literals, then at position 20 (11 length bits) a reference 20 back for 5 bytes.
    Bytes c = {0x00};
    Bytes data;
    for (int i = 0; i < 20; ++i) data.push_back(static_cast<std::uint8_t>('A' + i));
    data.insert(data.begin() + 0, 0x00);
    data.insert(data.begin() + 9, 0x00);
    data.insert(data.begin() + 18, 0x10); // flag byte for items 16..23: item 20 is a reference
    // items 16..19 are literals at data positions 19..22; then the token
    const std::uint16_t token = static_cast<std::uint16_t>(((20 - 1) << 11) | (5 - 3));
    data.push_back(static_cast<std::uint8_t>(token));
    data.push_back(static_cast<std::uint8_t>(token >> 8));
    const std::uint16_t header = static_cast<std::uint16_t>(0xB000 | (data.size() + 2 - 3));
    Bytes in = {static_cast<std::uint8_t>(header), static_cast<std::uint8_t>(header >> 8)};
    in.insert(in.end(), data.begin(), data.end());
    Bytes out(64);
    const auto r = lznt1Decompress(in, out);
    EXPECT_TRUE(r.ok);
    ASSERT_EQ(r.produced, 25u);
    EXPECT_EQ(std::string(out.begin() + 20, out.begin() + 25), "ABCDE");
}
