// libFuzzer target: the input is one VMDK extent file held in memory, taken for what its bytes
// say it is (a sparse or stream-optimized extent with compressed grains and markers, an ESXi
// COWD or SEsparse delta), read by position in pieces steered by the input, with the damage
// map and structure lines of a small disk.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ByteLoader.h"
#include "image/ReadOnlyFile.h"
#include "image/VmdkDisk.h"

namespace {

const vindaru::VmdkExtent::AbsentFill kHole = [](std::uint64_t at, std::span<std::uint8_t> out,
                                                 vindaru::ReadReport* report) {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    if (report) report->addHole(at, out.size());
    return true;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vindaru::MemoryFiles files;
    files.add("fuzz.vmdk", {data, size});
    vindaru::VmdkDisk disk;
    std::string error;
    if (!disk.open("fuzz.vmdk", &files, false, error)) return 0;
    const std::uint64_t end = disk.size();
    if (end == 0) return 0;
    const vindaru::ByteSpan in(data, size);
    std::vector<std::uint8_t> buffer(256 * 1024);
    vindaru::ReadReport report;
    for (std::size_t k = 0; k < 6; ++k) {
        // Positions and lengths from the input's own bytes, so the fuzzer can aim at its grains.
        const std::uint64_t at = vindaru::le64(in, 80 + k * 8) % end;
        const std::size_t length = 1 + vindaru::le32(in, 128 + k * 4) % buffer.size();
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, end - at));
        disk.read(at, {buffer.data(), n}, &report, kHole);
        (void)disk.isHole(at, n, true);
    }
    disk.read(0, {buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(end, buffer.size()))}, &report, kHole);
    if (end <= (std::uint64_t{1} << 30)) {
        std::vector<vindaru::ByteRange> damage;
        disk.describeDamage(damage);
        (void)disk.structureLines();
        (void)disk.structuralDamage();
    }
    return 0;
}
