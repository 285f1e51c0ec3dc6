#include <gtest/gtest.h>

#include <algorithm>

#include "image/FileReadSeekVHD.h"
#include "image/ImagePathRules.h"
#include "image/SessionReader.h"
#include "image/VhdVdiBuilders.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

constexpr std::uint64_t kMiB = 1u << 20;

struct OpenedVhd {
    ScratchDir dir;
    Session session;
    RecordingMessageSink messages;
    FileReadSeekVHD* reader = nullptr;
    fs::path path;
    bool opened = false;

    explicit OpenedVhd(const std::vector<std::uint8_t>& image, const std::string& name = "d.vhd") {
        session.messages = &messages;
        path = dir / name;
        writeFile(path, image);
        reader = openAsSessionReader(session, std::make_unique<FileReadSeekVHD>(session), path.string(),
                                     &opened);
    }

    std::vector<std::uint8_t> readAt(std::uint64_t at, std::uint64_t n, bool* ok = nullptr) {
        std::vector<std::uint8_t> out(n, 0xAA);
        const bool r = reader->readAt(at, out);
        if (ok) *ok = r;
        return out;
    }
    std::vector<std::uint8_t> seekRead(std::int64_t at, std::uint64_t n, bool* ok = nullptr) {
        std::vector<std::uint8_t> out(n, 0xAA);
        EXPECT_TRUE(reader->seek(at, 0));
        const bool r = reader->read(out.data(), n);
        if (ok) *ok = r;
        return out;
    }
};

} // namespace

TEST(VhdReader, AbsentBlockReadsAsZerosAndTheRestMatchesTheDisk) {
    const auto disk = patternDisk(5 * 2 * kMiB);
    VhdPlan plan;
    plan.absent = {3};
    OpenedVhd vhd(buildDynamicVhd(disk, plan));
    ASSERT_TRUE(vhd.opened);
    EXPECT_EQ(vhd.session.diskSectorCount, disk.size() / 512);

    // Sectors 12288..16383 (block 3) are zeros, through both read paths.
    EXPECT_TRUE(allZero(vhd.readAt(12288 * 512, 4096 * 512)));
    EXPECT_TRUE(allZero(vhd.seekRead(12288 * 512, 4096 * 512)));
    EXPECT_EQ(vhd.reader->sectorMapped, 1) << "after the read the cursor is in block 4, stored";
    ASSERT_TRUE(vhd.reader->seek(12288 * 512 + 512, 0));
    EXPECT_EQ(vhd.reader->sectorMapped, 0);

    // The map answers for the hole without reading it, and only for the hole.
    EXPECT_TRUE(vhd.reader->isHole(12288 * 512, 4096 * 512));
    EXPECT_TRUE(vhd.reader->isHole(12288 * 512 + 4096, 512));
    EXPECT_FALSE(vhd.reader->isHole(12288 * 512 - 512, 1024));
    EXPECT_FALSE(vhd.reader->isHole(5 * 2 * kMiB, 512)) << "past the table is not a hole";

    auto expected = disk;
    std::fill(expected.begin() + 12288 * 512, expected.begin() + 16384 * 512, 0);
    bool ok = false;
    EXPECT_EQ(vhd.readAt(0, disk.size(), &ok), expected);
    EXPECT_TRUE(ok);
    EXPECT_EQ(vhd.seekRead(0, disk.size(), &ok), expected);
    EXPECT_TRUE(ok) << "reading up to the very last sector is a success";
}

TEST(VhdReader, SectorOfABlockComesFromItsBatPlaceInTheFile) {
    const auto disk = patternDisk(4 * 2 * kMiB, 7);
    VhdPlan plan;
    plan.reverseOrder = true; // block k's data is nowhere near k × 2 MiB
    const auto image = buildDynamicVhd(disk, plan);
    OpenedVhd vhd(image);
    ASSERT_TRUE(vhd.opened);
    ASSERT_EQ(vhd.reader->storedEntries(), 4u);
    for (std::uint64_t k : {0u, 2u, 3u}) {
        for (std::uint64_t j : {0u, 1u, 4095u}) {
            const std::uint64_t fileAt = vhd.reader->tableEntry(k, 0xFFFFFFFF) * 512ull + 512 + j * 512;
            const std::uint64_t diskAt = (4096 * k + j) * 512;
            EXPECT_EQ(vhd.seekRead(static_cast<std::int64_t>(diskAt), 512),
                      slice(image, fileAt, 512))
                << "block " << k << " sector " << j;
            EXPECT_EQ(vhd.reader->sectorMapped, 1);
        }
    }
    // A read that crosses from block 1 into block 2 (far apart in the file) is seamless.
    EXPECT_EQ(vhd.readAt(2 * 2 * kMiB - 1536, 4096), slice(disk, 2 * 2 * kMiB - 1536, 4096));
}

