#include "cli/CliVolume.h"

#include <algorithm>
#include <array>
#include <iostream>
#include <vector>

#include "browser/FileSystemDrivers.h"
#include "cli/CliSinks.h"
#include "common/DisplayFormat.h"
#include "image/VolumeSlice.h"
#include "volume/VolumeSelection.h"
#include "volume/VolumeSignatures.h"
#include "volume/VolumeTypeNames.h"

namespace vindaru::cli {

namespace {

// Enough for every probe's sector: the boot sector, and the superblock or volume header 1 KiB in.
constexpr std::size_t kProbeBytes = 2048;
constexpr std::size_t kBootSignatureOffset = 510;
constexpr const char* kPartitionTable = "a partition table";

// A master boot record (or a GPT disk's protective one): the signature, boot flags that are
// flags (boot code left in a damaged boot sector rarely has them) and a used entry after sector 0.
bool isPartitionTable(ByteSpan sector) {
    if (u8(sector, kBootSignatureOffset) != 0x55 || u8(sector, kBootSignatureOffset + 1) != 0xAA) return false;
    for (std::size_t i = 0; i < kMbrEntryCount; ++i) {
        const std::uint8_t flag = u8(sector, kMbrEntryTable + i * kMbrEntrySize);
        if (flag != 0x00 && flag != 0x80) return false;
    }
    bool used = false;
    for (const MbrEntry& entry : decodeMbrEntries(sector))
        if (entry.type != kMbrTypeEmpty && entry.startLba != 0 && entry.sectorCount != 0) used = true;
    return used;
}

// What a row's probed structure is called in messages.
const char* holdsText(const FileSystemDriver& row) { return row.startHolds ? row.startHolds : row.recordName; }

// "NTFS, FAT16, ... or RAW": the names --type takes, in the table's order.
std::string typeNamesText() {
    std::vector<std::string> names;
    for (const FileSystemDriver& row : fileSystemDrivers())
        if (row.treatAsName) names.emplace_back(row.treatAsName);
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    return text;
}

} // namespace

std::optional<std::string> startMismatch(readWriteInterface& reader, std::uint64_t startSector,
                                         const std::string& typeName, std::uint64_t diskSectorCount,
                                         bool otherFileSystemAllowed) {
    const FileSystemTable table = fileSystemDrivers();
    const FileSystemDriver* expected = treatAsFileSystem(table, typeName);
    if (!expected || !expected->probe) return std::nullopt; // RAW: any bytes can be carved
    if (startSector >= diskSectorCount)
        return formatText("sector %llu is past the end of the disk (%llu sectors)",
                          static_cast<unsigned long long>(startSector),
                          static_cast<unsigned long long>(diskSectorCount));
    // Past the disk's end the probe reads as zeros, which judge as nothing found.
    std::vector<std::uint8_t> probe(kProbeBytes, 0);
    if (startSector <= UINT64_MAX / kSectorSize) {
        const std::uint64_t available = (diskSectorCount - startSector) * kSectorSize;
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(kProbeBytes, available));
        if (!reader.readAt(startSector * kSectorSize, std::span<std::uint8_t>(probe.data(), length)))
            std::fill(probe.begin(), probe.end(), 0);
    }
    const FileSystemDriver* found = probeVolumeStart(table, probe);
    // Nothing recognisable may be a damaged volume, which the recovery modes are for; only
    // something that is plainly not this file system is refused. Rows that read the same kind
    // of structure (FAT12, FAT16 and FAT32 boot sectors) are one another's.
    const char* holds = found ? holdsText(*found) : isPartitionTable(ByteSpan(probe).first(kSectorSize)) ? kPartitionTable : nullptr;
    if (!holds || found == expected || (found && std::string_view(holds) == holdsText(*expected))) return std::nullopt;
    if (otherFileSystemAllowed && found) return std::nullopt;
    std::string text = formatText("sector %llu holds %s, not %s", static_cast<unsigned long long>(startSector), holds,
                                  holdsText(*expected));
    if (!found)
        text += ": choose one of the disk's volumes with --volume N (`vindaru-cli volumes` lists them)";
    else
        text += ": give --type to match, or the volume's own start sector";
    return text;
}

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
    if (out.typeName && !treatAsFileSystem(fileSystemDrivers(), *out.typeName)) {
        parser_.usageError("--type takes " + typeNamesText() + ", not '" + type_ + "'");
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

bool diskHasProtectiveMbr(readWriteInterface& reader) {
    std::array<std::uint8_t, kSectorSize> sector{};
    return reader.readAt(0, sector) && isProtectiveMbr(sector);
}

std::optional<VolumeRecord> resolveVolume(readWriteInterface& reader, std::uint64_t diskSectorCount,
                                          const VolumeArgs& args, StatusSink& status, std::string& error) {
    if (args.volumeIndex) {
        // A protective MBR says the disk has a GUID partition table, --gpt or not (as the
        // wizard's modes page ticks "GPT format" by itself).
        const bool gpt = args.gpt || diskHasProtectiveMbr(reader);
        // The discovery's own texts name every volume it passes ("found FAT 32..."), not the
        // one chosen: they are left out, and the chosen volume is named instead.
        NullStatusSink discovery;
        StandardVolumeChoice choice = standardVolume(reader, fileSystemDrivers(), gpt, *args.volumeIndex, discovery);
        if (!choice.record) {
            error = choice.listed == 0 && choice.readResult != 0
                        ? std::string("the partition table cannot be read")
                        : formatText("there is no volume %llu; the disk lists %zu",
                                     static_cast<unsigned long long>(*args.volumeIndex), choice.listed);
            return std::nullopt;
        }
        if (args.typeName) choice.record->fileSystemName = *treatAsFileSystemName(fileSystemDrivers(), *args.typeName);
        // A table entry from a damaged or hostile disk may point past it, or past any disk.
        const auto made = VolumeSlice::fromSectors(reader, choice.record->startSector, choice.record->sectorCount);
        if (!made) {
            error = formatText("volume %llu cannot be read: ", static_cast<unsigned long long>(*args.volumeIndex)) +
                    made.problem;
            return std::nullopt;
        }
        if (!made.problem.empty())
            std::cerr << "vindaru-cli: warning: volume " << *args.volumeIndex << ": " << made.problem << "\n";
        status.setText(formatText("volume %s: %s at sector %llu", choice.record->volumeName.c_str(),
                                  choice.record->fileSystemName.c_str(),
                                  static_cast<unsigned long long>(choice.record->startSector)));
        return choice.record;
    }
    if (args.startSector && args.typeName) {
        if (auto mismatch = startMismatch(reader, *args.startSector, *args.typeName, diskSectorCount,
                                          args.otherFileSystemAtStart)) {
            error = *mismatch;
            return std::nullopt;
        }
        if (auto record = describedVolume(fileSystemDrivers(), *args.startSector, *args.typeName, args.sizeMb, diskSectorCount)) {
            const std::uint64_t rest = diskSectorCount - *args.startSector;
            record->sectorCount = args.sizeMb && *args.sizeMb <= rest / 2048 ? *args.sizeMb * 2048 : rest;
            return record;
        }
    }
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
