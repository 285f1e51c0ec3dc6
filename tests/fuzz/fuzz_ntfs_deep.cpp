// The NTFS sector scans on an arbitrary volume: the deep scan with its tree, the candidate search
// with a parse of its first candidate, and the corrupt-boot scan of the Standard mode; then the
// entries found are described, sized and their content written to nowhere.
#include <cstdint>
#include <vector>

#include "common/CheckTree.h"
#include "fs/ntfs/ntfs.h"
#include "image/MemoryReader.h"

namespace {

// Content written per entry before the target moves on; bounds a run on a hostile run list.
constexpr std::uint64_t kContentCap = 1 << 20;
constexpr std::uint64_t kEntriesExamined = 64;

void exercise(const std::vector<std::uint8_t>& bytes, int mode) {
    vindaru::MemoryReader reader(bytes);
    vindaru::CheckTree tree;
    vindaru::ntfs parser(reader, vindaru::VolumeRecord{"NTFS", "0", "1", 0});
    parser.attachReader();
    parser.attachTree(&tree, tree.insertItem("ROOT", vindaru::IconKind::Folder));
    parser.scanMode = mode;
    parser.readBootSector();
    if (mode == 1) {
        parser.locateMft();
    } else if (mode == 2) {
        const std::uint64_t found = parser.findMftCandidates(3);
        parser.clearEntries();
        parser.runsFromCandidate(found > 0 ? found - 1 : 0);
        parser.clusterSize = 4096;
    } else {
        parser.scanMftRecordsDeep();
    }
    parser.readMftByRuns();
    parser.parseAllEntries();
    for (std::uint64_t i = 0; i < parser.entryCount() && i < kEntriesExamined; ++i) {
        if (!parser.hasName(i)) continue;
        (void)parser.childrenOf(i);
        (void)parser.describeEntry(i);
        (void)parser.formatEntrySize(i);
        std::uint64_t written = 0;
        parser.writeEntryContent(i, [&](std::span<const std::uint8_t> piece) {
            written += piece.size();
            return written < kContentCap;
        });
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A volume of at most 1 MiB ("1" MB of size text); the scans read it whole.
    if (size > (1u << 20)) return 0;
    const std::vector<std::uint8_t> bytes(data, data + size);
    for (int mode : {3, 2, 1})
        exercise(bytes, mode);
    return 0;
}
