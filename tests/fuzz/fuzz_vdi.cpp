// The vdi reader on an arbitrary file: open it, then read where the disk's structures usually
// are, across block boundaries, past the end, and through the seek/read cursor.
#include <cstdint>
#include <vector>

#include "fuzz/FuzzTempFile.h"
#include "image/FileReadSeekVdi.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vindaru::fuzz::FuzzTempFile file(data, size, ".vdi");
    vindaru::Session session;
    vindaru::FileReadSeekVdi reader(session);
    if (!reader.open(file.path())) return 0;
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
    return 0;
}
