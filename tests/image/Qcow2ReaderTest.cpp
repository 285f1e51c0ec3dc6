// The QCOW2 reader on images built in memory: stored, compressed, zero and unallocated clusters,
// backing files (smaller ones too), extended L2 entries, and every kind of damage a map can hold.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/Session.h"
#include "image/FileReadSeekQcow2.h"
#include "image/Qcow2TestImages.h"
#include "image/ReadOnlyFile.h"

namespace vindaru {
namespace {

using test::Qcow2Image;

std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed * 13 + i * 5 + (i >> 8));
    return b;
}

class Qcow2ReaderTest : public ::testing::Test {
  protected:
    std::unique_ptr<FileReadSeekQcow2> open(Qcow2Image& img, const std::string& name = "disk.qcow2") {
        images_.push_back(std::make_unique<std::vector<std::uint8_t>>(img.build()));
        files_.add(name, *images_.back());
        auto r = std::make_unique<FileReadSeekQcow2>(session_);
        r->memoryFiles = &files_;
        if (!r->open(name)) {
            problem = r->openProblem();
            return nullptr;
        }
        return r;
    }
    static std::vector<std::uint8_t> read(const readWriteInterface& r, std::uint64_t at, std::size_t n,
                                          ReadReport* report = nullptr) {
        std::vector<std::uint8_t> out(n, 0xCC);
        r.readAt(at, out, report);
        return out;
    }
    static std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t n) {
        return {b.begin() + at, b.begin() + at + n};
    }
    static bool zeros(const std::vector<std::uint8_t>& b) {
        return std::all_of(b.begin(), b.end(), [](auto v) { return v == 0; });
    }

    std::string problem;
    Session session_;
    MemoryFiles files_;
    std::vector<std::unique_ptr<std::vector<std::uint8_t>>> images_;
};

TEST_F(Qcow2ReaderTest, StoredCompressedZeroAndUnallocatedClusters) {
    Qcow2Image img;
    const auto c0 = pattern(4096, 1), c1 = pattern(4096, 2), c3 = pattern(4096, 3);
    img.addCluster(0, c0);
    img.addCluster(1, c1); // right after cluster 0 in the file
    img.setEntry(2, 1);    // reads as zeros
    img.addCompressed(3, c3);
    auto r = open(img);
    ASSERT_TRUE(r) << problem;
    EXPECT_EQ(r->size(), 64u * 1024);
    EXPECT_EQ(r->kindText(), "qcow2 (v3)");
    ReadReport report;
    const auto bytes = read(*r, 100, 5 * 4096, &report);
    EXPECT_EQ(slice(bytes, 0, 3996), slice(c0, 100, 3996));
    EXPECT_EQ(slice(bytes, 3996, 4096), c1);
    EXPECT_TRUE(zeros(slice(bytes, 3996 + 4096, 4096)));
    EXPECT_EQ(slice(bytes, 3996 + 8192, 4096), c3);
    EXPECT_TRUE(zeros(slice(bytes, 3996 + 3 * 4096, 4196)));
    EXPECT_FALSE(report.damaged());
    EXPECT_EQ(report.holeBytes(), 4096u + 4196);
    // A compressed cluster read in pieces.
    EXPECT_EQ(read(*r, 3 * 4096 + 1000, 10), slice(c3, 1000, 10));
    EXPECT_EQ(read(*r, 3 * 4096 + 4000, 96), slice(c3, 4000, 96));
    EXPECT_TRUE(r->isHole(2 * 4096, 4096));
    EXPECT_TRUE(r->isHole(4 * 4096, 48 * 1024));
    EXPECT_FALSE(r->isHole(0, 3 * 4096));
    EXPECT_EQ(r->viewAt(4096 + 8, 8).size(), 8u);
    EXPECT_TRUE(r->viewAt(3 * 4096, 8).empty()); // compressed: not where it lies
    EXPECT_FALSE(r->parentLink());
}

TEST_F(Qcow2ReaderTest, VersionTwoTakesBitZeroAsPartOfNothing) {
    Qcow2Image img;
    img.version = 2;
    const auto c0 = pattern(4096, 4);
    const std::uint64_t at = img.addCluster(0, c0);
    img.setEntry(0, at | 1); // bit 0 is no zero flag in version 2
    auto r = open(img);
    ASSERT_TRUE(r) << problem;
    EXPECT_EQ(read(*r, 0, 4096), c0);
}

class Qcow2BackingTest : public Qcow2ReaderTest {
  protected:
    std::unique_ptr<FileReadSeekQcow2> base(std::uint64_t size = 64 * 1024) {
        Qcow2Image b;
        b.size = size;
        for (std::uint64_t c = 0; c < size / 4096; ++c) b.addCluster(c, slice(baseBytes, c * 4096, 4096));
        return open(b, "base.qcow2");
    }
    std::vector<std::uint8_t> baseBytes = pattern(64 * 1024, 9);
};

