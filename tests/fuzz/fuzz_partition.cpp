// Random disk bytes through both discoveries: the MBR and GPT readings of the partition tables
// and the boot-sector scan (with and without the skip, over a range taken from the input).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "browser/FileSystemDrivers.h"
#include "common/ByteLoader.h"
#include "image/MemoryReader.h"
#include "volume/Partition.h"

using namespace vindaru;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    const ByteSpan input(data, size);
    // The first eight bytes steer the run; the rest is the disk.
    const std::uint8_t flags = input[0];
    const std::uint64_t extraSectors = le16(input, 1);
    const std::uint64_t rangeStart = le16(input, 3);
    const std::uint64_t rangeEnd = le16(input, 5);
    std::vector<std::uint8_t> bytes(input.begin() + 8, input.end());

    for (bool gpt : {false, true}) {
        MemoryReader reader(bytes);
        Partition partition(fileSystemDrivers());
        partition.gptMode = gpt;
        partition.readPartitionTable(reader);
    }

    MemoryReader reader(bytes);
    Partition partition(fileSystemDrivers());
    partition.skipVolumeSize = (flags & 1) != 0;
    // The disk may claim more sectors than the bytes hold (reads past the end fail or give zeros).
    partition.diskSectorCount = bytes.size() / 512 + extraSectors;
    if (flags & 2) partition.customStartSector = rangeStart;
    if (flags & 4) partition.customEndSector = rangeEnd;
    partition.scanForVolumes(reader);
    return 0;
}
