// The carving engine over random volume bytes. The input's first byte chooses the signatures:
// with its top bit clear, its value modulo 9 says how many of the following 173-byte pieces are
// signature records; with it set, the default signatures are loaded (each of them ending its
// finds by its format's walk) and every format walk also runs straight over the rest, both from
// memory and through a reader's window. The rest is the volume's first sectors, zeros after.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/RawCarveExercise.h"
#include "raw/CarveFormats.h"
#include "raw/DefaultSignatures.h"
#include "raw/signatureRecord.h"

using namespace vindaru;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (64u << 10)) return 0;
    const std::span<const std::uint8_t> input(data, size);
    if (input[0] & 0x80) {
        static const std::vector<signatureRecord> defaults = defaultSignatureRecords();
        const std::span<const std::uint8_t> rest = input.subspan(1);
        fuzz::carveAndRead(defaults, rest);
        fuzz::walkEveryFormat(rest);
        return 0;
    }
    const std::size_t wanted = input[0] % 9;
    std::size_t at = 1;
    std::vector<signatureRecord> records;
    for (std::size_t i = 0; i < wanted && at + kSignatureRecordBytes <= size; ++i, at += kSignatureRecordBytes)
        records.push_back(*signatureRecord::decode(input.subspan(at)));
    fuzz::carveAndRead(records, input.subspan(at));
    return 0;
}
