// Helpers shared by the test programs: scratch folders, the shared corpus, small files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vindaru::test {

namespace fs = std::filesystem;

// A fresh folder under the system temp folder, removed when the object dies.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// The shared corpus folder, or nullopt when it is absent (tests then GTEST_SKIP with a message).
std::optional<fs::path> corpusDir();
// A corpus file by its path under the corpus folder (e.g. "generated/mbr-disk.vmdk").
std::optional<fs::path> corpusFile(const std::string& relative);
// The raw form of a compressed corpus image (.zst or .gz), unpacked once per test run into a
// cache folder under the temp folder. nullopt when the corpus or the unpacker is missing.
std::optional<fs::path> unpackedCorpusImage(const std::string& relative);

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes);
// Writes the bytes of `source` into the existing file `target` at byte `offset`, leaving runs
// of zeros unwritten (holes stay holes). Used to build disks out of volume images.
void copyIntoFile(const fs::path& target, const fs::path& source, std::uint64_t offset);
std::vector<std::uint8_t> readFile(const fs::path& path);
std::string md5OfFile(const fs::path& path);

// Runs a shell command, returning its exit status and capturing stdout (and stderr if asked).
struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
CommandResult runCommand(const std::string& command);
std::string shellQuote(const std::string& text);

} // namespace vindaru::test
