#include "fs/ext2/Ext2EntryView.h"

namespace vindaru {

EntryTexts Ext2EntryView::describe(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.describeEntry(entry);
}

std::string Ext2EntryView::sizeText(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.formatEntrySize(entry);
}

std::uint64_t Ext2EntryView::byteSize(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.entrySize(entry);
}

EntryTimes Ext2EntryView::times(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.entryTimes(entry);
}

bool Ext2EntryView::writeContent(EntryRef entry, const ContentSink& sink) {
    std::lock_guard lock(mutex_);
    return parser_.writeEntryContent(entry, sink);
}

std::optional<double> Ext2EntryView::recoverableShare(EntryRef entry) {
    std::lock_guard lock(mutex_);
    return parser_.recoverableShare(entry);
}

} // namespace vindaru
