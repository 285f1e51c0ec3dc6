// The VHDX reader on images built in memory: block states, differencing disks over their parent
// (sector bitmaps included), damaged headers and tables, the log replayed in memory or refused,
// and what `info` and `check` are told.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/Session.h"
#include "image/FileReadSeekVhdx.h"
#include "image/ReadOnlyFile.h"
#include "image/VhdxTestImages.h"

namespace vindaru {
namespace {

using test::patternBytes;
using test::VhdxImage;

constexpr std::uint64_t MiB = VhdxImage::kMiB;

class VhdxReaderTest : public ::testing::Test {
  protected:
    std::unique_ptr<FileReadSeekVhdx> open(const VhdxImage& img, const std::string& name = "disk.vhdx",
                                           bool ignoreLog = false) {
        images_.push_back(std::make_unique<std::vector<std::uint8_t>>(img.build()));
        files_.add(name, *images_.back());
        auto reader = std::make_unique<FileReadSeekVhdx>(session_);
        reader->memoryFiles = &files_;
        reader->ignoreLog = ignoreLog;
        if (!reader->open(name)) {
            problem = reader->openProblem();
            return nullptr;
        }
        return reader;
    }
    // Bytes of the image file last built, to damage.
    std::vector<std::uint8_t>& lastFile() { return *images_.back(); }

    static std::vector<std::uint8_t> read(const readWriteInterface& r, std::uint64_t at, std::size_t n,
                                          ReadReport* report = nullptr, bool* ok = nullptr) {
        std::vector<std::uint8_t> out(n, 0xCC);
        const bool good = r.readAt(at, out, report);
        if (ok) *ok = good;
        return out;
    }
    static bool allZero(const std::vector<std::uint8_t>& b) {
        return std::all_of(b.begin(), b.end(), [](std::uint8_t v) { return v == 0; });
    }
    static bool hasLine(const std::vector<std::string>& lines, const std::string& part) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }

    std::string problem;
    Session session_;
    MemoryFiles files_;
    std::vector<std::unique_ptr<std::vector<std::uint8_t>>> images_;
};

TEST_F(VhdxReaderTest, DynamicDiskReadsItsBlocksAndHolesAcrossBlockEdges) {
    VhdxImage img;
    img.virtualSize = 5 * MiB;
    const auto b0 = patternBytes(MiB, 1);
    const auto b1 = patternBytes(MiB, 2);
    const auto b4 = patternBytes(MiB, 4);
    img.addBlock(0, b0);
    img.addBlock(1, b1); // right after block 0 in the file: one read covers both
    img.addBlock(4, b4);
    img.setBat(3, 2, 0); // block 3: zero
    auto r = open(img);
    ASSERT_TRUE(r) << problem;
    EXPECT_EQ(r->size(), 5 * MiB);
    EXPECT_EQ(r->kindText(), "vhdx (dynamic)");
    EXPECT_EQ(r->logicalSectorSize(), 512u);

    ReadReport report;
    const auto bytes = read(*r, MiB - 100, 2 * MiB + 200, &report);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 100, b0.end() - 100));
    EXPECT_TRUE(std::equal(bytes.begin() + 100, bytes.begin() + 100 + MiB, b1.begin()));
    EXPECT_TRUE(std::all_of(bytes.begin() + 100 + MiB, bytes.end(), [](auto v) { return v == 0; }));
    EXPECT_EQ(report.holeBytes(), MiB + 100);
    EXPECT_FALSE(report.damaged());
    EXPECT_EQ(read(*r, 4 * MiB + 512, 512), std::vector<std::uint8_t>(b4.begin() + 512, b4.begin() + 1024));
    EXPECT_TRUE(r->isHole(2 * MiB, 2 * MiB));
    EXPECT_FALSE(r->isHole(MiB, 2 * MiB));
    const auto view = r->viewAt(MiB + 10, 100);
    ASSERT_EQ(view.size(), 100u);
    EXPECT_TRUE(std::equal(view.begin(), view.end(), b1.begin() + 10));
    std::vector<ByteRange> damage;
    r->describeDamage(damage);
    EXPECT_TRUE(damage.empty());
}

