// One FAT-family fuzz input on the shared parser harness: the bytes (at most 32 KiB, which is
// where FAT inputs stop adding coverage) are the volume's first sectors, the rest of the
// in-memory volume reads as zeros; one scan, the list texts and a few saved files. The last
// byte picks the mode: 0xF0/0xF1 Standard (0xF1 with "Is Drive Formated..?"), 0x80 to 0xFF
// otherwise the Advanced mode's candidate search and rebuild (the low seven bits the choice),
// anything below 0x80 Standard.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "ParserFuzz.h"
#include "fs/fat/FatParsers.h"

namespace vindaru::fuzz {

inline constexpr std::size_t kMaxInputBytes = 32 * 1024;
// The whole-volume searches of the Advanced mode read every non-hole piece; a small volume
// keeps them cheap (the input is its first 32 KiB either way).
inline constexpr std::uint64_t kFatFuzzVolumeBytes = 256 << 10;

inline int exerciseFat(const std::uint8_t* data, std::size_t size, ParserFactory factory, const char* typeName) {
    const std::uint8_t last = size > 0 ? data[size - 1] : 0;
    const bool formatted = last == 0xF1;
    const bool advanced = last >= 0x80 && (last & 0xFE) != 0xF0;
    scanListSave(factory, typeName, std::span(data, std::min(size, kMaxInputBytes)),
                 advanced ? kScanModeAdvanced : kScanModeStandard, formatted, last & 0x7F, kFatFuzzVolumeBytes);
    return 0;
}

} // namespace vindaru::fuzz
