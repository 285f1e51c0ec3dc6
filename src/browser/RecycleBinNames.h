// Gives recycled files back the names they had before deletion. The recycle bin keeps each
// deleted item as a pair: "$R..." holds the data, "$I..." a small index file that records the
// former path. At the end of an NTFS, FAT32 or exFAT scan the index files are read and the
// "$R" entries renamed; contents and positions stay as they are.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "fs/parser/EntryView.h"
#include "common/CheckTree.h"

namespace vindaru {

// Index files this long or longer are not read.
inline constexpr std::uint64_t kRecycleIndexLimit = 2048;

// The former name an index file records: the last path component of its UTF-16 path. The first
// layout (version 1) has the path at byte 24; the later one (version 2) has a 4-byte length
// there and the path at byte 28. nullopt for a file too short to hold a path.
std::optional<std::string> recycleIndexFormerName(std::span<const std::uint8_t> content);

class RecycleBinNames {
public:
    // NTFS keeps one folder per user inside the recycle bin; FAT32 and exFAT keep the pairs
    // directly in it.
    enum class Layout { PerUserFolders, Flat };

    RecycleBinNames(CheckTree& tree, TreeItemId volumeItem, EntryView& view, Layout layout)
        : tree_(tree), volumeItem_(volumeItem), view_(view), layout_(layout) {}

    // restoreRecycleBinNames: returns the number of entries renamed.
    std::uint64_t restore();

private:
    std::map<std::string, std::string> buildMap(EntryRef folder);
    std::uint64_t renameWithin(EntryRef folder, const std::map<std::string, std::string>& names);
    std::optional<std::string> readIndexFile(EntryRef entry);

    CheckTree& tree_;
    TreeItemId volumeItem_;
    EntryView& view_;
    Layout layout_;
};

} // namespace vindaru
