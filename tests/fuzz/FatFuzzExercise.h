// One FAT-family fuzz input on the shared parser harness: the bytes (at most 32 KiB, which is
// where FAT inputs stop adding coverage) are the volume's first sectors, the rest of the
// in-memory volume reads as zeros; one Standard scan, the list texts and a few saved files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "ParserFuzz.h"
#include "fs/fat/FatParsers.h"

namespace vindaru::fuzz {

inline constexpr std::size_t kMaxInputBytes = 32 * 1024;

inline int exerciseFat(const std::uint8_t* data, std::size_t size, ParserFactory factory, const char* typeName,
                       bool driveFormatted) {
    scanListSave(factory, typeName, std::span(data, std::min(size, kMaxInputBytes)), kScanModeStandard,
                 driveFormatted);
    return 0;
}

} // namespace vindaru::fuzz
