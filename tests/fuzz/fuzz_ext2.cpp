// The ext2 scan on an in-memory volume whose first sectors are the input (superblock, group
// descriptors, inode tables and the first data blocks of a small volume fit), then the listing
// and the save of a few files, to nowhere.
#include "fs/ext2/Ext2VolumeParser.h"
#include "fuzz/ParserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vindaru::fuzz::scanListSave(vindaru::createExt2Parser, "extX", std::span(data, size),
                                vindaru::kScanModeStandard);
    return 0;
}
