// Saving what a parser found: a folder recursively (count, confirmation, dump), one file, or
// the checked entries with their folders, into an output folder, each file with its recorded
// access and modification times. A file whose name is already taken in the output folder is
// replaced, kept beside as "name (2).ext", or skipped, as the user answers once per save (keep
// both when nobody is asked). Every save ends with a summary of what it wrote.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "browser/BrowserSinks.h"
#include "browser/OutputFolder.h"
#include "common/StopControl.h"
#include "fs/parser/EntryView.h"

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
    // Bytes read for the file (content and the records that lead to it) that lay in unreadable
    // ranges of the disk and were taken as zeros; non-zero makes the file incomplete.
    std::uint64_t unreadableBytes = 0;
    std::string md5;        // of what was written
    std::string sha256;
};

// What one save did.
struct SaveSummary {
    std::uint64_t filesWritten = 0; // created and written whole
    std::uint64_t bytesWritten = 0;
    std::uint64_t filesSkipped = 0; // their names were taken and the user chose Skip
    std::uint64_t filesFound = 0;   // what the count question named
    std::uint64_t filesPassedOver = 0; // never saved by rule (NTFS's $BadClus)
    std::uint64_t filesListedTwice = 0; // checked both in the tree and among search results
    // Files that could not be created or read fully (paths below the output folder); what was
    // read of them is in the file.
    std::vector<std::string> incomplete;
    // Of those, the files that read unreadable ranges of the disk.
    std::uint64_t damagedFiles = 0;
    // Files written into a folder that was guessed from where their records lay on disk (paths
    // below the output folder).
    std::vector<std::string> guessedPaths;
    std::filesystem::path outputFolder;
    bool stopped = false;
    // Why nothing could be written: the output folder cannot be created, opened or written.
    std::string outputError;

    // "12 files, 3.40 MB written; 1 not read fully; 2 in guessed folders" (the status line at
    // the end of a save).
    std::string text() const;
    // True only when every file found was written whole.
    bool complete() const;
    // "Saving process done" for a complete save; otherwise what went wrong, in a few words.
    std::string headline() const;
};

// An entry to save with the folders above it (labels below the volume item, outermost first).
struct CheckedEntry {
    EntryRef entry = 0;
    std::vector<std::string> folders;
};

class EntrySaver {
public:
    using SavedFileFn = std::function<void(const SavedFile&)>;

    enum class FolderResult { NoOutputFolder, NotADirectory, Declined, Saved };
    enum class ExistingFiles { Replace, KeepBoth, Skip };
    // Asked at the first file whose name is taken in the output folder; the answer holds for
    // the rest of the save.
    using ExistingFilesQuestion = std::function<ExistingFiles(const std::string& takenName)>;

    EntrySaver(EntryView& view, BrowserSinks sinks, StopFlag& saveStopRequested)
        : view_(view), sinks_(sinks), saveStopRequested_(saveStopRequested) {}

    // The Save command on the selected directory entry. First forgets the Stops an earlier save
    // saw, so that they do not silently empty this one; a Stop nothing has looked at yet (one
    // pressed as this save was being started) still stops it. Whoever starts a save as a new
    // run resets the flag before its worker starts.
    // `topName` (when not empty) is the folder created in the output folder to hold the
    // directory's content, so that saving two folders in turn does not mix them.
    FolderResult saveFolder(EntryRef directory, const std::string& outputField,
                            const std::string& topName = {});
    // The double-click save of one file; an empty field means the default output folder.
    bool saveSingleFile(EntryRef file, const std::string& outputField);
    // Save Checked: exactly these entries (a directory with everything below it), each under
    // its folders, after the count question. Nothing checked: nothing happens.
    FolderResult saveChecked(const std::vector<CheckedEntry>& entries,
                             const std::string& outputField);

    // Files below `directory` as the folder save counts them (directories walked, not counted).
    std::uint64_t countFiles(EntryRef directory);
    // Files written by the last saveFolder (counted as the dump reaches them).
    std::uint64_t filesWritten() const { return written_; }
    const SaveSummary& lastSummary() const { return summary_; }

    // Writes one file into `folder` under its safe, not yet used name, with its times. The
    // name written, or an empty text when the file was not written (or skipped).
    std::string saveInto(EntryRef file, OutputFolder& folder);

    // Called for every file a save reaches (not for those it passes over), with the digests of
    // what was written when `withDigests` (hashing costs twice what the copy costs, so only a
    // report that keeps them asks for them).
    void reportSavedFiles(SavedFileFn report, bool withDigests = true) {
        report_ = std::move(report);
        reportDigests_ = withDigests;
    }

    // Where saves go when the field holds nothing usable: the user's home folder.
    static std::filesystem::path defaultOutputFolder();

    // Where a save waits while the page's Pause holds it (none: never).
    PauseGate* pauseGate = nullptr;
    // Who answers the question about taken names; none: keep both.
    ExistingFilesQuestion askExisting;
    // Called with the summary at the end of every save instead of the "Saving process done"
    // box (the wizard shows its own box with the summary).
    std::function<void(const SaveSummary&)> onSaved;

private:
    void dump(EntryRef directory, OutputFolder& top);
    void report(EntryRef file, const std::filesystem::path& savedAs, std::uint64_t bytes, bool whole,
                std::string md5, std::string sha256, std::uint64_t unreadable = 0);
    void begin(const std::filesystem::path& output);
    // The chosen output folder, or nullopt with summary_.outputError said.
    std::optional<OutputFolder> openOutput(const std::filesystem::path& output);
    void waitWhilePaused() const;
    void finish(bool folderSave);
    // The name to write `safeName` under in `folder`, or empty to skip it.
    std::string nameFor(const std::string& safeName, OutputFolder& folder);
    // The folder `path` below the top output folder, created on first use.
    OutputFolder* folderAt(OutputFolder& top, const std::vector<std::string>& path);

    EntryView& view_;
    BrowserSinks sinks_;
    StopFlag& saveStopRequested_;
    std::uint64_t written_ = 0;
    SavedFileFn report_;
    bool reportDigests_ = true;
    std::vector<EntryRef> folderPath_; // the folders dump has entered, for the report
    SaveSummary summary_;
    std::optional<ExistingFiles> existingChoice_;
    std::unordered_set<EntryRef> savedEntries_;
    std::map<std::vector<std::string>, std::unique_ptr<OutputFolder>> folders_;
};

} // namespace vindaru
