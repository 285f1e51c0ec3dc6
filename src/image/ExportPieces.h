// The disk export's data path. The disk is read piece by piece on a helper thread, up to two
// pieces ahead of the writer, so that reading the image and writing the target overlap; each piece
// is written by several threads at once. Stretches the reader's map knows to be holes are neither
// read nor written, and all-zero stretches are not written either, so the target is sparse where
// the disk is empty (it reads back as the same zeros once its length is set). Every byte goes
// through the two pieces' buffers, read by position: memory stays the same whatever the size of
// the image (a mapping of the image would grow with the data copied).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "image/readWriteInterface.h"

namespace vindaru {

class ExportPieces {
  public:
    // Holes and zeros are tracked in grains of this size; shorter zero runs are written.
    static constexpr std::uint64_t kGrain = 64 * 1024;

    struct Piece {
        const std::uint8_t* data = nullptr;
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        const std::vector<char>* holeGrains = nullptr; // per grain: 1 for a known hole (not read)
        bool allHole = false;
        std::uint64_t dataGrains = 0; // grains that are not known holes
        bool ok = true; // false when the reader failed; `error` is then its errno (or EIO)
        int error = 0;
        // The ranges of the piece the disk could not give (they are zeros in `data`).
        const ReadReport* damage = nullptr;
    };

    // `pieceBytes` must be a multiple of kGrain.
    ExportPieces(const readWriteInterface& reader, std::uint64_t total, std::uint64_t pieceBytes);
    ~ExportPieces();
    ExportPieces(const ExportPieces&) = delete;
    ExportPieces& operator=(const ExportPieces&) = delete;

    // The next piece in disk order (call it until the pieces' sizes reach the total); reading
    // the one after it starts at once. The piece's bytes stay valid until the next call. A run
    // of pieces that the map shows to be holes comes as one piece, with no bytes.
    Piece next();

    // Writes the piece's non-hole, non-zero grains at their disk offsets: 0 or the errno of the
    // first failing write.
    static int write(int fd, const Piece& piece);

  private:
    struct Slot {
        std::vector<std::uint8_t> bytes;
        std::vector<char> holeGrains;
        ReadReport damage;
        Piece piece;
        bool full = false;
    };

    void readAhead();
    // The length of the piece at `at`: pieceBytes, less at the disk's end, or as many whole
    // pieces as lie in the hole that starts there.
    std::uint64_t pieceSizeAt(std::uint64_t at);
    void readPiece(std::uint64_t at, std::uint64_t size, Slot& slot);

    const readWriteInterface& reader_;
    std::uint64_t total_;
    std::uint64_t pieceBytes_;
    Slot slots_[2];
    int taken_ = -1; // the slot handed out by the last next(), kept until the next call
    std::mutex mutex_;
    std::condition_variable changed_;
    bool cancelled_ = false;
    std::thread readerThread_;
    bool synchronous_ = false;     // no helper thread could be had: next() reads itself
    std::uint64_t nextOffset_ = 0; // for the synchronous case
    // Where the disk's next data may be, as last asked: everything from the piece that asked up
    // to it is hole, so the pieces of a long hole ask once between them, not once each.
    std::uint64_t dataFrom_ = 0;
};

} // namespace vindaru
