// Every input a fuzzer ever broke the VHD or VDI reader with, replayed through the same calls.
#include <gtest/gtest.h>

#include "fuzz/BlockReaderExercise.h"
#include "image/FileReadSeekVHD.h"
#include "image/FileReadSeekVdi.h"
#include "support/TestSupport.h"

using namespace vindaru;
using namespace vindaru::test;

namespace {

template <typename Reader> void replay(const std::string& kind, const std::string& extension) {
    const fs::path folder = fs::path(VINDARU_SOURCE_DIR) / "tests/fuzz/regressions" / kind;
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    ScratchDir dir;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const fs::path copy = dir / (entry.path().filename().string() + extension);
        fs::copy_file(entry.path(), copy);
        fuzz::exerciseBlockReader<Reader>(copy.string());
    }
}

} // namespace

TEST(VhdFuzzRegressions, ReplayWithoutFault) {
    replay<FileReadSeekVHD>("vhd", ".vhd");
}
TEST(VdiFuzzRegressions, ReplayWithoutFault) {
    replay<FileReadSeekVdi>("vdi", ".vdi");
}
