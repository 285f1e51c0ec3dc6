// Runs the real vindaru-cli as a process and compares what it wrote with raw disks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace vindaru::test {

// Runs `vindaru-cli ARGS...` (each argument shell-quoted); stdout and stderr are captured.
CommandResult runCli(const std::vector<std::string>& args);

// Bytes [offset, offset + length) of a file; shorter when the file ends first.
std::vector<std::uint8_t> readRange(const fs::path& path, std::uint64_t offset,
                                    std::uint64_t length);

// Compares an exported disk with the raw disk it must equal. The export may be longer only by
// a tail of zeros (a VHD's size is rounded up to its geometry). Returns a description of the
// first difference, or nullopt when they agree.
std::optional<std::string> compareWithRaw(const fs::path& exported, const fs::path& raw);

// The content hash and modification time of a file, to show a command left it alone.
struct FileFingerprint {
    std::string md5;
    std::int64_t mtimeNs = 0;
    std::uint64_t size = 0;
    bool operator==(const FileFingerprint&) const = default;
};
FileFingerprint fingerprint(const fs::path& path);

// The value of `key` in one line of flat JSON (a save manifest line, an ls --json row): a
// string's text (escapes of \" and \\ undone, which is all the corpus names need) or the
// literal as written; "<missing>" when the key is not there.
std::string jsonField(const std::string& line, const std::string& key);

} // namespace vindaru::test
