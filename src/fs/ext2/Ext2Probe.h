// How discovery recognises an ext2/ext3/ext4 volume: by its primary superblock, 1 KiB in.
#pragma once

#include "volume/FileSystemDriver.h"

namespace vindaru {

// Where the superblock lies in its volume.
inline constexpr std::uint32_t kExtSuperblockOffset = 1024;
// The scan's key: the magic's low byte.
inline constexpr ProbeKey kExtSuperblockKey = {56, "\x53"};

// `sector` is the superblock's first 512 bytes. Signature: the magic alone (two bytes, too weak
// for discovery). Valid: a block size of 1 to 64 KiB, blocks per group matching it, a volume
// that reaches past its superblock, and group 0 (a backup superblock further in names its own
// group, and does not start a volume). The size is the block count in sectors.
ProbeHit probeExtSuperblock(ByteSpan sector);

} // namespace vindaru
