// What the VHD and VDI fuzz targets do with an image: open it from memory, then read where the
// disk's structures usually are, across block boundaries, up to and past the disk's end, and
// through the seek/read cursor; then what it says of its own structure.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/Session.h"
#include "fuzz/NextDataCheck.h"
#include "image/ReadOnlyFile.h"

namespace vindaru::fuzz {

template <typename Reader>
void exerciseBlockReader(std::span<const std::uint8_t> image, const std::string& name) {
    MemoryFiles files;
    files.add(name, image);
    Session session;
    Reader reader(session);
    reader.memoryFiles = &files;
    if (!reader.open(name)) return;
    std::vector<std::uint8_t> buffer(3 * 4096);
    const std::uint64_t disk = reader.declaredSectors() * 512;
    const std::uint64_t end = reader.capacity();
    const std::uint64_t block = reader.blockBytes();
    for (std::uint64_t at : {std::uint64_t{0}, std::uint64_t{512}, block - 512, 3 * block - 4096,
                             disk / 2, disk - 512, disk, end - 512, end, ~std::uint64_t{0} - 1000}) {
        reader.readAt(at, buffer);
        (void)reader.isHole(at, buffer.size());
        checkNextData(reader, at);
        reader.seek(static_cast<std::int64_t>(at), 0);
        reader.read(buffer.data(), 1024 + 17);
        reader.read(buffer.data(), buffer.size());
    }
    (void)reader.structuralDamage();
    (void)reader.structureLines();
}

} // namespace vindaru::fuzz
