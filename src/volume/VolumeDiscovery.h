// The volume list's discovery on a disk: the standard one from the partition tables, each volume
// numbered by its place in the list, or the advanced one, a scan of the disk for boot sectors
// that reports each volume as it finds it; then the closing status texts and message. The volume
// list page (pages/PopulateDriveLogic) runs it, the scan on its worker, and so does
// `vindaru-cli volumes`.
//
// Threads: one discovery at a time on one thread; requestStop() from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "common/Sinks.h"
#include "image/ByteSource.h"
#include "volume/Partition.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

class VolumeDiscovery {
public:
    // The advanced discovery's range and skip, over a disk of diskSectorCount sectors (0 for
    // either end of the range: not given).
    struct ScanRange {
        bool skipVolumeSize = true; // the scan passes over the volumes it found
        std::uint64_t startSector = 0;
        std::uint64_t endSector = 0;
        std::uint64_t diskSectorCount = 0;
    };

    // `disk` and the rows of `fileSystems` (the file systems the scan looks for) must outlive
    // this object.
    VolumeDiscovery(const ByteSource& disk, FileSystemTable fileSystems, StatusSink& status,
                    ProgressSink& progress, MessageSink& messages);

    // The standard discovery: the MBR and its extended chain, or the GUID partition table, in
    // table order; each record's volume name is its place in the list.
    std::vector<VolumeRecord> readPartitionTables(bool gptMode);
    // The advanced discovery: `found` gets each volume as the scan finds it, on this thread.
    // Returns when the scan ends or is stopped.
    void scan(const ScanRange& range, const std::function<void(const VolumeRecord&)>& found);
    // Safe from any thread; a Stop before the scan starts holds for it.
    void requestStop() { partition_.requestStop(); }

    // The closing texts of a discovery (of the scan when `scanned`).
    void reportEnd(bool scanned);

private:
    const ByteSource& disk_;
    StatusSink& status_;
    ProgressSink& progress_;
    MessageSink& messages_;
    Partition partition_;
};

} // namespace vindaru
