// Random volume bytes through the parser's Standard or Advanced scan, listing and saving; the
// last input byte picks the mode (see FatFuzzExercise.h).
#include "FatFuzzExercise.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return vindaru::fuzz::exerciseFat(data, size, vindaru::createFat32Parser, "FAT32");
}