TEST(VhdReader, BlockSizeBitmapAndTableOffsetComeFromTheHeader) {
    for (std::uint32_t blockSize : {512u * 1024, 4u * 1024 * 1024, 8u * 1024 * 1024}) {
        const auto disk = patternDisk(3ull * blockSize + 3 * 512, blockSize);
        VhdPlan plan;
        plan.blockSize = blockSize;
        plan.tableOffset = 8192;
        plan.absent = {1};
        OpenedVhd vhd(buildDynamicVhd(disk, plan));
        ASSERT_TRUE(vhd.opened);
        EXPECT_EQ(vhd.reader->blockBytes(), blockSize);
        EXPECT_EQ(vhd.reader->tableOffset(), 8192u);
        EXPECT_EQ(vhd.reader->bitmapBytes(), vhdBitmapBytes(blockSize));
        auto expected = disk;
        std::fill(expected.begin() + blockSize, expected.begin() + 2ull * blockSize, 0);
        EXPECT_EQ(vhd.readAt(0, disk.size()), expected) << "block size " << blockSize;
    }
}

TEST(VhdReader, FixedDiskIsReadOneToOneWithoutItsFooter) {
    const auto disk = patternDisk(3 * kMiB + 512, 3);
    OpenedVhd vhd(buildFixedVhd(disk));
    ASSERT_TRUE(vhd.opened);
    EXPECT_TRUE(vhd.reader->isFixed());
    EXPECT_EQ(vhd.session.diskSectorCount, disk.size() / 512);
    bool ok = false;
    EXPECT_EQ(vhd.readAt(0, disk.size(), &ok), disk);
    EXPECT_TRUE(ok);
    EXPECT_EQ(vhd.seekRead(1536, 1024), slice(disk, 1536, 1024));
    // The disk's last 2 MiB block is partly past the disk: those bytes are zeros, not the footer.
    EXPECT_TRUE(allZero(vhd.readAt(disk.size(), 512)));
}

TEST(VhdReader, ExtensionAndOpenFailuresSayTheSystemsWords) {
    const auto image = buildDynamicVhd(patternDisk(2 * kMiB));
    {
        OpenedVhd vhd(image, "disk.vhdx");
        EXPECT_FALSE(vhd.opened);
        EXPECT_EQ(vhd.messages.texts().size(), 1u);
        EXPECT_EQ(vhd.messages.texts().at(0).rfind("not a vhd file: the name of ", 0), 0u);
        EXPECT_FALSE(vhd.reader->seek(0, 0));
    }
    {
        OpenedVhd vhd(image, "DISK.VHD");
        EXPECT_TRUE(vhd.opened);
        EXPECT_TRUE(vhd.messages.texts().empty());
    }
    Session session;
    RecordingMessageSink messages;
    session.messages = &messages;
    FileReadSeekVHD reader(session);
    EXPECT_FALSE(reader.open("/nonexistent/folder/disk.vhd"));
    EXPECT_EQ(messages.texts(),
              std::vector<std::string>{"invalid handle ...: disk.vhd cannot be opened for reading"});
    EXPECT_TRUE(endsWithImageExtension("vhd", "vhd"));
    EXPECT_TRUE(endsWithImageExtension("a.VhD", "vhd"));
    EXPECT_FALSE(endsWithImageExtension("a.vdi", "vhd"));
}

TEST(VhdReader, TenGibDiskSetsItsSectorCountWithoutReadingData) {
    VhdPlan plan;
    plan.currentSize = 10ull << 30;
    plan.maxTableEntries = 5120;
    OpenedVhd vhd(buildDynamicVhd({}, plan));
    ASSERT_TRUE(vhd.opened);
    EXPECT_EQ(vhd.session.diskSectorCount, 20971520u);
    EXPECT_TRUE(allZero(vhd.readAt((10ull << 30) - 4096, 4096)));
}

