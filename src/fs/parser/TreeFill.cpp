#include "fs/parser/TreeFill.h"

namespace vindaru {

TreeItemId insertEntryItem(CheckTree& tree, const EntryView& view, EntryRef entry, TreeItemId parent) {
    const TreeItemId item =
        tree.insertItem(view.label(entry), view.isDirectory(entry) ? IconKind::Folder : IconKind::ByExtension, parent);
    if (item == kNoTreeItem) return item;
    tree.setItemData(item, entry);
    if (view.isDeleted(entry)) tree.setItemTextColour(item);
    return item;
}

void fillTopLevel(CheckTree& tree, const EntryView& view, TreeItemId volumeItem, const TreeFillStep& step) {
    // The volume item stands for the root directory.
    if (const std::optional<EntryRef> root = view.rootEntry()) tree.setItemData(volumeItem, *root);
    std::size_t position = 0;
    for (EntryRef entry : view.topLevel()) {
        if (step && !step(entry, position)) break;
        insertEntryItem(tree, view, entry, volumeItem);
        ++position;
    }
    tree.expand(volumeItem, ExpandAction::Expand);
}

} // namespace vindaru
