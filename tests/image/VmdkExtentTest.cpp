// The VMDK extents on their own: stream-optimized grains, both grain directories, ESXi COWD and
// SEsparse deltas, and the damage each reports, from byte images built here.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <numeric>

#include "common/ByteLoader.h"
#include "image/ReadOnlyFile.h"
#include "image/VmdkCowdExtent.h"
#include "image/VmdkGrainMarker.h"
#include "image/VmdkPlainExtent.h"
#include "image/VmdkSeSparseExtent.h"
#include "image/VmdkSparseExtent.h"
#include "image/VmdkTestImages.h"

namespace vindaru {
namespace {

using test::sectorPattern;

ReadOnlyFile memoryFile(const std::vector<std::uint8_t>& bytes) {
    static MemoryFiles files; // spans only; the bytes stay the caller's
    static int counter = 0;
    const std::string name = "f" + std::to_string(counter++);
    files.add(name, bytes);
    ReadOnlyFile f;
    EXPECT_TRUE(f.open(name, &files));
    return f;
}

std::unique_ptr<VmdkSparseExtent> sparse(const std::vector<std::uint8_t>& bytes) {
    ReadOnlyFile f = memoryFile(bytes);
    std::string error;
    auto e = VmdkSparseExtent::open(std::move(f), VmdkSparseHeader::decode(std::span(bytes).first(512)), error);
    EXPECT_TRUE(e) << error;
    return e;
}

// Absent ranges read as a hole, as in a disk without a parent; `absentBytes` counts them.
struct Reader {
    std::uint64_t absentBytes = 0;
    std::uint8_t mark = 0xAB; // visible where it lands
    VmdkExtent::AbsentFill fill = [this](std::uint64_t at, std::span<std::uint8_t> out, ReadReport* r) {
        absentBytes += out.size();
        std::fill(out.begin(), out.end(), mark);
        if (r) r->addHole(at, out.size());
        return true;
    };
};

std::vector<std::uint8_t> patternDisk(std::uint64_t sectors, const std::vector<std::uint64_t>& zeroGrains,
                                      std::uint64_t grainSectors) {
    std::vector<std::uint8_t> disk(sectors * 512);
    for (std::uint64_t s = 0; s < sectors; ++s) {
        if (std::find(zeroGrains.begin(), zeroGrains.end(), s / grainSectors) != zeroGrains.end()) continue;
        const auto p = sectorPattern(s, 3);
        std::copy(p.begin(), p.end(), disk.begin() + static_cast<std::ptrdiff_t>(s * 512));
    }
    return disk;
}

TEST(VmdkGrainMarker, FooterNeedsItsMarkersAndInflateNeedsTheWholeStream) {
    const auto disk = patternDisk(256, {}, 128);
    const auto image = test::streamOptimizedImage(disk, 128, true);
    const auto tail = std::span(image.file).last(kVmdkStreamTailBytes);
    const auto footer = decodeVmdkStreamFooter(tail);
    ASSERT_TRUE(footer);
    EXPECT_NE(footer->grainDirectorySector, kVmdkDirectoryAtEnd);

    std::vector<std::uint8_t> broken(tail.begin(), tail.end());
    broken[12] = 1; // footer marker typed as a grain table
    EXPECT_FALSE(decodeVmdkStreamFooter(broken));
    broken.assign(tail.begin(), tail.end());
    broken[1024] = 7; // end-of-stream marker with a value
    EXPECT_FALSE(decodeVmdkStreamFooter(broken));

    std::vector<std::uint8_t> z(compressBound(65536));
    uLongf zlen = z.size();
    ASSERT_EQ(compress(z.data(), &zlen, disk.data(), 65536), Z_OK);
    std::vector<std::uint8_t> out(65536);
    EXPECT_TRUE(inflateVmdkGrain(std::span(z).first(zlen), 65536, 0, out));
    EXPECT_EQ(std::memcmp(out.data(), disk.data(), out.size()), 0);
    EXPECT_FALSE(inflateVmdkGrain(std::span(z).first(zlen - 9), 65536, 0, out)) << "cut short";
    std::vector<std::uint8_t> small(1000);
    EXPECT_FALSE(inflateVmdkGrain(std::span(z).first(zlen), 1000, 0, small)) << "larger than the grain";
    z[zlen / 2] ^= 0x55;
    const bool bad = inflateVmdkGrain(std::span(z).first(zlen), 65536, 0, out);
    EXPECT_TRUE(!bad || std::memcmp(out.data(), disk.data(), out.size()) != 0);
}

TEST(VmdkStreamExtent, ReadsGrainsWithTheDirectoryInTheFooterOrUpFront) {
    // 300 sectors: the last grain is partial; grain 1 is all zeros and not stored.
    const auto disk = patternDisk(300, {1}, 128);
    for (const bool atEnd : {true, false}) {
        const auto image = test::streamOptimizedImage(disk, 128, atEnd);
        const auto e = sparse(image.file);
        EXPECT_EQ(e->kindText(), "streamOptimized");
        Reader r;
        std::vector<std::uint8_t> out(disk.size());
        ReadReport report;
        EXPECT_TRUE(e->read(0, out, 0, &report, r.fill));
        // Grain 1 is absent: the filler took it.
        EXPECT_EQ(r.absentBytes, 128u * 512);
        std::fill_n(out.begin() + 128 * 512, 128 * 512, std::uint8_t{0});
        EXPECT_EQ(out, disk) << "atEnd " << atEnd;
        EXPECT_FALSE(report.damaged());

        // Unaligned pieces inside and across grains come from the cache or a fresh inflate.
        for (const auto& [at, len] : {std::pair{1000u, 77u}, std::pair{65530u, 9000u}, std::pair{3u, 1u},
                                     std::pair{299u * 512 + 100, 412u}}) {
            std::vector<std::uint8_t> piece(len);
            e->read(at, piece, 0, nullptr, r.fill);
            for (std::size_t i = 0; i < len; ++i) {
                const std::size_t p = at + i;
                const std::uint8_t want = p / 65536 == 1 ? 0xAB : disk[p];
                ASSERT_EQ(piece[i], want) << "byte " << p;
            }
        }
    }
}

TEST(VmdkStreamExtent, PartsOfLargeGrainsInflateThroughAWindowAndStillCheckTheWholeStream) {
    // 8 MiB grains: too large to keep, so each piece is inflated on its own.
    const auto disk = patternDisk(40000, {}, 16384);
    const auto image = test::streamOptimizedImage(disk, 16384, true);
    const auto e = sparse(image.file);
    Reader r;
    for (const auto& [at, len] : {std::pair{1000u, 77u}, std::pair{(16384u * 512) - 5, 9000u},
                                  std::pair{39999u * 512 + 3, 509u}}) {
        std::vector<std::uint8_t> piece(len);
        ReadReport report;
        EXPECT_TRUE(e->read(at, piece, 0, &report, r.fill));
        EXPECT_TRUE(std::equal(piece.begin(), piece.end(), disk.begin() + at)) << "at " << at;
        EXPECT_FALSE(report.damaged());
    }

    std::vector<std::uint8_t> z(compressBound(65536));
    uLongf zlen = z.size();
    ASSERT_EQ(compress(z.data(), &zlen, disk.data(), 65536), Z_OK);
    const auto stream = std::span(z).first(zlen);
    std::vector<std::uint8_t> window(300);
    EXPECT_TRUE(inflateVmdkGrain(stream, 65536, 40000, window));
    EXPECT_TRUE(std::equal(window.begin(), window.end(), disk.begin() + 40000));
    EXPECT_FALSE(inflateVmdkGrain(stream, 65535, 40000, window)) << "longer than the grain";
    EXPECT_FALSE(inflateVmdkGrain(stream, 65537, 40000, window)) << "shorter than the grain";
    EXPECT_FALSE(inflateVmdkGrain(stream.first(zlen - 9), 65536, 0, window)) << "cut short";
    EXPECT_FALSE(inflateVmdkGrain(stream, 65536, 65400, window)) << "window past the grain";
}

TEST(VmdkStreamExtent, DamagedGrainsAreUnreadableEachForItsReason) {
    const auto disk = patternDisk(512, {}, 128);
    auto image = test::streamOptimizedImage(disk, 128, true);
    // Grain 1's deflate data damaged; grain 2's marker names another grain.
    image.file[image.grainMarkerAt[1] + 40] ^= 0xFF;
    image.file[image.grainMarkerAt[1] + 41] ^= 0xFF;
    image.file[image.grainMarkerAt[2] + 1] ^= 1;
    const auto e = sparse(image.file);
    Reader r;
    std::vector<std::uint8_t> out(disk.size());
    ReadReport report;
    EXPECT_FALSE(e->read(0, out, 1 << 20, &report, r.fill));
    const auto bad = report.unreadableRanges();
    ASSERT_EQ(bad.size(), 2u);
    EXPECT_EQ(bad[0], (ByteRange{(1 << 20) + 65536, 65536, RangeKind::Unreadable, Damage::BadCompressedData}));
    EXPECT_EQ(bad[1], (ByteRange{(1 << 20) + 131072, 65536, RangeKind::Unreadable, Damage::InvalidMapEntry}));
    EXPECT_EQ(std::memcmp(out.data(), disk.data(), 65536), 0);
    EXPECT_EQ(std::memcmp(out.data() + 196608, disk.data() + 196608, 65536), 0);
    EXPECT_EQ(std::count(out.begin() + 65536, out.begin() + 196608, 0), 131072);

    // The marker alone shows grain 2's damage; only inflating its data shows grain 1's.
    std::vector<ByteRange> mapped, inflated;
    e->describeDamage(1 << 20, mapped);
    e->describeDataDamage(1 << 20, inflated);
    EXPECT_EQ(mapped, std::vector<ByteRange>{bad[1]});
    EXPECT_EQ(inflated, std::vector<ByteRange>{bad[0]});
}

// The damage map (what `check` and `info` show) finds from the markers alone what a read of the
// grains finds: a grain whose marker names another grain, one that claims more than any deflate
// of a grain, and one whose data the end of the file cuts (the directory up front, as qemu-img
// writes it, so nothing else is lost).
TEST(VmdkStreamExtent, TheDamageMapNamesGrainsWhoseMarkersReadsRefuse) {
    const auto disk = patternDisk(1024, {}, 128);
    auto image = test::streamOptimizedImage(disk, 128, false);
    auto putLe32 = [&](std::uint64_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) image.file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    image.file[image.grainMarkerAt[2]] ^= 0x80;          // grain 2's marker names grain 3
    putLe32(image.grainMarkerAt[4] + 8, 0x7FFFFFF0);     // grain 4's marker claims 2 GiB of data
    image.file.resize(image.grainMarkerAt[7] + 100);     // the file ends inside grain 7's data
    const auto e = sparse(image.file);
    Reader r;
    std::vector<std::uint8_t> out(disk.size());
    ReadReport report;
    EXPECT_FALSE(e->read(0, out, 0, &report, r.fill));
    const auto bad = report.unreadableRanges();
    ASSERT_EQ(bad.size(), 3u);
    EXPECT_EQ(bad[0], (ByteRange{2 * 65536, 65536, RangeKind::Unreadable, Damage::InvalidMapEntry}));
    EXPECT_EQ(bad[1], (ByteRange{4 * 65536, 65536, RangeKind::Unreadable, Damage::BadCompressedData}));
    EXPECT_EQ(bad[2], (ByteRange{7 * 65536, 65536, RangeKind::Unreadable, Damage::PastEndOfFile}));
    std::vector<ByteRange> damage;
    e->describeDamage(0, damage);
    EXPECT_EQ(damage, bad);
}

TEST(VmdkStreamExtent, ACopyCutShortIsMappedFromItsMarkersUpToTheCut) {
    const auto disk = patternDisk(1024, {3}, 128);
    const auto image = test::streamOptimizedImage(disk, 128, true);
    // Cut inside grain 5's data: the footer and directory are gone.
    std::vector<std::uint8_t> cut(image.file.begin(),
                                  image.file.begin() + static_cast<std::ptrdiff_t>(image.grainMarkerAt[5] + 100));
    const auto e = sparse(cut);
    Reader r;
    std::vector<std::uint8_t> out(disk.size());
    ReadReport report;
    EXPECT_FALSE(e->read(0, out, 0, &report, r.fill));
    EXPECT_EQ(std::memcmp(out.data(), disk.data(), 3 * 65536), 0);
    // Grain 3 was never written, but a cut stream cannot tell it from one that is lost.
    const auto bad = report.unreadableRanges();
    ASSERT_EQ(bad.size(), 2u);
    EXPECT_EQ(bad[0], (ByteRange{3 * 65536, 65536, RangeKind::Unreadable, Damage::PastEndOfFile}));
    EXPECT_EQ(bad[1].offset, 5u * 65536);
    EXPECT_EQ(bad[1].end(), disk.size());
    std::vector<std::string> lines;
    e->structureLines(lines);
    EXPECT_NE(std::accumulate(lines.begin(), lines.end(), std::string()).find("markers"), std::string::npos);
}

TEST(VmdkSparseExtent, EitherGrainDirectoryServesWhenTheOtherIsLost) {
    test::SparseVmdkBuilder b(4096, 16, 64);
    for (std::uint64_t g : {0, 5, 70, 200}) b.allocate(g);
    b.redundantCopy();
    const auto good = b.build();
    const auto expected = b.expectedDisk();
    const auto primaryAt = le64(good, 56) * 512;
    const auto redundantAt = le64(good, 48) * 512;
    ASSERT_NE(primaryAt, redundantAt);
    const std::size_t gdBytes = 4096 / (16 * 64) * 4;

    auto readAll = [&](const std::vector<std::uint8_t>& file, ReadReport* report) {
        const auto e = sparse(file);
        Reader r;
        r.mark = 0;
        std::vector<std::uint8_t> out(expected.size());
        e->read(0, out, 0, report, r.fill);
        return out;
    };
    auto zeroed = [&](std::size_t at) {
        auto f = good;
        std::fill_n(f.begin() + static_cast<std::ptrdiff_t>(at), gdBytes, std::uint8_t{0});
        return f;
    };
    EXPECT_EQ(readAll(zeroed(primaryAt), nullptr), expected) << "primary directory zeroed";
    EXPECT_EQ(readAll(zeroed(redundantAt), nullptr), expected) << "redundant directory zeroed";
    auto flagClear = good;
    flagClear[8] = 1;
    std::fill_n(flagClear.begin() + static_cast<std::ptrdiff_t>(redundantAt), gdBytes, std::uint8_t{0x7F});
    EXPECT_EQ(readAll(flagClear, nullptr), expected) << "flag clear, copy garbage";
    auto outside = good;
    outside[48] = 0xFF, outside[49] = 0xFF, outside[50] = 0xFF;
    EXPECT_EQ(readAll(outside, nullptr), expected) << "redundant outside the file";
    auto primaryOutside = good;
    primaryOutside[58] = 0x7F;
    EXPECT_EQ(readAll(primaryOutside, nullptr), expected) << "primary outside the file";
    // One table of the primary lost (its directory entry points past the file): the copy's
    // table answers for every grain of it, those never written included, and nothing reads as
    // unreadable.
    auto tableOutside = good;
    tableOutside[primaryAt] = 0xFF, tableOutside[primaryAt + 1] = 0xFF, tableOutside[primaryAt + 2] = 0xFF;
    ReadReport report;
    EXPECT_EQ(readAll(tableOutside, &report), expected) << "a primary table outside the file";
    EXPECT_FALSE(report.damaged()) << report.unreadableBytes();

    // A grain whose two tables disagree is named in the structure lines.
    auto differ = good;
    const std::uint64_t redundantTable = le32(differ, redundantAt) * 512;
    differ[redundantTable + 5 * 4] ^= 1;
    const auto e = sparse(differ);
    EXPECT_EQ(e->compareDirectories().grains, 1u);
    EXPECT_EQ(e->compareDirectories().firstGrain, 5u);
    EXPECT_EQ(readAll(differ, nullptr), expected) << "the primary's entry wins";
}

// A directory lost or at odds with its copy costs no grain while the other serves, but it is
// damage all the same: named, and the copy that lost the grains told from the one that kept them.
TEST(VmdkSparseExtent, ALostOrDisagreeingDirectoryIsStructuralDamage) {
    test::SparseVmdkBuilder b(4096, 16, 64);
    for (std::uint64_t g : {0, 5, 70, 200}) b.allocate(g);
    b.redundantCopy();
    const auto good = b.build();
    const auto primaryAt = le64(good, 56) * 512;
    const auto redundantAt = le64(good, 48) * 512;
    const std::size_t gdBytes = 4096 / (16 * 64) * 4;
    auto damageOf = [](const std::vector<std::uint8_t>& file) {
        std::vector<std::string> out;
        sparse(file)->structuralDamage(out);
        return out;
    };
    using Phrases = std::vector<std::string>;
    EXPECT_EQ(damageOf(good), Phrases{});

    auto primaryZeroed = good;
    std::fill_n(primaryZeroed.begin() + static_cast<std::ptrdiff_t>(primaryAt), gdBytes, std::uint8_t{0});
    EXPECT_EQ(damageOf(primaryZeroed), Phrases{"the primary grain directory or its tables are damaged"});
    auto redundantZeroed = good;
    std::fill_n(redundantZeroed.begin() + static_cast<std::ptrdiff_t>(redundantAt), gdBytes, std::uint8_t{0});
    EXPECT_EQ(damageOf(redundantZeroed), Phrases{"the redundant grain directory or its tables are damaged"});

    auto differ = good;
    differ[le32(differ, redundantAt) * 512 + 5 * 4] ^= 1;
    EXPECT_EQ(damageOf(differ), Phrases{"the two grain directories disagree on 1 grains"});

    auto outside = good;
    outside[48] = 0xFF, outside[49] = 0xFF, outside[50] = 0xFF;
    EXPECT_EQ(damageOf(outside), Phrases{"the redundant grain directory lies outside the file"});
    auto flagClear = good; // no redundant directory in use: nothing of it is damage
    flagClear[8] = 1;
    std::fill_n(flagClear.begin() + static_cast<std::ptrdiff_t>(redundantAt), gdBytes, std::uint8_t{0x7F});
    EXPECT_EQ(damageOf(flagClear), Phrases{});
}

// Both directories blank while the file holds grains (their sectors overwritten): never a disk of
// zeros. Where the tables lie as writers lay them out and check out, they are found and serve;
// otherwise every grain is unreadable for the lost directory. A file that holds no grain past its
// metadata is an empty disk, not a damaged one.
TEST(VmdkSparseExtent, BlankDirectoriesOverGrainsAreRebuiltFromTheirTablesOrReportedLost) {
    test::SparseVmdkBuilder b(8192, 16, 64); // 8 tables per directory
    for (std::uint64_t g : {0, 5, 70, 200, 511}) b.allocate(g);
    b.redundantCopy().preallocatedTables().reverseGrainOrder();
    const auto good = b.build();
    const auto expected = b.expectedDisk();
    const std::size_t gdBytes = 8 * 4;
    auto blank = [&](std::vector<std::uint8_t> f) {
        for (const std::size_t at : {le64(f, 56) * 512, le64(f, 48) * 512})
            std::fill_n(f.begin() + static_cast<std::ptrdiff_t>(at), gdBytes, std::uint8_t{0});
        return f;
    };
    struct Result {
        std::vector<std::uint8_t> bytes;
        ReadReport report;
        std::vector<ByteRange> damage;
        std::vector<std::string> phrases;
    };
    auto readAll = [&](const std::vector<std::uint8_t>& file) {
        const auto e = sparse(file);
        Result r;
        Reader fill;
        fill.mark = 0;
        r.bytes.resize(expected.size());
        e->read(0, r.bytes, 0, &r.report, fill.fill);
        e->describeDamage(0, r.damage);
        e->structuralDamage(r.phrases);
        return r;
    };
    using Phrases = std::vector<std::string>;

    const Result rebuilt = readAll(blank(good));
    EXPECT_EQ(rebuilt.bytes, expected);
    EXPECT_FALSE(rebuilt.report.damaged());
    EXPECT_EQ(rebuilt.phrases, Phrases{"the grain directories were lost; their tables were found and used"});

    // One entry of each set of tables off the grains' grid: the tables no longer check out.
    auto crooked = blank(good);
    for (const std::size_t at : {le64(good, 56) * 512, le64(good, 48) * 512}) {
        const std::uint64_t table = le32(good, at) * 512;
        crooked[table + 5 * 4] += 1;
    }
    const Result lost = readAll(crooked);
    const std::vector<ByteRange> whole{{0, 8192 * 512, RangeKind::Unreadable, Damage::LostDirectory}};
    EXPECT_EQ(lost.report.unreadableRanges(), whole);
    EXPECT_EQ(lost.damage, whole);
    EXPECT_EQ(std::count(lost.bytes.begin(), lost.bytes.end(), 0), static_cast<std::ptrdiff_t>(lost.bytes.size()));
    EXPECT_EQ(lost.phrases, Phrases{"the grain directories are lost"});

    // Tables of a layout no writer is known by (only those in use, no overhead): reported only.
    test::SparseVmdkBuilder plain(8192, 16, 64);
    for (std::uint64_t g : {0, 5, 70}) plain.allocate(g);
    plain.redundantCopy();
    EXPECT_EQ(readAll(blank(plain.build())).damage, whole);

    // An empty disk: its file ends with its metadata.
    test::SparseVmdkBuilder empty(8192, 16, 64);
    empty.redundantCopy().preallocatedTables();
    const Result nothing = readAll(blank(empty.build()));
    EXPECT_FALSE(nothing.report.damaged());
    EXPECT_TRUE(nothing.phrases.empty());
}

// A 2048-sector sparse extent with both directories, grains 0 .. grains-1 stored, and where the
// first table of each directory lies; with `overhead`, the header records where the grains start,
// as every writer does.
struct TwoCopies {
    std::vector<std::uint8_t> file;
    std::vector<std::uint8_t> expected;
    std::uint64_t primaryTable = 0;
    std::uint64_t redundantTable = 0;

