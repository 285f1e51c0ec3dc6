// libFuzzer target: the input is a VHDX file in the sparse form of SparseImage.h (headers, region
// tables, log, BAT, metadata and blocks laid over zeros), opened with and without its log, then
// read across block edges, up to the disk's end, and asked for its structure and damage map.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/Session.h"
#include "fuzz/NextDataCheck.h"
#include "fuzz/SparseImage.h"
#include "image/FileReadSeekVhdx.h"
#include "image/ReadOnlyFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> image = vindaru::fuzz::expandSparseImage({data, size});
    vindaru::MemoryFiles files;
    files.add("fuzz.vhdx", image);
    for (const bool ignoreLog : {false, true}) {
        vindaru::Session session;
        vindaru::FileReadSeekVhdx reader(session);
        reader.memoryFiles = &files;
        reader.ignoreLog = ignoreLog;
        if (!reader.open("fuzz.vhdx")) continue;
        std::vector<std::uint8_t> buffer(256 * 1024);
        const std::uint64_t disk = reader.size();
        const std::uint64_t block = reader.blockSize();
        vindaru::ReadReport report;
        for (const std::uint64_t at : {std::uint64_t{0}, block - 4096, 3 * block - 512, disk / 2,
                                       disk - 512, disk - buffer.size()}) {
            if (at >= disk) continue;
            reader.readAt(at, buffer, &report);
            (void)reader.isHole(at, buffer.size());
            vindaru::fuzz::checkNextData(reader, at);
            (void)reader.viewAt(at, 4096);
        }
        std::vector<vindaru::ByteRange> damage;
        reader.describeDamage(damage);
        (void)reader.structureLines();
        (void)reader.structuralDamage();
        (void)reader.parentLink();
        break;
    }
    return 0;
}
