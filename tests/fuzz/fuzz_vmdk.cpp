// libFuzzer target: the input is a VMDK extent file held in memory (sparse header, descriptor,
// tables, grains), opened as a sparse and as a flat extent, then read by cursor and by position
// up to and past the disk's end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ByteLoader.h"
#include "common/Session.h"
#include "image/FileReadSeekVmdk.h"
#include "image/ReadOnlyFile.h"

namespace {

void exercise(vindaru::FileReadSeekVmdk& reader, const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> buffer(64 * 512);
    const vindaru::ByteSpan in(data, size);
    for (std::size_t k = 0; k < 6; ++k) {
        // Positions from the input's own bytes, so the fuzzer can steer them into its tables.
        const std::uint64_t raw = vindaru::le64(in, 64 + k * 8);
        const auto position = static_cast<std::int64_t>(raw % (std::uint64_t{1} << 50)) & ~std::int64_t{511};
        const std::size_t length = (vindaru::u8(in, 120 + k) % 65) * 512 + (k == 5 ? 100 : 0);
        const std::size_t n = length < buffer.size() ? length : buffer.size();
        if (k % 2 == 0) reader.seek(position, 0);
        reader.read(buffer.data(), n);
        reader.readAt(static_cast<std::uint64_t>(position) + (k == 3 ? 100 : 0), {buffer.data(), n});
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
    }
    vindaru::readVmdkFileInfo("fuzz.vmdk", &files);
    return 0;
}
