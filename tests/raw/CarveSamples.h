// Synthetic files of the kinds the default signatures know, and volumes of random bytes with
// such files placed at sector boundaries: what the carving tests and the CLI tests carve.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

namespace vindaru::test {

using Bytes = std::vector<std::uint8_t>;

inline void putLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Random filler that never starts a sector with a known signature by accident.
inline Bytes randomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    for (std::size_t s = 0; s < n; s += 512) b[s] = 0x11; // no signature starts with 0x11
    return b;
}

// `size` bytes of random filler (sector starts 0x11, relative to the file, which is placed at a
// sector) with `head` over its first bytes and `tail` over its last.
inline Bytes withHead(const Bytes& head, std::size_t size, std::uint32_t seed, const Bytes& tail = {}) {
    Bytes b = randomBytes(size, seed);
    std::copy(head.begin(), head.end(), b.begin());
    std::copy(tail.begin(), tail.end(), b.end() - static_cast<std::ptrdiff_t>(tail.size()));
    return b;
}

inline void putBe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// The files below are structurally whole, of exactly `size` bytes, their content random: what
// the default signatures' walks take from their first byte to their last.

// Start of image, an application segment, tables, a frame and a scan header, entropy-coded data
// with no 0xFF, end of image.
inline Bytes sampleJpeg(std::size_t size, std::uint32_t seed, bool exif = false) {
    Bytes head = {0xFF, 0xD8, 0xFF, static_cast<std::uint8_t>(exif ? 0xE1 : 0xE0), 0x00, 0x10};
    // Fourteen bytes of segment body each (the segment length 0x10 counts its own two bytes).
    static constexpr std::uint8_t exifBody[14] = {'E', 'x', 'i', 'f', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    static constexpr std::uint8_t jfifBody[14] = {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    const std::uint8_t* app = exif ? exifBody : jfifBody;
    head.insert(head.end(), app, app + 14);
    head.insert(head.end(), {0xFF, 0xDB, 0x00, 0x43, 0x00});
    head.insert(head.end(), 64, 0x10);
    head.insert(head.end(), {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x10, 0x03, 0x01, 0x22, 0x00,
                             0x02, 0x11, 0x00, 0x03, 0x11, 0x00});
    head.insert(head.end(), {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00});
    Bytes b = withHead(head, size, seed, {0xFF, 0xD9});
    for (std::size_t i = head.size(); i + 2 < size; ++i)
        if (b[i] == 0xFF) b[i] = 0xFE;
    return b;
}

inline void pngChunk(Bytes& b, std::size_t at, const char* type, std::uint32_t length) {
    putBe32(b, at, length);
    std::copy(type, type + 4, b.begin() + static_cast<std::ptrdiff_t>(at + 4));
    const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, b.data() + at + 4, length + 4));
    putBe32(b, at + 8 + length, crc);
}
// Signature, header, one data chunk, end.
inline Bytes samplePng(std::size_t size, std::uint32_t seed) {
    Bytes b = withHead({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}, size, seed);
    for (std::size_t i = 16; i < 29; ++i) b[i] = 1;
    pngChunk(b, 8, "IHDR", 13);
    pngChunk(b, 33, "IDAT", static_cast<std::uint32_t>(size - 33 - 12 - 12));
    pngChunk(b, size - 12, "IEND", 0);
    return b;
}
// Header, screen, one image of data sub-blocks, trailer.
inline Bytes sampleGif(std::size_t size, std::uint32_t seed) {
    Bytes b = withHead({'G', 'I', 'F', '8', '9', 'a', 16, 0, 16, 0, 0, 0, 0,
                        0x2C, 0, 0, 0, 0, 16, 0, 16, 0, 0, 8}, size, seed, {0x00, 0x3B});
    std::size_t at = 24;
    const std::size_t end = size - 2; // the closing empty block and the trailer
    while (at < end) {
        std::size_t n = std::min<std::size_t>(255, end - at - 1);
        if (end - at - 1 - n == 1) --n; // no room left for a block of one size byte alone
        b[at] = static_cast<std::uint8_t>(n);
        at += 1 + n;
    }
    return b;
}
inline Bytes samplePdf(std::size_t size, std::uint32_t seed) {
    const std::string tail = "\nstartxref\n9\n%%EOF\n";
    Bytes b = withHead({'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n'}, size, seed, Bytes(tail.begin(), tail.end()));
    return b;
}
// One stored member, its directory entry and the end record.
inline Bytes sampleZip(std::size_t size, std::uint32_t seed) {
    const std::uint32_t data = static_cast<std::uint32_t>(size - 30 - 5 - 46 - 5 - 22);
    Bytes b = withHead({'P', 'K', 3, 4, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0,
                        'a', '.', 'b', 'i', 'n'}, size, seed);
    putLe32(b, 18, data);
    putLe32(b, 22, data);
    const std::size_t dir = 35 + data;
    const Bytes central = {'P', 'K', 1, 2, 20, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                           5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'a', '.', 'b', 'i', 'n'};
    std::copy(central.begin(), central.end(), b.begin() + static_cast<std::ptrdiff_t>(dir));
    putLe32(b, dir + 20, data);
    putLe32(b, dir + 24, data);
    const Bytes eocd = {'P', 'K', 5, 6, 0, 0, 0, 0, 1, 0, 1, 0, 51, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::copy(eocd.begin(), eocd.end(), b.begin() + static_cast<std::ptrdiff_t>(dir + 51));
    putLe32(b, dir + 51 + 16, static_cast<std::uint32_t>(dir));
    return b;
}
// A 24-bit picture 16 pixels wide, as many rows as the size holds.
inline Bytes sampleBmp(std::size_t size, std::uint32_t seed) {
    Bytes b = withHead({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 1, 0, 24, 0,
                        0, 0, 0, 0}, size, seed);
    putLe32(b, 2, static_cast<std::uint32_t>(size));
    putLe32(b, 22, static_cast<std::uint32_t>((size - 54) / 48));
    return b;
}
inline Bytes sampleWav(std::size_t size, std::uint32_t seed) {
    Bytes b = withHead({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                        1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0, 'd', 'a', 't', 'a'}, size, seed);
    putLe32(b, 4, static_cast<std::uint32_t>(size - 8));
    putLe32(b, 40, static_cast<std::uint32_t>(size - 44));
    return b;
}

struct PlacedFile {
    std::string kind; // extension the default signatures give it
    std::uint64_t position = 0;
    Bytes bytes;
};

// A volume of `mib` MiB of random bytes with `files` written at their positions.
inline Bytes buildVolume(std::size_t mib, const std::vector<PlacedFile>& files, std::uint32_t seed = 7) {
    Bytes v = randomBytes(mib << 20, seed);
    for (const PlacedFile& f : files)
        std::copy(f.bytes.begin(), f.bytes.end(), v.begin() + static_cast<std::ptrdiff_t>(f.position));
    return v;
}

// One of each kind, some of them large, placed back to back from sector 8 on (with a gap of a
// few sectors after each), some crossing chunk boundaries.
inline std::vector<PlacedFile> mixedLayout(std::uint32_t seed) {
    std::mt19937 rng(seed);
    const auto size = [&](std::size_t lo, std::size_t hi) {
        return lo + static_cast<std::size_t>(rng() % (hi - lo));
    };
    std::vector<PlacedFile> files;
    std::uint64_t at = 8 * 512;
    const auto place = [&](std::string kind, Bytes bytes, bool adjacent = false) {
        files.push_back(PlacedFile{std::move(kind), at, bytes});
        at += (bytes.size() + 511) / 512 * 512 + (adjacent ? 0 : 512 * (rng() % 4));
    };
    place("jpg", sampleJpeg(size(3000, 400000), seed + 1));
    place("bmp", sampleBmp(size(1u << 20, 3u << 20), seed + 2));
    place("png", samplePng(size(2000, 300000), seed + 3));
    place("wav", sampleWav(size(1000, 900000), seed + 4));
    place("gif", sampleGif(size(500, 50000), seed + 5));
    place("bmp", sampleBmp(4096, seed + 6), true); // the next file starts right after it
    place("pdf", samplePdf(size(1000, 600000), seed + 7));
    place("zip", sampleZip(size(1000, 700000), seed + 8));
    place("jpg", sampleJpeg(size(3000, 200000), seed + 9, true));
    return files;
}

} // namespace vindaru::test
