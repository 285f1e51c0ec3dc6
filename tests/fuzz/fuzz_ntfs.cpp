// Random volume bytes through the whole NTFS Standard scan, then the list texts of the first
// level and the content of a few entries, saved to a private temp folder.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "fs/ntfs/ntfs.h"
#include "image/MemoryReader.h"

namespace {

constexpr std::uint64_t kMaxSavedBytes = 64 * 1024;
constexpr int kMaxDescribed = 32;
constexpr int kMaxSaved = 4;

const std::filesystem::path& outputFolder() {
    static const std::filesystem::path dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "fuzz-ntfs-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) std::abort();
        return std::filesystem::path(tmpl);
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vindaru;
    MemoryReader reader(std::vector<std::uint8_t>(data, data + size));
    ntfs parser(reader, VolumeRecord{"NTFS", "1", "1", 0});
    parser.attachReader();
    parser.readBootSector();
    parser.locateMft();
    parser.readMftByRuns();
    parser.parseAllEntries();

    int described = 0;
    int saved = 0;
    std::vector<bool> seen(parser.entryCount(), false);
    std::vector<std::uint64_t> stack;
    if (parser.rootIndex < parser.entryCount()) stack.push_back(parser.rootIndex);
    while (!stack.empty() && described < kMaxDescribed) {
        const std::uint64_t dir = stack.back();
        stack.pop_back();
        for (std::uint64_t c : parser.childrenOf(dir)) {
            if (seen[c] || described >= kMaxDescribed) continue;
            seen[c] = true;
            ++described;
            parser.describeEntry(c);
            parser.formatEntrySize(c);
            (void)parser.entryLabel(c);
            if (parser.isDirectory(c)) {
                stack.push_back(c);
                continue;
            }
            if (saved < kMaxSaved && parser.entrySize(c) <= kMaxSavedBytes) {
                parser.saveEntry(c, outputFolder() / std::to_string(saved));
                ++saved;
            }
            // Content of any size, cut by the sink.
            std::uint64_t total = 0;
            parser.writeEntryContent(c, [&total](std::span<const std::uint8_t> d) {
                total += d.size();
                return total < kMaxSavedBytes;
            });
            parser.dataClusterList(c, 4096);
        }
    }
    return 0;
}
