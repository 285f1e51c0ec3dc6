// Deep mode's tree. The entries come from the deep scan in disk order, so their parent
// references (MFT record numbers) cannot be used as indexes; the tree is rebuilt from the order
// alone: every directory found is chained under ORPHAN_ENTRY, newest first, and every file goes
// under the directory found last before it on disk.
#include "fs/ntfs/ntfs.h"

namespace vindaru {

namespace {

// Bounds ORPHAN_ENTRY's chain; directories past it are filed like files.
constexpr std::uint64_t kMaxChainedDirectories = 100000;
constexpr std::uint8_t kDirectoryKind = 'D';

} // namespace

void ntfs::linkByDiskOrder() {
    if (orphanIndex >= entries.size()) return;
    entries[orphanIndex].firstChild = 0;
    // The root's links from the scan name record numbers, not entries; the volume item stands
    // for the root, so its one child is ORPHAN_ENTRY, which holds everything found.
    if (rootIndex < entries.size()) {
        entries[rootIndex].firstChild = orphanIndex;
        entries[orphanIndex].parentIndex = rootIndex;
        entries[orphanIndex].nextSibling = 0;
    }
    std::uint64_t current = orphanIndex;
    bool firstDirectory = true;
    std::uint64_t directories = 0;
    for (std::uint64_t i = 0; i < entries.size(); ++i) {
        // Entry 0 can never be a child; unnamed entries are never shown.
        if (i == 0 || i == orphanIndex || i == rootIndex || !entries[i].hasName) continue;
        MftEntry& e = entries[i];
        MftEntry& orphanEntry = entries[orphanIndex];
        e.firstChild = 0;
        e.parentIndex = 0;
        e.nextSibling = 0;
        if (e.kind == kDirectoryKind && (firstDirectory || directories < kMaxChainedDirectories)) {
            if (!firstDirectory) ++directories;
            // Files met before the first directory were pushed under ORPHAN_ENTRY: the first
            // directory goes in front of them instead of replacing them, so they stay reachable.
            e.nextSibling = firstDirectory && orphanEntry.firstChild == 0
                                ? -1
                                : static_cast<std::int64_t>(orphanEntry.firstChild);
            firstDirectory = false;
            e.parentIndex = orphanIndex;
            orphanEntry.firstChild = i;
            current = i;
        } else {
            e.nextSibling = static_cast<std::int64_t>(entries[current].firstChild);
            entries[current].firstChild = i;
        }
    }
}

std::uint64_t ntfs::indexOfRecordNumber(std::uint64_t recordNumber) const {
    if (scanMode != 3) return recordNumber;
    const auto it = deepRecordIndex_.find(recordNumber);
    return it == deepRecordIndex_.end() ? entries.size() : it->second;
}

} // namespace vindaru
