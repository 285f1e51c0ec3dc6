// The VHD reader on an arbitrary image held in memory.
#include <cstdint>

#include "fuzz/BlockReaderExercise.h"
#include "image/FileReadSeekVHD.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vindaru::fuzz::exerciseBlockReader<vindaru::FileReadSeekVHD>({data, size}, "fuzz.vhd");
    return 0;
}
