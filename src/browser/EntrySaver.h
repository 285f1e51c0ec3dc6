// Saving what a parser found: a folder recursively (count, confirmation, dump) or one file,
// into an output folder, each file with its recorded access and modification times.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "browser/BrowserSinks.h"
#include "fs/parser/EntryView.h"
#include "browser/OutputFolder.h"

namespace vindaru {

// What became of one file a save reached, for save reports (the command line's manifest).
struct SavedFile {
    EntryRef entry = 0;
    // The folders entered from the saved folder down to the file's own; empty for the saved
    // folder's own files and for a file saved on its own.
    const std::vector<EntryRef>* folders = nullptr;
    std::filesystem::path savedAs; // empty when the file could not be created
    std::uint64_t bytesWritten = 0;
    bool readWhole = false; // the content was read whole and every byte of it written
    std::string md5;        // of what was written
    std::string sha256;
};

class EntrySaver {
public:
    using SavedFileFn = std::function<void(const SavedFile&)>;

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

    // Called for every file a save reaches (not for those it passes over), with the digests of
    // what was written; hashing costs only while a report is asked for.
    void reportSavedFiles(SavedFileFn report) { report_ = std::move(report); }

    // Where saves go when the field holds nothing usable: the user's home folder.
    static std::filesystem::path defaultOutputFolder();

private:
    void dump(EntryRef directory, OutputFolder& top);
    void report(EntryRef file, const std::filesystem::path& savedAs, std::uint64_t bytes, bool whole,
                std::string md5, std::string sha256);

    EntryView& view_;
    BrowserSinks sinks_;
    std::atomic<bool>& saveStopRequested_;
    std::uint64_t written_ = 0;
    SavedFileFn report_;
    std::vector<EntryRef> folderPath_; // the folders dump has entered, for the report
};

} // namespace vindaru
