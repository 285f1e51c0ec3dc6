// The scan page's search by name pattern over the active parser's own entries (not only the
// tree items that happen to be loaded). Rows carry the path, the three time texts, the size
// text and the attribute text, as the page's list shows them.
//
// Threads: search() runs on the page's worker; the page's Stop raises the parser's stop flag,
// which ends the walk of the current top-level folder (the remaining ones are still visited).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "browser/BrowserSinks.h"
#include "fs/parser/EntryView.h"
#include "browser/NamePattern.h"
#include "common/CheckTree.h"
#include "common/StopControl.h"

namespace vindaru {

inline constexpr const char* kSearchInvalidPattern =
    "such characters are not allowed for search.Try again with different pattern.";
inline constexpr const char* kSearchFinished = "Searching Finished";

struct SearchRow {
    std::string path; // "ROOT\\folder\\name"
    // The folders between the volume item and the entry, one name each (a name may itself hold
    // a backslash, so the path text cannot be split back into them).
    std::vector<std::string> folders;
    EntryRef entry = 0;
    bool deleted = false;
    EntryTexts texts;
    std::string sizeText;
    std::uint64_t bytes = 0; // for sorting by size
    std::optional<double> recoverable; // as the list's rows carry it
};

class EntrySearch {
public:
    enum class Result { Finished, InvalidPattern };
    using RowFn = std::function<void(const SearchRow&)>;

    // `control` is the parser's: its stop flag ends a folder's walk and is cleared after it.
    EntrySearch(CheckTree& tree, TreeItemId volumeItem, EntryView& view, BrowserSinks sinks,
                EngineControl& control)
        : tree_(tree), volumeItem_(volumeItem), view_(view), sinks_(sinks), control_(control) {}

    // searchEntries: every file below the volume item whose name holds a match of `pattern`.
    // Rows go to `onRow` as they are found (and are returned).
    Result search(const std::string& pattern, const RowFn& onRow = {});

    const std::vector<SearchRow>& rows() const { return rows_; }
    // Names the matcher gave up on (pathological patterns); they count as not matching.
    std::uint64_t limitHits() const { return pattern_.limitHits(); }

private:
    void searchFolder(EntryRef folder, const std::string& path, const std::string& label);
    void testEntry(EntryRef entry, const std::string& folderPath,
                   const std::vector<std::string>& folders, const RowFn& onRow);

    CheckTree& tree_;
    TreeItemId volumeItem_;
    EntryView& view_;
    BrowserSinks sinks_;
    EngineControl& control_;
    NamePattern pattern_;
    std::vector<SearchRow> rows_;
    const RowFn* onRow_ = nullptr;
};

} // namespace vindaru