TEST_F(VhdxReaderTest, FourKiBSectorsAreReported) {
    VhdxImage img;
    img.logicalSector = 4096;
    auto r = open(img);
    ASSERT_TRUE(r) << problem;
    EXPECT_EQ(r->logicalSectorSize(), 4096u);
    EXPECT_TRUE(hasLine(r->structureLines(), "4096 logical"));
}

TEST_F(VhdxReaderTest, BlocksOutsideTheFileOrInInvalidStatesAreDamage) {
    VhdxImage img;
    img.virtualSize = 4 * MiB;
    img.addBlock(0, patternBytes(MiB, 1));
    img.setBat(1, 6, 512 * MiB); // past the file's end
    img.setBat(2, 5, 0);         // a state the format does not have
    img.setBat(3, 7, 4 * MiB);   // partially present in a disk without a parent
    auto r = open(img);
    ASSERT_TRUE(r) << problem;
    ReadReport report;
    bool ok = true;
    const auto bytes = read(*r, 0, 4 * MiB, &report, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(std::all_of(bytes.begin() + MiB, bytes.end(), [](auto v) { return v == 0; }));
    const auto bad = report.unreadableRanges();
    ASSERT_EQ(bad.size(), 2u);
    EXPECT_EQ(bad[0], (ByteRange{MiB, MiB, RangeKind::Unreadable, Damage::PastEndOfFile}));
    EXPECT_EQ(bad[1], (ByteRange{2 * MiB, 2 * MiB, RangeKind::Unreadable, Damage::InvalidMapEntry}));
    std::vector<ByteRange> damage;
    r->describeDamage(damage);
    EXPECT_EQ(damage, bad);
}

TEST_F(VhdxReaderTest, DamagedCurrentHeaderAndRegionTableFallBackToTheOthers) {
    VhdxImage img;
    img.corruptHeader2 = true;
    img.corruptRegionTable1 = true;
    img.addBlock(0, patternBytes(MiB, 9));
    auto r = open(img);
    ASSERT_TRUE(r) << problem;
    EXPECT_EQ(r->header().sequence, 1u);
    const auto lines = r->structureLines();
    EXPECT_TRUE(hasLine(lines, "damaged: header 2 (checksum mismatch); header 1 used"));
    EXPECT_TRUE(hasLine(lines, "damaged: region table 1 (checksum mismatch)"));
    // Though every byte still reads, the lost copies are damage: check's status and info's line.
    EXPECT_EQ(r->structuralDamage(), (std::vector<std::string>{"header 2 (checksum mismatch); header 1 used",
                                                              "region table 1 (checksum mismatch)"}));
    const auto expected = patternBytes(MiB, 9);
    EXPECT_EQ(read(*r, 0, 16), std::vector<std::uint8_t>(expected.begin(), expected.begin() + 16));
}

TEST_F(VhdxReaderTest, HostileMetadataIsRefusedWithAReason) {
    VhdxImage img;
    auto bytes = img.build();
    // No file identifier.
    std::vector<std::uint8_t> noIdent = bytes;
    noIdent[0] = 'X';
    files_.add("a.vhdx", noIdent);
    FileReadSeekVhdx a(session_);
    a.memoryFiles = &files_;
    EXPECT_FALSE(a.open("a.vhdx"));
    EXPECT_NE(a.openProblem().find("identifier"), std::string::npos);
    // A block size that is no power of two.
    img.blockSize = 3 * MiB;
    EXPECT_FALSE(open(img));
    EXPECT_NE(problem.find("block size"), std::string::npos);
    // A BAT region too short for the disk opens; the blocks it cannot map are a damaged table.
    VhdxImage cut;
    cut.virtualSize = 64 * MiB;
    cut.batRegionLength = 16; // two entries
    auto c = open(cut);
    ASSERT_TRUE(c) << problem;
    ReadReport report;
    std::vector<std::uint8_t> out(4 * MiB);
    EXPECT_FALSE(c->readAt(0, out, &report));
    EXPECT_EQ(report.unreadableBytes(), 2 * MiB);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](auto v) { return v == 0; }));
    EXPECT_TRUE(hasLine(c->structureLines(), "BAT region holds 2 entries of the 64"));
}