TEST_F(Qcow2BackingTest, UnallocatedClustersComeFromTheBackingFileZeroClustersDoNot) {
    Qcow2Image top;
    top.backing = "base.qcow2";
    top.backingFormat = "qcow2";
    const auto own = pattern(4096, 5);
    top.addCluster(1, own);
    top.setEntry(2, 1);
    auto r = open(top);
    ASSERT_TRUE(r) << problem;
    const auto link = r->parentLink();
    ASSERT_TRUE(link);
    EXPECT_EQ(link->candidatePaths, std::vector<std::string>{"base.qcow2"});
    EXPECT_EQ(link->formatHint, "qcow2");
    EXPECT_EQ(link->expectedId, "");
    r->attachParent(base());
    ReadReport report;
    const auto bytes = read(*r, 0, 4 * 4096, &report);
    EXPECT_FALSE(report.damaged());
    EXPECT_EQ(slice(bytes, 0, 4096), slice(baseBytes, 0, 4096));
    EXPECT_EQ(slice(bytes, 4096, 4096), own);
    EXPECT_TRUE(zeros(slice(bytes, 8192, 4096)));
    EXPECT_EQ(slice(bytes, 3 * 4096, 4096), slice(baseBytes, 3 * 4096, 4096));
    EXPECT_FALSE(r->isHole(0, 4096));
    EXPECT_TRUE(r->isHole(8192, 4096));
}

TEST_F(Qcow2BackingTest, ABackingFileSmallerThanTheDiskReadsAsZerosPastItsEnd) {
    Qcow2Image top;
    top.backing = "base.qcow2";
    auto r = open(top);
    ASSERT_TRUE(r) << problem;
    r->attachParent(base(8192));
    ReadReport report;
    const auto bytes = read(*r, 4096, 3 * 4096, &report);
    EXPECT_FALSE(report.damaged());
    EXPECT_EQ(slice(bytes, 0, 4096), slice(baseBytes, 4096, 4096));
    EXPECT_TRUE(zeros(slice(bytes, 4096, 8192)));
}

TEST_F(Qcow2BackingTest, WithoutItsBackingFileTheUnallocatedClustersAreMissing) {
    Qcow2Image top;
    top.backing = "base.qcow2";
    top.addCluster(0, pattern(4096, 5));
    auto r = open(top);
    ASSERT_TRUE(r) << problem;
    ReadReport report;
    read(*r, 0, 2 * 4096, &report);
    EXPECT_EQ(report.unreadableRanges(),
              (std::vector<ByteRange>{{4096, 4096, RangeKind::Unreadable, Damage::MissingParent}}));
}

TEST_F(Qcow2BackingTest, ExtendedEntriesMixSubclustersOfEveryKind) {
    Qcow2Image top;
    top.clusterBits = 15; // 32 KiB clusters of 1 KiB subclusters
    top.incompatible = qcow2::kIncompatibleExtendedL2;
    top.size = 64 * 1024;
    top.backing = "base.qcow2";
    const auto own = pattern(32 * 1024, 6);
    // Subclusters 0-1 stored, 2 zero, the rest from the backing file.
    top.addCluster(0, own, 0b11ull | (0b100ull << 32));
    auto r = open(top);
    ASSERT_TRUE(r) << problem;
    EXPECT_TRUE(r->structureLines()[1].find("subclusters of 1024 bytes") != std::string::npos);
    r->attachParent(base());
    ReadReport report;
    const auto bytes = read(*r, 0, 8 * 1024, &report);
    EXPECT_FALSE(report.damaged());
    EXPECT_EQ(slice(bytes, 0, 2048), slice(own, 0, 2048));
    EXPECT_TRUE(zeros(slice(bytes, 2048, 1024)));
    EXPECT_EQ(slice(bytes, 3072, 5120), slice(baseBytes, 3072, 5120));
    EXPECT_EQ(r->viewAt(512, 1024).size(), 1024u);
    EXPECT_TRUE(r->viewAt(1536, 1024).empty()); // reaches the zero subcluster
}

