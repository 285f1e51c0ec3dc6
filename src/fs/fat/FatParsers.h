// The FAT family behind the volume-parser interface: FAT16 (FAT12 volumes too, with 12-bit FAT
// entries), FAT32 and exFAT.
#pragma once

#include <memory>

#include "fs/parser/VolumeParser.h"

namespace vindaru {

std::shared_ptr<VolumeParser> createFat16Parser(const ParserSetup& setup);
std::shared_ptr<VolumeParser> createFat32Parser(const ParserSetup& setup);
std::shared_ptr<VolumeParser> createExFatParser(const ParserSetup& setup);

} // namespace vindaru
