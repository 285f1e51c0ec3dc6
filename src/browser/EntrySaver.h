// Saving what a parser found: a folder recursively (count, confirmation, dump) or one file,
// into an output folder, each file with its recorded access and modification times.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "browser/BrowserSinks.h"
#include "fs/parser/EntryView.h"
#include "browser/OutputFolder.h"

namespace vindaru {

class EntrySaver {
public:
    enum class FolderResult { NoOutputFolder, NotADirectory, Declined, Saved };

    EntrySaver(EntryView& view, BrowserSinks sinks, std::atomic<bool>& saveStopRequested)
        : view_(view), sinks_(sinks), saveStopRequested_(saveStopRequested) {}

    // The Save command on the selected directory entry. Clears saveStopRequested first, so a
    // Stop pressed during an earlier save does not silently empty this one.
    FolderResult saveFolder(EntryRef directory, const std::string& outputField);
    // The double-click save of one file; an empty field means the default output folder.
    bool saveSingleFile(EntryRef file, const std::string& outputField);

    // Files below `directory` as the folder save counts them (directories walked, not counted).
    std::uint64_t countFiles(EntryRef directory);
    // Files written by the last saveFolder (counted as the dump reaches them).
    std::uint64_t filesWritten() const { return written_; }

    // Writes one file into `folder` under its safe, not yet used name, with its times. The
    // name written, or an empty text when the file could not be created.
    std::string saveInto(EntryRef file, OutputFolder& folder);

    // Where saves go when the field holds nothing usable: the user's home folder.
    static std::filesystem::path defaultOutputFolder();

private:
    void dump(EntryRef directory, OutputFolder& top);

    EntryView& view_;
    BrowserSinks sinks_;
    std::atomic<bool>& saveStopRequested_;
    std::uint64_t written_ = 0;
};

} // namespace vindaru
