// A volume's first FAT, read on demand through a small cache: a lookup costs a memory access
// once its piece is loaded, not a sector read. Entries are 12, 16 or 32 bits wide; FAT32's
// reserved upper four bits are masked off (exFAT's
// are not). Entries past the FAT's recorded length read as 0.
#pragma once

#include <cstdint>
#include <list>
#include <unordered_map>
#include <vector>

#include "image/ByteSource.h"

namespace vindaru {

class FatTable {
public:
    // `offset` and `length` in bytes from the start of the volume `reader` reads.
    FatTable(const ByteSource& reader, std::uint64_t offset, std::uint64_t length, unsigned entryBits,
             bool maskUpperBits = true);

    std::uint32_t entry(std::uint64_t cluster);
    // How many entries the recorded FAT length holds.
    std::uint64_t entryCount() const { return entryCount_; }
    unsigned entryBits() const { return entryBits_; }

private:
    const std::vector<std::uint8_t>& piece(std::uint64_t index);
    std::uint8_t byteAt(std::uint64_t position);

    const ByteSource& reader_;
    std::uint64_t offset_;
    std::uint64_t length_;
    unsigned entryBits_;
    std::uint32_t mask_;
    std::uint64_t entryCount_;
    // Pieces by index, the most recently used first.
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> pieces_;
    std::list<std::uint64_t> order_;
};

} // namespace vindaru
