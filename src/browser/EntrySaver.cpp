#include "browser/EntrySaver.h"

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <exception>
#include <optional>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "browser/EntryWalker.h"
#include "common/DisplayFormat.h"
#include "common/Md5.h"
#include "common/Sha256.h"
#include "image/ByteSource.h"

namespace vindaru {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSelectOutputFolder = "select output folder";
constexpr const char* kFolderQuestion =
    "number of files found inside this folder = %lld .do u want to continue dumping these "
    "files..?";
constexpr const char* kSavingDone = "Saving process done";
constexpr const char* kSavingFile = "saving File  ";
constexpr const char* kFileSize = "File size: ";
constexpr const char* kException = "Exception :  %s   ";
// Keeping both copies tries numbered names up to this; a folder holding them all is skipped.
constexpr int kMaxNumberedNames = 10000;

bool writeAll(int fd, std::span<const std::uint8_t> data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data = data.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

bool taken(const OutputFolder& folder, const std::string& name) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(folder.path() / name, ec));
}

} // namespace

std::string SaveSummary::text() const {
    std::string out = formatText("%llu file%s, %s written", static_cast<unsigned long long>(filesWritten),
                                 filesWritten == 1 ? "" : "s", formatSizeText(bytesWritten).c_str());
    if (!incomplete.empty())
        out += formatText("; %llu not read fully", static_cast<unsigned long long>(incomplete.size()));
    if (damagedFiles != 0)
        out += formatText(" (%llu from unreadable parts of the disk)", static_cast<unsigned long long>(damagedFiles));
    if (filesSkipped != 0)
        out += formatText("; %llu skipped (already there)", static_cast<unsigned long long>(filesSkipped));
    if (!guessedPaths.empty())
        out += formatText("; %llu in guessed folders", static_cast<unsigned long long>(guessedPaths.size()));
    if (filesPassedOver != 0)
        out += formatText("; %llu passed over (never saved, such as $BadClus)",
                          static_cast<unsigned long long>(filesPassedOver));
    if (filesListedTwice != 0)
        out += formatText("; %llu checked twice, saved once", static_cast<unsigned long long>(filesListedTwice));
    const std::uint64_t accounted = filesWritten + incomplete.size() + filesSkipped +
                                    filesPassedOver + filesListedTwice;
    if (filesFound > accounted && !stopped)
        out += formatText("; %llu not reached", static_cast<unsigned long long>(filesFound - accounted));
    if (stopped)
        out += formatText("; stopped with %llu of %llu files not reached",
                          static_cast<unsigned long long>(filesFound > accounted ? filesFound - accounted : 0),
                          static_cast<unsigned long long>(filesFound));
    return out;
}

bool SaveSummary::complete() const {
    return outputError.empty() && !stopped && incomplete.empty() &&
           filesWritten + filesSkipped + filesPassedOver + filesListedTwice >= filesFound;
}

std::string SaveSummary::headline() const {
    if (!outputError.empty()) return "Nothing saved: the output folder cannot be used";
    if (stopped) return "Saving stopped before the end";
    if (!complete()) return "Saving ended, but not every file was saved whole";
    return kSavingDone;
}

std::filesystem::path EntrySaver::defaultOutputFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    return std::filesystem::temp_directory_path();
}

std::uint64_t EntrySaver::countFiles(EntryRef directory) {
    std::uint64_t count = 0;
    EntryWalker walker(view_, EntryWalker::DirectoryTest::Saving);
    walker.walk(directory, [&](const EntryWalker::Visit& v) {
        if (!v.directory) ++count;
        return true;
    });
    return count;
}

void EntrySaver::report(EntryRef file, const std::filesystem::path& savedAs, std::uint64_t bytes,
                        bool whole, std::string md5, std::string sha256, std::uint64_t unreadable) {
    if (!report_) return;
    SavedFile saved;
    saved.entry = file;
    saved.folders = &folderPath_;
    saved.savedAs = savedAs;
    saved.bytesWritten = bytes;
    saved.readWhole = whole;
    saved.unreadableBytes = unreadable;
    saved.md5 = std::move(md5);
    saved.sha256 = std::move(sha256);
    report_(saved);
}

