#include "image/ExportPieces.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <system_error>
#include <unistd.h>

namespace vindaru {

namespace {

// A piece is written by this many threads at once: the target's page allocation and copying
// then keep every core busy while the next piece is read.
constexpr std::uint64_t kWriteParts = 4;

// Below this many grains of data per part, a piece is written by the calling thread alone.
constexpr std::uint64_t kGrainsWorthAThread = 8;

// Where no thread can be had, the work simply runs when its result is collected.
constexpr auto kLaunch = std::launch::async | std::launch::deferred;

bool allZero(const std::uint8_t* p, std::uint64_t n) {
    return n == 0 || (p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0);
}

int writeAll(int fd, const std::uint8_t* data, std::uint64_t n, std::uint64_t offset) {
    std::uint64_t done = 0;
    while (done < n) {
        const ssize_t put = ::pwrite(fd, data + done, n - done, static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return put < 0 ? errno : EIO;
        done += static_cast<std::uint64_t>(put);
    }
    return 0;
}

std::uint64_t grainBytes(const ExportPieces::Piece& piece, std::uint64_t g) {
    return std::min(ExportPieces::kGrain, piece.size - g * ExportPieces::kGrain);
}

// Grains [g, end) of the piece, all with data, at their disk offsets in one write.
int writeRun(int fd, const ExportPieces::Piece& piece, std::uint64_t g, std::uint64_t end) {
    const std::uint64_t from = g * ExportPieces::kGrain;
    const std::uint64_t to = std::min(end * ExportPieces::kGrain, piece.size);
    return writeAll(fd, piece.data + from, to - from, piece.offset + from);
}

// Writes grains [first, last) of the piece, in runs of grains that carry data.
int writeGrains(int fd, const ExportPieces::Piece& piece, std::uint64_t first, std::uint64_t last) {
    const auto empty = [&](std::uint64_t g) {
        return (*piece.holeGrains)[g] == 1 || allZero(piece.data + g * ExportPieces::kGrain, grainBytes(piece, g));
    };
    for (std::uint64_t g = first; g < last;) {
        if (empty(g)) {
            ++g;
            continue;
        }
        std::uint64_t end = g + 1;
        while (end < last && !empty(end))
            ++end;
        if (const int error = writeRun(fd, piece, g, end)) return error;
        g = end;
    }
    return 0;
}

} // namespace

ExportPieces::ExportPieces(const readWriteInterface& reader, std::uint64_t total,
                           std::uint64_t pieceBytes)
    : reader_(reader), total_(total), pieceBytes_(pieceBytes) {
    const std::uint64_t buffer = std::min(pieceBytes, total);
    for (Slot& slot : slots_) {
        slot.bytes.resize(buffer);
        slot.holeGrains.resize((buffer + kGrain - 1) / kGrain);
    }
    if (total_ == 0) return;
    try {
        readerThread_ = std::thread([this] { readAhead(); });
    } catch (const std::system_error&) {
        synchronous_ = true;
    }
}

ExportPieces::~ExportPieces() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    changed_.notify_all();
    if (readerThread_.joinable()) readerThread_.join();
}

ExportPieces::Piece ExportPieces::next() {
    if (synchronous_) {
        taken_ = taken_ < 0 ? 0 : 1 - taken_;
        const std::uint64_t size = pieceSizeAt(nextOffset_);
        readPiece(nextOffset_, size, slots_[taken_]);
        nextOffset_ += size;
        return slots_[taken_].piece;
    }
    std::unique_lock lock(mutex_);
    if (taken_ >= 0) {
        slots_[taken_].full = false; // the caller is done with it: free for the reader
        changed_.notify_all();
    }
    const int slot = taken_ < 0 ? 0 : 1 - taken_;
    changed_.wait(lock, [&] { return slots_[slot].full; });
    taken_ = slot;
    return slots_[slot].piece;
}

// The helper thread: fills the slots in turn, in disk order, while they are free.
void ExportPieces::readAhead() {
    int slot = 0;
    for (std::uint64_t at = 0; at < total_;) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return cancelled_ || !slots_[slot].full; });
            if (cancelled_) return;
        }
        const std::uint64_t size = pieceSizeAt(at);
        readPiece(at, size, slots_[slot]);
        {
            std::lock_guard lock(mutex_);
            slots_[slot].full = true;
        }
        changed_.notify_all();
        at += size;
        slot = 1 - slot;
    }
}

