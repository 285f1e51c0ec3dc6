// How the carving engine sizes, names and files the finds of one loaded signature.
#pragma once

#include <cstdint>
#include <string>

#include "common/CheckTree.h"
#include "raw/CarveFormats.h"

namespace vindaru {

struct carvingRule {
    std::uint8_t startLength = 0;
    std::uint8_t endLength = 0;
    std::string extension;         // at most four characters
    std::int32_t sizeOffset = -1;  // -1 when the record's value is not above 0
    std::int32_t bytesInSize = 0;
    std::int32_t headerSize = 0;
    std::uint8_t sizeIncludesHeader = 0;
    std::uint32_t reserved = 0;
    std::int64_t approximateSize = 0;
    std::int64_t skipSize = 0;
    std::string category;          // at most fifty characters
    TreeItemId categoryItem = kNoTreeItem;
    std::uint64_t count = 0;
    std::uint64_t* categoryCount = nullptr; // the carve's count of finds in the category
    // Set for the default signatures: the find ends where the format's structure ends.
    CarveFormat format = CarveFormat::None;
};

} // namespace vindaru
