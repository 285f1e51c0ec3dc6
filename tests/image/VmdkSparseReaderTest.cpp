// FileReadSeekVmdk over synthetic sparse and flat extents: positional reads at any offset,
// holes and unreadable ranges reported, what a file is recognised as, hostile headers.
#include <gtest/gtest.h>

#include <random>

#include "common/Session.h"
#include "image/FileReadSeekVmdk.h"
#include "image/ImageChain.h"
#include "image/ReaderFactory.h"
#include "image/VmdkTestImages.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using test::ScratchDir;
using test::sectorPattern;
using test::SparseVmdkBuilder;

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& v, std::uint64_t at, std::uint64_t n) {
    std::vector<std::uint8_t> out(n, 0);
    for (std::uint64_t i = 0; i < n && at + i < v.size(); ++i) out[i] = v[at + i];
    return out;
}

struct Opened {
    Session session;
    ScratchDir dir;
    std::unique_ptr<FileReadSeekVmdk> reader;
    std::string path;
};

std::unique_ptr<Opened> openImage(const std::vector<std::uint8_t>& bytes, const std::string& choice = "SPARSE",
                                  bool opens = true) {
    auto o = std::make_unique<Opened>();
    o->path = (o->dir / "disk.vmdk").string();
    test::writeFile(o->path, bytes);
    o->reader = std::make_unique<FileReadSeekVmdk>(o->session);
    o->reader->extentTypeChoice = choice;
    EXPECT_EQ(o->reader->open(o->path), opens) << o->reader->openError();
    o->session.diskSectorCount = sessionDiskSectors(*o->reader, o->session.customDiskSectors);
    return o;
}

std::vector<std::uint8_t> readBytes(const readWriteInterface& r, std::uint64_t pos, std::size_t n,
                                    ReadReport* report = nullptr) {
    std::vector<std::uint8_t> out(n, 0xEE);
    r.readAt(pos, out, report);
    return out;
}

