#include <gtest/gtest.h>

#include <algorithm>

#include "image/FileReadSeekVdi.h"
#include "image/SessionReader.h"
#include "image/VhdVdiBuilders.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

constexpr std::uint64_t kMiB = 1u << 20;

struct OpenedVdi {
    ScratchDir dir;
    Session session;
    RecordingMessageSink messages;
    FileReadSeekVdi* reader = nullptr;
    bool opened = false;

    explicit OpenedVdi(const std::vector<std::uint8_t>& image) {
        session.messages = &messages;
        writeFile(dir / "d.vdi", image);
        reader = openAsSessionReader(session, std::make_unique<FileReadSeekVdi>(session),
                                     (dir / "d.vdi").string(), &opened);
    }
    std::vector<std::uint8_t> readAt(std::uint64_t at, std::uint64_t n, bool* ok = nullptr) {
        std::vector<std::uint8_t> out(n, 0xAA);
        const bool r = reader->readAt(at, out);
        if (ok) *ok = r;
        return out;
    }
    std::vector<std::uint8_t> seekRead(std::int64_t at, std::uint64_t n) {
        std::vector<std::uint8_t> out(n, 0xAA);
        EXPECT_TRUE(reader->seek(at, 0));
        EXPECT_TRUE(reader->read(out.data(), n));
        return out;
    }
};

void zeroBlock(std::vector<std::uint8_t>& disk, std::uint64_t block, std::uint64_t size) {
    std::fill(disk.begin() + static_cast<std::ptrdiff_t>(block * size),
              disk.begin() + static_cast<std::ptrdiff_t>((block + 1) * size), 0);
}

} // namespace

TEST(VdiReader, BytesComeFromTheMappedBlockAtDataOffset) {
    const auto disk = patternDisk(6 * kMiB, 21);
    VdiPlan plan;
    plan.reverseOrder = true;
    plan.dataOffset = 1 * kMiB;
    const auto image = buildVdi(disk, plan);
    OpenedVdi vdi(image);
    ASSERT_TRUE(vdi.opened);
    EXPECT_EQ(vdi.session.diskSectorCount, disk.size() / 512);
    // Disk byte 3 MiB + 1024 is file byte map[3] × 1 MiB + data offset + 1024.
    const std::uint64_t fileAt = vdi.reader->tableEntry(3, 0xFFFFFFFF) * kMiB + 1 * kMiB + 1024;
    EXPECT_EQ(vdi.seekRead(3 * kMiB + 1024, 512), slice(image, fileAt, 512));
    EXPECT_EQ(vdi.reader->sectorMapped, 1);
    // Byte-exact: an unaligned seek reads from exactly there.
    EXPECT_EQ(vdi.seekRead(3 * kMiB + 1000, 100), slice(disk, 3 * kMiB + 1000, 100));
    bool ok = false;
    EXPECT_EQ(vdi.readAt(0, disk.size(), &ok), disk);
    EXPECT_TRUE(ok);
    EXPECT_EQ(vdi.seekRead(0, disk.size()), disk);
}

TEST(VdiReader, AbsentAndZeroedBlocksReadAsZeros) {
    auto disk = patternDisk(5 * kMiB, 22);
    VdiPlan plan;
    plan.absent = {1};
    plan.zeroed = {3};
    OpenedVdi vdi(buildVdi(disk, plan));
    ASSERT_TRUE(vdi.opened);
    zeroBlock(disk, 1, kMiB);
    zeroBlock(disk, 3, kMiB);
    EXPECT_EQ(vdi.readAt(0, disk.size()), disk);
    ASSERT_TRUE(vdi.reader->seek(3 * kMiB + 4096, 0));
    EXPECT_EQ(vdi.reader->sectorMapped, 0) << "0xFFFFFFFE is a zeroed block, not an index";
    std::vector<std::uint8_t> out(512, 0xAA);
    EXPECT_TRUE(vdi.reader->read(out.data(), out.size()));
    EXPECT_TRUE(allZero(out));
    // A read that starts in a stored block and runs through the hole and on.
    EXPECT_EQ(vdi.seekRead(kMiB - 512, kMiB + 1024), slice(disk, kMiB - 512, kMiB + 1024));
}

TEST(VdiReader, OtherBlockSizesAndContiguousRuns) {
    for (std::uint32_t blockSize : {4096u, 64u * 1024, 2u * 1024 * 1024}) {
        const auto disk = patternDisk(8ull * blockSize + 512, blockSize);
        VdiPlan plan;
        plan.blockSize = blockSize;
        OpenedVdi vdi(buildVdi(disk, plan));
        ASSERT_TRUE(vdi.opened);
        EXPECT_EQ(vdi.readAt(0, disk.size()), disk) << blockSize;
        EXPECT_EQ(vdi.readAt(blockSize - 7, 3ull * blockSize),
                  slice(disk, blockSize - 7, 3ull * blockSize));
    }
}

