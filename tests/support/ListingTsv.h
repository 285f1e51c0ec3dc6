// Reading the corpus's expected.tsv and `vindaru-cli ls --tsv` output into rows by path.
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vindaru::test {

struct ListingRow {
    std::string start, fsType, path;
    bool dir = false, deleted = false;
    std::string size, md5, mtime;
};

// Rows by path (the first row of a path wins); only rows of `fsType` when it is not empty.
inline std::map<std::string, ListingRow> parseListing(const std::string& text,
                                                      const std::string& fsType = "") {
    std::map<std::string, ListingRow> rows;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, '\t')) f.push_back(cell);
        while (f.size() < 8) f.emplace_back();
        if (!fsType.empty() && f[1] != fsType) continue;
        rows.emplace(f[2], ListingRow{f[0], f[1], f[2], f[3] == "1", f[4] == "1", f[5], f[6], f[7]});
    }
    return rows;
}

// True for a path at or below a recycled "$R" item, which this system shows under the name the
// item had before deletion (checked against the recycle-bin listings on their own).
inline bool isRecycledDataPath(const std::string& path) {
    return path.starts_with("/$RECYCLE.BIN/") && path.find("/$R", 13) != std::string::npos;
}

// The live files and folders The Sleuth Kit lists at a path of their own (not orphans, not
// named streams, which this system shows as part of their file, not recycled items, which it
// shows under their former names).
inline bool isLivePathRow(const ListingRow& r) {
    return !r.deleted && !r.path.starts_with("/$OrphanFiles") &&
           r.path.find(':') == std::string::npos && !isRecycledDataPath(r.path);
}

} // namespace vindaru::test
