// The NTFS Standard scan on an in-memory volume whose first sectors are the input (the boot
// sector, and the first MFT records where a small volume keeps them), then the listing and the
// save of what it found.
#include <cstdint>

#include "fs/ntfs/NtfsVolumeParser.h"
#include "fuzz/ParserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vindaru::fuzz::scanListSave(&vindaru::createNtfsParser, "NTFS", {data, size}, vindaru::kScanModeStandard);
    return 0;
}
