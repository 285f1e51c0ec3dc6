// What both raw-recovery fuzz targets do with loaded signatures: one carve of a small in-memory
// volume (the given bytes first, zeros after), with every find read back as a save would.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "image/MemoryReader.h"
#include "raw/myJpg.h"

namespace vindaru::fuzz {

inline constexpr std::size_t kFuzzVolumeBytes = 2u << 20;
// A save reads at most this much of each find here: enough to cross a sector and a chunk edge.
inline constexpr std::uint64_t kFuzzSaveBytes = 64u << 10;

inline void carveAndRead(const std::vector<signatureRecord>& records, std::vector<std::uint8_t> head) {
    head.resize(std::max(head.size(), kFuzzVolumeBytes), 0);
    MemoryReader reader(std::move(head));
    CheckTree tree;
    myJpg engine;
    for (const signatureRecord& r : records) engine.addSignature(r);
    engine.attach(&reader, kFuzzVolumeBytes, &tree, nullptr, nullptr);
    engine.carveVolume();
    std::vector<std::uint8_t> buffer(kFuzzSaveBytes);
    for (const myJpg::FoundFile& f : engine.foundFiles()) {
        const std::uint64_t n = std::min<std::uint64_t>(f.size, kFuzzSaveBytes);
        reader.readAt(f.start, std::span(buffer).first(static_cast<std::size_t>(n)));
        (void)engine.itemText(f);
    }
}

} // namespace vindaru::fuzz
