#include "volume/VolumeSelection.h"

#include "volume/Partition.h"
#include "volume/VolumeTypeNames.h"

namespace vindaru {

StandardVolumeChoice standardVolume(readWriteInterface& reader, FileSystemTable table, bool gpt, std::uint64_t index,
                                    StatusSink& status) {
    Partition partition(table);
    partition.gptMode = gpt;
    partition.statusTarget = &status;
    StandardVolumeChoice choice;
    choice.readResult = partition.readPartitionTable(reader);
    choice.listed = partition.volumeList.size();
    if (index < choice.listed) {
        VolumeRecord record = partition.volumeList[index];
        record.volumeName = std::to_string(index); // the page numbers rows by their place
        choice.record = std::move(record);
    }
    return choice;
}

std::optional<VolumeRecord> describedVolume(FileSystemTable table, std::uint64_t startSector, const std::string& treatAs,
                                            std::optional<std::uint64_t> sizeMb, std::uint64_t diskSectorCount) {
    const auto name = treatAsFileSystemName(table, treatAs);
    if (!name) return std::nullopt;
    const std::uint64_t rest = diskSectorCount > startSector ? diskSectorCount - startSector : 0;
    return VolumeRecord{*name, std::string(1, '0'), std::to_string(sizeMb ? *sizeMb : rest / 2048), startSector};
}

} // namespace vindaru
