// Putting a parser's entries into the scan page's tree, the same way for every file system: the
// first level under the volume item at the end of a scan, and a folder's children when it is
// opened (browser/VolumeBrowser).
#pragma once

#include <cstddef>
#include <functional>

#include "common/CheckTree.h"
#include "fs/parser/EntryView.h"

namespace vindaru {

// One entry's item under `parent`: its label, a folder or file icon, the entry as the item's
// data, and red text when the entry is deleted. kNoTreeItem when the tree refused it.
TreeItemId insertEntryItem(CheckTree& tree, const EntryView& view, EntryRef entry, TreeItemId parent);

// Told each first-level entry before it is inserted, with how many came before it (a parser's
// own status text while the tree fills); false ends the fill there (a Stop pressed).
using TreeFillStep = std::function<bool(EntryRef entry, std::size_t position)>;

// The volume's first level (view.topLevel()) under `volumeItem`, which is then shown open and
// carries the root's entry.
void fillTopLevel(CheckTree& tree, const EntryView& view, TreeItemId volumeItem, const TreeFillStep& step = {});

} // namespace vindaru