std::string EntrySaver::nameFor(const std::string& safeName, OutputFolder& folder) {
    std::string name = folder.names().claim(safeName);
    if (!taken(folder, name)) return name;
    if (!existingChoice_)
        existingChoice_ = askExisting ? askExisting(name) : ExistingFiles::KeepBoth;
    switch (*existingChoice_) {
    case ExistingFiles::Replace:
        return name;
    case ExistingFiles::Skip:
        return {};
    case ExistingFiles::KeepBoth:
        break;
    }
    // Each claim of the same name gives the next numbered spelling: "a (2).txt", "a (3).txt".
    for (int tries = 0; tries < kMaxNumberedNames && taken(folder, name); ++tries)
        name = folder.names().claim(safeName);
    return taken(folder, name) ? std::string() : name;
}

std::string EntrySaver::saveInto(EntryRef file, OutputFolder& folder) {
    const std::string name = nameFor(safeHostName(trimBlanks(view_.label(file))), folder);
    if (name.empty()) {
        ++summary_.filesSkipped;
        return {};
    }
    savedEntries_.insert(file);
    const fs::path shown = (folder.path() / name).lexically_relative(summary_.outputFolder);
    if (view_.isPathGuessed(file)) summary_.guessedPaths.push_back(shown.string());
    const int fd = folder.createFile(name);
    if (fd < 0) {
        summary_.incomplete.push_back(shown.string());
        report(file, {}, 0, false, {}, {});
        return {};
    }
    bool whole = false;
    bool writesOk = true;
    std::uint64_t bytes = 0;
    Md5 md5;
    Sha256 sha256;
    const bool hashing = report_ && reportDigests_;
    // Whatever the parser reads for this file (content, runs, records) is collected here: a
    // file built on bytes the disk could not give is not complete, whatever its length.
    ReadScope reads;
    try {
        whole = view_.writeContent(file, [&](std::span<const std::uint8_t> data) {
            writesOk = writeAll(fd, data);
            if (!writesOk) return false;
            bytes += data.size();
            if (hashing) {
                md5.update(data);
                sha256.update(data);
            }
            return true;
        });
    } catch (const std::exception& e) {
        // A damaged record can make a parser's buffer too large to allocate: what was written
        // stays, the user is told, and the save goes on with the next file.
        sinks_.messages.info(formatText(kException, e.what()));
    }
    ::close(fd);
    folder.setTimes(name, view_.times(file));
    const std::uint64_t unreadable = reads.report().unreadableBytes();
    if (unreadable != 0) ++summary_.damagedFiles;
    whole = whole && writesOk && unreadable == 0;
    if (report_)
        report(file, folder.path() / name, bytes, whole, hashing ? md5.finishHex() : std::string(),
               hashing ? sha256.finishHex() : std::string(), unreadable);
    summary_.bytesWritten += bytes;
    if (whole)
        ++summary_.filesWritten;
    else
        summary_.incomplete.push_back(shown.string());
    return name;
}

