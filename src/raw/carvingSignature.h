// What the carving engine matches for one loaded signature: its start and end bytes.
#pragma once

#include <array>
#include <cstdint>

#include "raw/signatureRecord.h"

namespace vindaru {

struct carvingSignature {
    std::array<char16_t, kExtensionUnits + 1> extension{};
    std::uint8_t extensionLength = 0;
    std::array<std::uint8_t, kSignatureBytes> startBytes{};
    std::array<std::uint8_t, kSignatureBytes> endBytes{};
    std::uint8_t startLength = 0;
    std::uint8_t endLength = 0;
    std::uint8_t id = 0; // the low byte of the position in the engine's lists
    std::int32_t startOffset = 0;
};

} // namespace vindaru
