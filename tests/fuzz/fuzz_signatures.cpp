// Random settings files through both loaders' rules, and what they load through one carve of a
// volume holding a few sectors that start with the loaded signatures.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/RawCarveExercise.h"
#include "raw/SignatureFile.h"

using namespace vindaru;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (64u << 10)) return 0;
    const std::span<const std::uint8_t> input(data, size);
    std::vector<signatureRecord> records;
    parseSignatureFile(input, false, records);
    std::vector<signatureRecord> userRecords;
    parseSignatureFile(input, true, userRecords);
    // Round trip: what a loader took is written back the same.
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto bytes = records[i].encode();
        if (!std::equal(bytes.begin(), bytes.end(), input.begin() + static_cast<std::ptrdiff_t>(i * kSignatureRecordBytes)))
            __builtin_trap();
    }
    // Each loaded start signature at the start of a sector of its own, its end one sector later.
    std::vector<std::uint8_t> volume;
    for (const signatureRecord& r : records) {
        std::vector<std::uint8_t> sector(1024, 0);
        const std::size_t at = std::min<std::size_t>(r.startOffset, 511);
        std::copy_n(r.startBytes.begin(), std::min<std::size_t>(r.startLength, kSignatureBytes), sector.begin() + static_cast<std::ptrdiff_t>(at));
        std::copy_n(r.endBytes.begin(), std::min<std::size_t>(r.endLength, kSignatureBytes), sector.begin() + 512);
        volume.insert(volume.end(), sector.begin(), sector.end());
        if (volume.size() >= fuzz::kFuzzVolumeBytes) break;
    }
    fuzz::carveAndRead(records, volume);
    return 0;
}