void EntrySaver::dump(EntryRef directory, OutputFolder& top) {
    // One output folder per entered directory; an entry is nullopt when its folder could not be
    // made, and the files below it then fail quietly, as they would at a path that is missing.
    // A deque: `current` points into it, and growing it must not move the folders.
    std::deque<std::optional<OutputFolder>> folders;
    std::vector<OutputFolder*> current{&top};
    EntryWalker walker(view_, EntryWalker::DirectoryTest::Saving);
    auto visit = [&](const EntryWalker::Visit& v) {
        sinks_.progress.setPosition(static_cast<std::int64_t>(written_));
        OutputFolder* here = current.back();
        if (v.directory) {
            if (!v.enterable) return false;
            const std::string label = view_.label(v.entry);
            std::optional<OutputFolder> sub;
            if (label.empty()) {
                // A nameless folder's content goes into the folder above it.
                if (here) sub = here->subfolder(".");
            } else if (here) {
                sub = here->subfolder(here->names().claim(safeHostName(trimBlanks(label))));
            }
            folders.push_back(std::move(sub));
            current.push_back(folders.back() ? &*folders.back() : nullptr);
            folderPath_.push_back(v.entry);
            return true;
        }
        ++written_;
        if (savedEntries_.count(v.entry)) { // checked twice (tree and search)
            ++summary_.filesListedTwice;
            return false;
        }
        const std::string name = trimBlanks(view_.label(v.entry));
        if (!here) {
            summary_.incomplete.push_back(name);
            if (!view_.skipWhenSaving(v.entry)) report(v.entry, {}, 0, false, {}, {});
            return false;
        }
        sinks_.status.setText(kSavingFile + (here->path() / safeHostName(name)).string());
        sinks_.secondStatus.setText(kFileSize + view_.sizeText(v.entry));
        if (view_.skipWhenSaving(v.entry))
            ++summary_.filesPassedOver;
        else
            saveInto(v.entry, *here);
        sinks_.secondStatus.setText("");
        return false;
    };
    auto leave = [&](EntryRef) {
        current.pop_back();
        folders.pop_back();
        folderPath_.pop_back();
    };
    auto stop = [&] {
        waitWhilePaused();
        return saveStopRequested_.load();
    };
    folderPath_.clear();
    walker.walk(directory, visit, leave, stop);
    folderPath_.clear();
}

void EntrySaver::begin(const fs::path& output) {
    summary_ = SaveSummary{};
    summary_.outputFolder = output;
    existingChoice_.reset();
    savedEntries_.clear();
    folders_.clear();
    folderPath_.clear();
}

void EntrySaver::waitWhilePaused() const {
    // The save's own stop flag ends the wait as well as Resume does.
    if (pauseGate) pauseGate->wait(saveStopRequested_);
}

std::optional<OutputFolder> EntrySaver::openOutput(const fs::path& output) {
    std::string why;
    auto folder = OutputFolder::openChosen(output, &why);
    if (!folder) summary_.outputError = "cannot create or open the output folder '" + output.string() + "': " + why;
    return folder;
}

void EntrySaver::finish(bool folderSave) {
    summary_.stopped = saveStopRequested_.load() && summary_.outputError.empty();
    folders_.clear();
    // The status line ends with what was done, not with the last file's name.
    std::string status = summary_.headline() + ": " + summary_.text();
    if (!summary_.outputError.empty()) status = summary_.headline() + ": " + summary_.outputError;
    sinks_.status.setText(status);
    sinks_.secondStatus.setText("");
    if (onSaved)
        onSaved(summary_);
    else if (folderSave)
        sinks_.messages.info(summary_.complete() ? std::string(kSavingDone) : status);
}

OutputFolder* EntrySaver::folderAt(OutputFolder& top, const std::vector<std::string>& path) {
    OutputFolder* here = &top;
    std::vector<std::string> key;
    for (const std::string& label : path) {
        key.push_back(label);
        auto it = folders_.find(key);
        if (it == folders_.end()) {
            std::optional<OutputFolder> sub;
            if (here) {
                const std::string name = trimBlanks(label);
                sub = name.empty() ? here->subfolder(".") : here->subfolder(safeHostName(name));
            }
            it = folders_.emplace(key, sub ? std::make_unique<OutputFolder>(std::move(*sub)) : nullptr)
                     .first;
        }
        here = it->second.get();
    }
    return here;
}

