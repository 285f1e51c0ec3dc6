// Random volume bytes through the HFS+ scan in the Standard and the Deep mode, then the listing
// and the content of a few files.
#include "HfsPlusFuzzExercise.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vindaru::fuzz::exerciseHfsPlus(data, size);
    return 0;
}
