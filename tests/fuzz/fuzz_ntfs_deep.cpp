// The NTFS Deep scan (the sweep for MFT records over the whole volume) on an in-memory volume
// whose first sectors are the input, then the listing and the save of what it found.
#include <cstdint>

#include "fs/ntfs/NtfsVolumeParser.h"
#include "fuzz/ParserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vindaru::fuzz::scanListSave(&vindaru::createNtfsParser, "NTFS", {data, size}, vindaru::kScanModeDeep);
    return 0;
}
