// FileReadSeekVmdkSplit over synthetic sets: descriptor mode, numbered pieces, missing pieces,
// positions at and past extent boundaries, and the fast paths against the sector loop.
#include <gtest/gtest.h>

#include <random>

#include "common/Session.h"
#include "image/FileReadSeekVmdkSplit.h"
#include "image/ReaderFactory.h"
#include "image/VmdkTestImages.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::ScratchDir;
using test::SparseVmdkBuilder;
using test::sectorPattern;

constexpr std::uint64_t kExtentSectors = 64;

// A sparse piece whose sectors carry the pattern of piece `salt`; grain 1 is a hole.
std::vector<std::uint8_t> sparsePiece(std::uint8_t salt) {
    SparseVmdkBuilder b(kExtentSectors, 8);
    b.salt(salt).headerOverride(28, 1, 8).headerOverride(36, 20, 8); // an area of zeros, as qemu-img
    for (std::uint64_t g = 0; g < kExtentSectors / 8; ++g)
        if (g != 1) b.allocate(g);
    return b.build();
}

// The sector `local` of piece `salt` as the reader must return it.
std::vector<std::uint8_t> pieceSector(std::uint8_t salt, std::uint64_t local) {
    if (local / 8 == 1) return std::vector<std::uint8_t>(512, 0);
    return sectorPattern(local, salt);
}

