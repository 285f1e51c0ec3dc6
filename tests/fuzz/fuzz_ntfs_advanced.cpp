// The NTFS Advanced mode on an in-memory volume whose first sectors are the input: the search
// for MFT candidates, the rebuild from the first one, then the listing and the save.
#include <cstdint>

#include "fs/ntfs/NtfsVolumeParser.h"
#include "fuzz/ParserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vindaru::fuzz::scanListSave(&vindaru::createNtfsParser, "NTFS", {data, size}, vindaru::kScanModeAdvanced);
    return 0;
}
