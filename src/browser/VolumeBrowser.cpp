#include "browser/VolumeBrowser.h"

#include "fs/parser/TreeFill.h"

namespace vindaru {

std::optional<EntryRef> VolumeBrowser::entryOf(TreeItemId item) const {
    auto data = tree_.getItemData(item);
    if (!data || !view_.isEntry(*data)) return std::nullopt;
    if (tree_.isPlaceholder(item)) return std::nullopt;
    return *data;
}

bool VolumeBrowser::isDirectoryItem(TreeItemId item) const {
    auto entry = entryOf(item);
    return entry && view_.isDirectory(*entry);
}

IconKind VolumeBrowser::iconFor(EntryRef entry) const {
    return view_.isDirectory(entry) ? IconKind::Folder : IconKind::ByExtension;
}

bool VolumeBrowser::onPath(TreeItemId item, EntryRef entry) const {
    // Bounded by the tree's depth; ids of a parent chain never repeat.
    for (TreeItemId id = item; id != kTreeTop; id = tree_.parentOf(id)) {
        auto data = tree_.getItemData(id);
        if (data && *data == entry && view_.isEntry(*data)) return true;
    }
    return false;
}

void VolumeBrowser::addPlaceholders() {
    const TreeItemId volumeItem = tree_.childAt(kTreeTop, 0);
    if (volumeItem == kNoTreeItem) return;
    for (TreeItemId child : tree_.children(volumeItem)) {
        auto entry = entryOf(child);
        if (!entry || !view_.hasChildren(*entry) || onPath(volumeItem, *entry)) continue;
        // The placeholder takes its folder's check state, as real children do, so that a
        // checked folder stays checked until it is opened and its children copy that state.
        const bool checked = tree_.getCheck(child);
        const TreeItemId placeholder =
            tree_.insertItem(kPlaceholderLabel, IconKind::Placeholder, child);
        if (checked) tree_.setCheck(placeholder, true);
    }
}

void VolumeBrowser::openDirectory(TreeItemId item, OpenCause) {
    auto entry = entryOf(item);
    if (!entry) return;
    const TreeItemId first = tree_.childAt(item, 0);
    if (first != kNoTreeItem) {
        if (!tree_.isPlaceholder(first)) return; // opened before
        tree_.deleteItem(first);
        if (tree_.childCount(item) > 0) return;
    }
    if (onPath(tree_.parentOf(item), *entry)) return;
    const bool checked = tree_.getCheck(item);
    for (EntryRef child : view_.children(*entry)) {
        // Deleted entries are red however their folder was opened (selection, arrow, double
        // click).
        const TreeItemId added = insertEntryItem(tree_, view_, child, item);
        if (added == kNoTreeItem) continue;
        if (view_.isDirectory(child) && view_.hasChildren(child) && !onPath(item, child))
            tree_.insertItem(kPlaceholderLabel, IconKind::Placeholder, added);
        if (checked) tree_.setCheck(added, true);
    }
}

ListRow VolumeBrowser::fullRow(TreeItemId item, EntryRef entry) {
    ListRow row;
    row.item = item;
    row.entry = entry;
    row.label = tree_.label(item);
    row.icon = iconFor(entry);
    row.deleted = view_.isDeleted(entry);
    row.texts = view_.describe(entry);
    row.sizeText = view_.sizeText(entry);
    row.bytes = view_.byteSize(entry);
    row.recoverable = view_.recoverableShare(entry);
    return row;
}

void VolumeBrowser::describe(ListRow& row) {
    if (row.described || !view_.isEntry(row.entry)) return;
    row.texts = view_.describe(row.entry);
    row.sizeText = view_.sizeText(row.entry);
    row.bytes = view_.byteSize(row.entry);
    row.recoverable = view_.recoverableShare(row.entry);
    row.described = true;
}

std::vector<ListRow> VolumeBrowser::selectItem(TreeItemId item, bool describeRows) {
    std::vector<ListRow> rows;
    auto entry = entryOf(item);
    if (!entry) return rows;
    if (!view_.isDirectory(*entry)) {
        rows.push_back(fullRow(item, *entry));
        return rows;
    }
    openDirectory(item, OpenCause::Selection);
    const std::vector<TreeItemId> children = tree_.children(item);
    rows.reserve(children.size());
    for (TreeItemId child : children) {
        auto childEntry = entryOf(child);
        if (!childEntry || view_.isDirectory(*childEntry)) continue;
        if (describeRows) {
            rows.push_back(fullRow(child, *childEntry));
            continue;
        }
        ListRow row;
        row.item = child;
        row.entry = *childEntry;
        row.label = tree_.label(child);
        row.icon = IconKind::ByExtension;
        row.deleted = view_.isDeleted(*childEntry);
        row.described = false;
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<ListRow> VolumeBrowser::doubleClickDirectory(TreeItemId item) {
    std::vector<ListRow> rows;
    if (!isDirectoryItem(item)) return rows;
    openDirectory(item, OpenCause::DoubleClick);
    for (TreeItemId child : tree_.children(item)) {
        auto v = tree_.item(child);
        if (!v || v->icon == IconKind::Folder) continue;
        ListRow row;
        row.item = child;
        row.entry = v->data;
        row.label = v->label;
        row.icon = v->icon;
        row.labelOnly = true;
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace vindaru

namespace vindaru {

std::vector<CheckedEntry> VolumeBrowser::checkedEntries(TreeItemId volumeItem) const {
    std::vector<CheckedEntry> found;
    struct Pending {
        TreeItemId item;
        std::vector<std::string> folders;
    };
    // Depth-first in tree order, on a stack of our own; tree ids never repeat on a path.
    std::vector<Pending> stack;
    const std::vector<TreeItemId> top = tree_.children(volumeItem);
    for (auto it = top.rbegin(); it != top.rend(); ++it)
        stack.push_back({*it, {}});
    while (!stack.empty()) {
        Pending p = std::move(stack.back());
        stack.pop_back();
        const std::optional<EntryRef> entry = entryOf(p.item);
        if (!entry) continue;
        const int image = tree_.stateImage(p.item) % kStateDisabledOffset;
        if (tree_.getCheck(p.item)) {
            found.push_back({*entry, p.folders});
            continue;
        }
        if (image != kStateTristate) continue;
        std::vector<std::string> inner = p.folders;
        inner.push_back(tree_.label(p.item));
        const std::vector<TreeItemId> kids = tree_.children(p.item);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it)
            stack.push_back({*it, inner});
    }
    return found;
}

} // namespace vindaru