std::uint64_t ExportPieces::pieceSizeAt(std::uint64_t at) {
    const std::uint64_t one = std::min(pieceBytes_, total_ - at);
    if (at >= dataFrom_) dataFrom_ = reader_.nextData(at);
    if (dataFrom_ - at < one) return one;
    // All the whole pieces before the next data, or the rest of the disk when none follows.
    return dataFrom_ >= total_ ? total_ - at : (dataFrom_ - at) / pieceBytes_ * pieceBytes_;
}

void ExportPieces::readPiece(std::uint64_t at, std::uint64_t size, Slot& slot) {
    Piece piece{slot.bytes.data(), at, size, &slot.holeGrains};
    slot.damage.clear();
    piece.damage = &slot.damage;
    // Grains before the disk's next data are holes without asking the map about each; a piece of
    // an empty stretch (which may be many pieces long) is done with one question.
    const std::uint64_t dataFrom = dataFrom_; // pieceSizeAt asked for this piece
    if (size <= dataFrom - std::min(dataFrom, at)) {
        piece.allHole = true;
        slot.piece = piece;
        return;
    }
    const std::uint64_t grains = (size + kGrain - 1) / kGrain;
    std::uint64_t holes = 0;
    for (std::uint64_t g = 0; g < grains; ++g) {
        const std::uint64_t length = std::min(kGrain, size - g * kGrain);
        const std::uint64_t from = at + g * kGrain;
        const bool hole = length <= dataFrom - std::min(dataFrom, from) || reader_.isHole(from, length);
        slot.holeGrains[g] = hole ? 1 : 0;
        holes += hole ? 1 : 0;
    }
    piece.allHole = holes == grains;
    piece.dataGrains = grains - holes;
    // Only the stretches that are not holes are read.
    for (std::uint64_t g = 0; g < grains && piece.ok;) {
        if (slot.holeGrains[g] != 0) {
            ++g;
            continue;
        }
        std::uint64_t end = g + 1;
        while (end < grains && slot.holeGrains[end] == 0)
            ++end;
        const std::uint64_t from = g * kGrain;
        const std::uint64_t to = std::min(end * kGrain, size);
        // What cannot be read is zeros in the image and listed with the piece, never a stop:
        // the rest of the disk is worth having.
        ReadReport report;
        if (!reader_.readAt(at + from, std::span<std::uint8_t>(slot.bytes.data() + from, to - from), &report))
            for (const ByteRange& r : report.unreadableRanges()) slot.damage.addUnreadable(r.offset, r.length, r.reason);
        g = end;
    }
    slot.piece = piece;
}

int ExportPieces::write(int fd, const Piece& piece) {
    if (piece.allHole) return 0;
    const std::uint64_t grains = (piece.size + kGrain - 1) / kGrain;
    // A thread per part only pays off when there is much to write.
    const std::uint64_t parts =
        piece.dataGrains >= kGrainsWorthAThread * kWriteParts ? kWriteParts : 1;
    const std::uint64_t perPart = (grains + parts - 1) / parts;
    std::vector<std::future<int>> others;
    for (std::uint64_t g = perPart; g < grains; g += perPart) {
        const std::uint64_t last = std::min(g + perPart, grains);
        others.push_back(
            std::async(kLaunch, [fd, &piece, g, last] { return writeGrains(fd, piece, g, last); }));
    }
    int error = writeGrains(fd, piece, 0, std::min(perPart, grains));
    for (auto& other : others) {
        const int e = other.get();
        if (error == 0) error = e;
    }
    return error;
}

} // namespace vindaru