class VhdxDifferencingTest : public VhdxReaderTest {
  protected:
    // A 4 MiB parent whose every byte is the pattern of seed 7.
    std::unique_ptr<FileReadSeekVhdx> openParent() {
        VhdxImage parent;
        parent.dataWrite = VhdxImage::guid(0x42);
        for (std::uint64_t b = 0; b < 4; ++b)
            parent.addBlock(b, std::vector<std::uint8_t>(parentBytes.begin() + b * MiB, parentBytes.begin() + (b + 1) * MiB));
        return open(parent, "parent.vhdx");
    }
    VhdxImage child() {
        VhdxImage img;
        img.hasParent = true;
        img.locator = {{"parent_linkage", "{42424242-4242-4242-4242-424242424242}"},
                       {"relative_path", ".\\dir\\parent.vhdx"},
                       {"absolute_win32_path", "C:\\vms\\parent.vhdx"}};
        return img;
    }

    std::vector<std::uint8_t> parentBytes = patternBytes(4 * MiB, 7);
};

TEST_F(VhdxDifferencingTest, ChildTakesAbsentBlocksAndClearSectorsFromItsParent) {
    VhdxImage img = child();
    const auto own = patternBytes(MiB, 3);
    img.addBlock(0, own);
    // Block 1: sectors 8..15 of it in the child (block 1 starts at sector 2048 of the chunk).
    img.addBlock(1, own, 7);
    img.addBitmap(1, 2048 + 8, 8);
    img.setBat(img.geometry().payloadIndex(2), 2, 0); // zero: the parent is not asked
    auto r = open(img);
    ASSERT_TRUE(r) << problem;
    EXPECT_EQ(r->kindText(), "vhdx (differencing)");
    r->attachParent(openParent());

    ReadReport report;
    const auto bytes = read(*r, 0, 4 * MiB, &report);
    EXPECT_FALSE(report.damaged());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + MiB, own.begin()));
    for (std::uint64_t s = 0; s < 32; ++s) {
        const std::uint64_t at = MiB + s * 512;
        const bool fromChild = s >= 8 && s < 16;
        const auto& src = fromChild ? own : parentBytes;
        const std::uint64_t srcAt = fromChild ? s * 512 : at;
        EXPECT_TRUE(std::equal(bytes.begin() + at, bytes.begin() + at + 512, src.begin() + srcAt)) << "sector " << s;
    }
    EXPECT_TRUE(std::all_of(bytes.begin() + 2 * MiB, bytes.begin() + 3 * MiB, [](auto v) { return v == 0; }));
    EXPECT_TRUE(std::equal(bytes.begin() + 3 * MiB, bytes.end(), parentBytes.begin() + 3 * MiB));
    EXPECT_FALSE(r->isHole(3 * MiB, MiB)); // the parent's, not known to be empty
}

TEST_F(VhdxDifferencingTest, LinkNamesTheParentAndItsExpectedDataWriteId) {
    auto r = open(child());
    ASSERT_TRUE(r) << problem;
    const auto link = r->parentLink();
    ASSERT_TRUE(link);
    EXPECT_EQ(link->formatHint, "vhdx");
    EXPECT_EQ(link->expectedId, "{42424242-4242-4242-4242-424242424242}");
    ASSERT_GE(link->candidatePaths.size(), 3u);
    EXPECT_EQ(link->candidatePaths[0], "dir/parent.vhdx");
    EXPECT_EQ(link->candidatePaths[1], "parent.vhdx");
    auto parent = openParent();
    EXPECT_EQ(parent->layerId(), link->expectedId);
    EXPECT_FALSE(parent->parentLink());
}

