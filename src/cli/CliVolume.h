// The volume selector every vindaru-cli command that works on one volume shares.
//
//   --volume N                          row N of the standard discovery (the rows `vindaru-cli
//                                       volumes IMAGE` prints; add --gpt for a GPT disk)
//   --start SECTOR --type NAME [--size-mb M]
//                                       a volume described by hand, like "Add Custom Volume":
//                                       NAME is NTFS, FAT16, FAT32, FAT64 (exfat), EXTX (ext2),
//                                       HFS+ or RAW; the size defaults to the rest of the disk
//                                       from SECTOR. A bare volume image is --start 0 --type NTFS.
//   --volume N --type NAME              row N, treated as NAME ("Treat file system as:").
//
// Use: call takeVolumeArgs on the command's arguments (it removes what it understands and
// leaves the rest in order), open the image, then resolveVolume with the session reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/Sinks.h"
#include "image/readWriteInterface.h"
#include "volume/VolumeRecord.h"

namespace vindaru::cli {

struct VolumeArgs {
    std::optional<std::uint64_t> volumeIndex; // --volume N
    bool gpt = false;                         // --gpt
    std::optional<std::uint64_t> startSector; // --start SECTOR
    std::optional<std::string> typeName;      // --type NAME
    std::optional<std::uint64_t> sizeMb;      // --size-mb M

    bool given() const { return volumeIndex || startSector || typeName || sizeMb; }
};

// One line for a command's usage text.
inline constexpr const char* kVolumeUsage = "(--volume N [--gpt] | --start SECTOR --type NAME [--size-mb M])";

// Removes --volume, --gpt, --start, --type and --size-mb (with their values) from args.
// false with a message in error when a value is missing or malformed, or when the options
// contradict each other (--volume with --start, --start without --type, ...). A command that
// needs a volume should also fail when !given().
bool takeVolumeArgs(std::vector<std::string>& args, VolumeArgs& out, std::string& error);

// The record of the chosen volume. diskSectorCount is the disk's size in sectors (the default
// size of a hand-described volume). Discovery status texts go to status. nullopt with a
// message in error when row N does not exist or the partition tables cannot be read.
std::optional<VolumeRecord> resolveVolume(readWriteInterface& reader, std::uint64_t diskSectorCount,
                                          const VolumeArgs& args, StatusSink& status, std::string& error);

// Parses a whole decimal number (no sign, no blanks). Shared by the volume commands.
std::optional<std::uint64_t> parseUnsigned(const std::string& text);

} // namespace vindaru::cli
