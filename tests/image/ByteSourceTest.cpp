// The byte source's contract (reads past the end are unreadable and zero, reports join and stay
// bounded) and volume slices (checked bounds, cut at the disk's end, reports in the slice's own
// coordinates).
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "image/ByteSource.h"
#include "image/VolumeSlice.h"

using namespace vindaru;

namespace {

// A disk of `n` bytes counting up, whose second kibibyte is a hole and whose third is unreadable.
class PatternDisk final : public ByteSource {
  public:
    explicit PatternDisk(std::uint64_t n) : n_(n) {}
    std::uint64_t size() const override { return n_; }

  protected:
    bool readRange(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const override {
        bool ok = true;
        for (std::size_t i = 0; i < out.size(); ++i) {
            const std::uint64_t at = offset + i;
            const std::uint64_t kib = at / 1024;
            out[i] = kib == 1 || kib == 2 ? 0 : static_cast<std::uint8_t>(at);
            if (kib == 2) ok = false;
            if (report && kib == 1) report->addHole(at, 1);
            if (report && kib == 2) report->addUnreadable(at, 1, Damage::InvalidMapEntry);
        }
        return ok;
    }

  private:
    std::uint64_t n_;
};

TEST(ByteSource, ReadsPastTheEndAreUnreadableZeros) {
    PatternDisk disk(4096);
    std::vector<std::uint8_t> out(200, 0xAA);
    ReadReport report;
    EXPECT_FALSE(disk.readAt(4000, out, &report));
    EXPECT_EQ(out[0], static_cast<std::uint8_t>(4000));
    EXPECT_EQ(out[95], static_cast<std::uint8_t>(4095));
    EXPECT_TRUE(std::all_of(out.begin() + 96, out.end(), [](auto b) { return b == 0; }));
    ASSERT_EQ(report.ranges().size(), 1u);
    EXPECT_EQ(report.ranges()[0], (ByteRange{4096, 104, RangeKind::Unreadable, Damage::PastEndOfDisk}));
    EXPECT_FALSE(disk.readAt(UINT64_MAX - 10, out, &report)) << "an offset near 2^64 does not wrap";
}

TEST(ByteSource, ReportJoinsNeighboursAndCountsBytes) {
    PatternDisk disk(8192);
    std::vector<std::uint8_t> out(4096);
    ReadReport report;
    EXPECT_FALSE(disk.readAt(0, out, &report));
    ASSERT_EQ(report.ranges().size(), 2u);
    EXPECT_EQ(report.ranges()[0], (ByteRange{1024, 1024, RangeKind::Hole, Damage::None}));
    EXPECT_EQ(report.ranges()[1], (ByteRange{2048, 1024, RangeKind::Unreadable, Damage::InvalidMapEntry}));
    EXPECT_EQ(report.holeBytes(), 1024u);
    EXPECT_EQ(report.unreadableBytes(), 1024u);
    EXPECT_TRUE(disk.readAt(0, std::span(out).first(1024))) << "a read of data only succeeds";
}

TEST(ByteSource, ReportStaysBoundedOnScatteredDamage) {
    ReadReport report;
    for (std::uint64_t i = 0; i < 3 * ReadReport::kMaxRanges; ++i)
        report.addUnreadable(i * 10, 1, Damage::ReadError);
    EXPECT_LE(report.ranges().size(), ReadReport::kMaxRanges);
    EXPECT_EQ(report.unreadableBytes(), 3 * ReadReport::kMaxRanges);
    EXPECT_EQ(report.ranges().back().end(), (3 * ReadReport::kMaxRanges - 1) * 10 + 1);
}

TEST(VolumeSlice, ReadsRelativeToItsStartAndReportsInItsCoordinates) {
    PatternDisk disk(8192);
    auto made = VolumeSlice::fromSectors(disk, 2, 8);
    ASSERT_TRUE(made);
    EXPECT_TRUE(made.problem.empty());
    const VolumeSlice& slice = *made.slice;
    EXPECT_EQ(slice.start(), 1024u);
    EXPECT_EQ(slice.size(), 4096u);
    std::vector<std::uint8_t> out(4096);
    ReadReport report;
    EXPECT_FALSE(slice.readAt(0, out, &report));
    EXPECT_EQ(out[3000], static_cast<std::uint8_t>(4024));
    ASSERT_EQ(report.ranges().size(), 2u);
    EXPECT_EQ(report.ranges()[0], (ByteRange{0, 1024, RangeKind::Hole, Damage::None}));
    EXPECT_EQ(report.ranges()[1], (ByteRange{1024, 1024, RangeKind::Unreadable, Damage::InvalidMapEntry}));
    // The slice's end is the end: the disk's next bytes are not reachable through it.
    std::vector<std::uint8_t> tail(16);
    EXPECT_FALSE(slice.readAt(4090, tail));
    EXPECT_TRUE(std::all_of(tail.begin() + 6, tail.end(), [](auto b) { return b == 0; }));
}

TEST(VolumeSlice, HostileBoundsAreCutOrRefused) {
    PatternDisk disk(1 << 20);
    auto overflow = VolumeSlice::fromSectors(disk, UINT64_MAX / 256, 8);
    EXPECT_FALSE(overflow) << "a start LBA whose byte offset overflows is refused, not wrapped";
    EXPECT_FALSE(overflow.problem.empty());

    auto past = VolumeSlice::fromSectors(disk, 4096, 8);
    EXPECT_FALSE(past) << "a volume that starts past the disk's end";
    EXPECT_NE(past.problem.find("past the end"), std::string::npos);

    auto longer = VolumeSlice::fromSectors(disk, 2000, 100000);
    ASSERT_TRUE(longer);
    EXPECT_TRUE(longer.slice->wasCut());
    EXPECT_EQ(longer.slice->size(), (1u << 20) - 2000u * 512);
    EXPECT_NE(longer.problem.find("cut"), std::string::npos);

    auto rest = VolumeSlice::fromBytes(disk, 4096, 0);
    ASSERT_TRUE(rest);
    EXPECT_FALSE(rest.slice->wasCut());
    EXPECT_EQ(rest.slice->size(), (1u << 20) - 4096u);
}

} // namespace

namespace {

TEST(ReadScope, CollectsWhatTheOutermostReadsMetOnThisThread) {
    PatternDisk disk(8192);
    auto made = VolumeSlice::fromBytes(disk, 1024, 4096);
    ASSERT_TRUE(made);
    std::vector<std::uint8_t> out(1500);
    {
        ReadScope scope;
        made.slice->readAt(500, out);
        made.slice->readAt(0, std::span(out).first(100));
        ASSERT_EQ(scope.report().ranges().size(), 1u) << "holes are not damage; only the slice's view counts";
        EXPECT_EQ(scope.report().ranges()[0],
                  (ByteRange{1024, 976, RangeKind::Unreadable, Damage::InvalidMapEntry}));
        {
            ReadScope inner;
            made.slice->readAt(4000, std::span(out).first(200));
            EXPECT_EQ(inner.report().unreadableBytes(), 104u) << "past the slice's end";
        }
        EXPECT_EQ(scope.report().unreadableBytes(), 976u) << "an inner scope keeps its reads";
    }
    ReadScope after;
    made.slice->readAt(0, std::span(out).first(100));
    EXPECT_FALSE(after.report().damaged());
}

} // namespace
