// Partition finds the volumes of the virtual disk and describes each as a VolumeRecord.
//
// Two discoveries:
//  - readPartitionTable: the standard discovery from the MBR and its extended chain, or from a
//    GUID partition table when gptMode is set; quick, meant for the UI thread.
//  - scanForVolumes: the advanced discovery, a scan of a sector range for the boot sectors,
//    superblocks and volume headers the file systems' probes recognise; long, meant for a
//    worker thread, stopped through control.
//
// Partition knows no file system itself: it is given the table of driver rows
// (volume/FileSystemDriver.h) and names, sizes and reports each volume as the row that
// recognises it says. Only the partition tables are its own.
//
// Results are appended to volumeList in discovery order, and each is also handed to
// volumeFound (when set) as it is found, on the discovering thread. Status texts go to
// statusTarget, the scan's progress (0..1000) to progressTarget. Partition owns nothing but
// its results; the disk belongs to the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <vector>

#include "common/Sinks.h"
#include "common/StopControl.h"
#include "image/readWriteInterface.h"
#include "volume/FileSystemDriver.h"
#include "volume/VolumeRecord.h"
#include "volume/VolumeSignatures.h"

namespace vindaru {

class Partition {
public:
    // `fileSystems` (the program's table: browser/FileSystemDrivers.h) outlives the Partition.
    explicit Partition(FileSystemTable fileSystems);

    // Standard discovery. Returns 0, or an error code (errno style) when a table sector could
    // not be read; the records found before the failure stay in volumeList.
    int readPartitionTable(const ByteSource& reader);

    // Advanced discovery over [customStartSector, customEndSector) of a disk of diskSectorCount
    // sectors (0 for either end of the range means "not given"). Returns when the scan ends:
    // at the end of the range or the disk, on a read failure, or when stop is requested.
    void scanForVolumes(const ByteSource& reader);

    // Safe from any thread; a running scan notices it between sectors. A Stop holds for the
    // Partition's life, also when it comes before the worker begins: a new discovery starts with
    // a new Partition (or with control.stopRequested.reset() before its worker starts).
    void requestStop() { control.requestStop(); }

    // Settings, set before a discovery starts.
    bool gptMode = false;
    bool skipVolumeSize = true; // the scan passes over the volumes it found
    std::uint64_t customStartSector = 0;
    std::uint64_t customEndSector = 0;
    std::uint64_t diskSectorCount = 0; // the disk's end for the scan
    StatusSink* statusTarget = nullptr;
    ProgressSink* progressTarget = nullptr;
    std::function<void(const VolumeRecord&)> volumeFound;

    EngineControl control; // control.stopRequested is the engine's stop flag

    std::vector<VolumeRecord> volumeList;

private:
    struct ChainState;
    struct Probed;
    struct ScanRows;

    int readGptTable(const ByteSource& reader);
    int readMbrTable(const ByteSource& reader);
    // A volume at sector 0 of a disk without a partition table, listed alone. False when no
    // probe recognises the disk's first sectors as a volume that may be found there.
    bool readBareVolume(const ByteSource& reader, ByteSpan firstSectors);
    // The first row, in table order, that `admits` takes and whose probe gives at least `need`
    // on the volume starting at 512-byte sector `startSector`, each probe reading its own sector.
    Probed probeVolumeAt(const ByteSource& reader, std::uint64_t startSector, ProbeConfidence need,
                         bool (*admits)(const FileSystemDriver&)) const;
    // One more volume of `row` named: how many the discovery has named so far.
    std::uint64_t countNamed(const FileSystemDriver& row);
    // Lists a volume a probe found (in the scan, or at a GPT partition's first sector) as its
    // row says: its find reported before or after its size is judged, and listed when that size
    // is believable. False when nothing was listed.
    bool listProbed(const Probed& found, VolumeRecord record);
    int walkExtendedChain(const ByteSource& reader, std::uint64_t extendedBase, ChainState& chain);
    std::string mbrTypeName(const ByteSource& reader, std::uint8_t type, std::uint64_t start,
                            bool logical);
    void addRecord(VolumeRecord record);
    // How many 512-byte sectors one LBA of the partition tables counts: 1, or 8 on a disk of
    // 4 KiB logical sectors (declared by its container, or shown by where its GPT header lies).
    static std::uint64_t logicalSectorUnit(const ByteSource& reader);
    // Sets the record's start and size from table LBAs; false when they do not fit.
    bool toSectors(std::uint64_t lba, std::uint64_t lbaCount, VolumeRecord& record) const;
    void status(const std::string& text);

    // One sector of the scan: test it with the rows `candidates` names (ScanRows::candidates)
    // and, on a hit, record it. Returns, when a volume was listed, the number of sectors from
    // this one to the volume's end (for the skip), else 0.
    std::uint64_t scanSector(const ScanRows& rows, std::uint64_t candidates, ByteSpan sector,
                             std::uint64_t sectorNumber);

    FileSystemTable fileSystems_;
    std::vector<std::uint64_t> namedCounts_; // per row of fileSystems_
    std::uint64_t unit_ = 1;
    std::uint64_t scanVolumeCounter_ = 0;
    NullStatusSink nullStatus_;
    NullProgressSink nullProgress_;
};

} // namespace vindaru
