// The entry view over the NTFS parser's entry table.
#pragma once

#include <mutex>

#include "fs/parser/EntryView.h"
#include "fs/ntfs/ntfs.h"

namespace vindaru {

class NtfsEntryView : public EntryView {
public:
    explicit NtfsEntryView(ntfs& parser) : parser_(parser) {}

    std::string fileSystemType() const override { return "ntfs"; }
    std::uint64_t entryLimit() const override { return parser_.entryCount(); }
    std::optional<EntryRef> rootEntry() const override;
    // A "FILE" record inside the table; entry 0 (the MFT's own record) never stands in the tree.
    bool isEntry(EntryRef entry) const override;

    std::string label(EntryRef entry) const override { return parser_.entryLabel(entry); }
    bool isDirectory(EntryRef entry) const override { return parser_.isDirectory(entry); }
    bool isDeleted(EntryRef entry) const override { return !parser_.isInUse(entry); }
    bool hasChildren(EntryRef entry) const override { return parser_.hasChildren(entry); }
    // Entry 0 is $MFT: an orphanIndex still 0 means no ORPHAN_ENTRY was made.
    bool isPlaceholder(EntryRef entry) const override {
        return entry != 0 && entry == parser_.orphanIndex && parser_.isValidIndex(entry);
    }
    std::vector<EntryRef> children(EntryRef entry) const override;
    // The root's children, ORPHAN_ENTRY among them. A deep scan whose root record is lost shows
    // ORPHAN_ENTRY alone, as it holds everything the scan found; the other modes show nothing.
    std::vector<EntryRef> topLevel() const override;
    bool isPathGuessed(EntryRef entry) const override { return parser_.isPathGuessed(entry); }

    // The parser's describe, size and save operations share its scratch buffers and the
    // reader's cursor, so the page's threads take turns here.
    EntryTexts describe(EntryRef entry) override;
    std::string sizeText(EntryRef entry) override;
    std::uint64_t byteSize(EntryRef entry) override;
    EntryTimes times(EntryRef entry) override;
    bool writeContent(EntryRef entry, const ContentSink& sink) override;
    std::optional<double> recoverableShare(EntryRef entry) override;
    bool rename(EntryRef entry, const std::string& name) override;

    // A folder save starts only from a directory that stands in the table by its own record
    // (an ORPHAN_ENTRY never placed under the root is not offered as a folder).
    bool isDirectoryForSave(EntryRef entry, bool selected) const override;
    bool descendWhenSaving(EntryRef entry) const override { return label(entry) != "."; }
    bool skipWhenSaving(EntryRef entry) const override { return label(entry) == "$BadClus"; }

    ntfs& parser() { return parser_; }

private:
    ntfs& parser_;
    std::mutex mutex_;
};

} // namespace vindaru
