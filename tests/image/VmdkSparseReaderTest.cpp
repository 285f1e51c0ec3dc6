// FileReadSeekVmdk over synthetic sparse and flat extents: mapping, holes, the cursor quirks,
// hostile headers, and the fast paths against the sector-by-sector path.
#include <gtest/gtest.h>

#include <random>

#include "common/Session.h"
#include "image/FileReadSeekVmdk.h"
#include "image/ReaderFactory.h"
#include "image/VmdkTestImages.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::ScratchDir;
using test::sectorPattern;
using test::SparseVmdkBuilder;

std::vector<std::uint8_t> zeros(std::size_t n) {
    return std::vector<std::uint8_t>(n, 0);
}

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& v, std::uint64_t at,
                                std::uint64_t n) {
    std::vector<std::uint8_t> out(n, 0);
    for (std::uint64_t i = 0; i < n && at + i < v.size(); ++i)
        out[i] = v[at + i];
    return out;
}

struct Opened {
    Session session;
    ScratchDir dir;
    std::unique_ptr<FileReadSeekVmdk> reader;
    std::string path;
};

std::unique_ptr<Opened> openImage(const std::vector<std::uint8_t>& bytes,
                                  const std::string& choice = "SPARSE") {
    auto o = std::make_unique<Opened>();
    o->path = (o->dir / "disk.vmdk").string();
    test::writeFile(o->path, bytes);
    o->reader = std::make_unique<FileReadSeekVmdk>(o->session);
    o->reader->extentTypeChoice = choice;
    EXPECT_TRUE(o->reader->open(o->path));
    o->session.diskSectorCount = sessionDiskSectors(*o->reader, o->session.customDiskSectors);
    return o;
}

std::vector<std::uint8_t> seekRead(readWriteInterface& r, std::int64_t pos, std::size_t n,
                                   bool* ok = nullptr) {
    std::vector<std::uint8_t> out(n, 0xEE);
    const bool s = r.seek(pos, 0);
    const bool rd = r.read(out.data(), n);
    if (ok) *ok = s && rd;
    return out;
}

// The bytes at pos (past the disk's end, unreadable zeros).
std::vector<std::uint8_t> readAtBytes(readWriteInterface& r, std::uint64_t pos, std::size_t n) {
    std::vector<std::uint8_t> out(n, 0xEE);
    EXPECT_EQ(r.readAt(pos, out), n == 0 || (pos < r.size() && n <= r.size() - pos));
    return out;
}

TEST(VmdkSparseReader, OpenReadsGeometryDescriptorAndAddsDiskSize) {
    SparseVmdkBuilder b(4096, 16);
    b.standardDescriptor().allocate(3);
    auto o = openImage(b.build());
    FileReadSeekVmdk& r = *o->reader;
    EXPECT_EQ(r.grainSize, 16u);
    EXPECT_EQ(r.gtesPerGrainTable, 512u);
    EXPECT_EQ(r.sectorsPerGrainTable, 16u * 512);
    EXPECT_EQ(r.grainDirectoryCount, 1u);
    EXPECT_EQ(r.capacitySectors(), 4096u);
    EXPECT_EQ(r.createType, "monolithicSparse");
    EXPECT_EQ(r.formatVersion, "1\n");
    EXPECT_EQ(r.contentId, "12345678\n");
    EXPECT_EQ(r.geometryHeads, "16");
    ASSERT_EQ(r.extents.size(), 1u);
    EXPECT_EQ(r.extents[0].sectorCount, 4096);
    EXPECT_EQ(r.extents[0].extentFile, "\"test.vmdk");
    EXPECT_EQ(r.extentTypeChoice, "SPARSE");
    EXPECT_EQ(o->session.diskSectorCount, 4096u);
}

TEST(VmdkSparseReader, TypedDiskSizeWinsOverTheDescriptor) {
    Session session;
    session.customDiskSectors = 2048 * 10;
    ScratchDir dir;
    SparseVmdkBuilder b(4096, 16);
    test::writeFile(dir / "d.vmdk", b.standardDescriptor().build());
    session.replaceReader(std::make_unique<FileReadSeekVmdk>(session));
    ASSERT_TRUE(openSessionReader(session, (dir / "d.vmdk").string()));
    EXPECT_EQ(session.diskSectorCount, 20480u);
}

// Grain 0 holds data, grain 1 was never written, grain 2 is marked as zeroed (entry 1).
TEST(VmdkSparseReader, HolesReadAsZerosAcrossGrainBoundaries) {
    SparseVmdkBuilder b(64, 8);
    b.standardDescriptor().allocate(0).rawEntry(2, 1).allocate(3);
    auto o = openImage(b.build());
    for (bool fast : {true, false}) {
        o->reader->fastPathEnabled = fast;
        bool ok = false;
        const auto got = seekRead(*o->reader, 6 * 512, 8 * 512, &ok);
        EXPECT_TRUE(ok);
        auto want = sectorPattern(6);
        const auto s7 = sectorPattern(7);
        want.insert(want.end(), s7.begin(), s7.end());
        want.resize(8 * 512, 0);
        EXPECT_EQ(got, want) << "fast=" << fast;
        // Entry 1 reads exactly like entry 0; the grain after it holds data again.
        EXPECT_EQ(seekRead(*o->reader, 16 * 512, 8 * 512), zeros(8 * 512));
        EXPECT_EQ(seekRead(*o->reader, 24 * 512, 512), sectorPattern(24));
    }
    EXPECT_EQ(readAtBytes(*o->reader, 6 * 512, 8 * 512), slice(b.expectedDisk(), 6 * 512, 8 * 512));
}

