// The NTFS parser behind the volume-parser interface: the NTFS threads of the scan page
// (Standard, Deep and the Advanced rebuild) and the MFT candidate search.
#pragma once

#include <memory>

#include "fs/parser/VolumeParser.h"

namespace vindaru {

std::shared_ptr<VolumeParser> createNtfsParser(const ParserSetup& setup);

} // namespace vindaru
