#include "fs/fat/FatEntryView.h"

#include "common/DisplayFormat.h"

namespace vindaru {

std::optional<EntryRef> FatEntryView::rootEntry() const {
    if (parser_.entryCount() == 0) return std::nullopt;
    return 0;
}

bool FatEntryView::isEntry(EntryRef entry) const { return parser_.isValidIndex(entry); }

std::string FatEntryView::label(EntryRef entry) const {
    std::lock_guard lock(mutex_);
    return parser_.isValidIndex(entry) ? parser_.entry(entry).name : std::string();
}

bool FatEntryView::isDirectory(EntryRef entry) const {
    return parser_.isValidIndex(entry) && parser_.entry(entry).directory;
}

bool FatEntryView::isDeleted(EntryRef entry) const {
    return parser_.isValidIndex(entry) && parser_.entry(entry).deleted;
}

bool FatEntryView::hasChildren(EntryRef entry) const {
    return parser_.isValidIndex(entry) && parser_.hasChildren(static_cast<std::uint32_t>(entry));
}

std::vector<EntryRef> FatEntryView::children(EntryRef entry) const {
    if (!parser_.isValidIndex(entry)) return {};
    const auto list = parser_.childrenOf(static_cast<std::uint32_t>(entry));
    return std::vector<EntryRef>(list.begin(), list.end());
}

EntryTexts FatEntryView::describe(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.describeEntry(entry);
}

std::string FatEntryView::sizeText(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.isValidIndex(entry) ? formatSizeText(parser_.entry(entry).size) : std::string();
}

std::uint64_t FatEntryView::byteSize(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.isValidIndex(entry) ? parser_.entry(entry).size : 0;
}

EntryTimes FatEntryView::times(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.entryTimes(entry);
}

std::optional<double> FatEntryView::recoverableShare(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.recoverableShare(static_cast<std::size_t>(entry));
}

bool FatEntryView::writeContent(EntryRef entry, const ContentSink& sink) {
    std::lock_guard lock(mutex_);
    if (!parser_.isValidIndex(entry) || parser_.entry(entry).directory) return false;
    return parser_.writeEntryContent(entry, sink);
}

bool FatEntryView::rename(EntryRef entry, const std::string& name) {
    std::lock_guard lock(mutex_);
    if (!parser_.isValidIndex(entry) || entry == 0) return false;
    parser_.entry(entry).name = name;
    return true;
}

bool FatEntryView::isDirectoryForSave(EntryRef entry, bool selected) const {
    if (!isDirectory(entry)) return false;
    return !(selected && saveNeedsChildren_) || hasChildren(entry);
}

} // namespace vindaru
