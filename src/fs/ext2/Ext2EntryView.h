// The entry view over the ext2 parser's entry map.
#pragma once

#include <mutex>

#include "fs/ext2/ext2Class.h"
#include "fs/parser/EntryView.h"

namespace vindaru {

class Ext2EntryView : public EntryView {
public:
    explicit Ext2EntryView(ext2Class& parser) : parser_(parser) {}

    std::string fileSystemType() const override { return "ext2"; }
    std::uint64_t entryLimit() const override { return parser_.entryCount(); }
    std::optional<EntryRef> rootEntry() const override { return parser_.rootRef(); }
    bool isEntry(EntryRef entry) const override { return parser_.isValidRef(entry); }

    std::string label(EntryRef entry) const override { return std::string(parser_.entryName(entry)); }
    bool isDirectory(EntryRef entry) const override { return parser_.isDirectory(entry); }
    bool isDeleted(EntryRef entry) const override { return parser_.isDeleted(entry); }
    bool hasChildren(EntryRef entry) const override { return parser_.hasChildren(entry); }
    std::vector<EntryRef> children(EntryRef entry) const override { return parser_.childrenOf(entry); }

    // These share the parser's inode cache and the reader, so the page's threads take turns.
    EntryTexts describe(EntryRef entry) override;
    std::string sizeText(EntryRef entry) override;
    std::uint64_t byteSize(EntryRef entry) override;
    EntryTimes times(EntryRef entry) override;
    bool writeContent(EntryRef entry, const ContentSink& sink) override;
    std::optional<double> recoverableShare(EntryRef entry) override;

    // The root's own "." record stands beside the root's other children and has none itself:
    // a save does not make an empty folder of it.
    bool descendWhenSaving(EntryRef entry) const override { return parser_.entryName(entry) != "."; }

    bool isPlaceholder(EntryRef entry) const override { return parser_.isOrphanFolder(entry); }

    ext2Class& parser() { return parser_; }

private:
    ext2Class& parser_;
    std::mutex mutex_;
};

} // namespace vindaru
