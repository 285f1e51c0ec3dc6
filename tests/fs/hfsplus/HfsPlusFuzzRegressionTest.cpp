// Every input that ever crashed or hung the HFS+ fuzz target, and its seeds, replayed.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/HfsPlusFuzzExercise.h"
#include "support/TestSupport.h"

namespace vindaru::test {
namespace {

TEST(HfsPlusFuzzRegressions, EveryKeptInputRunsThrough) {
    std::size_t replayed = 0;
    for (const char* kind : {"regressions", "corpus"}) {
        const fs::path folder = fs::path(VINDARU_SOURCE_DIR) / "tests/fuzz" / kind / "fuzz_hfsplus";
        if (!fs::is_directory(folder)) continue;
        for (const auto& file : fs::directory_iterator(folder)) {
            const auto bytes = readFile(file.path());
            SCOPED_TRACE(file.path().string());
            vindaru::fuzz::exerciseHfsPlus(bytes.data(), bytes.size());
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0u);
}

} // namespace
} // namespace vindaru::test
