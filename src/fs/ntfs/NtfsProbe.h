// How discovery recognises an NTFS volume: by its boot sector.
#pragma once

#include "volume/FileSystemDriver.h"

namespace vindaru {

// The scan's key: the short jump.
inline constexpr ProbeKey kNtfsBootSectorKey = {0, "\xEB"};

// Signature: the jump EB 52 and sectors of 512 or 4096 bytes (NTFS as formatted on disks of
// 512-byte and of 4 KiB sectors; all a GPT partition's first sector needs). Valid: the "NTFS"
// name as well. The size is the boot sector's count of its own sectors.
ProbeHit probeNtfsBootSector(ByteSpan sector);

} // namespace vindaru
