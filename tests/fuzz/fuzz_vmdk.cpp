// libFuzzer target: the input is a VMDK file held in memory (sparse header, descriptor, tables,
// grains), opened for what it is and as a flat extent, then read by position at offsets the
// input steers, up to and past the disk's end, with its damage map and structure.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ByteLoader.h"
#include "common/Session.h"
#include "fuzz/NextDataCheck.h"
#include "image/FileReadSeekVmdk.h"
#include "image/ReadOnlyFile.h"

namespace {

void exercise(vindaru::FileReadSeekVmdk& reader, const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> buffer(64 * 512);
    const vindaru::ByteSpan in(data, size);
    vindaru::ReadReport report;
    for (std::size_t k = 0; k < 6; ++k) {
        // Positions from the input's own bytes, so the fuzzer can steer them into its tables.
        const std::uint64_t position = vindaru::le64(in, 64 + k * 8) % (std::uint64_t{1} << 50);
        const std::size_t length = (vindaru::u8(in, 120 + k) % 65) * 512 + (k == 5 ? 100 : 0);
        const std::size_t n = length < buffer.size() ? length : buffer.size();
        reader.readAt(position, {buffer.data(), n}, &report);
        // A descriptor may declare a disk as large as the offsets go: no room for the one past it.
        const std::uint64_t capacity = reader.capacity();
        reader.readAt(capacity == UINT64_MAX ? position : position % (capacity + 1), {buffer.data(), n}, &report);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vindaru::MemoryFiles files;
    files.add("fuzz.vmdk", {data, size});
    for (const char* choice : {"SPARSE", "FLAT"}) {
        vindaru::Session session;
        vindaru::FileReadSeekVmdk reader(session);
        reader.memoryFiles = &files;
        reader.extentTypeChoice = choice;
        if (!reader.open("fuzz.vmdk")) continue;
        exercise(reader, data, size);
        std::vector<std::uint8_t> tail(4096);
        const std::uint64_t end = reader.capacity();
        reader.readAt(end - (end >= 512 ? 512 : 0), tail);
        (void)reader.isHole(end / 2, tail.size());
        vindaru::fuzz::checkNextData(reader, 0);
        vindaru::fuzz::checkNextData(reader, end / 2);
        if (end <= (std::uint64_t{1} << 30)) {
            std::vector<vindaru::ByteRange> damage;
            reader.describeDamage(damage);
            (void)reader.structureLines();
            (void)reader.structuralDamage();
        }
    }
    vindaru::readVmdkFileInfo("fuzz.vmdk", &files);
    return 0;
}
