// The vdi reader on an arbitrary file.
#include <cstdint>

#include "fuzz/BlockReaderExercise.h"
#include "fuzz/FuzzTempFile.h"
#include "image/FileReadSeekVdi.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vindaru::fuzz::FuzzTempFile file(data, size, ".vdi");
    vindaru::fuzz::exerciseBlockReader<vindaru::FileReadSeekVdi>(file.path());
    return 0;
}