TEST(VmdkSparseReader, PositionsBeyondTheDirectoryReadAsZeros) {
    SparseVmdkBuilder b(64, 8, 4); // 32 sectors per table: a directory of 2 entries
    b.standardDescriptor().allocate(0).allocate(7);
    auto o = openImage(b.build());
    ASSERT_EQ(o->reader->grainDirectoryCount, 2u);
    bool ok = false;
    EXPECT_EQ(seekRead(*o->reader, 1000 * 512, 4096, &ok), zeros(4096));
    EXPECT_TRUE(ok);
    EXPECT_EQ(readAtBytes(*o->reader, 1ull << 40, 4096), zeros(4096));
    // A read that starts inside the disk and runs off its end.
    auto want = slice(b.expectedDisk(), 60 * 512, 4 * 512);
    want.resize(16 * 512, 0);
    EXPECT_EQ(seekRead(*o->reader, 60 * 512, 16 * 512), want);
    EXPECT_EQ(readAtBytes(*o->reader, 60 * 512, 16 * 512), want);
}

// The fast paths against the sector-by-sector loop: the same operations on two readers, one of
// them forced slow, give the same bytes, including reads without a seek before them and partial
// trailing sectors, which read from wherever the previous read left the file pointer.
TEST(VmdkSparseReader, FastPathsMatchTheSectorBySectorLoop) {
    std::mt19937 rng(7);
    for (int variant = 0; variant < 4; ++variant) {
        SparseVmdkBuilder b(4096, variant < 2 ? 8 : 16, variant % 2 ? 16 : 512);
        b.standardDescriptor();
        for (std::uint64_t g = 0; g < 4096 / b.grainSize(); ++g) {
            const auto roll = rng() % 5;
            if (roll < 2)
                b.allocate(g);
            else if (roll == 2)
                b.rawEntry(g, 1);
        }
        if (variant == 1) b.reverseGrainOrder();
        const auto image = b.build();
        auto fast = openImage(image);
        auto slow = openImage(image);
        slow->reader->fastPathEnabled = false;
        const auto disk = b.expectedDisk();
        for (int op = 0; op < 400; ++op) {
            const std::int64_t pos = static_cast<std::int64_t>(rng() % 4200) * 512;
            const std::size_t len = (rng() % 3 == 0) ? rng() % 2000 : (rng() % 64) * 512;
            std::vector<std::uint8_t> a(len, 1), c(len, 2);
            if (rng() % 4 != 0) {
                ASSERT_EQ(fast->reader->seek(pos, 0), slow->reader->seek(pos, 0));
            }
            ASSERT_EQ(fast->reader->read(a.data(), len), slow->reader->read(c.data(), len));
            std::size_t firstDiff = 0;
            while (firstDiff < len && a[firstDiff] == c[firstDiff])
                ++firstDiff;
            ASSERT_EQ(firstDiff, len)
                << "variant " << variant << " op " << op << " pos " << pos << " len " << len;
            ASSERT_EQ(fast->reader->sectorMapped, slow->reader->sectorMapped);
            ASSERT_EQ(fast->reader->position, slow->reader->position);
            const std::size_t whole = (rng() % 40) * 512 + (rng() % 2 ? 0 : 100);
            ASSERT_EQ(readAtBytes(*fast->reader, static_cast<std::uint64_t>(pos), whole),
                      slice(disk, static_cast<std::uint64_t>(pos), whole));
        }
    }
}

TEST(VmdkSparseReader, FlatChoiceReadsAFileWithoutHeaderOneToOne) {
    std::vector<std::uint8_t> raw;
    for (std::uint64_t s = 0; s < 64; ++s) {
        const auto p = sectorPattern(s);
        raw.insert(raw.end(), p.begin(), p.end());
    }
    auto o = openImage(raw, "FLAT");
    ASSERT_EQ(o->reader->extents.size(), 1u);
    EXPECT_EQ(o->reader->capacitySectors(), 0u);
    EXPECT_EQ(o->reader->declaredSectors(), 0u);
    EXPECT_EQ(seekRead(*o->reader, 5 * 512, 3 * 512), slice(raw, 5 * 512, 3 * 512));
    EXPECT_EQ(readAtBytes(*o->reader, 60 * 512 + 100, 3 * 512), slice(raw, 60 * 512 + 100, 3 * 512));
}

