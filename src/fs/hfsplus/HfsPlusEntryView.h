// The entry view over the HFS+ parser's entries: a reference is an index into HFSP::entries.
#pragma once

#include <mutex>

#include "fs/hfsplus/HFSP.h"
#include "fs/parser/EntryView.h"

namespace vindaru {

class HfsPlusEntryView : public EntryView {
public:
    explicit HfsPlusEntryView(HFSP& parser) : parser_(parser) {}

    std::string fileSystemType() const override { return "hfsplus"; }
    std::uint64_t entryLimit() const override { return parser_.entries.size(); }
    // The root folder (CNID 2), when the scan found its record.
    std::optional<EntryRef> rootEntry() const override;
    bool isEntry(EntryRef entry) const override { return entry < parser_.entries.size(); }

    std::string label(EntryRef entry) const override { return parser_.entryLabel(entry); }
    bool isDirectory(EntryRef entry) const override;
    bool isDeleted(EntryRef) const override { return false; }
    bool hasChildren(EntryRef entry) const override;
    std::vector<EntryRef> children(EntryRef entry) const override;
    // Every record whose folder is the root, in CNID order, whether or not the root's own record
    // was found (ORPHAN_ENTRY of a deep scan among them).
    std::vector<EntryRef> topLevel() const override;

    EntryTexts describe(EntryRef entry) override;
    std::string sizeText(EntryRef entry) override;
    std::uint64_t byteSize(EntryRef entry) override;
    EntryTimes times(EntryRef entry) override;
    // Content reads share the parser's buffer and the reader, so the page's threads take turns.
    bool writeContent(EntryRef entry, const ContentSink& sink) override;
    std::optional<double> recoverableShare(EntryRef entry) override;

    // The folder the user picks must have a first child; inside a saved folder every folder
    // record is a folder, so empty ones are recreated instead of being written as files.
    bool isDirectoryForSave(EntryRef entry, bool selected) const override;

private:
    HFSP& parser_;
    std::mutex mutex_;
};

} // namespace vindaru
