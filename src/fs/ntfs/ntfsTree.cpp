// Putting the root directory's children, the volume's first level, into the scan page's tree.
#include "common/CheckTree.h"
#include "fs/ntfs/ntfs.h"

namespace vindaru {

void ntfs::fillRootInTree() {
    // A deep scan whose "." record is lost shows ORPHAN_ENTRY alone, which holds everything the
    // scan found.
    if (tree_ == nullptr || (rootIndex >= entries.size() && scanMode != 3)) return;
    bool orphanInserted = false;
    if (rootIndex < entries.size()) {
        // The root's chain may loop back on itself: each entry is inserted once.
        for (std::uint64_t child : childrenOf(rootIndex)) {
            const TreeItemId item = tree_->insertItem(
                entryLabel(child), isDirectory(child) ? IconKind::Folder : IconKind::ByExtension, volumeItem_);
            if (!isInUse(child)) tree_->setItemTextColour(item);
            tree_->setItemData(item, child);
            if (child == orphanIndex) orphanInserted = true;
        }
    }
    if (!orphanInserted && orphanIndex < entries.size()) {
        const TreeItemId item = tree_->insertItem(entryLabel(orphanIndex), IconKind::Folder, volumeItem_);
        tree_->setItemData(item, orphanIndex);
    }
    tree_->setCheck(volumeItem_, true);
    tree_->expand(volumeItem_, ExpandAction::Expand);
}

} // namespace vindaru
