#include "volume/VolumeSweep.h"

#include <algorithm>

#include "common/ScratchBuffer.h"

namespace vindaru {

namespace {

// How much of the piece [pos, pos + n), followed by `tail` more bytes, comes before the hole it
// ends in, rounded up to a multiple of `granule`: n when it ends in none or no granule is set.
std::uint64_t untrimmedBytes(const ByteSource& reader, std::uint64_t pos, std::uint64_t n,
                             std::uint64_t tail, std::uint64_t granule) {
    if (granule == 0) return n;
    const std::uint64_t granules = (n + granule - 1) / granule;
    auto cut = [&](std::uint64_t j) { return std::min(j * granule, n); };
    // Whether everything from the cut after j granules to the tail's end is a hole: false for
    // j = 0 (the piece is not all hole), and once true for some j, true for every larger one.
    auto holeAfter = [&](std::uint64_t j) {
        const std::uint64_t k = cut(j);
        return k == n + tail || reader.isHole(pos + k, n + tail - k);
    };
    if (!holeAfter(granules)) return n;
    std::uint64_t data = 0;
    std::uint64_t hole = granules;
    while (hole - data > 1) {
        const std::uint64_t mid = data + (hole - data) / 2;
        (holeAfter(mid) ? hole : data) = mid;
    }
    return cut(hole);
}

} // namespace

SweepEnd sweepVolume(const ByteSource& reader, SweepRange range, EngineControl& control,
                     const std::function<bool(const SweepPiece&)>& onPiece,
                     const std::function<void(std::uint64_t, std::uint64_t)>& onProgress) {
    const std::uint64_t end = std::min(range.end, reader.size());
    if (range.begin >= end) return SweepEnd::Done;
    const std::uint64_t pieceBytes = std::clamp<std::uint64_t>(range.pieceBytes, 512, 1u << 28);
    const std::uint64_t tailBytes = std::min(range.tailBytes, kSweepMaxTailBytes);
    const std::uint64_t total = end - range.begin;

    // The buffer holds the piece and its tail; the tail of one piece is the head of the next,
    // so it is moved down rather than read twice.
    ScratchBuffer scratch;
    const std::span<std::uint8_t> buffer =
        scratch.first(static_cast<std::size_t>(std::min(total, pieceBytes) + tailBytes));
    std::uint64_t bufferStart = range.begin; // disk position of buffer[0]
    std::uint64_t bufferFilled = 0;          // bytes of buffer that hold disk bytes from bufferStart

    // Fills buffer[from, to) with the disk's bytes at bufferStart + from, zeros for holes.
    auto fill = [&](std::uint64_t from, std::uint64_t to) {
        const std::uint64_t at = bufferStart + from;
        const std::uint64_t n = to - from;
        auto out = buffer.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(n));
        if (reader.isHole(at, n)) {
            std::fill(out.begin(), out.end(), 0);
            return true;
        }
        return reader.readAt(at, out);
    };

    for (std::uint64_t pos = range.begin; pos < end;) {
        if (control.shouldStop()) return SweepEnd::Stopped;
        if (range.skipHoles) {
            // The pieces (tails included) that lie wholly before the next data are holes that
            // would not be handed over: pass them in one step, keeping to the pieces' grid.
            const std::uint64_t data = reader.nextData(pos);
            if (data >= end) {
                if (onProgress) onProgress(total, total);
                break;
            }
            if (data > pos && data - pos >= pieceBytes + tailBytes) {
                pos += (data - pos - tailBytes) / pieceBytes * pieceBytes;
                if (onProgress) onProgress(pos - range.begin, total);
            }
        }
        const std::uint64_t n = std::min(pieceBytes, end - pos);
        const std::uint64_t tail = std::min(tailBytes, end - pos - n);
        const bool hole = reader.isHole(pos, n + tail);
        const std::uint64_t kept =
            hole || !range.skipHoles ? n : untrimmedBytes(reader, pos, n, tail, range.trimGranule);
        SweepPiece piece;
        piece.position = pos;
        piece.hole = hole;
        piece.end = pos + n;
        if (!(hole && range.skipHoles)) {
            // Keep what the last piece's tail already read.
            if (pos >= bufferStart && pos < bufferStart + bufferFilled) {
                const std::uint64_t keep = bufferStart + bufferFilled - pos;
                std::copy_n(buffer.begin() + static_cast<std::ptrdiff_t>(pos - bufferStart),
                            static_cast<std::ptrdiff_t>(keep), buffer.begin());
                bufferFilled = keep;
            } else {
                bufferFilled = 0;
            }
            bufferStart = pos;
            const std::uint64_t want = kept + tail;
            if (hole) {
                std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(want), 0);
            } else if (bufferFilled < want) {
                // Bytes that could not be read come as zeros, and the sweep goes on: what lies
                // after a damaged stretch is still worth finding.
                fill(bufferFilled, want);
            }
            bufferFilled = want;
            piece.data = buffer.first(static_cast<std::size_t>(kept));
            piece.withTail = buffer.first(static_cast<std::size_t>(want));
            if (!onPiece(piece)) return SweepEnd::Stopped;
        }
        pos = std::max(pos + n, piece.skipTo);
        if (pos >= end) {
            if (onProgress) onProgress(total, total);
            break;
        }
        if (onProgress) onProgress(pos - range.begin, total);
    }
    return SweepEnd::Done;
}

} // namespace vindaru