TEST(VhdReader, SeekAndReadKeepTheCursorProtocol) {
    const auto disk = patternDisk(2 * 2 * kMiB, 5);
    VhdPlan plan;
    plan.absent = {1};
    OpenedVhd vhd(buildDynamicVhd(disk, plan));
    ASSERT_TRUE(vhd.opened);
    auto& r = *vhd.reader;

    // An unaligned seek reads from the start of its sector.
    EXPECT_EQ(vhd.seekRead(1000, 512), slice(disk, 512, 512));
    // Consecutive reads continue where the last one ended; readAt in between does not disturb.
    ASSERT_TRUE(r.seek(4096, 0));
    std::vector<std::uint8_t> a(1024), b(1024), c(512);
    ASSERT_TRUE(r.read(a.data(), a.size()));
    ASSERT_TRUE(r.readAt(3 * 2 * kMiB / 2, c));
    ASSERT_TRUE(r.read(b.data(), b.size()));
    EXPECT_EQ(a, slice(disk, 4096, 1024));
    EXPECT_EQ(b, slice(disk, 5120, 1024));
    // sectorMapped follows the block of the sought position.
    ASSERT_TRUE(r.seek(2 * kMiB, 0));
    EXPECT_EQ(r.sectorMapped, 0);
    ASSERT_TRUE(r.seek(2 * kMiB - 512, 0));
    EXPECT_EQ(r.sectorMapped, 1);
}

