// Deep mode's tree. The entries come from the deep scan in disk order. A record of NTFS 3.1 on
// carries its own record number, and every $FILE_NAME its parent's number and sequence, so most
// of the real tree can be rebuilt: each record is placed under the record its name points to
// when that record is a directory whose sequence still matches. Copies of one record (the MFT's
// and its mirror's, an old copy left in free space) are shown once, the newest by its log
// sequence number. What cannot be placed goes under ORPHAN_ENTRY, grouped by disk order only
// where nothing contradicts the grouping.
#include <algorithm>

#include "fs/ntfs/ntfs.h"

namespace vindaru {

namespace {

// Bounds ORPHAN_ENTRY's chain; directories past it are filed like files.
constexpr std::uint64_t kMaxChainedDirectories = 100000;
constexpr std::uint8_t kDirectoryKind = 'D';
constexpr std::uint16_t kRecordInUse = 0x0001;
// A directory chain longer than this is taken to be a loop.
constexpr std::uint64_t kMaxFolderDepth = 4096;

} // namespace

// Orders the copies of each record number newest first and hides the copies that show the same
// file as the newest one; a copy of an earlier file of the slot stays, as a deleted file.
void ntfs::chooseNewestCopies() {
    deepRecordIndex_.clear();
    deepCopies_.clear();
    const std::uint64_t n = std::min<std::uint64_t>(entries.size(), deepRecords_.size());
    for (std::uint64_t i = 1; i < n; ++i)
        if (deepRecords_[i].number != kNoRecordNumber) deepCopies_[deepRecords_[i].number].push_back(i);
    for (auto& [number, copies] : deepCopies_) {
        // Equal log sequence numbers keep disk order: the first copy found wins.
        std::stable_sort(copies.begin(), copies.end(), [this](std::uint64_t a, std::uint64_t b) {
            return deepRecords_[a].logSequence > deepRecords_[b].logSequence;
        });
        deepRecordIndex_.emplace(number, copies.front());
        const MftEntry& newest = entries[copies.front()];
        for (std::size_t k = 1; k < copies.size(); ++k) {
            MftEntry& older = entries[copies[k]];
            if (referenceMatches(older.sequence, newest) && older.baseReference == newest.baseReference)
                older.hasName = false; // the same file, shown by the newest copy
            else
                older.recordFlags &= static_cast<std::uint16_t>(~kRecordInUse); // its slot was reused
        }
    }
}

// The entry a deep-scanned record's first name points to: a named directory of that record
// number whose sequence matches the reference; entries.size() when there is none.
std::uint64_t ntfs::deepParentOf(std::uint64_t index) const {
    const MftEntry& e = entries[index];
    const auto it = deepCopies_.find(e.parentIndex);
    if (it == deepCopies_.end()) return entries.size();
    for (std::uint64_t candidate : it->second) {
        const std::uint64_t shown = shownParent(candidate);
        if (shown >= entries.size() || !entries[shown].hasName || entries[candidate].kind != kDirectoryKind ||
            !referenceMatches(e.parentSequence, entries[candidate]))
            continue;
        return shown;
    }
    return entries.size();
}

void ntfs::linkDeepEntries() {
    ensureLinkTables();
    findRoot();
    const std::uint64_t count = entries.size();
    std::vector<std::uint64_t> parentOf(count, count);
    for (std::uint64_t i = 1; i < count; ++i) {
        MftEntry& e = entries[i];
        if (i == orphanIndex || i == rootIndex || !e.hasName) continue;
        // The MFT's own record never stands in the tree, as in the other modes.
        if (deepNumberKnown(i) && deepRecords_[i].number == 0) {
            e.orphan = 0;
            continue;
        }
        e.orphan = 1;
        parentOf[i] = deepParentOf(i);
    }
    // A directory whose parents lead back to itself (damaged or stale references) is not
    // placed; the others of its loop then hang below it.
    for (std::uint64_t i = 1; i < count; ++i) {
        if (parentOf[i] >= count || entries[i].kind != kDirectoryKind) continue;
        std::uint64_t at = parentOf[i];
        std::uint64_t depth = 0;
        while (at < count && at != i && at != rootIndex && depth < kMaxFolderDepth) {
            at = parentOf[at];
            ++depth;
        }
        if (at == i || depth >= kMaxFolderDepth) parentOf[i] = count;
    }
    for (std::uint64_t i = 1; i < count; ++i) {
        if (parentOf[i] >= count) continue;
        entries[i].orphan = 0;
        entries[i].parentIndex = parentOf[i];
        linkChild(i);
    }
}

// What the references could not place, grouped by disk order under ORPHAN_ENTRY: every such
// directory is chained under ORPHAN_ENTRY, newest first, and every such file goes under the
// directory found last before it on disk, unless that directory carries a record number (then
// it is known not to be the file's parent, and the file goes under ORPHAN_ENTRY itself).
void ntfs::linkByDiskOrder() {
    if (orphanIndex >= entries.size()) return;
    entries[orphanIndex].firstChild = 0;
    std::uint64_t current = orphanIndex;
    bool firstDirectory = true;
    std::uint64_t directories = 0;
    for (std::uint64_t i = 0; i < entries.size(); ++i) {
        // Entry 0 can never be a child; unnamed entries are never shown.
        if (i == 0 || i == orphanIndex || i == rootIndex || !entries[i].hasName || entries[i].orphan != 1)
            continue;
        MftEntry& e = entries[i];
        MftEntry& orphanEntry = entries[orphanIndex];
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
            const std::uint64_t folder = deepNumberKnown(current) ? orphanIndex : current;
            if (folder != orphanIndex) e.orphan = kGuessedFolder;
            e.parentIndex = folder;
            e.nextSibling = static_cast<std::int64_t>(entries[folder].firstChild);
            entries[folder].firstChild = i;
        }
    }
}

std::uint64_t ntfs::indexOfRecordNumber(std::uint64_t recordNumber) const {
    if (scanMode != 3) return recordNumber;
    const auto it = deepRecordIndex_.find(recordNumber);
    return it == deepRecordIndex_.end() ? entries.size() : it->second;
}

} // namespace vindaru
