// Random volume bytes through the parser's Standard scan, listing and saving; a last
// input byte of 0xF1 turns on the formatted-drive mode.
#include "FatFuzzExercise.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool formatted = size > 0 && (data[size - 1] & 1) != 0 && (data[size - 1] & 0xFE) == 0xF0;
    return vindaru::fuzz::exerciseFat(data, size, vindaru::createFat16Parser, "FAT16", formatted);
}
