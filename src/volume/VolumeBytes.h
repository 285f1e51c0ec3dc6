// Where a volume's bytes come from: the slice of the disk a parser, a scan or a carve reads it
// through, made from the volume record's numbers once, with checked arithmetic.
#pragma once

#include <cstdint>

#include "image/VolumeSlice.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

// The disk from the volume's first sector to the disk's end: a file system's own boot sector,
// not its table entry, says how far it reaches, and the described scans read on to the disk's
// end. A volume whose start lies past the disk's end (or past any disk) gets an empty slice.
VolumeSlice volumeSlice(const ByteSource& disk, const VolumeRecord& volume);

// The volume's length in bytes as discovery learnt it (its sector count), or, when it did not,
// every byte of `slice`.
std::uint64_t volumeLength(const VolumeRecord& volume, const VolumeSlice& slice);

} // namespace vindaru
