// The ext2 scan on an in-memory volume whose first sectors are the input (superblock, group
// descriptors, inode tables and the first data blocks of a small volume fit; the seeds carry a
// journal in those blocks, names in directory slack and inline data), then the listing and the
// save of a few files, to nowhere. The same bytes then go straight to the journal walker, as a
// journal of 1 KiB blocks, and to the directory-slack scanner.
#include <algorithm>
#include <cstring>

#include "fs/ext2/Ext2Dirents.h"
#include "fs/ext2/Ext2Journal.h"
#include "fs/ext2/Ext2VolumeParser.h"
#include "fuzz/ParserFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span input(data, size);
    vindaru::fuzz::scanListSave(vindaru::createExt2Parser, "extX", input, vindaru::kScanModeStandard);

    constexpr std::uint32_t kBlock = 1024;
    const std::size_t blocks = std::min(size, vindaru::fuzz::kMaxParserInput) / kBlock;
    vindaru::Ext2JournalReader::scan(kBlock, blocks, 1u << 16, [&](std::uint64_t first, std::span<std::uint8_t> out) {
        if (first >= blocks || out.size() > (blocks - first) * kBlock) return false;
        std::memcpy(out.data(), data + first * kBlock, out.size());
        return true;
    });
    const vindaru::ByteSpan block = input.first(std::min<std::size_t>(size, 4096));
    vindaru::looksLikeDirectoryBlock(block, true, 1u << 16);
    vindaru::scanDirentSlack(block, 0, block.size(), size % 2 == 0, 1u << 16, [](const vindaru::Ext2HiddenEntry&) {});
    return 0;
}
