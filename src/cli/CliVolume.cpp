#include "cli/CliVolume.h"

#include <iostream>

#include "cli/CliSinks.h"
#include "common/DisplayFormat.h"
#include "volume/VolumeSelection.h"
#include "volume/VolumeTypeNames.h"

namespace vindaru::cli {

VolumeOptions::VolumeOptions(ArgParser& parser) : parser_(parser) {
    parser.option("--volume", volume_, volumeGiven_)
        .flag("--gpt", gpt_)
        .option("--start", start_, startGiven_)
        .option("--type", type_)
        .option("--size-mb", sizeMb_, sizeGiven_);
}

bool VolumeOptions::resolve(VolumeArgs& out) {
    out = VolumeArgs{};
    out.gpt = gpt_;
    if (volumeGiven_) out.volumeIndex = volume_;
    if (startGiven_) out.startSector = start_;
    if (sizeGiven_) out.sizeMb = sizeMb_;
    if (!type_.empty()) out.typeName = type_;
    if (out.typeName && !treatAsFileSystemName(*out.typeName)) {
        parser_.usageError("--type takes NTFS, FAT16, FAT32, FAT64, EXTX, HFS+ or RAW, not '" + type_ + "'");
        return false;
    }
    if (out.volumeIndex && (out.startSector || out.sizeMb)) {
        parser_.usageError("--volume cannot be combined with --start or --size-mb");
        return false;
    }
    if (out.sizeMb && !out.startSector) {
        parser_.usageError("--size-mb belongs to a volume given by --start");
        return false;
    }
    if (out.startSector && !out.typeName) {
        parser_.usageError("a volume given by --start needs --type");
        return false;
    }
    if (!out.volumeIndex && !out.startSector) {
        parser_.usageError("choose a volume: --volume N, or --start SECTOR --type NAME");
        return false;
    }
    return true;
}

std::optional<VolumeRecord> resolveVolume(readWriteInterface& reader, std::uint64_t diskSectorCount,
                                          const VolumeArgs& args, StatusSink& status, std::string& error) {
    if (args.volumeIndex) {
        StandardVolumeChoice choice = standardVolume(reader, args.gpt, *args.volumeIndex, status);
        if (!choice.record) {
            error = choice.listed == 0 && choice.readResult != 0
                        ? std::string("the partition table cannot be read")
                        : formatText("there is no volume %llu; the disk lists %zu",
                                     static_cast<unsigned long long>(*args.volumeIndex), choice.listed);
            return std::nullopt;
        }
        if (args.typeName) choice.record->fileSystemName = *treatAsFileSystemName(*args.typeName);
        return choice.record;
    }
    if (args.startSector && args.typeName)
        if (auto record = describedVolume(*args.startSector, *args.typeName, args.sizeMb, diskSectorCount))
            return record;
    error = "choose a volume: --volume N, or --start SECTOR --type NAME";
    return std::nullopt;
}

bool selectVolume(Session& session, const VolumeArgs& args, VolumeRecord& out) {
    if (!session.sessionReader) return false;
    CliStatusSink status;
    std::string error;
    auto record = resolveVolume(*session.sessionReader, session.diskSectorCount, args, status, error);
    status.flush();
    if (!record) {
        std::cerr << "vindaru-cli: " << error << "\n";
        return false;
    }
    out = *record;
    return true;
}

} // namespace vindaru::cli
