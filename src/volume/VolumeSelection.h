// Choosing one volume without the volume list page: row N of the standard discovery, or a
// volume described by hand (the page's custom volume). Used by the command line, where every
// command that works on a volume takes one of these.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/Sinks.h"
#include "image/readWriteInterface.h"
#include "volume/FileSystemDriver.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

struct StandardVolumeChoice {
    std::optional<VolumeRecord> record; // row `index` of the list, numbered as the page numbers it
    std::size_t listed = 0;             // how many rows the discovery gave
    int readResult = 0;                 // readPartitionTable's result
};

// Runs the standard discovery (gpt: "GPT format") over the file systems of `table` and takes
// row `index`.
StandardVolumeChoice standardVolume(readWriteInterface& reader, FileSystemTable table, bool gpt, std::uint64_t index,
                                    StatusSink& status);

// A volume from `startSector` with the file system `treatAs` (a "Treat file system as:" name,
// see treatAsFileSystemName; nullopt when it is not one) and `sizeMb` MB, or, without a size,
// the rest of a disk of diskSectorCount sectors.
std::optional<VolumeRecord> describedVolume(FileSystemTable table, std::uint64_t startSector, const std::string& treatAs,
                                            std::optional<std::uint64_t> sizeMb, std::uint64_t diskSectorCount);

} // namespace vindaru