EntrySaver::FolderResult EntrySaver::saveFolder(EntryRef directory,
                                                const std::string& outputField,
                                                const std::string& topName) {
    saveStopRequested_.acknowledge();
    written_ = 0;
    if (outputField.empty()) {
        sinks_.messages.info(kSelectOutputFolder);
        return FolderResult::NoOutputFolder;
    }
    if (!view_.isEntry(directory) || !view_.isDirectoryForSave(directory, true))
        return FolderResult::NotADirectory;
    const std::uint64_t count = countFiles(directory);
    if (!sinks_.messages.askYesNo(formatText(kFolderQuestion, static_cast<long long>(count))))
        return FolderResult::Declined;
    // The bar starts once the question is answered.
    sinks_.progress.setRange(0, static_cast<std::int64_t>(count));
    sinks_.progress.setPosition(0);
    // A field of blanks only leaves no path: the default folder is used instead.
    const std::string field = trimBlanks(outputField);
    const fs::path output = field.empty() ? defaultOutputFolder() : fs::path(field);
    begin(output);
    summary_.filesFound = count;
    auto top = openOutput(output);
    if (top && !topName.empty()) {
        // The folder itself heads what is written.
        if (OutputFolder* folder = folderAt(*top, {topName}))
            dump(directory, *folder);
        else
            summary_.outputError = "cannot create the folder '" + (output / safeHostName(trimBlanks(topName))).string() + "'";
    } else if (top) {
        dump(directory, *top);
    }
    // The bar ends where the save ended: full only when every file was reached.
    if (!saveStopRequested_.load()) sinks_.progress.setPosition(static_cast<std::int64_t>(count));
    finish(true);
    return FolderResult::Saved;
}

EntrySaver::FolderResult EntrySaver::saveChecked(const std::vector<CheckedEntry>& entries,
                                                 const std::string& outputField) {
    saveStopRequested_.acknowledge();
    written_ = 0;
    if (outputField.empty()) {
        sinks_.messages.info(kSelectOutputFolder);
        return FolderResult::NoOutputFolder;
    }
    std::uint64_t count = 0;
    for (const CheckedEntry& c : entries) {
        if (!view_.isEntry(c.entry)) continue;
        count += view_.isDirectoryForSave(c.entry, false) ? countFiles(c.entry) : 1;
    }
    if (entries.empty()) return FolderResult::NotADirectory;
    if (!sinks_.messages.askYesNo(formatText(kFolderQuestion, static_cast<long long>(count))))
        return FolderResult::Declined;
    sinks_.progress.setRange(0, static_cast<std::int64_t>(count));
    sinks_.progress.setPosition(0);
    const std::string field = trimBlanks(outputField);
    const fs::path output = field.empty() ? defaultOutputFolder() : fs::path(field);
    begin(output);
    summary_.filesFound = count;
    auto top = openOutput(output);
    for (const CheckedEntry& c : entries) {
        waitWhilePaused();
        if (!top || saveStopRequested_.load()) break;
        if (!view_.isEntry(c.entry)) continue;
        if (view_.isDirectoryForSave(c.entry, false)) {
            std::vector<std::string> path = c.folders;
            path.push_back(view_.label(c.entry));
            if (OutputFolder* folder = folderAt(*top, path)) dump(c.entry, *folder);
            continue;
        }
        ++written_;
        sinks_.progress.setPosition(static_cast<std::int64_t>(written_));
        if (savedEntries_.count(c.entry)) {
            ++summary_.filesListedTwice;
            continue;
        }
        if (view_.skipWhenSaving(c.entry)) {
            ++summary_.filesPassedOver;
            continue;
        }
        OutputFolder* folder = folderAt(*top, c.folders);
        if (!folder) {
            summary_.incomplete.push_back(trimBlanks(view_.label(c.entry)));
            continue;
        }
        sinks_.status.setText(kSavingFile + (folder->path() / safeHostName(trimBlanks(view_.label(c.entry)))).string());
        sinks_.secondStatus.setText(kFileSize + view_.sizeText(c.entry));
        saveInto(c.entry, *folder);
    }
    if (!saveStopRequested_.load()) sinks_.progress.setPosition(static_cast<std::int64_t>(count));
    finish(true);
    return FolderResult::Saved;
}

bool EntrySaver::saveSingleFile(EntryRef file, const std::string& outputField) {
    if (!view_.isEntry(file)) return false;
    const std::string field = trimBlanks(outputField);
    const fs::path output = field.empty() ? defaultOutputFolder() : fs::path(field);
    begin(output);
    summary_.filesFound = 1;
    auto folder = openOutput(output);
    const bool ok = folder && !saveInto(file, *folder).empty() && summary_.incomplete.empty();
    finish(false);
    return ok;
}

} // namespace vindaru
