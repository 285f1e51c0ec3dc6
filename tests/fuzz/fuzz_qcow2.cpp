// libFuzzer target: the input is a QCOW2 file in the sparse form of SparseImage.h, opened as it
// is and as of each of its first snapshots, then read across cluster edges (stored, compressed,
// zero and unallocated clusters, subclusters), up to the disk's end, and asked for its structure
// and damage map.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Session.h"
#include "fuzz/SparseImage.h"
#include "image/FileReadSeekQcow2.h"
#include "image/ReadOnlyFile.h"

namespace {

void exercise(const vindaru::FileReadSeekQcow2& reader) {
    std::vector<std::uint8_t> buffer(128 * 1024);
    const std::uint64_t disk = reader.size();
    const std::uint64_t cluster = reader.header().clusterSize();
    vindaru::ReadReport report;
    for (const std::uint64_t at : {std::uint64_t{0}, cluster - 512, 3 * cluster + 100, disk / 2,
                                   disk - 512, disk - buffer.size()}) {
        if (at >= disk) continue;
        reader.readAt(at, buffer, &report);
        (void)reader.isHole(at, buffer.size());
        (void)reader.viewAt(at, 512);
    }
    std::vector<vindaru::ByteRange> damage;
    reader.describeDamage(damage);
    (void)reader.structureLines();
    (void)reader.parentLink();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> image = vindaru::fuzz::expandSparseImage({data, size});
    vindaru::MemoryFiles files;
    files.add("fuzz.qcow2", image);
    vindaru::Session session;
    vindaru::FileReadSeekQcow2 reader(session);
    reader.memoryFiles = &files;
    if (!reader.open("fuzz.qcow2")) return 0;
    exercise(reader);
    const std::size_t snapshots = reader.snapshots().size() < 3 ? reader.snapshots().size() : 3;
    for (std::size_t i = 0; i < snapshots; ++i) {
        vindaru::FileReadSeekQcow2 asOf(session);
        asOf.memoryFiles = &files;
        asOf.snapshot = reader.snapshots()[i].id;
        if (asOf.open("fuzz.qcow2")) exercise(asOf);
    }
    return 0;
}
