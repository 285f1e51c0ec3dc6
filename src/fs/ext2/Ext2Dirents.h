// Directory entries beyond the live chain: names a deletion left in the slack of the entry
// before them (its record length grew over them), and whole blocks that must be checked before
// they are taken as directory blocks (older copies kept by the journal).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "common/ByteLoader.h"

namespace vindaru {

struct Ext2HiddenEntry {
    std::uint32_t inode = 0;
    std::string_view name;
    std::size_t offset = 0;
};

// The least record length of an entry with a name of `nameLength` bytes.
constexpr std::size_t direntLength(std::size_t nameLength) { return (8 + nameLength + 3) & ~std::size_t{3}; }

// Finds the entries that look whole inside block[from, to): an inode number 1..maxInode, a name
// of 1..255 bytes without NUL or '/' inside the slack, and a record length that covers the name
// and stays inside the block. Each one found is skipped whole; between them the search moves by
// the 4-byte alignment every entry has. The search is bounded by the slack's length.
void scanDirentSlack(ByteSpan block, std::size_t from, std::size_t to, bool fileTypes, std::uint64_t maxInode,
                     const std::function<void(const Ext2HiddenEntry&)>& onEntry);

// True when block's entries chain from offset 0 exactly to its end, each with a record length
// that is a multiple of 4 and covers its name, and at least one entry names an inode: what a
// directory block holds (a block map, bitmap or file data almost never does).
bool looksLikeDirectoryBlock(ByteSpan block, bool fileTypes, std::uint64_t maxInode);

} // namespace vindaru
