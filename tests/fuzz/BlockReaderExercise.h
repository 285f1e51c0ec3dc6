// What the VHD and VDI fuzz targets (and their regression replay) do with an image file: open
// it, then read where the disk's structures usually are, across block boundaries, past the end,
// and through the seek/read cursor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/Session.h"

namespace vindaru::fuzz {

template <typename Reader> void exerciseBlockReader(const std::string& path) {
    Session session;
    Reader reader(session);
    if (!reader.open(path)) return;
    std::vector<std::uint8_t> buffer(3 * 4096);
    const std::uint64_t disk = session.diskSectorCount * 512;
    const std::uint64_t block = reader.blockBytes();
    for (std::uint64_t at : {std::uint64_t{0}, std::uint64_t{512}, block - 512, 3 * block - 4096,
                             disk / 2, disk - 512, disk, ~std::uint64_t{0} - 1000}) {
        reader.readAt(at, buffer);
        reader.seek(static_cast<std::int64_t>(at), 0);
        reader.read(buffer.data(), 1024 + 17);
        reader.read(buffer.data(), buffer.size());
    }
}

} // namespace vindaru::fuzz
