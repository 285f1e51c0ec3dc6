// Every input a fuzz target ever crashed or hung on (tests/fuzz/regressions/fuzz_<name>/), and
// its seeds (tests/fuzz/corpus/fuzz_<name>/), run again through the target's own entry point,
// plus a few degenerate inputs; under the sanitizer build a fault fails the test.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzEntries.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> keptInputs(const std::string& target) {
    std::vector<fs::path> files;
    for (const char* kind : {"regressions", "corpus"}) {
        const fs::path folder = fs::path(VINDARU_SOURCE_DIR) / "tests/fuzz" / kind / target;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(folder, ec))
            if (entry.is_regular_file()) files.push_back(entry.path());
    }
    return files;
}

std::vector<std::uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FuzzReplay : public ::testing::TestWithParam<vindaru::fuzz::FuzzEntry> {};

TEST_P(FuzzReplay, KeptAndDegenerateInputsRunWithoutFault) {
    const auto& entry = GetParam();
    for (const auto& path : keptInputs(entry.name)) {
        SCOPED_TRACE(path.string());
        const auto bytes = readAll(path);
        EXPECT_EQ(entry.run(bytes.data(), bytes.size()), 0);
    }
    for (const std::vector<std::uint8_t>& input :
         {std::vector<std::uint8_t>{}, std::vector<std::uint8_t>(1, 0xFF),
          std::vector<std::uint8_t>(4096, 0), std::vector<std::uint8_t>(70000, 0xFF)})
        EXPECT_EQ(entry.run(input.data(), input.size()), 0) << input.size() << " bytes";
}

TEST(FuzzReplay, EveryRegressionFolderNamesATarget) {
    const fs::path folder = fs::path(VINDARU_SOURCE_DIR) / "tests/fuzz/regressions";
    for (const auto& dir : fs::directory_iterator(folder)) {
        bool known = false;
        for (const auto& entry : vindaru::fuzz::kFuzzEntries)
            known = known || dir.path().filename() == entry.name;
        EXPECT_TRUE(known) << dir.path() << " is replayed by no target";
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(vindaru::fuzz::kFuzzEntries),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
