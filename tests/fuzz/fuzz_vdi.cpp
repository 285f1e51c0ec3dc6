// The VDI reader on an arbitrary image held in memory.
#include <cstdint>

#include "fuzz/BlockReaderExercise.h"
#include "image/FileReadSeekVdi.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vindaru::fuzz::exerciseBlockReader<vindaru::FileReadSeekVdi>({data, size}, "fuzz.vdi");
    return 0;
}