TEST_F(VhdxDifferencingTest, WithoutItsParentTheChildsAbsentBlocksAndSectorsAreMissing) {
    VhdxImage img = child();
    const auto own = patternBytes(MiB, 3);
    img.addBlock(0, own);
    img.addBlock(1, own, 7);
    img.addBitmap(1, 2048 + 8, 8); // sectors 8-15 of block 1 in the child
    auto r = open(img);
    ASSERT_TRUE(r) << problem;
    ReadReport report;
    bool ok = true;
    const auto bytes = read(*r, 0, 3 * MiB, &report, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(std::equal(bytes.begin() + MiB + 4096, bytes.begin() + MiB + 8192, own.begin() + 4096));
    const std::vector<ByteRange> expected{{MiB, 4096, RangeKind::Unreadable, Damage::MissingParent},
                                          {MiB + 8192, 2 * MiB - 8192, RangeKind::Unreadable, Damage::MissingParent}};
    EXPECT_EQ(report.unreadableRanges(), expected);
    std::vector<ByteRange> damage;
    r->describeDamage(damage);
    EXPECT_EQ(damage, (std::vector<ByteRange>{expected[0], {MiB + 8192, 3 * MiB - 8192, RangeKind::Unreadable,
                                                             Damage::MissingParent}}));
}

TEST_F(VhdxDifferencingTest, APartiallyPresentBlockWithoutItsBitmapIsADamagedTable) {
    VhdxImage img = child();
    img.addBlock(0, patternBytes(MiB, 3), 7);
    auto r = open(img);
    ASSERT_TRUE(r) << problem;
    r->attachParent(openParent());
    ReadReport report;
    read(*r, 0, 4096, &report);
    EXPECT_EQ(report.unreadableRanges(),
              (std::vector<ByteRange>{{0, 4096, RangeKind::Unreadable, Damage::DamagedTable}}));
}

class VhdxLogReaderTest : public VhdxReaderTest {
  protected:
    // A disk whose BAT in the file says block 0 is absent, while its log says it was written.
    VhdxImage dirty() {
        VhdxImage img;
        img.logGuid = VhdxImage::guid(0x5A);
        const std::uint64_t at = img.addBlock(1, data); // block 1 in the file, to be moved by the log
        std::vector<std::uint8_t> batPage(4096);
        VhdxImage::put64(batPage, 0, (at / MiB) << 20 | 6);
        img.addLogEntry(0, 100, 0, {{VhdxImage::kBatOffset, batPage}}, at + MiB);
        return img;
    }
    std::vector<std::uint8_t> data = patternBytes(MiB, 5);
};

TEST_F(VhdxLogReaderTest, AnUnreplayedLogIsReplayedInMemoryOnly) {
    VhdxImage img = dirty();
    auto r = open(img);
    ASSERT_TRUE(r) << problem;
    const auto before = lastFile();
    EXPECT_EQ(read(*r, 0, MiB), data); // block 0 now where the log put it
    EXPECT_TRUE(allZero(read(*r, MiB, MiB))); // the logged BAT page says nothing of block 1
    EXPECT_TRUE(hasLine(r->structureLines(), "1 entries (sequence 100 to 100) replayed in memory"));
    EXPECT_EQ(lastFile(), before); // never written
}

TEST_F(VhdxLogReaderTest, ALogThatCannotBeReplayedIsReadWithoutOnlyByChoice) {
    VhdxImage img = dirty();
    img.addLogEntry(0, 100, 65536, {}); // replaces the entry with one whose tail is nowhere
    EXPECT_FALSE(open(img));
    EXPECT_NE(problem.find("log cannot be replayed"), std::string::npos);
    auto r = open(img, "again.vhdx", true);
    ASSERT_TRUE(r) << problem;
    EXPECT_TRUE(allZero(read(*r, 0, MiB)));  // as the file holds it
    EXPECT_EQ(read(*r, MiB, MiB), data);
    EXPECT_TRUE(hasLine(r->structureLines(), "Log: cannot be replayed"));
}

TEST_F(VhdxLogReaderTest, ALogRegionOutsideTheFileCannotBeReplayed) {
    VhdxImage img = dirty();
    auto bytes = img.build();
    // Header 2 (current) names a log at 1 TiB; its checksum redone.
    std::vector<std::uint8_t> h(bytes.begin() + vhdx::kHeader2Offset, bytes.begin() + vhdx::kHeader2Offset + 4096);
    VhdxImage::put64(h, vhdx::kHeaderLogOffset, 1ull << 40);
    VhdxImage::put32(h, vhdx::kHeaderChecksum, vhdx::crc32c(h, vhdx::kHeaderChecksum));
    std::copy(h.begin(), h.end(), bytes.begin() + vhdx::kHeader2Offset);
    files_.add("far.vhdx", bytes);
    FileReadSeekVhdx r(session_);
    r.memoryFiles = &files_;
    EXPECT_FALSE(r.open("far.vhdx"));
    EXPECT_NE(r.openProblem().find("outside the file"), std::string::npos);
}

} // namespace
} // namespace vindaru
