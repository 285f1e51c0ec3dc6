// What both raw-recovery fuzz targets do with loaded signatures: one carve of a small in-memory
// volume (the given bytes first, zeros after), with the first finds read back as a save would;
// and the format walks of the default signatures over the same bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/readWriteInterface.h"
#include "raw/CarveFormats.h"
#include "raw/myJpg.h"

namespace vindaru::fuzz {

// Just past one 1 MiB chunk, so that chunk edges and the volume's end are both reached.
inline constexpr std::size_t kFuzzVolumeBytes = (1u << 20) + (64u << 10);
// A save reads the first finds, at most this much of each: enough to cross a sector edge, few
// enough that a signature matching every sector does not turn each input into a bulk copy.
inline constexpr std::uint64_t kFuzzSaveBytes = 4u << 10;
inline constexpr std::size_t kFuzzSavedFinds = 64;

// A flat volume over one buffer kept from input to input (allocating a fresh megabyte for every
// input would cost more than the carve).
class FuzzVolume : public readWriteInterface {
  public:
    bool open(const std::string&) override { return true; }
    bool readRange(std::uint64_t position, std::span<std::uint8_t> out, ReadReport*) const override {
        // memset and memcpy: byte loops here would be instrumented and dominate every run.
        if (out.empty()) return true;
        std::memset(out.data(), 0, out.size());
        if (position >= bytes.size()) return false;
        const std::size_t n = std::min<std::size_t>(out.size(), bytes.size() - static_cast<std::size_t>(position));
        std::memcpy(out.data(), bytes.data() + position, n);
        return true;
    }
    // Past the input's bytes the volume is zeros, and says so, as a sparse image's map would.
    bool isHole(std::uint64_t position, std::uint64_t length) const override {
        return length != 0 && position >= stored && position + length >= position;
    }
    std::uint64_t capacity() const override { return bytes.size(); }
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kFuzzVolumeBytes, 0);
    std::uint64_t stored = 0; // bytes from the start that hold the input
};

inline void carveAndRead(const std::vector<signatureRecord>& records, std::span<const std::uint8_t> head) {
    static FuzzVolume volume;
    head = head.first(std::min(head.size(), kFuzzVolumeBytes));
    if (!head.empty()) std::memcpy(volume.bytes.data(), head.data(), head.size());
    volume.stored = head.size();
    myJpg engine;
    for (const signatureRecord& r : records) engine.addSignature(r);
    // No tree: the check-box tree has its own fuzz target, and a signature that matches every
    // sector would make each input a tree of thousands of items.
    engine.attach(&volume, kFuzzVolumeBytes, nullptr, nullptr, nullptr);
    engine.carveVolume();
    static std::vector<std::uint8_t> buffer(kFuzzSaveBytes);
    const auto& finds = engine.foundFiles();
    for (std::size_t i = 0; i < finds.size() && i < kFuzzSavedFinds; ++i) {
        const myJpg::FoundFile& f = finds[i];
        const std::uint64_t n = std::min<std::uint64_t>(f.size, kFuzzSaveBytes);
        volume.readAt(f.start, std::span(buffer).first(static_cast<std::size_t>(n)));
        (void)engine.itemText(f);
    }
    if (!head.empty()) std::memset(volume.bytes.data(), 0, head.size());
}

// Every format's walk over `bytes`: from memory, and through a reader's window with only the
// first sector in memory (where a view is replaced while the walk goes on). A walk never ends a
// find past what it was given.
inline void walkEveryFormat(std::span<const std::uint8_t> bytes) {
    static FuzzVolume volume;
    static std::vector<std::uint8_t> window;
    bytes = bytes.first(std::min(bytes.size(), kFuzzVolumeBytes));
    if (!bytes.empty()) std::memcpy(volume.bytes.data(), bytes.data(), bytes.size());
    volume.stored = bytes.size();
    for (std::uint16_t f = 1; f <= static_cast<std::uint16_t>(CarveFormat::Ole); ++f) {
        const auto format = static_cast<CarveFormat>(f);
        SpanCarveBytes inMemory(bytes);
        if (walkFormat(format, inMemory).size > bytes.size()) __builtin_trap();
        ReaderCarveBytes windowed(volume, 0, bytes.size(), bytes.first(std::min<std::size_t>(bytes.size(), 512)), window);
        if (walkFormat(format, windowed).size > bytes.size()) __builtin_trap();
    }
    if (!bytes.empty()) std::memset(volume.bytes.data(), 0, bytes.size());
}

} // namespace vindaru::fuzz
