#include "volume/VolumeDiscovery.h"

#include <string>

namespace vindaru {

VolumeDiscovery::VolumeDiscovery(const ByteSource& disk, FileSystemTable fileSystems, StatusSink& status,
                                 ProgressSink& progress, MessageSink& messages)
    : disk_(disk), status_(status), progress_(progress), messages_(messages), partition_(fileSystems) {}

std::vector<VolumeRecord> VolumeDiscovery::readPartitionTables(bool gptMode) {
    partition_.gptMode = gptMode;
    partition_.statusTarget = &status_;
    partition_.readPartitionTable(disk_);
    std::vector<VolumeRecord> volumes = partition_.volumeList;
    for (std::size_t i = 0; i < volumes.size(); ++i) volumes[i].volumeName = std::to_string(i);
    return volumes;
}

void VolumeDiscovery::scan(const ScanRange& range, const std::function<void(const VolumeRecord&)>& found) {
    partition_.skipVolumeSize = range.skipVolumeSize;
    partition_.customStartSector = range.startSector;
    partition_.customEndSector = range.endSector;
    partition_.diskSectorCount = range.diskSectorCount;
    partition_.statusTarget = &status_;
    partition_.progressTarget = &progress_;
    partition_.volumeFound = found;
    partition_.scanForVolumes(disk_);
}

void VolumeDiscovery::reportEnd(bool scanned) {
    if (scanned) {
        status_.setText("Scanned Partitions");
        messages_.infoNoCaption("populated partitions....");
    }
    status_.setText("Finished Scanning.");
    status_.setText("Select volume and click next button...");
}

} // namespace vindaru
