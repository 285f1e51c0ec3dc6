// Synthetic files of the kinds the default signatures know, and volumes of random bytes with
// such files placed at sector boundaries: what the carving tests and the CLI tests carve.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

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

inline Bytes withHead(const Bytes& head, std::size_t size, std::uint32_t seed, const Bytes& tail = {}) {
    Bytes b = randomBytes(size, seed);
    std::copy(head.begin(), head.end(), b.begin());
    std::copy(tail.begin(), tail.end(), b.end() - static_cast<std::ptrdiff_t>(tail.size()));
    // The filler must not look like a later sector's start of another file.
    for (std::size_t s = 512; s < size; s += 512) b[s] = 0x11;
    return b;
}

inline Bytes sampleJpeg(std::size_t size, std::uint32_t seed, bool exif = false) {
    return withHead({0xFF, 0xD8, 0xFF, static_cast<std::uint8_t>(exif ? 0xE1 : 0xE0), 0x00, 0x10},
                    size, seed, {0xFF, 0xD9});
}
inline Bytes samplePng(std::size_t size, std::uint32_t seed) {
    return withHead({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A}, size, seed,
                    {0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82});
}
inline Bytes sampleGif(std::size_t size, std::uint32_t seed) {
    return withHead({'G', 'I', 'F', '8', '9', 'a'}, size, seed, {0x3B});
}
inline Bytes samplePdf(std::size_t size, std::uint32_t seed) {
    return withHead({'%', 'P', 'D', 'F', '-', '1', '.', '4'}, size, seed, {'%', '%', 'E', 'O', 'F', '\n'});
}
inline Bytes sampleZip(std::size_t size, std::uint32_t seed) {
    return withHead({'P', 'K', 3, 4, 20, 0}, size, seed, {'P', 'K', 5, 6});
}
inline Bytes sampleBmp(std::size_t size, std::uint32_t seed) {
    Bytes b = withHead({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0}, size, seed);
    putLe32(b, 2, static_cast<std::uint32_t>(size));
    return b;
}
inline Bytes sampleWav(std::size_t size, std::uint32_t seed) {
    Bytes b = withHead({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}, size, seed);
    putLe32(b, 4, static_cast<std::uint32_t>(size - 8));
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
