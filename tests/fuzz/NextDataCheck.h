// What nextData promises on any input, checked where the fuzz targets read: never an offset
// before the one asked about, and never past the source's end when asked inside it.
#pragma once

#include <cstdint>

#include "image/ByteSource.h"

namespace vindaru::fuzz {

inline void checkNextData(const ByteSource& source, std::uint64_t at) {
    const std::uint64_t next = source.nextData(at);
    if (next < at || (at < source.size() && next > source.size())) __builtin_trap();
}

} // namespace vindaru::fuzz