std::vector<std::uint8_t> flatPiece(std::uint8_t salt, std::uint64_t sectors) {
    std::vector<std::uint8_t> out;
    for (std::uint64_t s = 0; s < sectors; ++s) {
        const auto p = sectorPattern(s, salt);
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

struct Fixture {
    Session session;
    RecordingMessageSink messages;
    ScratchDir dir;
    Fixture() { session.messages = &messages; }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    void write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        test::writeFile(dir / name, bytes);
    }
    void writeText(const std::string& name, const std::string& text) const {
        write(name, std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    std::unique_ptr<FileReadSeekVmdkSplit> numbered(const std::string& chosen, const std::string& choice) {
        auto r = std::make_unique<FileReadSeekVmdkSplit>(session);
        r->extentTypeChoice = choice;
        EXPECT_TRUE(r->open(path(chosen)));
        session.diskSectorCount = sessionDiskSectors(*r, session.customDiskSectors);
        return r;
    }
    std::unique_ptr<FileReadSeekVmdkSplit> described(const std::string& descriptor) {
        auto r = std::make_unique<FileReadSeekVmdkSplit>(session);
        r->descriptorMode = true;
        EXPECT_TRUE(r->open(path(descriptor)));
        session.diskSectorCount = sessionDiskSectors(*r, session.customDiskSectors);
        return r;
    }
};

std::vector<std::uint8_t> sectorAt(readWriteInterface& r, std::uint64_t sector) {
    std::vector<std::uint8_t> out(512, 0xEE);
    EXPECT_TRUE(r.seek(static_cast<std::int64_t>(sector * 512), 0));
    EXPECT_TRUE(r.read(out.data(), out.size()));
    return out;
}

TEST(VmdkSplitReader, NumberedPiecesAreTakenInOrderFromAnyOfThem) {
    Fixture f;
    for (std::uint8_t n = 1; n <= 3; ++n) f.write("disk-s00" + std::to_string(n) + ".vmdk", sparsePiece(n));
    // Not piece 1, though its name ends in 1.vmdk; and a piece of another set.
    f.write("disk-s011.vmdk", sparsePiece(11));
    f.write("other-s001.vmdk", sparsePiece(99));
    auto r = f.numbered("disk-s002.vmdk", "SPARSE");
    ASSERT_EQ(r->extentReaders.size(), 3u);
    // Piece 11 without 4 to 10: the set has a gap after piece 3.
    EXPECT_EQ(r->missingExtents(), std::vector<std::string>{"disk-s004.vmdk"});
    EXPECT_EQ(f.session.diskSectorCount, 3 * kExtentSectors);
    EXPECT_EQ(sectorAt(*r, 0), pieceSector(1, 0));
    // The first sector of extent 2 is that file's own sector 0.
    EXPECT_EQ(sectorAt(*r, kExtentSectors), pieceSector(2, 0));
    EXPECT_EQ(sectorAt(*r, 2 * kExtentSectors + 5), pieceSector(3, 5));
}

TEST(VmdkSplitReader, AMissingPieceIsReportedAndEndsTheDisk) {
    Fixture f;
    f.write("disk-s001.vmdk", sparsePiece(1));
    f.write("disk-s003.vmdk", sparsePiece(3));
    auto r = f.numbered("disk-s001.vmdk", "SPARSE");
    ASSERT_EQ(r->extentReaders.size(), 1u);
    ASSERT_EQ(r->missingExtents(), std::vector<std::string>{"disk-s002.vmdk"});
    EXPECT_EQ(f.messages.texts(), std::vector<std::string>{"extent file missing: disk-s002.vmdk"});
    EXPECT_EQ(f.session.diskSectorCount, kExtentSectors);
    EXPECT_EQ(sectorAt(*r, kExtentSectors + 3), std::vector<std::uint8_t>(512, 0));
}

TEST(VmdkSplitReader, APieceWithAnUnusableHeaderIsReportedAndEndsTheDisk) {
    Fixture f;
    f.write("disk-s001.vmdk", sparsePiece(1));
    auto broken = sparsePiece(2);
    broken[44] = 0; // no entries per grain table
    broken[45] = 4; // 1024 entries per grain table: refused
    f.write("disk-s002.vmdk", broken);
    f.write("disk-s003.vmdk", sparsePiece(3));
    auto r = f.numbered("disk-s003.vmdk", "SPARSE");
    EXPECT_EQ(r->extentReaders.size(), 1u);
    EXPECT_EQ(r->missingExtents(), std::vector<std::string>{"disk-s002.vmdk"});
    EXPECT_EQ(f.session.diskSectorCount, kExtentSectors);
}

TEST(VmdkSplitReader, NameWithoutDashIsNotASplitFile) {
    Fixture f;
    f.write("disk.vmdk", sparsePiece(1));
    FileReadSeekVmdkSplit r(f.session);
    r.extentTypeChoice = "SPARSE";
    EXPECT_FALSE(r.open(f.path("disk.vmdk")));
    EXPECT_EQ(f.messages.texts(),
              std::vector<std::string>{
                  "Possibly not a split file . Go back and try without checking the split check box"});
}

TEST(VmdkSplitReader, TypedDiskSizeWins) {
    Fixture f;
    f.write("disk-s001.vmdk", sparsePiece(1));
    f.session.customDiskSectors = 2048;
    auto r = f.numbered("disk-s001.vmdk", "SPARSE");
    EXPECT_EQ(f.session.diskSectorCount, 2048u);
}

TEST(VmdkSplitReader, DescriptorSizeLimit) {
    for (const std::size_t size : {std::size_t{51199}, std::size_t{51200}}) {
        Fixture f;
        f.write("d-f001.vmdk", flatPiece(1, 8));
        std::string text = test::descriptorText("twoGbMaxExtentFlat", {"RW 8 FLAT \"d-f001.vmdk\" 0"});
        text.resize(size, '#');
        f.writeText("d.vmdk", text);
        FileReadSeekVmdkSplit r(f.session);
        r.descriptorMode = true;
        const bool accepted = size == 51199;
        EXPECT_EQ(r.open(f.path("d.vmdk")), accepted) << size;
        if (accepted) {
            EXPECT_TRUE(f.messages.texts().empty());
            EXPECT_EQ(r.declaredSectors(), 8u);
        } else {
            EXPECT_EQ(f.messages.texts(),
                      std::vector<std::string>{"file size greater than 50 kb .possibly not a descriptor file"});
        }
    }
}

TEST(VmdkSplitReader, FlatDescriptorSumsItsLinesSparseDescriptorTheCapacities) {
    Fixture f;
    f.write("flat-f001.vmdk", flatPiece(1, 16));
    f.write("flat-f002.vmdk", flatPiece(2, 24));
    f.writeText("flat.vmdk", test::descriptorText("twoGbMaxExtentFlat", {"RW 16 FLAT \"flat-f001.vmdk\" 0",
                                                                          "RW 24 FLAT \"flat-f002.vmdk\" 0"}));
    auto flat = f.described("flat.vmdk");
    EXPECT_EQ(flat->extentTypeChoice, "FLAT");
    EXPECT_EQ(f.session.diskSectorCount, 40u);
    EXPECT_EQ(sectorAt(*flat, 15), sectorPattern(15, 1));
    EXPECT_EQ(sectorAt(*flat, 16), sectorPattern(0, 2));

    f.write("sp-s001.vmdk", sparsePiece(1));
    f.write("sp-s002.vmdk", sparsePiece(2));
    // The lines' counts are not what counts for sparse extents: their headers are.
    f.writeText("sp.vmdk", test::descriptorText("twoGbMaxExtentSparse",
                                                {"RW 1 SPARSE \"sp-s001.vmdk\"", "RW 1 SPARSE \"sp-s002.vmdk\""}));
    auto sparse = f.described("sp.vmdk");
    EXPECT_EQ(f.session.diskSectorCount, 2 * kExtentSectors);
    EXPECT_EQ(sectorAt(*sparse, kExtentSectors + 8), pieceSector(2, 8));
}

TEST(VmdkSplitReader, ExtentNamesAreRelativeToTheDescriptorAndMayUseBackslashes) {
    Fixture f;
    std::filesystem::create_directories(f.dir / "sub");
    f.write("sub/p-f001.vmdk", flatPiece(1, 8));
    f.writeText("p.vmdk", test::descriptorText("twoGbMaxExtentFlat", {"RW 8 FLAT \"sub\\p-f001.vmdk\" 0"}));
    auto r = f.described("p.vmdk");
    ASSERT_EQ(r->extentReaders.size(), 1u);
    EXPECT_EQ(sectorAt(*r, 7), sectorPattern(7, 1));
}

TEST(VmdkSplitReader, UnopenableExtentIsReportedAndTheNextOneMovesUp) {
    Fixture f;
    f.write("m-s001.vmdk", sparsePiece(1));
    f.write("m-s003.vmdk", sparsePiece(3));
    f.writeText("m.vmdk", test::descriptorText("twoGbMaxExtentSparse",
                                               {"RW 64 SPARSE \"m-s001.vmdk\"", "RW 64 SPARSE \"m-s002.vmdk\"",
                                                "RW 64 SPARSE \"m-s003.vmdk\""}));
    auto r = f.described("m.vmdk");
    EXPECT_EQ(r->extents.size(), 3u);
    ASSERT_EQ(r->extentReaders.size(), 2u);
    EXPECT_EQ(r->missingExtents(), std::vector<std::string>{"m-s002.vmdk"});
    EXPECT_EQ(f.messages.texts(), std::vector<std::string>{"extent file missing: m-s002.vmdk"});
    EXPECT_EQ(f.session.diskSectorCount, 2 * kExtentSectors);
    EXPECT_EQ(sectorAt(*r, kExtentSectors), pieceSector(3, 0));
}

TEST(VmdkSplitReader, ManyMissingExtentsMakeOneMessage) {
    Fixture f;
    std::vector<std::string> lines;
    for (int i = 1; i <= 40; ++i) lines.push_back("RW 64 SPARSE \"gone-" + std::to_string(i) + ".vmdk\"");
    f.writeText("gone.vmdk", test::descriptorText("twoGbMaxExtentSparse", lines));
    auto r = f.described("gone.vmdk");
    EXPECT_EQ(r->missingExtents().size(), 40u);
    ASSERT_EQ(f.messages.texts().size(), 1u);
    EXPECT_EQ(f.messages.texts()[0].rfind("extent files missing: gone-1.vmdk, gone-2.vmdk, ", 0), 0u);
    EXPECT_NE(f.messages.texts()[0].find(" and 24 more"), std::string::npos);
}

TEST(VmdkSplitReader, SeeksMustBeAlignedAndNonNegative) {
    Fixture f;
    f.write("a-s001.vmdk", sparsePiece(1));
    auto r = f.numbered("a-s001.vmdk", "SPARSE");
    EXPECT_FALSE(r->seek(-512, 0));
    EXPECT_FALSE(r->seek(100, 0));
    std::vector<std::uint8_t> out(512);
    EXPECT_TRUE(r->readAt(100, out)) << "a positional read starts anywhere";
    // Past the last extent: zeros, not the bytes that follow in the last file read.
    EXPECT_TRUE(r->seek(10 * kExtentSectors * 512, 0));
    EXPECT_TRUE(r->read(out.data(), out.size()));
    EXPECT_EQ(out, std::vector<std::uint8_t>(512, 0));
}

// The same operations on a fast and a forced-slow reader give the same bytes, across extent
// boundaries, holes, reads without a seek and partial trailing sectors.
TEST(VmdkSplitReader, FastPathsMatchTheSectorLoop) {
    Fixture f;
    for (std::uint8_t n = 1; n <= 3; ++n) f.write("r-s00" + std::to_string(n) + ".vmdk", sparsePiece(n));
    auto fast = f.numbered("r-s001.vmdk", "SPARSE");
    auto slow = f.numbered("r-s001.vmdk", "SPARSE");
    slow->fastPathEnabled = false;
    for (auto* r : {fast.get(), slow.get()})
        for (auto& e : r->extentReaders) e->fastPathEnabled = r == fast.get();
    std::mt19937 rng(3);
    for (int op = 0; op < 800; ++op) {
        const std::uint64_t base = 0;
        const std::int64_t pos = static_cast<std::int64_t>(rng() % (3 * kExtentSectors + 10)) * 512;
        const std::size_t len = rng() % 3 == 0 ? rng() % 3000 : (rng() % 80) * 512;
        if (rng() % 4 != 0) {
            ASSERT_EQ(fast->seek(pos, 0), slow->seek(pos, 0));
        }
        std::vector<std::uint8_t> a(len, 1), b(len, 2);
        ASSERT_EQ(fast->read(a.data(), len), slow->read(b.data(), len)) << op;
        ASSERT_TRUE(a == b) << "op " << op;
        ASSERT_EQ(fast->position, slow->position);
        std::vector<std::uint8_t> c(len);
        fast->readAt(static_cast<std::uint64_t>(pos), c);
        for (std::size_t s = 0; s < len / 512; ++s) {
            const std::uint64_t sector = (static_cast<std::uint64_t>(pos) + base) / 512 + s;
            const auto want = sector < 3 * kExtentSectors
                                  ? pieceSector(static_cast<std::uint8_t>(sector / kExtentSectors + 1),
                                                sector % kExtentSectors)
                                  : std::vector<std::uint8_t>(512, 0);
            ASSERT_TRUE(std::equal(want.begin(), want.end(), c.begin() + static_cast<std::ptrdiff_t>(s * 512)))
                << "readAt sector " << sector;
        }
    }
}

} // namespace
} // namespace vindaru
