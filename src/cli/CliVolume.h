// The volume selector every vindaru-cli command that works on one volume shares.
//
//   --volume N [--gpt]                  row N of the standard discovery: the rows `vindaru-cli
//                                       volumes IMAGE [--gpt]` prints, counted from 0
//   --start SECTOR --type NAME [--size-mb M]
//                                       a volume described by hand, like "Add Custom Volume":
//                                       NAME is NTFS, FAT16, FAT32, FAT64 (or exfat), EXTX (or
//                                       ext2), HFS+ or RAW; the size defaults to the rest of the
//                                       disk from SECTOR. A bare volume image: --start 0 --type NTFS
//   --volume N --type NAME              row N treated as NAME ("Treat file system as:")
//
// Use, next to ImageOptions:
//   ArgParser parser(...); ImageOptions image(parser); VolumeOptions volume(parser);
//   if (!parser.parse(args)) return parser.exitCode();
//   ImageArgs imageArgs; VolumeArgs volumeArgs;
//   if (!image.resolve(imageArgs) || !volume.resolve(volumeArgs)) return parser.exitCode();
//   ... openSessionReader(session, imageArgs) ...
//   VolumeRecord record;
//   if (!selectVolume(session, volumeArgs, record)) return kExitUsage;   // message on stderr
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/ArgParser.h"
#include "common/Session.h"
#include "common/Sinks.h"
#include "image/readWriteInterface.h"
#include "volume/VolumeRecord.h"

namespace vindaru::cli {

inline constexpr const char* kVolumeOptionsUsage =
    "(--volume N [--gpt] | --start SECTOR --type NAME [--size-mb M])";

struct VolumeArgs {
    std::optional<std::uint64_t> volumeIndex; // --volume N
    bool gpt = false;                         // --gpt
    std::optional<std::uint64_t> startSector; // --start SECTOR
    std::optional<std::string> typeName;      // --type NAME, as given
    std::optional<std::uint64_t> sizeMb;      // --size-mb M
    // The recovery modes (and a formatted FAT drive) read volumes whose first sectors another
    // file system has since overwritten: --start is then refused only for a partition table.
    bool otherFileSystemAtStart = false;
};

// Registers --volume, --gpt, --start, --type and --size-mb on `parser`; after parser.parse(),
// resolve() checks that they describe exactly one volume.
class VolumeOptions {
public:
    explicit VolumeOptions(ArgParser& parser);
    // False after printing a usage error (the command returns parser.exitCode()).
    bool resolve(VolumeArgs& out);

private:
    ArgParser& parser_;
    std::uint64_t volume_ = 0;
    bool volumeGiven_ = false;
    bool gpt_ = false;
    std::uint64_t start_ = 0;
    bool startGiven_ = false;
    std::string type_;
    std::uint64_t sizeMb_ = 0;
    bool sizeGiven_ = false;
};

// The record of the chosen volume: row N of the standard discovery read through `reader`, or
// the volume described by hand on a disk of diskSectorCount sectors. Discovery status texts go
// to `status`. nullopt with a message in `error` when row N does not exist or the sectors at
// --start plainly hold something else (startMismatch).
// Sector 0 is a GUID-partitioned disk's protective MBR.
bool diskHasProtectiveMbr(readWriteInterface& reader);

std::optional<VolumeRecord> resolveVolume(readWriteInterface& reader, std::uint64_t diskSectorCount,
                                          const VolumeArgs& args, StatusSink& status, std::string& error);

// Why a volume described by hand cannot be of type `typeName`: the start is past the disk, or
// its first sectors hold a partition table or another file system. nullopt when they may hold
// it (recognised, or unrecognisable as a damaged volume is).
std::optional<std::string> startMismatch(readWriteInterface& reader, std::uint64_t startSector,
                                         const std::string& typeName, std::uint64_t diskSectorCount,
                                         bool otherFileSystemAllowed = false);

// resolveVolume on the session's reader, with status texts and errors on stderr.
bool selectVolume(Session& session, const VolumeArgs& args, VolumeRecord& out);

} // namespace vindaru::cli