TEST(VhdReader, PositionsPastTheTableFailAndReadAsZeros) {
    const auto disk = patternDisk(2 * kMiB, 9);
    OpenedVhd vhd(buildDynamicVhd(disk));
    ASSERT_TRUE(vhd.opened);
    auto& r = *vhd.reader;
    ASSERT_TRUE(r.seek(0, 0));
    EXPECT_EQ(r.sectorMapped, 1);
    EXPECT_FALSE(r.seek(2 * kMiB, 0));
    EXPECT_EQ(r.sectorMapped, 1) << "a failed seek leaves sectorMapped as it was";
    EXPECT_FALSE(r.seek(-512, 0));
    // A read that runs past the table gets the disk's bytes, then zeros, and says it failed.
    bool ok = true;
    auto tail = vhd.readAt(2 * kMiB - 512, 1024, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(slice(tail, 0, 512), slice(disk, 2 * kMiB - 512, 512));
    EXPECT_TRUE(allZero(slice(tail, 512, 512)));
    std::vector<std::uint8_t> buf(512, 0xAA);
    EXPECT_FALSE(r.seek(4 * kMiB, 0));
    EXPECT_FALSE(r.read(buf.data(), buf.size()));
    EXPECT_TRUE(allZero(buf)) << "no stale bytes from wherever the file was";
}

TEST(VhdReader, HostileTablesStayBoundedAndTheirBlocksUnreadable) {
    const auto disk = patternDisk(2 * 2 * kMiB, 11);
    {
        // A table of four billion entries in a small file: only what the file holds is loaded.
        VhdPlan plan;
        plan.maxTableEntries = 0xFFFFFFFF;
        OpenedVhd vhd(buildDynamicVhd(disk, plan));
        ASSERT_TRUE(vhd.opened);
        EXPECT_LT(vhd.reader->storedEntries(), 4u << 20);
        EXPECT_EQ(vhd.reader->tableEntryCount(), 0xFFFFFFFFu);
        EXPECT_EQ(vhd.readAt(0, 512), slice(disk, 0, 512));
        bool ok = false;
        EXPECT_TRUE(allZero(vhd.readAt(6000ull << 30, 4096, &ok)))
            << "past the entries the file holds";
    }
    {
        // Entries pointing past the end of the file, and at the last possible sector: zeros
        // that the read says are not the disk's.
        VhdPlan plan;
        plan.entryOverride = {{0, 0x7FFFFFFF}, {1, 0xFFFFFFFE}};
        OpenedVhd vhd(buildDynamicVhd(disk, plan));
        ASSERT_TRUE(vhd.opened);
        bool ok = true;
        EXPECT_TRUE(allZero(vhd.readAt(0, disk.size(), &ok)));
        EXPECT_FALSE(ok);
    }
    {
        // Nonsense block size and a table offset past the end fall back to the usual layout.
        auto image = buildDynamicVhd(disk);
        putBe(image, 512 + 32, 12345, 4);
        putBe(image, 512 + 16, 1ull << 60, 8);
        OpenedVhd vhd(image);
        ASSERT_TRUE(vhd.opened);
        EXPECT_EQ(vhd.reader->blockBytes(), 2 * kMiB);
        EXPECT_EQ(vhd.readAt(0, disk.size()), disk);
    }
    {
        // Shorter than a footer, all zeros, garbage: opens or not, never crashes or hangs.
        for (std::size_t n : {0u, 100u, 512u, 1536u, 5000u}) {
            OpenedVhd vhd(std::vector<std::uint8_t>(n, n == 5000 ? 0xFF : 0));
            std::vector<std::uint8_t> out(4096);
            vhd.reader->readAt(0, out);
            vhd.reader->seek(0, 0);
            vhd.reader->read(out.data(), out.size());
        }
    }
}

TEST(VhdReader, EndFooterIsUsedWhenTheCopyAtTheStartIsDamaged) {
    const auto disk = patternDisk(2 * 2 * kMiB, 13);
    auto image = buildDynamicVhd(disk);
    std::fill(image.begin(), image.begin() + 512, 0);
    OpenedVhd vhd(image);
    ASSERT_TRUE(vhd.opened);
    EXPECT_EQ(vhd.session.diskSectorCount, disk.size() / 512);
    EXPECT_EQ(vhd.readAt(0, disk.size()), disk);
}

// A copy of the footer lost is damage though every block still reads: the structure says which.
TEST(VhdReader, ALostFooterCopyIsStructuralDamage) {
    const auto disk = patternDisk(2 * 2 * kMiB, 13);
    const auto image = buildDynamicVhd(disk);
    OpenedVhd sound(image);
    ASSERT_TRUE(sound.opened);
    EXPECT_TRUE(sound.reader->structuralDamage().empty());

    auto cut = image;
    cut.resize(cut.size() - 512);
    OpenedVhd footless(cut);
    ASSERT_TRUE(footless.opened);
    EXPECT_EQ(footless.readAt(0, disk.size()), disk);
    EXPECT_EQ(footless.reader->structuralDamage(),
              std::vector<std::string>{"the footer at the end of the file is missing or damaged"});

    std::fill_n(cut.begin(), 512, 0x5A);
    OpenedVhd both(cut);
    ASSERT_TRUE(both.opened);
    EXPECT_EQ(both.reader->structuralDamage(),
              std::vector<std::string>{"both copies of the footer are missing or damaged"});
}

// A copy that lost both footers (its end cut off, its first sector overwritten) is still the
// dynamic disk its header describes: known by that header, read block by block, as large as its
// table's blocks (the real size went with the footer), and the loss said in its structure.
TEST(VhdReader, ADynamicDiskThatLostBothFootersIsReadThroughItsHeader) {
    auto disk = patternDisk(5 * kMiB, 17);
    VhdPlan plan;
    plan.absent = {1};
    auto image = buildDynamicVhd(disk, plan);
    std::fill_n(disk.begin() + 2 * kMiB, 2 * kMiB, 0);
    image.resize(image.size() - 512);
    std::fill_n(image.begin(), 512, 0x5A);
    OpenedVhd vhd(image);
    ASSERT_TRUE(vhd.opened) << (vhd.messages.texts().empty() ? "" : vhd.messages.texts().back());
    EXPECT_EQ(probeImage(vhd.path.string()).kind, ImageKind::Vhd);
    EXPECT_EQ(vhd.reader->kindText(), "vhd (dynamic)");
    EXPECT_EQ(vhd.session.diskSectorCount, 6 * kMiB / 512);
    EXPECT_EQ(vhd.readAt(0, disk.size()), disk);
    EXPECT_TRUE(allZero(vhd.readAt(disk.size(), kMiB)));
    const auto lines = vhd.reader->structureLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("Both copies of the footer") != std::string::npos; }));
    EXPECT_EQ(vhd.reader->layerId(), "");

    // Without the header as well, nothing says this is a VHD.
    std::fill_n(image.begin() + 512, 8, 0);
    OpenedVhd bare(image);
    EXPECT_FALSE(bare.opened);
    EXPECT_FALSE(probeImage(bare.path.string()).kind.has_value());
}