TEST(VmdkSparseReader, OpenReadsTheDescriptorAndTheDiskSize) {
    SparseVmdkBuilder b(4096, 16);
    b.standardDescriptor().allocate(3);
    auto o = openImage(b.build());
    FileReadSeekVmdk& r = *o->reader;
    EXPECT_EQ(r.capacitySectors(), 4096u);
    EXPECT_EQ(r.size(), 4096u * 512);
    EXPECT_EQ(r.createType, "monolithicSparse");
    EXPECT_EQ(r.contentId, "12345678\n");
    EXPECT_EQ(r.geometryHeads, "16");
    ASSERT_EQ(r.extents.size(), 1u);
    EXPECT_EQ(r.extents[0].extentFile, "\"test.vmdk");
    EXPECT_EQ(r.kindText(), "vmdk (monolithicSparse)");
    EXPECT_FALSE(r.parentLink());
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

// Grain 0 holds data, grain 1 was never written, grain 2 is marked as zeroed (entry 1): both
// kinds of hole read as zeros and are reported as holes; reads start at any byte.
TEST(VmdkSparseReader, ReadsAnyRangeAtAnyOffsetWithItsHoles) {
    SparseVmdkBuilder b(64, 8);
    b.standardDescriptor().allocate(0).rawEntry(2, 1).allocate(3);
    auto o = openImage(b.build());
    const auto disk = b.expectedDisk();
    ReadReport report;
    EXPECT_EQ(readBytes(*o->reader, 6 * 512, 8 * 512, &report), slice(disk, 6 * 512, 8 * 512));
    ASSERT_EQ(report.ranges().size(), 1u);
    EXPECT_EQ(report.ranges()[0], (ByteRange{8 * 512, 6 * 512, RangeKind::Hole, Damage::None}));
    EXPECT_FALSE(report.damaged());
    // An unaligned start is the byte asked for, not the start of its sector.
    for (const std::uint64_t at : {1u, 511u, 513u, 24u * 512 + 7, 63u * 512 + 500}) {
        EXPECT_EQ(readBytes(*o->reader, at, 700), slice(disk, at, 700)) << at;
    }
    EXPECT_TRUE(o->reader->isHole(8 * 512, 16 * 512));
    EXPECT_FALSE(o->reader->isHole(8 * 512, 17 * 512));
}

TEST(VmdkSparseReader, ReadsPastTheDiskAreUnreadableNotZerosThatLookLikeData) {
    SparseVmdkBuilder b(64, 8, 4);
    b.standardDescriptor().allocate(0).allocate(7);
    auto o = openImage(b.build());
    ReadReport report;
    const auto got = readBytes(*o->reader, 60 * 512, 16 * 512, &report);
    EXPECT_EQ(got, slice(b.expectedDisk(), 60 * 512, 16 * 512));
    EXPECT_EQ(report.unreadableBytes(), 12u * 512);
    EXPECT_EQ(report.unreadableRanges().at(0).reason, Damage::PastEndOfDisk);
}

// What `check` asks of a chain: the maps' damage by default, and with the data read, a
// stream-optimized grain whose deflate data is corrupt.
TEST(VmdkSparseReader, AChecksReadOfTheDataFindsGrainsThatDoNotInflate) {
    std::vector<std::uint8_t> disk(4 * 65536);
    for (std::size_t i = 0; i < disk.size(); ++i) disk[i] = static_cast<std::uint8_t>(i * 7 / 5);
    auto image = test::streamOptimizedImage(
        disk, 128, false, test::descriptorText("streamOptimized", {"RW 512 SPARSE \"disk.vmdk\""}));
    image.file[image.grainMarkerAt[3] + 30] ^= 0x5A;
    auto o = openImage(image.file);
    EXPECT_TRUE(chainDamage(*o->reader).empty());
    EXPECT_EQ(chainDamage(*o->reader, true),
              (std::vector<ByteRange>{{3 * 65536, 65536, RangeKind::Unreadable, Damage::BadCompressedData}}));
}

TEST(VmdkSparseReader, RandomReadsMatchTheDisk) {
    std::mt19937 rng(7);
    for (int variant = 0; variant < 3; ++variant) {
        SparseVmdkBuilder b(4096, variant == 0 ? 8 : 16, variant == 1 ? 16 : 512);
        b.standardDescriptor();
        for (std::uint64_t g = 0; g < 4096 / b.grainSize(); ++g) {
            const auto roll = rng() % 5;
            if (roll < 2) b.allocate(g);
            else if (roll == 2) b.rawEntry(g, 1);
        }
        if (variant == 2) b.reverseGrainOrder();
        auto o = openImage(b.build());
        const auto disk = b.expectedDisk();
        for (int op = 0; op < 300; ++op) {
            const std::uint64_t pos = rng() % disk.size();
            const std::size_t len = 1 + rng() % std::min<std::uint64_t>(70000, disk.size() - pos);
            ASSERT_EQ(readBytes(*o->reader, pos, len), slice(disk, pos, len)) << variant << " " << pos << " " << len;
        }
    }
}

TEST(VmdkSparseReader, AFileWithoutHeaderIsReadOneToOneOnlyWhenChosenFlat) {
    std::vector<std::uint8_t> raw;
    for (std::uint64_t s = 0; s < 64; ++s) {
        const auto p = sectorPattern(s);
        raw.insert(raw.end(), p.begin(), p.end());
    }
    auto o = openImage(raw, "FLAT");
    EXPECT_EQ(o->reader->capacitySectors(), 0u);
    EXPECT_EQ(o->reader->size(), raw.size());
    EXPECT_EQ(readBytes(*o->reader, 5 * 512 + 3, 3 * 512), slice(raw, 5 * 512 + 3, 3 * 512));
    // Chosen SPARSE, it is refused with the reason: no file pointer is followed.
    auto s = openImage(raw, "SPARSE", false);
    EXPECT_NE(s->reader->openError().find("no VMDK header"), std::string::npos);
}

TEST(VmdkSparseReader, AChildNamesItsParentAndLeavesItsUnwrittenGrainsToIt) {
    std::string text = test::descriptorText("monolithicSparse", {"RW 64 SPARSE \"child.vmdk\""});
    text.replace(text.find("parentCID=ffffffff"), 18, "parentCID=0badf00d\nparentFileNameHint=\"..\\base.vmdk\"");
    SparseVmdkBuilder b(64, 8);
    b.descriptor(text).allocate(1);
    auto o = openImage(b.build());
    const auto link = o->reader->parentLink();
    ASSERT_TRUE(link);
    EXPECT_EQ(link->expectedId, "0badf00d");
    EXPECT_EQ(link->candidatePaths, std::vector<std::string>{"../base.vmdk"});
    EXPECT_EQ(o->reader->layerId(), "12345678");
    // Without the parent attached, what the child does not hold is unreadable, never zeros.
    ReadReport report;
    const auto got = readBytes(*o->reader, 0, 24 * 512, &report);
    EXPECT_EQ(slice(got, 8 * 512, 8 * 512), slice(b.expectedDisk(), 8 * 512, 8 * 512));
    EXPECT_EQ(report.unreadableBytes(), 16u * 512);
    EXPECT_EQ(report.unreadableRanges().at(0).reason, Damage::MissingParent);
    EXPECT_FALSE(o->reader->isHole(0, 8 * 512));
    // The damage map says so too, before any read: everything but the grain it holds.
    std::vector<ByteRange> damage;
    o->reader->describeDamage(damage);
    EXPECT_EQ(damage, (std::vector<ByteRange>{{0, 8 * 512, RangeKind::Unreadable, Damage::MissingParent},
                                              {16 * 512, 48 * 512, RangeKind::Unreadable, Damage::MissingParent}}));
}

// Hostile headers: refused, or read with their damage, but never a crash, a hang or a huge
// allocation.
TEST(VmdkSparseReader, HostileHeadersAreRefusedOrReadWithTheirDamage) {
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
        {"redundant directory beyond file", 48, 1ull << 30, 8, true},
        {"directory beyond file", 56, 1ull << 30, 8, true},
        {"directory offset overflows", 56, 1ull << 60, 8, true},
        {"capacity past 64 bits of bytes", 12, 1ull << 62, 8, false},
        {"capacity beyond a directory", 12, 1ull << 50, 8, false},
        {"descriptor beyond file", 28, 1ull << 40, 8, true},
        {"unknown compression", 77, 7, 2, false},
    };
    for (const auto& c : cases) {
        SparseVmdkBuilder b(64, 8);
        b.standardDescriptor().allocate(1).headerOverride(c.offset, c.value, c.width);
        const auto path = dir / (std::string(c.name) + ".vmdk");
        test::writeFile(path, b.build());
        Session session;
        FileReadSeekVmdk r(session);
        ASSERT_EQ(r.open(path.string()), c.opens) << c.name;
        if (!c.opens) {
            EXPECT_FALSE(r.openError().empty()) << c.name;
            continue;
        }
        std::vector<std::uint8_t> out(8 * 512);
        r.readAt(1ull << 61, out);
        r.readAt(0, out);
    }
    // A grain entry that points far past the end of the file: unreadable, a map entry no
    // writer made.
    SparseVmdkBuilder b(64, 8);
    b.standardDescriptor().rawEntry(0, 0x7FFFFFF0);
    auto o = openImage(b.build());
    ReadReport report;
    readBytes(*o->reader, 0, 4096, &report);
    EXPECT_EQ(report.unreadableRanges().at(0), (ByteRange{0, 4096, RangeKind::Unreadable, Damage::InvalidMapEntry}));
    std::vector<ByteRange> damage;
    o->reader->describeDamage(damage);
    EXPECT_EQ(damage.at(0), (ByteRange{0, 4096, RangeKind::Unreadable, Damage::InvalidMapEntry}));
}

TEST(VmdkSparseReader, ImageFileIsNeverWritten) {
    SparseVmdkBuilder b(512, 8);
    b.standardDescriptor().allocate(1).allocate(5);
    auto o = openImage(b.build());
    const auto before = std::filesystem::last_write_time(o->path);
    const auto md5 = test::md5OfFile(o->path);
    std::vector<std::uint8_t> out(64 * 512);
    o->reader->readAt(0, out);
    EXPECT_EQ(std::filesystem::last_write_time(o->path), before);
    EXPECT_EQ(test::md5OfFile(o->path), md5);
}

} // namespace
} // namespace vindaru
