// The entry view over a FAT-family parser's table. The placeholder at index 0 stands for the
// root directory; volume labels are never listed.
#pragma once

#include <mutex>

#include "fs/fat/FatFamilyBase.h"
#include "fs/parser/EntryView.h"

namespace vindaru {

class FatEntryView : public EntryView {
public:
    explicit FatEntryView(FatFamilyBase& parser, bool saveNeedsChildren)
        : parser_(parser), saveNeedsChildren_(saveNeedsChildren) {}

    std::string fileSystemType() const override { return parser_.typeName(); }
    std::uint64_t entryLimit() const override { return parser_.entryCount(); }
    std::optional<EntryRef> rootEntry() const override;
    bool isEntry(EntryRef entry) const override;

    std::string label(EntryRef entry) const override;
    bool isDirectory(EntryRef entry) const override;
    bool isDeleted(EntryRef entry) const override;
    bool hasChildren(EntryRef entry) const override;
    std::vector<EntryRef> children(EntryRef entry) const override;

    // Reads share the parser's FAT cache and the reader: the page's threads take turns here.
    EntryTexts describe(EntryRef entry) override;
    std::string sizeText(EntryRef entry) override;
    std::uint64_t byteSize(EntryRef entry) override;
    EntryTimes times(EntryRef entry) override;
    bool writeContent(EntryRef entry, const ContentSink& sink) override;
    bool rename(EntryRef entry, const std::string& name) override;
    bool isPlaceholder(EntryRef entry) const override { return parser_.isPlaceholder(entry); }
    std::optional<double> recoverableShare(EntryRef entry) override;
    // exFAT: a folder save starts only from a folder that has children.
    bool isDirectoryForSave(EntryRef entry, bool selected) const override;

private:
    FatFamilyBase& parser_;
    bool saveNeedsChildren_;
    mutable std::mutex mutex_;
};

} // namespace vindaru