// A file without the sparse header typed SPARSE has no mapping: seek leaves the file pointer
// where the last read left it (after the 512 header bytes that open read).
TEST(VmdkSparseReader, SparseChoiceWithoutHeaderNeverMovesTheFilePointer) {
    std::vector<std::uint8_t> raw;
    for (std::uint64_t s = 0; s < 16; ++s) {
        const auto p = sectorPattern(s);
        raw.insert(raw.end(), p.begin(), p.end());
    }
    auto o = openImage(raw, "SPARSE");
    EXPECT_EQ(seekRead(*o->reader, 10 * 512, 512), sectorPattern(1));
    EXPECT_EQ(seekRead(*o->reader, 0, 2 * 512), slice(raw, 2 * 512, 2 * 512));
    EXPECT_EQ(readAtBytes(*o->reader, 0, 512), sectorPattern(4));
}

TEST(VmdkSparseReader, DescriptorProblemsLeaveEverySeekFailing) {
    // Extent lines that end past byte 512 of the descriptor are not read.
    std::string text = test::descriptorText("monolithicSparse", {});
    const auto at = text.find("# Extent description");
    text.insert(at, std::string(520, '#') + "\n");
    text.insert(text.find("# Extent description\n") + 21, "RW 64 SPARSE \"x.vmdk\"\n");
    SparseVmdkBuilder b(64, 8);
    b.descriptor(text).allocate(0);
    auto o = openImage(b.build());
    EXPECT_TRUE(o->reader->extents.empty());
    EXPECT_FALSE(o->reader->seek(0, 0));
    std::vector<std::uint8_t> out(512);
    EXPECT_FALSE(o->reader->readAt(0, out));

    // A descriptor area of zeros (as in the extents of a split set) is no descriptor.
    SparseVmdkBuilder z(64, 8);
    z.allocate(0).headerOverride(28, 1, 8).headerOverride(36, 20, 8);
    auto oz = openImage(z.build());
    EXPECT_TRUE(oz->reader->extents.empty());
    EXPECT_EQ(oz->reader->declaredSectors(), 0u);
}

TEST(VmdkSparseReader, DescriptorWithoutCreateTypeIsRefused) {
    ScratchDir dir;
    Session session;
    SparseVmdkBuilder b(64, 8);
    test::writeFile(dir / "a.vmdk", b.descriptor("# Disk DescriptorFile\nversion=1\n").build());
    FileReadSeekVmdk r(session);
    EXPECT_FALSE(r.open((dir / "a.vmdk").string()));
    FileReadSeekVmdk missing(session);
    EXPECT_FALSE(missing.open((dir / "none.vmdk").string()));
}

// Hostile headers: refused, or read as holes, but never a crash, a hang or a huge allocation.
TEST(VmdkSparseReader, HostileHeadersAreRefusedOrReadAsZeros) {
    ScratchDir dir;
    struct Case {
        const char* name;
        std::size_t offset;
        std::uint64_t value;
        int width;
        bool opens;
    };
    const Case cases[] = {
        {"gtes 1024", 44, 1024, 4, false},
        {"gtes 0", 44, 0, 4, false},
        {"grain 0", 20, 0, 8, false},
        {"grain huge", 20, 1ull << 40, 8, false},
        {"directory beyond file", 48, 1ull << 30, 8, true},
        {"directory offset overflows", 48, 1ull << 60, 8, true},
        {"capacity in the billions", 12, 1ull << 62, 8, true},
        {"descriptor beyond file", 28, 1ull << 40, 8, true},
    };
    for (const auto& c : cases) {
        SparseVmdkBuilder b(64, 8);
        b.standardDescriptor().allocate(1).headerOverride(c.offset, c.value, c.width);
        const auto path = dir / (std::string(c.name) + ".vmdk");
        test::writeFile(path, b.build());
        Session session;
        FileReadSeekVmdk r(session);
        ASSERT_EQ(r.open(path.string()), c.opens) << c.name;
        if (!c.opens) continue;
        EXPECT_LE(r.grainDirectory.size(), 1u << 20) << c.name;
        std::vector<std::uint8_t> out(8 * 512);
        r.seek(static_cast<std::int64_t>(1ull << 50), 0);
        r.read(out.data(), out.size());
        r.readAt(1ull << 61, out);
        r.readAt(0, out);
    }
    // A grain entry that points far past the end of the file reads as zeros.
    SparseVmdkBuilder b(64, 8);
    b.standardDescriptor().rawEntry(0, 0x7FFFFFF0);
    auto o = openImage(b.build());
    EXPECT_EQ(seekRead(*o->reader, 0, 4096), zeros(4096));
    EXPECT_EQ(readAtBytes(*o->reader, 0, 4096), zeros(4096));
}

TEST(VmdkSparseReader, ImageFileIsNeverWritten) {
    SparseVmdkBuilder b(512, 8);
    b.standardDescriptor().allocate(1).allocate(5);
    auto o = openImage(b.build());
    const auto before = std::filesystem::last_write_time(o->path);
    const auto md5 = test::md5OfFile(o->path);
    std::vector<std::uint8_t> out(64 * 512);
    o->reader->seek(0, 0);
    o->reader->read(out.data(), out.size());
    o->reader->readAt(0, out);
    EXPECT_EQ(std::filesystem::last_write_time(o->path), before);
    EXPECT_EQ(test::md5OfFile(o->path), md5);
}

} // namespace
} // namespace vindaru
