#include "fs/hfsplus/HfsPlusEntryView.h"

namespace vindaru {

std::optional<EntryRef> HfsPlusEntryView::rootEntry() const {
    const auto root = parser_.indexOfCnid(kHfsRootFolderId);
    if (!root || parser_.entries[*root].type != kCatalogFolder) return std::nullopt;
    return *root;
}

bool HfsPlusEntryView::isDirectory(EntryRef entry) const {
    return isEntry(entry) && parser_.entries[entry].type == kCatalogFolder;
}

bool HfsPlusEntryView::hasChildren(EntryRef entry) const {
    return isEntry(entry) && parser_.entries[entry].firstChild != kNoHfsEntry;
}

std::vector<EntryRef> HfsPlusEntryView::children(EntryRef entry) const {
    const auto indices = parser_.childrenOf(entry);
    return std::vector<EntryRef>(indices.begin(), indices.end());
}

std::vector<EntryRef> HfsPlusEntryView::topLevel() const {
    std::vector<EntryRef> top;
    for (std::size_t i = 0; i < parser_.entries.size(); ++i)
        if (parser_.entries[i].parentID == kHfsRootFolderId) top.push_back(i);
    return top;
}

EntryTexts HfsPlusEntryView::describe(EntryRef entry) {
    const HfsDescription d = parser_.describeEntry(entry);
    return EntryTexts{d.creationText, d.accessText, d.modificationText, d.permissionText};
}

std::string HfsPlusEntryView::sizeText(EntryRef entry) { return parser_.formatEntrySize(entry); }

std::uint64_t HfsPlusEntryView::byteSize(EntryRef entry) {
    return isEntry(entry) ? parser_.contentSize(entry) : 0;
}

EntryTimes HfsPlusEntryView::times(EntryRef entry) { return parser_.entryTimes(entry); }

bool HfsPlusEntryView::writeContent(EntryRef entry, const ContentSink& sink) {
    std::lock_guard lock(mutex_);
    return parser_.writeEntryContent(entry, sink);
}

bool HfsPlusEntryView::isDirectoryForSave(EntryRef entry, bool selected) const {
    if (!isDirectory(entry)) return false;
    return !selected || hasChildren(entry);
}

std::optional<double> HfsPlusEntryView::recoverableShare(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.recoverableShare(static_cast<std::size_t>(entry));
}

} // namespace vindaru
