// One pass over a byte range of a volume in large pieces: the whole-volume scans (boot sectors,
// MFT records, FAT and exFAT entries, HFS+ leaf nodes, signature carving) all read through it.
// It polls stop and the pause gate once per piece, never reads past the disk's real end (a boot
// sector that claims a volume of 2^64 sectors is swept only as far as the source goes), and hands
// ranges the reader knows to be holes over as zeros without reading them.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "common/StopControl.h"
#include "image/ByteSource.h"

namespace vindaru {

// Pieces are this large unless a sweep asks otherwise: big enough for the kernel to stream,
// small enough to stay in memory twice over.
inline constexpr std::uint64_t kSweepPieceBytes = 4u << 20;
// A piece's tail (bytes after the piece that a record starting inside it may run into) is at
// most this long.
inline constexpr std::uint64_t kSweepMaxTailBytes = 1u << 20;

struct SweepPiece {
    std::uint64_t position = 0;            // of data[0], in the source's coordinates
    std::span<const std::uint8_t> data;    // the piece itself
    std::span<const std::uint8_t> withTail; // data followed by up to `tailBytes` more (less at the end)
    bool hole = false;                     // every byte is zero, known without reading
    std::uint64_t end = 0;                 // where the piece ends, its trimmed-off hole included
    // The callback may set this past the piece's end: the sweep goes on from there, and what
    // lies between is not read (a scan that steps over a volume it has just found).
    mutable std::uint64_t skipTo = 0;
};

struct SweepRange {
    std::uint64_t begin = 0; // in the source's coordinates
    std::uint64_t end = 0;   // exclusive; cut at the disk's end
    std::uint64_t pieceBytes = kSweepPieceBytes;
    std::uint64_t tailBytes = 0;
    // Pieces that are holes are not handed over at all (for sweeps that cannot match zeros); a
    // long run of them is passed in one step, at the speed of the reader's map.
    bool skipHoles = false;
    // With skipHoles, a piece that ends in a hole is handed over cut short where the hole begins
    // (rounded up to a multiple of this many bytes; 0 keeps whole pieces), its tail the zeros
    // after the cut: for scans of small records, which then do not walk the hole's zeros. Its
    // position and the next piece's stay as they were.
    std::uint64_t trimGranule = 0;
};

enum class SweepEnd {
    Done,      // the whole range was handed over
    Stopped,   // the stop flag was raised, or the callback returned false
    ReadFailed // kept for callers that tell ends apart; unreadable bytes now arrive as zeros
};

// Returns how the sweep ended. `onPiece` returns false to end it early; `onProgress` (optional)
// is told the bytes done and the bytes to do after each piece.
SweepEnd sweepVolume(const ByteSource& reader, SweepRange range, EngineControl& control,
                     const std::function<bool(const SweepPiece&)>& onPiece,
                     const std::function<void(std::uint64_t done, std::uint64_t total)>& onProgress = {});

} // namespace vindaru
