// FileReadSeekVmdkSplit over synthetic sets: descriptor mode, numbered pieces, missing pieces
// that keep their places, positions at and past extent boundaries.
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

std::vector<std::uint8_t> sectorAt(const readWriteInterface& r, std::uint64_t sector, ReadReport* report = nullptr) {
    std::vector<std::uint8_t> out(512, 0xEE);
    r.readAt(sector * 512, out, report);
    return out;
}

const std::vector<std::uint8_t> kZeroSector(512, 0);

TEST(VmdkSplitReader, NumberedPiecesAreTakenInOrderFromAnyOfThem) {
    Fixture f;
    for (std::uint8_t n = 1; n <= 3; ++n) f.write("disk-s00" + std::to_string(n) + ".vmdk", sparsePiece(n));
    auto r = f.numbered("disk-s002.vmdk", "SPARSE");
    EXPECT_TRUE(r->missingExtents().empty());
    EXPECT_EQ(f.session.diskSectorCount, 3 * kExtentSectors);
    EXPECT_EQ(sectorAt(*r, 0), pieceSector(1, 0));
    // The first sector of extent 2 is that file's own sector 0.
    EXPECT_EQ(sectorAt(*r, kExtentSectors), pieceSector(2, 0));
    EXPECT_EQ(sectorAt(*r, 2 * kExtentSectors + 5), pieceSector(3, 5));
    ReadReport report;
    EXPECT_EQ(sectorAt(*r, kExtentSectors + 9, &report), kZeroSector);
    EXPECT_EQ(report.holeBytes(), 512u);
}

// A missing piece (absent, or there but unusable) is unreadable where it lies; the pieces after
// it keep their places, and one numbered far beyond does not make the disk huge.
TEST(VmdkSplitReader, AMissingPieceKeepsItsPlace) {
    Fixture f;
    f.write("disk-s001.vmdk", sparsePiece(1));
    auto broken = sparsePiece(4);
    broken[44] = 0;
    broken[45] = 4; // 1024 entries per grain table: refused
    f.write("disk-s003.vmdk", sparsePiece(3));
    f.write("disk-s004.vmdk", broken);
    f.write("disk-s005.vmdk", sparsePiece(5));
    f.write("disk-s999.vmdk", sparsePiece(9));
    auto r = f.numbered("disk-s003.vmdk", "SPARSE");
    ASSERT_EQ(r->missingExtents().size(), 2u);
    EXPECT_EQ(r->missingExtents()[0], "disk-s002.vmdk");
    EXPECT_EQ(r->missingExtents()[1], "disk-s004.vmdk");
    EXPECT_EQ(sectorAt(*r, 2 * kExtentSectors + 3), pieceSector(3, 3));
    EXPECT_EQ(sectorAt(*r, 4 * kExtentSectors + 3), pieceSector(5, 3));
    ReadReport report;
    EXPECT_EQ(sectorAt(*r, kExtentSectors + 3, &report), kZeroSector);
    EXPECT_EQ(report.unreadableRanges().at(0).reason, Damage::MissingExtent);
    EXPECT_EQ(r->missingExtents().size(), 2u);
    EXPECT_EQ(f.session.diskSectorCount, 5 * kExtentSectors);
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

// The descriptor's lines give every extent its size, flat or sparse: a sparse extent whose
// header says less than its line is a hole for the rest.
TEST(VmdkSplitReader, TheDescriptorsLinesGiveTheExtentsTheirPlaces) {
    Fixture f;
    f.write("flat-f001.vmdk", flatPiece(1, 16));
    f.write("flat-f002.vmdk", flatPiece(2, 24));
    f.writeText("flat.vmdk", test::descriptorText("twoGbMaxExtentFlat", {"RW 16 FLAT \"flat-f001.vmdk\" 0",
                                                                          "RW 24 FLAT \"flat-f002.vmdk\" 0"}));
    auto flat = f.described("flat.vmdk");
    EXPECT_EQ(f.session.diskSectorCount, 40u);
    EXPECT_EQ(sectorAt(*flat, 15), sectorPattern(15, 1));
    EXPECT_EQ(sectorAt(*flat, 16), sectorPattern(0, 2));

    f.write("sp-s001.vmdk", sparsePiece(1));
    f.write("sp-s002.vmdk", sparsePiece(2));
    f.writeText("sp.vmdk", test::descriptorText("twoGbMaxExtentSparse",
                                                {"RW 80 SPARSE \"sp-s001.vmdk\"", "RW 64 SPARSE \"sp-s002.vmdk\""}));
    auto sparse = f.described("sp.vmdk");
    EXPECT_EQ(f.session.diskSectorCount, 80 + kExtentSectors);
    EXPECT_EQ(sectorAt(*sparse, 70), kZeroSector);
    EXPECT_EQ(sectorAt(*sparse, 80 + 8), pieceSector(2, 8));
}

TEST(VmdkSplitReader, ExtentNamesAreRelativeToTheDescriptorAndMayUseBackslashes) {
    Fixture f;
    std::filesystem::create_directories(f.dir / "sub");
    f.write("sub/p-f001.vmdk", flatPiece(1, 8));
    f.writeText("p.vmdk", test::descriptorText("twoGbMaxExtentFlat", {"RW 8 FLAT \"sub\\p-f001.vmdk\" 0"}));
    auto r = f.described("p.vmdk");
    EXPECT_TRUE(r->missingExtents().empty());
    EXPECT_EQ(sectorAt(*r, 7), sectorPattern(7, 1));
}

TEST(VmdkSplitReader, AnExtentThatCannotBeOpenedIsReportedAndTheNextOneStaysInPlace) {
    Fixture f;
    f.write("m-s001.vmdk", sparsePiece(1));
    f.write("m-s003.vmdk", sparsePiece(3));
    f.writeText("m.vmdk", test::descriptorText("twoGbMaxExtentSparse",
                                               {"RW 64 SPARSE \"m-s001.vmdk\"", "RW 64 SPARSE \"m-s002.vmdk\"",
                                                "RW 64 SPARSE \"m-s003.vmdk\""}));
    auto r = f.described("m.vmdk");
    EXPECT_EQ(r->missingExtents(), std::vector<std::string>{"m-s002.vmdk"});
    EXPECT_EQ(f.messages.texts(), std::vector<std::string>{"extent file missing: m-s002.vmdk"});
    EXPECT_EQ(f.session.diskSectorCount, 3 * kExtentSectors);
    EXPECT_EQ(sectorAt(*r, 2 * kExtentSectors), pieceSector(3, 0));
    ReadReport report;
    EXPECT_EQ(sectorAt(*r, kExtentSectors, &report), kZeroSector);
    EXPECT_EQ(report.unreadableRanges().at(0).reason, Damage::MissingExtent);
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

} // namespace
} // namespace vindaru
