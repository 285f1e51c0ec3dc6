// nextData, the readers' answer to "where may the next data be": never past a byte that is not a
// hole, and, where a reader answers from its map in bulk, exactly at the first unit that is not
// one (checked against a walk of isHole over every unit).
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "common/Session.h"
#include "image/FileReadSeekVHD.h"
#include "image/FileReadSeekVmdk.h"
#include "image/MemoryReader.h"
#include "image/SessionReader.h"
#include "image/VhdVdiBuilders.h"
#include "image/VmdkTestImages.h"
#include "image/VolumeSlice.h"
#include "support/TestSupport.h"

namespace vindaru {
namespace {

using namespace vindaru::test;

constexpr std::uint64_t kMiB = 1u << 20;

// The first offset at or after `from` whose unit (of `unit` bytes, on the unit grid) isHole does
// not call a hole, walked unit by unit; size() when there is none.
std::uint64_t firstDataByWalk(const ByteSource& s, std::uint64_t from, std::uint64_t unit) {
    for (std::uint64_t at = from; at < s.size();) {
        const std::uint64_t end = std::min(s.size(), at / unit * unit + unit);
        if (!s.isHole(at, end - at)) return at;
        at = end;
    }
    return s.size();
}

// nextData from offsets on, just after and just before unit boundaries, and mid-unit, against
// the walk.
void expectNextDataIsTheWalk(const ByteSource& s, std::uint64_t unit, const std::string& what) {
    for (std::uint64_t base = 0; base < s.size(); base += unit) {
        for (const std::uint64_t at : {base, base + 1, base + unit / 2, base + unit - 1}) {
            if (at >= s.size()) continue;
            EXPECT_EQ(s.nextData(at), firstDataByWalk(s, at, unit)) << what << " from byte " << at;
        }
    }
    EXPECT_GE(s.nextData(s.size()), s.size()) << what;
}

struct OpenedImage {
    ScratchDir dir;
    Session session;
    RecordingMessageSink messages;
    readWriteInterface* reader = nullptr;
};

template <typename Reader>
std::unique_ptr<OpenedImage> openImage(const std::vector<std::uint8_t>& bytes, const std::string& name) {
    auto o = std::make_unique<OpenedImage>();
    o->session.messages = &o->messages;
    const std::string path = (o->dir / name).string();
    test::writeFile(path, bytes);
    bool opened = false;
    o->reader = test::openAsSessionReader(o->session, std::make_unique<Reader>(o->session), path, &opened);
    EXPECT_TRUE(opened) << name;
    return o;
}

TEST(NextData, SparseVmdkPassesEmptyTablesAndZeroGrainsAndStopsAtTheFirstStoredGrain) {
    // 8 KiB grains, 64 to a table (512 KiB), 8 tables; tables 2, 4, 6 and 7 map nothing stored.
    for (const bool redundant : {false, true}) {
        SparseVmdkBuilder b(8 * 64 * 16, 16, 64);
        b.standardDescriptor().allocate(0).allocate(3).rawEntry(5, 1).allocate(64 + 63);
        b.rawEntry(3 * 64 + 10, 1).allocate(3 * 64 + 11).allocate(5 * 64).allocate(8 * 64 - 1);
        if (redundant) b.redundantCopy();
        const auto o = openImage<FileReadSeekVmdk>(b.build(), "disk.vmdk");
        const ByteSource& r = *o->reader;
        expectNextDataIsTheWalk(r, 8192, redundant ? "with a redundant directory" : "one directory");
        EXPECT_EQ(r.nextData(64 * 8192 + 1), (64 + 63) * 8192u);
        EXPECT_EQ(r.nextData(3 * 64 * 8192), (3 * 64 + 11) * 8192u) << "past a zero grain";
        EXPECT_EQ(r.nextData((3 * 64 + 12) * 8192), 5 * 64 * 8192u) << "past an empty table";
        EXPECT_EQ(r.nextData((8 * 64 - 1) * 8192 + 100), (8 * 64 - 1) * 8192u + 100) << "inside data";
    }
}

TEST(NextData, AnEmptySparseVmdkHasNoDataAndAVolumeSliceAnswersInItsOwnPlaces) {
    SparseVmdkBuilder empty(4 * 512 * 128, 128);
    const auto none = openImage<FileReadSeekVmdk>(empty.standardDescriptor().build(), "empty.vmdk");
    EXPECT_EQ(none->reader->nextData(0), none->reader->size());

    SparseVmdkBuilder b(4 * 512 * 128, 128);
    b.standardDescriptor().allocate(700);
    const auto o = openImage<FileReadSeekVmdk>(b.build(), "disk.vmdk");
    const std::uint64_t grain = 128 * 512;
    const VolumeSlice before = *VolumeSlice::fromBytes(*o->reader, grain, 600 * grain).slice;
    EXPECT_EQ(before.nextData(0), before.size()) << "the data lies past the slice's end";
    const VolumeSlice over = *VolumeSlice::fromBytes(*o->reader, 3 * grain + 5, 1000 * grain).slice;
    EXPECT_EQ(over.nextData(7), 697 * grain - 5);
    EXPECT_EQ(over.nextData(697 * grain), 697 * grain) << "inside the slice's data";
}

TEST(NextData, DynamicVhdStopsAtTheFirstStoredBlock) {
    test::VhdPlan plan;
    plan.blockSize = 512 * 1024;
    plan.absent = {0, 1, 2, 5, 6, 7, 8, 9, 10, 15};
    const auto disk = test::patternDisk(16 * plan.blockSize);
    const auto o = openImage<FileReadSeekVHD>(test::buildDynamicVhd(disk, plan), "disk.vhd");
    expectNextDataIsTheWalk(*o->reader, plan.blockSize, "dynamic VHD");
    EXPECT_EQ(o->reader->nextData(0), 3 * plan.blockSize);
    EXPECT_EQ(o->reader->nextData(15 * plan.blockSize), o->reader->size());
}

// A raw image kept as a sparse file: the file system's holes are the disk's holes, found with no
// read of them; the bytes read the same either way.
TEST(NextData, ASparseRawImageKnowsItsHolesFromTheFileSystem) {
    ScratchDir dir;
    const std::string path = (dir / "sparse.raw").string();
    const std::vector<std::uint8_t> data(64 * 1024, 0x5A);
    {
        std::vector<std::uint8_t> bytes(8 * kMiB, 0);
        std::copy(data.begin(), data.end(), bytes.begin());
        std::copy(data.begin(), data.end(), bytes.begin() + 3 * kMiB);
        test::writeFile(path, data); // the first 64 KiB, then the rest as holes but one stretch
        std::FILE* f = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fseek(f, 3 * kMiB, SEEK_SET), 0);
        ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
        std::fclose(f);
        std::filesystem::resize_file(path, 8 * kMiB);
        const int fd = ::open(path.c_str(), O_RDONLY);
        const off_t probe = ::lseek(fd, 64 * 1024, SEEK_DATA);
        ::close(fd);
        if (probe != 3 * kMiB) GTEST_SKIP() << "the scratch folder's file system keeps no holes";

        Session session;
        RecordingMessageSink messages;
        session.messages = &messages;
        auto raw = std::make_unique<FileReadSeekVmdk>(session);
        raw->extentTypeChoice = "FLAT";
        bool opened = false;
        readWriteInterface* reader = test::openAsSessionReader(session, std::move(raw), path, &opened);
        ASSERT_TRUE(opened);
        EXPECT_EQ(reader->nextData(0), 0u);
        EXPECT_EQ(reader->nextData(64 * 1024), 3 * kMiB);
        EXPECT_EQ(reader->nextData(3 * kMiB + 64 * 1024), 8 * kMiB) << "a hole to the file's end";
        EXPECT_TRUE(reader->isHole(kMiB, kMiB));
        EXPECT_FALSE(reader->isHole(kMiB, 2 * kMiB + 1)) << "one byte of data";
        expectNextDataIsTheWalk(*reader, 64 * 1024, "sparse raw");
        std::vector<std::uint8_t> read(bytes.size());
        ASSERT_TRUE(reader->readAt(0, read));
        EXPECT_EQ(read, bytes);
    }
}

TEST(NextData, MemoryDiskAndItsSlices) {
    MemoryReader m(64 * kMiB);
    const std::vector<std::uint8_t> bytes(1000, 7);
    m.place(5 * kMiB + 3, bytes);
    m.place(60 * kMiB, bytes);
    EXPECT_EQ(m.nextData(0), 5 * kMiB + 3);
    EXPECT_EQ(m.nextData(5 * kMiB + 500), 5 * kMiB + 500);
    EXPECT_EQ(m.nextData(5 * kMiB + 1003), 60 * kMiB);
    EXPECT_EQ(m.nextData(60 * kMiB + 1000), 64 * kMiB);
    const VolumeSlice whole(m);
    const VolumeSlice part = *VolumeSlice::fromBytes(m, 4 * kMiB, 2 * kMiB).slice;
    EXPECT_EQ(whole.nextData(0), 5 * kMiB + 3);
    EXPECT_EQ(part.nextData(0), kMiB + 3);
}

} // namespace
} // namespace vindaru