TEST_F(Qcow2ReaderTest, DamagedMapsAreReportedWhereTheyLie) {
    Qcow2Image img;
    img.size = 4 * 512 * 4096; // four L2 tables' worth
    img.l1Entries = 3;         // one short
    img.addCluster(0, pattern(4096, 1));
    img.setEntry(1, (1ull << 63) | (1ull << 40)); // past the file's end
    img.setEntry(2, (1ull << 63) | 0x3200);       // not cluster-aligned
    img.addCompressedRaw(3, std::vector<std::uint8_t>(40, 0xFF));
    img.setEntry(512, 0);                          // gives L1 entry 1 a table...
    auto bytes = img.build();
    // ...which is then pointed past the file.
    Qcow2Image::putBe64(bytes, 4096 + 8, (1ull << 63) | (1ull << 41));
    files_.add("damaged.qcow2", bytes);
    FileReadSeekQcow2 r(session_);
    r.memoryFiles = &files_;
    ASSERT_TRUE(r.open("damaged.qcow2")) << r.openProblem();
    ReadReport report;
    std::vector<std::uint8_t> out(4 * 4096);
    EXPECT_FALSE(r.readAt(0, out, &report));
    const std::vector<ByteRange> expected{{4096, 4096, RangeKind::Unreadable, Damage::PastEndOfFile},
                                          {8192, 4096, RangeKind::Unreadable, Damage::InvalidMapEntry},
                                          {12288, 4096, RangeKind::Unreadable, Damage::BadCompressedData}};
    EXPECT_EQ(report.unreadableRanges(), expected);
    out.assign(4096, 1);
    report.clear();
    EXPECT_FALSE(r.readAt(512 * 4096, out, &report));
    EXPECT_EQ(report.unreadableRanges()[0].reason, Damage::DamagedTable);
    EXPECT_FALSE(r.readAt(3 * 512 * 4096, out, &report)); // past the L1 table
    EXPECT_TRUE(zeros(out));
    std::vector<ByteRange> damage;
    r.describeDamage(damage);
    ASSERT_EQ(damage.size(), 4u);
    EXPECT_EQ(damage[0], expected[0]);
    EXPECT_EQ(damage[1], expected[1]);
    EXPECT_EQ(damage[2], (ByteRange{512 * 4096, 512 * 4096, RangeKind::Unreadable, Damage::DamagedTable}));
    EXPECT_EQ(damage[3], (ByteRange{3 * 512 * 4096, 512 * 4096, RangeKind::Unreadable, Damage::DamagedTable}));
    bool noted = false;
    for (const auto& line : r.structureLines()) noted |= line.find("L1 table has 3 entries of the 4") != std::string::npos;
    EXPECT_TRUE(noted);
}

TEST_F(Qcow2ReaderTest, RefusedImagesSayWhy) {
    Qcow2Image img;
    img.cryptMethod = 1;
    EXPECT_FALSE(open(img));
    EXPECT_NE(problem.find("encrypted (AES)"), std::string::npos);
    Qcow2Image backing;
    backing.backing = std::string(2000, 'x');
    EXPECT_FALSE(open(backing));
    EXPECT_NE(problem.find("1023"), std::string::npos);
    Qcow2Image huge;
    huge.l1Entries = 1u << 30;
    EXPECT_FALSE(open(huge));
    EXPECT_NE(problem.find("L1 table"), std::string::npos);
    Qcow2Image snap;
    FileReadSeekQcow2 r(session_);
    images_.push_back(std::make_unique<std::vector<std::uint8_t>>(snap.build()));
    files_.add("snap.qcow2", *images_.back());
    r.memoryFiles = &files_;
    r.snapshot = "nightly";
    EXPECT_FALSE(r.open("snap.qcow2"));
    EXPECT_NE(r.openProblem().find("no snapshot"), std::string::npos);
}

// A hostile L1 may point every entry at one empty L2 table: the next data is still found past
// them all, each table walked once.
TEST_F(Qcow2ReaderTest, NextDataPassesL1EntriesThatShareAnEmptyTable) {
    Qcow2Image img;
    img.size = 1ull << 30; // 512 L1 entries of 2 MiB each
    const std::uint64_t perStretch = img.l2Entries();
    const std::uint64_t last = 511 * perStretch + 7;
    img.setEntry(0, 1); // table 0 holds a zero cluster only
    img.addCluster(last, pattern(4096, 9));
    auto bytes = img.build();
    const std::uint64_t l1 = img.clusterSize();
    std::uint64_t table0 = 0;
    for (int i = 0; i < 8; ++i) table0 = table0 << 8 | bytes[l1 + i];
    for (std::uint64_t e = 1; e < 511; ++e)
        for (int i = 0; i < 8; ++i) bytes[l1 + e * 8 + i] = static_cast<std::uint8_t>(table0 >> (8 * (7 - i)));
    files_.add("shared.qcow2", bytes);
    FileReadSeekQcow2 r(session_);
    r.memoryFiles = &files_;
    ASSERT_TRUE(r.open("shared.qcow2")) << r.openProblem();
    EXPECT_EQ(r.nextData(0), last * 4096);
    EXPECT_EQ(r.nextData(5 * perStretch * 4096 + 3), last * 4096);
    EXPECT_EQ(read(r, last * 4096, 4096), pattern(4096, 9));
}

} // namespace
} // namespace vindaru
