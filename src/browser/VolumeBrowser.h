// The scan page's tree and list logic over any parser: the "..DUMY.." placeholders that make an
// unopened folder expandable, opening a folder into the CheckTree on demand, and the list rows
// of a selected folder or file. The page's widgets only show what this returns.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "browser/EntrySaver.h"
#include "fs/parser/EntryView.h"
#include "common/CheckTree.h"

namespace vindaru {

inline constexpr const char* kPlaceholderLabel = "..DUMY..";

// One row of the list: column 0 is the label with its icon, then creation, access and
// modification texts, size text and attribute text. `labelOnly` rows (after a double-click)
// show the label alone.
struct ListRow {
    TreeItemId item = kNoTreeItem;
    EntryRef entry = 0;
    std::string label;
    IconKind icon = IconKind::ByExtension;
    bool deleted = false;
    bool labelOnly = false;
    bool described = true; // false: texts, sizeText and bytes are still to be asked for (describe)
    EntryTexts texts;
    std::string sizeText;
    std::uint64_t bytes = 0; // for sorting by size
    // The "Recoverable" column: the share of a deleted file still intact (1 for a live file);
    // none for a folder or where the file system cannot tell.
    std::optional<double> recoverable;
};

class VolumeBrowser {
public:
    enum class OpenCause { Selection, Expansion, DoubleClick };

    VolumeBrowser(CheckTree& tree, EntryView& view) : tree_(tree), view_(view) {}

    // End of a scan: one "..DUMY.." child under every child of the first top-level item whose
    // entry has children.
    void addPlaceholders();
    // Inserts a folder's children in chain order the first time it is opened. Deleted entries
    // are drawn red however the folder was opened.
    void openDirectory(TreeItemId item, OpenCause cause);
    // The label click: opens a folder and lists its files, or lists the one file. With
    // `describeRows` false the rows carry their label, icon and deleted mark only, and each is
    // described when it is shown (a folder of a million files lists at once).
    std::vector<ListRow> selectItem(TreeItemId item, bool describeRows = true);
    // Fills a row's texts, size text and bytes (a row listed without them).
    void describe(ListRow& row);
    // Double-click on a folder: opened, and its non-folder children listed by label only.
    std::vector<ListRow> doubleClickDirectory(TreeItemId item);

    // Save Checked: the checked items below `volumeItem`, each with the folder labels above it.
    // A checked folder stands for everything below it, opened in the tree or not; a partly
    // checked one is looked into.
    std::vector<CheckedEntry> checkedEntries(TreeItemId volumeItem) const;

    // The parser entry an item carries, when it is one of the active parser's.
    std::optional<EntryRef> entryOf(TreeItemId item) const;
    bool isDirectoryItem(TreeItemId item) const;
    IconKind iconFor(EntryRef entry) const;

private:
    ListRow fullRow(TreeItemId item, EntryRef entry);
    // True when `entry` is already the entry of `item` or one of its ancestors: such a child
    // (the NTFS root's "." record) is shown but never opened, so the tree cannot recurse.
    bool onPath(TreeItemId item, EntryRef entry) const;

    CheckTree& tree_;
    EntryView& view_;
};

} // namespace vindaru
