#include "browser/EntrySaver.h"

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <exception>
#include <optional>
#include <unistd.h>
#include <vector>

#include "browser/EntryWalker.h"
#include "common/DisplayFormat.h"
#include "common/Md5.h"
#include "common/Sha256.h"

namespace vindaru {

namespace {

constexpr const char* kSelectOutputFolder = "select output folder";
constexpr const char* kFolderQuestion =
    "number of files found inside this folder = %lld .do u want to continue dumping these "
    "files..?";
constexpr const char* kSavingDone = "Saving process done";
constexpr const char* kSavingFile = "saving File  ";
constexpr const char* kFileSize = "File size: ";
constexpr const char* kException = "Exception :  %s   ";

bool writeAll(int fd, std::span<const std::uint8_t> data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data = data.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

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
                        bool whole, std::string md5, std::string sha256) {
    if (!report_) return;
    SavedFile saved;
    saved.entry = file;
    saved.folders = &folderPath_;
    saved.savedAs = savedAs;
    saved.bytesWritten = bytes;
    saved.readWhole = whole;
    saved.md5 = std::move(md5);
    saved.sha256 = std::move(sha256);
    report_(saved);
}

std::string EntrySaver::saveInto(EntryRef file, OutputFolder& folder) {
    const std::string name = folder.names().claim(safeHostName(trimBlanks(view_.label(file))));
    const int fd = folder.createFile(name);
    if (fd < 0) {
        report(file, {}, 0, false, {}, {});
        return {};
    }
    std::uint64_t bytes = 0;
    bool writesOk = true;
    bool readWhole = false;
    Md5 md5;
    Sha256 sha256;
    const bool hashing = static_cast<bool>(report_);
    try {
        readWhole = view_.writeContent(file, [&](std::span<const std::uint8_t> data) {
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
    if (hashing)
        report(file, folder.path() / name, bytes, readWhole && writesOk, md5.finishHex(), sha256.finishHex());
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
        if (!here) {
            if (!view_.skipWhenSaving(v.entry)) report(v.entry, {}, 0, false, {}, {});
            return false;
        }
        const std::string name = trimBlanks(view_.label(v.entry));
        sinks_.status.setText(kSavingFile + (here->path() / safeHostName(name)).string());
        sinks_.secondStatus.setText(kFileSize + view_.sizeText(v.entry));
        if (!view_.skipWhenSaving(v.entry)) saveInto(v.entry, *here);
        sinks_.secondStatus.setText("");
        return false;
    };
    auto leave = [&](EntryRef) {
        current.pop_back();
        folders.pop_back();
        folderPath_.pop_back();
    };
    auto stop = [&] { return saveStopRequested_.load(std::memory_order_relaxed); };
    folderPath_.clear();
    walker.walk(directory, visit, leave, stop);
    folderPath_.clear();
}

EntrySaver::FolderResult EntrySaver::saveFolder(EntryRef directory,
                                                const std::string& outputField) {
    saveStopRequested_.store(false);
    written_ = 0;
    if (outputField.empty()) {
        sinks_.messages.info(kSelectOutputFolder);
        return FolderResult::NoOutputFolder;
    }
    if (!view_.isEntry(directory) || !view_.isDirectoryForSave(directory, true))
        return FolderResult::NotADirectory;
    const std::uint64_t count = countFiles(directory);
    sinks_.progress.setRange(0, static_cast<std::int64_t>(count));
    if (!sinks_.messages.askYesNo(formatText(kFolderQuestion, static_cast<long long>(count))))
        return FolderResult::Declined;
    // A field of blanks only leaves no path: the default folder is used instead.
    const std::string field = trimBlanks(outputField);
    auto top = OutputFolder::openChosen(field.empty() ? defaultOutputFolder()
                                                      : std::filesystem::path(field));
    if (top) dump(directory, *top);
    sinks_.progress.setPosition(static_cast<std::int64_t>(count));
    sinks_.messages.info(kSavingDone);
    return FolderResult::Saved;
}

bool EntrySaver::saveSingleFile(EntryRef file, const std::string& outputField) {
    if (!view_.isEntry(file)) return false;
    folderPath_.clear();
    const std::string field = trimBlanks(outputField);
    auto folder = OutputFolder::openChosen(field.empty() ? defaultOutputFolder()
                                                         : std::filesystem::path(field));
    return folder && !saveInto(file, *folder).empty();
}

} // namespace vindaru
