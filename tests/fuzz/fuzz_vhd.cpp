// The vhd reader on an arbitrary file.
#include <cstdint>

#include "fuzz/BlockReaderExercise.h"
#include "fuzz/FuzzTempFile.h"
#include "image/FileReadSeekVHD.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vindaru::fuzz::FuzzTempFile file(data, size, ".vhd");
    vindaru::fuzz::exerciseBlockReader<vindaru::FileReadSeekVHD>(file.path());
    return 0;
}
