// The whole-volume sweep and the file-system kinds every page resolves type names to.
#include <gtest/gtest.h>

#include <numeric>

#include "image/MemoryReader.h"
#include "image/VolumeSlice.h"
#include "volume/VolumeSweep.h"

using namespace vindaru;

namespace {

// A memory disk whose second quarter the reader's map calls a hole, and which counts its reads.
class HoledReader : public MemoryReader {
public:
    explicit HoledReader(std::vector<std::uint8_t> bytes) : MemoryReader(std::move(bytes)) {}
    bool isHole(std::uint64_t position, std::uint64_t length) const override {
        const std::uint64_t quarter = capacity() / 4;
        return position >= quarter && position + length <= 2 * quarter;
    }
    bool readRange(std::uint64_t position, std::span<std::uint8_t> out, ReadReport* report) const override {
        bytesRead += out.size();
        return MemoryReader::readRange(position, out, report);
    }
    mutable std::uint64_t bytesRead = 0;
};

std::vector<std::uint8_t> counting(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return bytes;
}

} // namespace

TEST(VolumeSweep, HandsOverEveryByteOnceWithTailsAndEndsAtTheDisksEnd) {
    const auto disk = counting(64 * 1024);
    MemoryReader memory(disk);
    const VolumeSlice reader = *VolumeSlice::fromBytes(memory, 4096, 0).slice; // 8 sectors in
    EngineControl control;
    SweepRange range;
    range.begin = 0;
    range.end = ~0ull; // a boot sector that claims a volume of 2^64 bytes
    range.pieceBytes = 10000;
    range.tailBytes = 700;
    std::vector<std::uint8_t> seen;
    std::uint64_t lastDone = 0, lastTotal = 0;
    const SweepEnd end = sweepVolume(
        reader, range, control,
        [&](const SweepPiece& piece) {
            EXPECT_EQ(piece.position, seen.size());
            // The tail is the next bytes of the disk, cut at its end.
            const std::uint64_t at = reader.start() + piece.position;
            EXPECT_EQ(piece.withTail.size(), std::min<std::uint64_t>(piece.data.size() + 700, disk.size() - at));
            EXPECT_TRUE(std::equal(piece.withTail.begin(), piece.withTail.end(), disk.begin() + static_cast<std::ptrdiff_t>(at)));
            seen.insert(seen.end(), piece.data.begin(), piece.data.end());
            return true;
        },
        [&](std::uint64_t done, std::uint64_t total) {
            lastDone = done;
            lastTotal = total;
        });
    EXPECT_EQ(end, SweepEnd::Done);
    EXPECT_EQ(seen.size(), disk.size() - 4096);
    EXPECT_EQ(lastDone, lastTotal);
    EXPECT_EQ(lastTotal, disk.size() - 4096);
}

TEST(VolumeSweep, HolesAreZerosUnreadOrSkippedAndStopEndsTheSweep) {
    HoledReader reader(counting(4 * 65536));
    EngineControl control;
    SweepRange range;
    range.end = reader.capacity();
    range.pieceBytes = 65536;
    std::vector<bool> holes;
    sweepVolume(reader, range, control, [&](const SweepPiece& piece) {
        holes.push_back(piece.hole);
        if (piece.hole) {
            EXPECT_TRUE(std::all_of(piece.data.begin(), piece.data.end(), [](auto b) { return b == 0; }));
        }
        return true;
    });
    EXPECT_EQ(holes, (std::vector<bool>{false, true, false, false}));
    EXPECT_EQ(reader.bytesRead, 3u * 65536); // the hole was not read

    range.skipHoles = true;
    int pieces = 0;
    sweepVolume(reader, range, control, [&](const SweepPiece& piece) {
        EXPECT_FALSE(piece.hole);
        return ++pieces < 2; // the callback ends the sweep
    });
    EXPECT_EQ(pieces, 2);

    control.requestStop();
    EXPECT_EQ(sweepVolume(reader, range, control, [](const SweepPiece&) { return true; }), SweepEnd::Stopped);
}

TEST(VolumeSweep, PiecesEndingInAHoleAreCutShortWithoutLosingABytesOrMovingThePieces) {
    MemoryReader reader(std::uint64_t{1} << 20);
    const auto bytes = counting(1000);
    reader.place(0, bytes);
    reader.place(300000, std::span(bytes).first(100));
    reader.place(524280, std::span(bytes).first(10)); // reaches into the next piece
    EngineControl control;
    SweepRange range;
    range.end = reader.capacity();
    range.pieceBytes = 262144;
    range.tailBytes = 64;
    range.skipHoles = true;
    range.trimGranule = 512;
    std::vector<std::uint64_t> positions, sizes, ends;
    sweepVolume(reader, range, control, [&](const SweepPiece& piece) {
        positions.push_back(piece.position);
        sizes.push_back(piece.data.size());
        ends.push_back(piece.end);
        // What is handed over, tail included, is the disk's bytes.
        std::vector<std::uint8_t> expected(piece.withTail.size());
        reader.readAt(piece.position, expected);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), piece.withTail.begin()));
        EXPECT_EQ(piece.withTail.size(), piece.data.size() + 64);
        return true;
    });
    EXPECT_EQ(positions, (std::vector<std::uint64_t>{0, 262144, 524288}));
    // Cut at the sector after the last data, except where the tail still holds some.
    EXPECT_EQ(sizes, (std::vector<std::uint64_t>{1024, 262144, 512}));
    EXPECT_EQ(ends, (std::vector<std::uint64_t>{262144, 524288, 786432}));
}
