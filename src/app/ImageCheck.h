// Whether the chosen file opens as the disk the user described, and if not, what the file is
// and what to choose instead. The image page runs it on every change of the path or the
// choices, so that its File Information, its "Size of HDD" and its Next never describe another
// file. The file is opened through the same readers the later pages use, in a session of its
// own, and only read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/ImageChain.h"
#include "image/ReaderFactory.h"

namespace vindaru::app {

// How a snapshot chain is read: as of which layer (numbered from the base; nullopt: the latest),
// and whether a child whose parent is missing is read alone. Every page that opens the disk
// opens it so, through the session.
struct ChainChoice {
    std::optional<std::size_t> layer;
    bool allowMissingParent = false;
    std::vector<std::string> namedParents; // parent files the user chose, tried before any other
    void applyTo(Session& session) const;
};

struct ImageCheckResult {
    bool opens = false;
    std::uint64_t diskSectors = 0; // the disk as the readers see it (no "Size of HDD" applied)
    std::string problem;           // what the file is and what to choose; empty when it opens
    std::string kindText;          // the reader's own name of what it opened ("vhdx (dynamic)")
    ChainReport chain;             // the layers found; a missing parent, refused or read without
    std::string damage;            // "2 ranges unreadable, 64.0 MB", as `info` prints it
    bool logUnreplayable = false;  // a VHDX refused for a log that cannot be replayed
};

// `fixedDisk`: the page's "Fixed Disk" choice, whose VMDK options are not offered.
ImageCheckResult checkImage(const std::string& path, const ImageChoices& choices,
                            bool fixedDisk = false, const ChainChoice& chain = {});

// True when the disk's first sector is an MBR whose first partition entry has the protective
// type 0xEE, i.e. the disk carries a GUID partition table.
bool hasProtectiveMbr(const std::string& path, const ImageChoices& choices,
                      const ChainChoice& chain = {});

} // namespace vindaru::app
