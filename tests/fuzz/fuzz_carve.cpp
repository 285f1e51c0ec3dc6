// The carving engine over random volume bytes: the input's first byte says how many of its
// following 173-byte pieces are signature records (at most eight); the rest is the volume's
// first sectors, zeros after.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/RawCarveExercise.h"
#include "raw/signatureRecord.h"

using namespace vindaru;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (64u << 10)) return 0;
    const std::span<const std::uint8_t> input(data, size);
    const std::size_t wanted = input[0] % 9;
    std::size_t at = 1;
    std::vector<signatureRecord> records;
    for (std::size_t i = 0; i < wanted && at + kSignatureRecordBytes <= size; ++i, at += kSignatureRecordBytes)
        records.push_back(*signatureRecord::decode(input.subspan(at)));
    fuzz::carveAndRead(records, input.subspan(at));
    return 0;
}
