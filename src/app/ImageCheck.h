// Whether the chosen file opens as the disk the user described, and if not, what the file is
// and what to choose instead. The image page runs it on every change of the path or the
// choices, so that its File Information, its "Size of HDD" and its Next never describe another
// file. The file is opened through the same readers the later pages use, in a session of its
// own, and only read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "image/ReaderFactory.h"

namespace vindaru::app {

struct ImageCheckResult {
    bool opens = false;
    std::uint64_t diskSectors = 0; // the disk as the readers see it (no "Size of HDD" applied)
    std::string problem;           // what the file is and what to choose; empty when it opens
};

// `fixedDisk`: the page's "Fixed Disk" choice, whose VMDK options are not offered.
ImageCheckResult checkImage(const std::string& path, const ImageChoices& choices,
                            bool fixedDisk = false);

// True when the disk's first sector is an MBR whose first partition entry has the protective
// type 0xEE, i.e. the disk carries a GUID partition table.
bool hasProtectiveMbr(const std::string& path, const ImageChoices& choices);

} // namespace vindaru::app
