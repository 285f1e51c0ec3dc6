#include "cli/CliVolume.h"

#include <charconv>

#include "common/DisplayFormat.h"
#include "volume/Partition.h"
#include "volume/VolumeTypeNames.h"

namespace vindaru::cli {

std::optional<std::uint64_t> parseUnsigned(const std::string& text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

namespace {

bool takeNumber(std::vector<std::string>& args, std::size_t i, std::optional<std::uint64_t>& out,
                std::string& error) {
    if (i + 1 >= args.size()) {
        error = args[i] + " needs a value";
        return false;
    }
    out = parseUnsigned(args[i + 1]);
    if (!out) {
        error = args[i] + ": not a whole number: " + args[i + 1];
        return false;
    }
    return true;
}

} // namespace

bool takeVolumeArgs(std::vector<std::string>& args, VolumeArgs& out, std::string& error) {
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool ok = true;
        if (a == "--gpt") {
            out.gpt = true;
            continue;
        } else if (a == "--volume") {
            ok = takeNumber(args, i, out.volumeIndex, error);
        } else if (a == "--start") {
            ok = takeNumber(args, i, out.startSector, error);
        } else if (a == "--size-mb") {
            ok = takeNumber(args, i, out.sizeMb, error);
        } else if (a == "--type") {
            if (i + 1 >= args.size()) {
                error = "--type needs a value";
                return false;
            }
            if (!treatAsFileSystemName(args[i + 1])) {
                error = "--type: unknown file system '" + args[i + 1] +
                        "' (NTFS, FAT16, FAT32, FAT64, EXTX, HFS+, RAW)";
                return false;
            }
            out.typeName = args[i + 1];
        } else {
            rest.push_back(a);
            continue;
        }
        if (!ok) return false;
        ++i; // the option's value
    }
    if (out.volumeIndex && (out.startSector || out.sizeMb)) {
        error = "--volume cannot be combined with --start or --size-mb";
        return false;
    }
    if ((out.startSector || out.sizeMb) && !out.typeName) {
        error = "a volume given by --start needs --type";
        return false;
    }
    if (out.typeName && !out.volumeIndex && !out.startSector) {
        error = "--type needs --volume N or --start SECTOR";
        return false;
    }
    args = std::move(rest);
    return true;
}

std::optional<VolumeRecord> resolveVolume(readWriteInterface& reader, std::uint64_t diskSectorCount,
                                          const VolumeArgs& args, StatusSink& status, std::string& error) {
    VolumeRecord record;
    if (args.volumeIndex) {
        Partition partition;
        partition.gptMode = args.gpt;
        partition.statusTarget = &status;
        const int rc = partition.readPartitionTable(reader);
        const std::uint64_t n = *args.volumeIndex;
        if (n >= partition.volumeList.size()) {
            error = rc != 0 ? "the partition table could not be read"
                            : formatText("no volume %llu: the disk has %zu",
                                         static_cast<unsigned long long>(n), partition.volumeList.size());
            return std::nullopt;
        }
        record = partition.volumeList[n];
        record.volumeName = std::to_string(n);
    } else if (args.startSector) {
        const std::uint64_t start = *args.startSector;
        const std::uint64_t rest = diskSectorCount > start ? diskSectorCount - start : 0;
        record.volumeName = "0";
        record.startSector = start;
        record.sizeText = formatText("%llu", static_cast<unsigned long long>(args.sizeMb ? *args.sizeMb : rest / 2048));
    } else {
        error = "no volume chosen: give --volume N or --start SECTOR --type NAME";
        return std::nullopt;
    }
    if (args.typeName) record.fileSystemName = *treatAsFileSystemName(*args.typeName);
    return record;
}

} // namespace vindaru::cli