TEST(VdiReader, HeadersWithZeroSizesAreRefused) {
    const auto disk = patternDisk(2 * kMiB, 23);
    auto refuse = [&](VdiPlan plan, const char* why) {
        OpenedVdi vdi(buildVdi(disk, plan));
        EXPECT_FALSE(vdi.opened) << why;
        EXPECT_FALSE(vdi.reader->seek(0, 0)) << why;
    };
    VdiPlan empty;
    empty.allocatedCount = 0;
    refuse(empty, "an empty disk (no allocated block)");
    VdiPlan noSize;
    noSize.diskSize = 0;
    refuse(noSize, "zero disk size");
    VdiPlan noHeader;
    noHeader.headerLength = 0;
    refuse(noHeader, "zero header size");
    auto image = buildVdi(disk);
    putLe(image, 376, 0, 4);
    OpenedVdi zeroBlockSize(image);
    EXPECT_FALSE(zeroBlockSize.opened) << "zero block size";

    Session session;
    RecordingMessageSink messages;
    session.messages = &messages;
    FileReadSeekVdi reader(session);
    EXPECT_FALSE(reader.open("/nonexistent/disk.vdi"));
    EXPECT_EQ(messages.texts(),
              std::vector<std::string>{"invalid handle ...: disk.vdi cannot be opened for reading"});
}

TEST(VdiReader, HostileMapsStayBoundedAndTheirBlocksUnreadable) {
    const auto disk = patternDisk(3 * kMiB, 24);
    {
        // Four billion blocks claimed by a small file: only what the file holds is loaded.
        VdiPlan plan;
        plan.blockCount = 0xFFFFFFFF;
        plan.mapOffset = 512;
        plan.dataOffset = 4096;
        auto image = buildVdi(disk, plan);
        OpenedVdi vdi(image);
        ASSERT_TRUE(vdi.opened);
        EXPECT_LE(vdi.reader->storedEntries(), image.size() / 4);
        EXPECT_EQ(vdi.readAt(0, 4096), slice(disk, 0, 4096)) << "entries the file holds still map";
    }
    {
        // The map lies past the end of the file: no block can be found, none is a hole.
        auto image = buildVdi(disk);
        putLe(image, 340, 0xFFFFFF00, 4);
        OpenedVdi vdi(image);
        ASSERT_TRUE(vdi.opened);
        EXPECT_EQ(vdi.reader->storedEntries(), 0u);
        bool ok = true;
        EXPECT_TRUE(allZero(vdi.readAt(0, disk.size(), &ok)));
        EXPECT_FALSE(ok);
        EXPECT_FALSE(vdi.reader->isHole(0, 512));
    }
    {
        // Entries and offsets that point past the end of the file, or overflow.
        VdiPlan plan;
        plan.entryOverride = {{0, 0x7FFFFFFF}, {1, 4000}};
        auto image = buildVdi(disk, plan);
        putLe(image, 380, 0xFFFFFFFF, 4); // block extra data: stride overflow territory
        OpenedVdi vdi(image);
        ASSERT_TRUE(vdi.opened);
        bool ok = true;
        EXPECT_TRUE(allZero(vdi.readAt(0, 2 * kMiB, &ok)));
        EXPECT_FALSE(ok);
    }
    {
        // Block size of one byte: slow-ish but bounded by the file.
        VdiPlan plan;
        plan.blockSize = 1;
        const auto tiny = patternDisk(4096, 25);
        OpenedVdi vdi(buildVdi(tiny, plan));
        ASSERT_TRUE(vdi.opened);
        EXPECT_EQ(vdi.readAt(100, 1000), slice(tiny, 100, 1000));
    }
    {
        // Past the map: seek fails with sectorMapped kept, read gives zeros and false.
        OpenedVdi vdi(buildVdi(disk));
        ASSERT_TRUE(vdi.reader->seek(0, 0));
        EXPECT_FALSE(vdi.reader->seek(3 * kMiB, 0));
        EXPECT_EQ(vdi.reader->sectorMapped, 1);
        std::vector<std::uint8_t> out(512, 0xAA);
        EXPECT_FALSE(vdi.reader->read(out.data(), out.size()));
        EXPECT_TRUE(allZero(out));
    }
    for (std::size_t n : {0u, 64u, 471u, 472u, 4096u}) {
        OpenedVdi vdi(std::vector<std::uint8_t>(n, 0xFF));
        std::vector<std::uint8_t> out(4096);
        vdi.reader->readAt(0, out);
        vdi.reader->seek(0, 0);
        vdi.reader->read(out.data(), out.size());
    }
}
