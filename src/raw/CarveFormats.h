// Where a carved file ends, read from its own structure: one small walker per format, each
// reading the bytes from the find's start through a bounded view and deciding whether the
// structure holds together (a whole file), breaks after a usable part (partial, cut at the last
// valid point), or breaks before anything usable (dropped). Every walk stays inside the limit
// it is given and takes bounded steps forward; only the compound file's walk allocates (its FAT's
// sector list, bounded by the sectors the limit holds).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "image/ByteSource.h"

namespace vindaru {

// The formats the default signatures name; a record's format travels in its first reserved
// field as kFormatTag | format, which the signature editor never writes (it writes 0).
enum class CarveFormat : std::uint16_t {
    None = 0, Jpeg, Png, Gif, Bmp, Pdf, Zip, Rar, SevenZip, Mp3, Mp4, Riff, Ole,
};
inline constexpr std::uint32_t kFormatTag = 0x46560000; // "VF" in the high half
CarveFormat formatOfReserved(std::uint32_t reserved);
inline std::uint32_t reservedOfFormat(CarveFormat f) { return kFormatTag | static_cast<std::uint32_t>(f); }

// The bytes of a find from its start, up to a limit (the volume's end or the format's largest
// size). `view` gives up to `length` bytes at `offset`; fewer where the limit comes first. A view
// stays valid until the next call.
class CarveBytes {
public:
    virtual ~CarveBytes() = default;
    virtual std::span<const std::uint8_t> view(std::uint64_t offset, std::size_t length) = 0;
    std::uint64_t limit() const { return limit_; }

protected:
    std::uint64_t limit_ = 0;
};

// Over bytes already in memory (tests, fuzzing).
class SpanCarveBytes : public CarveBytes {
public:
    explicit SpanCarveBytes(std::span<const std::uint8_t> bytes) : bytes_(bytes) { limit_ = bytes.size(); }
    std::span<const std::uint8_t> view(std::uint64_t offset, std::size_t length) override;

private:
    std::span<const std::uint8_t> bytes_;
};

// Over a volume: the bytes the sweep already holds from the find's start, then windows read
// through the reader (positions relative to the volume, as the carve reads them).
class ReaderCarveBytes : public CarveBytes {
public:
    ReaderCarveBytes(const ByteSource& reader, std::uint64_t start, std::uint64_t limit,
                     std::span<const std::uint8_t> inMemory, std::vector<std::uint8_t>& window);
    std::span<const std::uint8_t> view(std::uint64_t offset, std::size_t length) override;
    bool readFailed() const { return failed_; }

private:
    const ByteSource& reader_;
    std::uint64_t start_;
    std::span<const std::uint8_t> memory_;
    std::vector<std::uint8_t>& window_;
    std::uint64_t windowAt_ = UINT64_MAX; // offset from the start of the window's first byte
    std::size_t windowBytes_ = 0;
    bool failed_ = false;
};

enum class FindState : std::uint8_t { Invalid, Whole, Partial };

struct CarveEnd {
    FindState state = FindState::Invalid;
    std::uint64_t size = 0;
    // The extension the structure showed when it is more precise than the signature's own
    // (docx inside a zip, mov for a QuickTime file); empty otherwise.
    std::string_view extension;
};

// The walk for `format` over `bytes` (which start at the file's first byte).
CarveEnd walkFormat(CarveFormat format, CarveBytes& bytes);

CarveEnd walkJpeg(CarveBytes& bytes);
CarveEnd walkPng(CarveBytes& bytes);
CarveEnd walkGif(CarveBytes& bytes);
CarveEnd walkBmp(CarveBytes& bytes);
CarveEnd walkPdf(CarveBytes& bytes);
CarveEnd walkZip(CarveBytes& bytes);
CarveEnd walkRar(CarveBytes& bytes);
CarveEnd walkSevenZip(CarveBytes& bytes);
CarveEnd walkMp3(CarveBytes& bytes);
CarveEnd walkMp4(CarveBytes& bytes);
CarveEnd walkRiff(CarveBytes& bytes);
CarveEnd walkOle(CarveBytes& bytes);

const char* findStateText(FindState state); // "whole", "partial", "invalid"

} // namespace vindaru
