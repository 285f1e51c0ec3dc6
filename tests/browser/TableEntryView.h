// A parser-free EntryView over a small table, for the browser's walks, saving and tree logic.
#pragma once

#include <string>
#include <unistd.h>
#include <vector>

#include "fs/parser/EntryView.h"
#include "common/DisplayFormat.h"

namespace vindaru::test {

class TableEntryView : public EntryView {
public:
    struct Row {
        std::string name;
        bool directory = false;
        bool deleted = false;
        std::vector<EntryRef> children;
        std::string content;
        std::int64_t mtime = 0;
        bool guessed = false; // its folder chosen by disk order
    };

    TableEntryView() { rows.push_back(Row{"", true, false, {}, {}, 0}); } // entry 0 is never shown

    EntryRef add(EntryRef parent, std::string name, bool directory, std::string content = {},
                 bool deleted = false) {
        const EntryRef id = rows.size();
        rows.push_back(Row{std::move(name), directory, deleted, {}, std::move(content),
                           1600000000 + static_cast<std::int64_t>(id)});
        rows[parent].children.push_back(id);
        return id;
    }

    std::string fileSystemType() const override { return "test"; }
    std::uint64_t entryLimit() const override { return rows.size(); }
    std::optional<EntryRef> rootEntry() const override { return root; }
    bool isEntry(EntryRef e) const override { return e > 0 && e < rows.size(); }
    std::string label(EntryRef e) const override { return rows[e].name; }
    bool isDirectory(EntryRef e) const override { return rows[e].directory; }
    bool isDeleted(EntryRef e) const override { return rows[e].deleted; }
    bool hasChildren(EntryRef e) const override { return !rows[e].children.empty(); }
    std::vector<EntryRef> children(EntryRef e) const override { return rows[e].children; }
    EntryTexts describe(EntryRef e) override {
        return {"c" + std::to_string(e), "a" + std::to_string(e), "m" + std::to_string(e), "-A"};
    }
    std::string sizeText(EntryRef e) override { return formatSizeText(rows[e].content.size()); }
    std::uint64_t byteSize(EntryRef e) override { return rows[e].content.size(); }
    EntryTimes times(EntryRef e) override {
        EntryTimes t;
        t.known = true;
        t.modificationSeconds = rows[e].mtime;
        t.modificationNanoseconds = 500;
        t.accessSeconds = rows[e].mtime + 100;
        return t;
    }
    bool rename(EntryRef e, const std::string& name) override {
        rows[e].name = name;
        return true;
    }
    bool writeContent(EntryRef e, const ContentSink& sink) override {
        ++writes;
        const auto& c = rows[e].content;
        return sink(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(c.data()), c.size()));
    }
    bool isPathGuessed(EntryRef e) const override { return rows[e].guessed; }
    bool descendWhenSaving(EntryRef e) const override { return rows[e].name != "."; }
    bool skipWhenSaving(EntryRef e) const override { return rows[e].name == "$BadClus"; }

    std::vector<Row> rows;
    std::optional<EntryRef> root;
    int writes = 0;
};

} // namespace vindaru::test
