// How discovery recognises an HFS+ volume: by its volume header, 1 KiB in.
#pragma once

#include "fs/hfsplus/HfsPlusFormat.h"
#include "volume/FileSystemDriver.h"

namespace vindaru {

// The scan's key: the signature's first byte.
inline constexpr ProbeKey kHfsPlusHeaderKey = {0, "H"};

// `sector` is the volume header, kHfsHeaderOffset bytes into the volume. Signature: "H+" and a
// zero byte (all a GPT partition needs). Valid: version 4, a power-of-two block size of 512 bytes
// to 1 MiB, and a block count that reaches past the header and stays below 20 TiB. The size is
// blocks × block size in sectors.
ProbeHit probeHfsPlusHeader(ByteSpan sector);

} // namespace vindaru
