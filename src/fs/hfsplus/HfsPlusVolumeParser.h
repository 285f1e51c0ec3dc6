// The HFS+ parser behind the volume-parser interface: the HFS+ thread of the scan page in the
// Standard and Deep modes (HFS+ has no Advanced mode).
#pragma once

#include <memory>

#include "fs/parser/VolumeParser.h"

namespace vindaru {

std::shared_ptr<VolumeParser> createHfsPlusParser(const ParserSetup& setup);

} // namespace vindaru
