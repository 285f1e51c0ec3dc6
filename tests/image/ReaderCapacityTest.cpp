// Every reader knows where its disk really ends, whatever its header claims and whatever a read
// past the end returns; and the session takes its disk size from the opened reader. The images
// are held in memory.
#include <gtest/gtest.h>

#include <algorithm>

#include "image/FileReadSeekVHD.h"
#include "image/FileReadSeekVdi.h"
#include "image/FileReadSeekVmdk.h"
#include "image/FileReadSeekVmdkSplit.h"
#include "image/MemoryReader.h"
#include "image/ReadOnlyFile.h"
#include "image/ReaderFactory.h"
#include "image/VolumeSlice.h"
#include "image/VhdVdiBuilders.h"
#include "image/VmdkTestImages.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

constexpr std::uint64_t kMiB = 1u << 20;

// A session whose reader of type Reader opens `image` from memory under `name`.
struct MemorySession {
    Session session;
    MemoryFiles files;
    std::vector<std::uint8_t> image;
    std::vector<std::uint8_t> other;

    template <typename Reader> Reader* open(const std::string& name, bool* opened = nullptr) {
        files.add(name, image);
        auto reader = std::make_unique<Reader>(session);
        reader->memoryFiles = &files;
        Reader* raw = reader.get();
        session.replaceReader(std::move(reader));
        const bool ok = openSessionReader(session, name);
        if (opened) *opened = ok;
        return raw;
    }
};

void putBe64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) { putBe(b, at, v, 8); }

} // namespace

TEST(ReaderCapacity, BlockReadersEndAtTheDeclaredSizeCutToWhatTheirTablesMap) {
    MemorySession dyn;
    dyn.image = buildDynamicVhd(patternDisk(3 * 2 * kMiB));
    auto* vhd = dyn.open<FileReadSeekVHD>("d.vhd");
    EXPECT_EQ(vhd->capacity(), 3 * 2 * kMiB);
    EXPECT_EQ(dyn.session.diskSectorCount, 3 * 2 * kMiB / 512);

    // A footer claiming an exabyte over a table of four blocks: the table's end is the disk's.
    VhdPlan plan;
    plan.currentSize = 1ull << 60;
    plan.maxTableEntries = 4;
    MemorySession huge;
    huge.image = buildDynamicVhd(patternDisk(2 * kMiB), plan);
    auto* hugeVhd = huge.open<FileReadSeekVHD>("h.vhd");
    EXPECT_EQ(hugeVhd->capacity(), 4 * 2 * kMiB);
    EXPECT_EQ(huge.session.diskSectorCount, (1ull << 60) / 512) << "the session keeps the declared size";

    // A fixed disk is the file before its footer, however large the footer says it is.
    MemorySession fixed;
    fixed.image = buildFixedVhd(patternDisk(kMiB));
    putBe64(fixed.image, fixed.image.size() - 512 + 48, 1ull << 40);
    auto* fixedVhd = fixed.open<FileReadSeekVHD>("f.vhd");
    EXPECT_EQ(fixedVhd->capacity(), kMiB);

    MemorySession vdiRun;
    vdiRun.image = buildVdi(patternDisk(3 * kMiB));
    auto* vdi = vdiRun.open<FileReadSeekVdi>("d.vdi");
    EXPECT_EQ(vdi->capacity(), 3 * kMiB);
    EXPECT_EQ(vdiRun.session.diskSectorCount, 3 * kMiB / 512);
}

TEST(ReaderCapacity, FlatVmdkEndsAtItsFile) {
    MemorySession run;
    run.image = patternDisk(64 * 512, 5);
    run.files.add("flat.vmdk", run.image);
    FileReadSeekVmdk* flat = nullptr;
    {
        auto reader = std::make_unique<FileReadSeekVmdk>(run.session);
        reader->memoryFiles = &run.files;
        reader->extentTypeChoice = "FLAT";
        flat = reader.get();
        run.session.replaceReader(std::move(reader));
        ASSERT_TRUE(openSessionReader(run.session, "flat.vmdk"));
    }
    EXPECT_EQ(flat->capacity(), 64u * 512);
    std::vector<std::uint8_t> past(4096, 0xAA);
    ReadReport report;
    EXPECT_FALSE(flat->readAt(1ull << 40, past, &report)) << "past the disk's end: unreadable";
    EXPECT_TRUE(allZero(past));
    EXPECT_EQ(report.unreadableRanges().at(0).reason, Damage::PastEndOfDisk);
    EXPECT_EQ(run.session.diskSectorCount, 64u) << "no size declared: the file's length";

    MemorySession sparse;
    SparseVmdkBuilder b(4096, 16);
    sparse.image = b.standardDescriptor().allocate(1).build();
    auto* reader = sparse.open<FileReadSeekVmdk>("s.vmdk");
    EXPECT_EQ(reader->capacity(), 4096u * 512);
}

