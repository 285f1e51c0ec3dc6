// The ext2 parser behind the volume-parser interface: the scan page's ext2 thread (Standard is
// the only mode ext volumes offer).
#pragma once

#include <memory>

#include "fs/parser/VolumeParser.h"

namespace vindaru {

std::shared_ptr<VolumeParser> createExt2Parser(const ParserSetup& setup);

} // namespace vindaru