    TwoCopies(std::uint64_t grains, bool overhead) {
        test::SparseVmdkBuilder b(2048, 16, 512);
        for (std::uint64_t g = 0; g < grains; ++g) b.allocate(g);
        b.redundantCopy();
        file = b.build();
        expected = b.expectedDisk();
        primaryTable = le32(file, le64(file, 56) * 512) * 512;
        redundantTable = le32(file, le64(file, 48) * 512) * 512;
        const std::uint32_t firstGrain = overhead ? le32(file, primaryTable) : 0;
        for (int i = 0; i < 4; ++i) file[64 + i] = static_cast<std::uint8_t>(firstGrain >> (8 * i));
    }
};

// Two entries that name one grain (cross-linked tables): one of them gets another grain's bytes,
// and no map tells which, so both grains are unreadable, as a block table's shared entries are.
// Where only one directory's tables are crossed, the other's entries give both grains. Grains
// on the writer's grid (the header's overhead set) and off it are both checked.
TEST(VmdkSparseExtent, TwoEntriesNamingOneGrainMakeBothUnreadableUnlessTheCopyIsSound) {
    for (const bool grid : {true, false}) {
        SCOPED_TRACE(grid ? "grains on the grid" : "no overhead in the header");
        const TwoCopies image(6, grid);
        const auto& good = image.file;
        const auto& expected = image.expected;
        const std::uint64_t primaryTable = image.primaryTable, redundantTable = image.redundantTable;
        auto cross = [](std::vector<std::uint8_t>& f, std::uint64_t table) {
            std::copy_n(f.begin() + static_cast<std::ptrdiff_t>(table + 2 * 4), 4,
                        f.begin() + static_cast<std::ptrdiff_t>(table + 4 * 4));
        };
        auto readAll = [&](const std::vector<std::uint8_t>& file, ReadReport& report) {
            Reader r;
            r.mark = 0;
            std::vector<std::uint8_t> out(expected.size());
            sparse(file)->read(0, out, 0, &report, r.fill);
            return out;
        };

        auto both = good;
        cross(both, primaryTable);
        cross(both, redundantTable);
        ReadReport crossed;
        const auto got = readAll(both, crossed);
        const std::vector<ByteRange> unreadable{{2 * 8192, 8192, RangeKind::Unreadable, Damage::InvalidMapEntry},
                                                {4 * 8192, 8192, RangeKind::Unreadable, Damage::InvalidMapEntry}};
        EXPECT_EQ(crossed.unreadableRanges(), unreadable);
        EXPECT_EQ(std::count(got.begin() + 4 * 8192, got.begin() + 5 * 8192, 0), 8192) << "never grain 2's bytes";
        std::vector<ByteRange> damage;
        sparse(both)->describeDamage(0, damage);
        EXPECT_EQ(damage, unreadable);

        auto primaryOnly = good;
        cross(primaryOnly, primaryTable);
        ReadReport sound;
        EXPECT_EQ(readAll(primaryOnly, sound), expected);
        EXPECT_FALSE(sound.damaged());
        std::vector<std::string> phrases;
        sparse(primaryOnly)->structuralDamage(phrases);
        EXPECT_EQ(phrases, std::vector<std::string>{"the primary grain directory or its tables are damaged"});
    }
}

// A table entry of 1 names a grain of zeros only in a file whose header declares such entries;
// elsewhere it names sector 1, inside the header's metadata: damage, never zeros passed off as
// the disk's, and the other directory's entry serves where it is sound.
TEST(VmdkSparseExtent, AnEntryOfOneIsAZeroGrainOnlyWhereTheHeaderSaysSo) {
    const TwoCopies image(4, true);
    const auto& good = image.file;
    const auto& expected = image.expected;
    const std::uint64_t primaryTable = image.primaryTable, redundantTable = image.redundantTable;
    auto setOne = [](std::vector<std::uint8_t>& f, std::uint64_t at) {
        f[at] = 1, f[at + 1] = 0, f[at + 2] = 0, f[at + 3] = 0;
    };
    auto readAll = [&](const std::vector<std::uint8_t>& file, ReadReport& report) {
        const auto e = sparse(file);
        Reader r;
        std::vector<std::uint8_t> out(expected.size());
        e->read(0, out, 0, &report, r.fill);
        return out;
    };

    auto primaryOnly = good;
    setOne(primaryOnly, primaryTable + 2 * 4);
    ReadReport one;
    const auto got = readAll(primaryOnly, one);
    EXPECT_EQ(std::memcmp(got.data(), expected.data(), 4 * 8192), 0) << "the redundant entry serves";
    EXPECT_FALSE(one.damaged());

    auto both = primaryOnly;
    setOne(both, redundantTable + 2 * 4);
    ReadReport two;
    readAll(both, two);
    ASSERT_EQ(two.unreadableRanges().size(), 1u);
    EXPECT_EQ(two.unreadableRanges()[0], (ByteRange{2 * 8192, 8192, RangeKind::Unreadable, Damage::InvalidMapEntry}));
    std::vector<ByteRange> damage;
    sparse(both)->describeDamage(0, damage);
    EXPECT_EQ(damage, two.unreadableRanges());

    auto declared = both;
    declared[8] |= 4; // zeroed-grain entries in use
    ReadReport three;
    const auto zeros = readAll(declared, three);
    EXPECT_FALSE(three.damaged());
    EXPECT_EQ(std::count(zeros.begin() + 2 * 8192, zeros.begin() + 3 * 8192, 0), 8192);
    EXPECT_TRUE(sparse(declared)->isHole(2 * 8192, 8192, false));
}

TEST(VmdkSparseExtent, EntriesOutsideTheFileAndACutFileAreUnreadableNotZeros) {
    test::SparseVmdkBuilder b(2048, 16, 512);
    for (std::uint64_t g = 0; g < 8; ++g) b.allocate(g);
    b.rawEntry(20, 1); // a zeroed grain: a hole, even in a delta
    auto file = b.build();
    const std::uint64_t table = le32(file, le64(file, 56) * 512) * 512;
    file[table + 2 * 4 + 3] = 0x40; // grain 2: far outside any file of this size
    const auto e = sparse(file);
    Reader r;
    std::vector<std::uint8_t> out(2048 * 512);
    ReadReport report;
    EXPECT_FALSE(e->read(0, out, 0, &report, r.fill));
    ASSERT_EQ(report.unreadableRanges().size(), 1u);
    EXPECT_EQ(report.unreadableRanges()[0], (ByteRange{2 * 8192, 8192, RangeKind::Unreadable, Damage::InvalidMapEntry}));
    EXPECT_EQ(r.absentBytes, 2048u * 512 - 9 * 8192) << "grain 20 is a zero grain, not absent";
    EXPECT_TRUE(e->isHole(20 * 8192, 8192, false));
    EXPECT_FALSE(e->isHole(30 * 8192, 8192, false));
    EXPECT_TRUE(e->isHole(30 * 8192, 8192, true));

    // Cut in the middle of grain 6: the rest of 6 and grain 7 are past the end of the file.
    auto cut = b.build();
    cut.resize(cut.size() - 8192 - 4096);
    const auto c = sparse(cut);
    ReadReport cutReport;
    std::vector<std::uint8_t> head(8 * 8192);
    EXPECT_FALSE(c->read(0, head, 0, &cutReport, r.fill));
    ASSERT_EQ(cutReport.unreadableRanges().size(), 1u);
    EXPECT_EQ(cutReport.unreadableRanges()[0], (ByteRange{6 * 8192 + 4096, 4096 + 8192, RangeKind::Unreadable, Damage::PastEndOfFile}));
    std::vector<ByteRange> damage;
    c->describeDamage(0, damage);
    EXPECT_EQ(damage, cutReport.unreadableRanges());
}

TEST(VmdkDeltaExtents, CowdAndSeSparseHoldTheirGrainsAndLeaveTheRestToTheParent) {
    std::string error;
    const auto cowdBytes = test::cowdDelta(80000, 16, {0, 3, 4200}, 9);
    auto cowd = VmdkCowdExtent::open(memoryFile(cowdBytes), 0, error);
    ASSERT_TRUE(cowd) << error;
    const auto seBytes = test::seSparseDelta(70000, {1, 2, 5000}, {7}, 9);
    auto se = VmdkSeSparseExtent::open(memoryFile(seBytes), 0, error);
    ASSERT_TRUE(se) << error;

    for (const auto& [extent, stored, grainSectors] :
         {std::tuple<VmdkGrainExtent*, std::vector<std::uint64_t>, std::uint64_t>{cowd.get(), {0, 3, 4200}, 16},
          {se.get(), {1, 2, 5000}, 8}}) {
        Reader r;
        std::vector<std::uint8_t> out(extent->length());
        ReadReport report;
        EXPECT_TRUE(extent->read(0, out, 0, &report, r.fill)) << extent->kindText();
        for (std::uint64_t s = 0; s < extent->length() / 512; ++s) {
            const bool held = std::find(stored.begin(), stored.end(), s / grainSectors) != stored.end();
            const bool zero = extent == se.get() && s / 8 == 7;
            const auto want = held ? sectorPattern(s, 9) : std::vector<std::uint8_t>(512, zero ? 0 : 0xAB);
            ASSERT_EQ(std::memcmp(out.data() + s * 512, want.data(), 512), 0) << extent->kindText() << " sector " << s;
        }
    }
    EXPECT_FALSE(VmdkSeSparseExtent::open(memoryFile(std::vector<std::uint8_t>(cowdBytes)), 0, error));

    // A delta not closed cleanly (its volatile header asks for the journal's replay) is read as
    // it stands, but it is damage: check and info, cat and export say so.
    std::vector<std::string> phrases;
    se->structuralDamage(phrases);
    EXPECT_TRUE(phrases.empty());
    auto unreplayed = seBytes;
    const std::uint64_t volatileAt = le64(unreplayed, 80) * 512;
    ASSERT_EQ(le64(unreplayed, volatileAt), 0xCAFECAFEull);
    unreplayed[volatileAt + 24] = 1;
    auto pending = VmdkSeSparseExtent::open(memoryFile(unreplayed), 0, error);
    ASSERT_TRUE(pending) << error;
    pending->structuralDamage(phrases);
    EXPECT_EQ(phrases, std::vector<std::string>{"the delta's journal was not replayed"});

    // A COWD table entry that points past the file: unreadable, not the parent's bytes.
    auto damaged = cowdBytes;
    const std::uint64_t table = le32(damaged, 4 * 512) * 512;
    damaged[table + 3 * 4 + 3] = 0x7F;
    auto d = VmdkCowdExtent::open(memoryFile(damaged), 0, error);
    ASSERT_TRUE(d);
    Reader r;
    std::vector<std::uint8_t> grain3(8192);
    ReadReport report;
    EXPECT_FALSE(d->read(3 * 8192, grain3, 0, &report, r.fill));
    EXPECT_EQ(report.unreadableRanges().at(0).reason, Damage::InvalidMapEntry);
}

TEST(VmdkPlainExtent, MissingAndShortFilesAreUnreadableWhereTheyLie) {
    const auto missing = VmdkPlainExtent::missing(4096, "gone.vmdk");
    Reader r;
    std::vector<std::uint8_t> out(1000, 1);
    ReadReport report;
    EXPECT_FALSE(missing->read(100, out, 8192, &report, r.fill));
    EXPECT_EQ(report.unreadableRanges().at(0), (ByteRange{8292, 1000, RangeKind::Unreadable, Damage::MissingExtent}));
    EXPECT_EQ(std::count(out.begin(), out.end(), 0), 1000);

    std::vector<std::uint8_t> bytes(3000);
    std::iota(bytes.begin(), bytes.end(), 0);
    const auto flat = VmdkPlainExtent::flat(memoryFile(bytes), 4096, 512);
    std::vector<std::uint8_t> all(4096);
    ReadReport flatReport;
    EXPECT_FALSE(flat->read(0, all, 0, &flatReport, r.fill));
    EXPECT_EQ(all[0], bytes[512]);
    EXPECT_EQ(flatReport.unreadableRanges().at(0), (ByteRange{2488, 4096 - 2488, RangeKind::Unreadable, Damage::PastEndOfFile}));
}

} // namespace
} // namespace vindaru