TEST(ReaderCapacity, SplitSetEndsWithItsLastExtentOpenedOrNot) {
    MemorySession run;
    run.image.assign(16 * 512, 1);
    run.other.assign(24 * 512, 2);
    run.files.add("set-f001.vmdk", run.image);
    run.files.add("set-f002.vmdk", run.other);
    const std::string text = descriptorText(
        "twoGbMaxExtentFlat", {"RW 16 FLAT \"set-f001.vmdk\" 0", "RW 24 FLAT \"set-f002.vmdk\" 0",
                               "RW 99 FLAT \"set-f003.vmdk\" 0"});
    const std::vector<std::uint8_t> descriptor(text.begin(), text.end());
    run.files.add("set.vmdk", descriptor);
    auto reader = std::make_unique<FileReadSeekVmdkSplit>(run.session);
    reader->descriptorMode = true;
    reader->memoryFiles = &run.files;
    auto* split = reader.get();
    run.session.replaceReader(std::move(reader));
    ASSERT_TRUE(openSessionReader(run.session, "set.vmdk"));
    EXPECT_EQ(split->missingExtents(), std::vector<std::string>{"set-f003.vmdk"});
    EXPECT_EQ(split->capacity(), (16u + 24 + 99) * 512) << "the descriptor's lines";
    EXPECT_EQ(run.session.diskSectorCount, 16u + 24 + 99);
}

TEST(ReaderCapacity, ATypedDiskSizeReplacesAVmdksSizeOnly) {
    MemorySession vmdk;
    vmdk.session.customDiskSectors = 2048;
    SparseVmdkBuilder b(4096, 16);
    vmdk.image = b.standardDescriptor().build();
    vmdk.open<FileReadSeekVmdk>("s.vmdk");
    EXPECT_EQ(vmdk.session.diskSectorCount, 2048u);

    MemorySession vhd;
    vhd.session.customDiskSectors = 2048;
    vhd.image = buildDynamicVhd(patternDisk(2 * kMiB));
    vhd.open<FileReadSeekVHD>("d.vhd");
    EXPECT_EQ(vhd.session.diskSectorCount, 2 * kMiB / 512);

    // A name the reader cannot open leaves the session's size alone.
    Session session;
    MemoryFiles none;
    session.diskSectorCount = 7;
    session.replaceReader(std::make_unique<FileReadSeekVdi>(session));
    session.sessionReader->memoryFiles = &none;
    EXPECT_FALSE(openSessionReader(session, "absent.vdi"));
    EXPECT_EQ(session.diskSectorCount, 7u);
}

TEST(ReaderCapacity, MemoryDiskHoldsPiecesAndKnowsTheRestAsHoles) {
    MemoryReader disk(64 * 1024);
    const std::vector<std::uint8_t> a(1000, 0xA1), b(600, 0xB2);
    disk.place(0, a);
    disk.place(8192, b);
    disk.place(64 * 1024 - 100, b); // cut at the end
    EXPECT_EQ(disk.capacity(), 64u * 1024);
    EXPECT_FALSE(disk.isHole(0, 512));
    EXPECT_FALSE(disk.isHole(999, 2));
    EXPECT_TRUE(disk.isHole(1000, 8192 - 1000));
    EXPECT_FALSE(disk.isHole(1000, 8192 - 999));
    EXPECT_TRUE(disk.isHole(8192 + 600, 4096));
    std::vector<std::uint8_t> out(9000, 0xEE);
    EXPECT_TRUE(disk.readAt(500, out));
    EXPECT_EQ(out[0], 0xA1);
    EXPECT_EQ(out[499], 0xA1);
    EXPECT_EQ(out[500], 0);
    EXPECT_EQ(out[8192 - 500], 0xB2);
    EXPECT_EQ(out[8192 + 600 - 500], 0);
    const VolumeSlice volume = *VolumeSlice::fromBytes(disk, 8192, 0).slice;
    EXPECT_FALSE(volume.isHole(0, 1));
    std::vector<std::uint8_t> tail(200, 0xEE);
    EXPECT_FALSE(volume.readAt(64 * 1024 - 8192 - 100, tail)) << "a read that runs past the end";
    EXPECT_EQ(tail[99], 0xB2);
    EXPECT_EQ(tail[100], 0) << "past the disk's end";
    EXPECT_FALSE(volume.readAt(64 * 1024, tail)) << "a read that starts past the end fails";
}

TEST(ReaderCapacity, BlockReadersShowStoredBytesWhereTheyLie) {
    VhdPlan plan;
    plan.absent = {1};
    const auto disk = patternDisk(3 * 2 * kMiB, 9);
    ScratchDir dir;
    writeFile(dir / "v.vhd", buildDynamicVhd(disk, plan));
    Session session;
    FileReadSeekVHD vhd(session);
    ASSERT_TRUE(vhd.open((dir / "v.vhd").string()));
    const auto view = vhd.viewAt(2 * 2 * kMiB + 4096, 65536);
    ASSERT_EQ(view.size(), 65536u);
    EXPECT_TRUE(std::equal(view.begin(), view.end(), disk.begin() + 2 * 2 * kMiB + 4096));
    EXPECT_TRUE(vhd.viewAt(2 * kMiB, 512).empty()) << "a hole has no bytes to show";
    EXPECT_TRUE(vhd.viewAt(2 * kMiB - 512, 1024).empty()) << "two blocks are two places";
    const VolumeSlice volume = *VolumeSlice::fromBytes(vhd, 2 * 2 * kMiB, 0).slice;
    const auto based = volume.viewAt(4096, 16);
    ASSERT_EQ(based.size(), 16u);
    EXPECT_EQ(based[0], disk[2 * 2 * kMiB + 4096]);
}
