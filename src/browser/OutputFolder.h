// A folder of the output tree, held open by descriptor so that everything saved into it is
// created relative to it: names are single components (see SafeName.h), sub-folders and files
// are opened without following symlinks, so a link planted in the output tree (or one a saved
// name could spell) never redirects a write.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "fs/parser/EntryView.h"
#include "browser/SafeName.h"

namespace vindaru {

class OutputFolder {
public:
    // The folder the user chose (created with its parents when missing). When it cannot be
    // created, opened or written into, nullopt, and `why` (if given) says why.
    static std::optional<OutputFolder> openChosen(const std::filesystem::path& path,
                                                  std::string* why = nullptr);

    OutputFolder(OutputFolder&& other) noexcept;
    OutputFolder& operator=(OutputFolder&& other) noexcept;
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;
    ~OutputFolder();

    // Creates (or reuses) the sub-folder `name`; nullopt when it cannot be created or is not a
    // real folder (a symlink, a file).
    std::optional<OutputFolder> subfolder(const std::string& name) const;
    // Creates or truncates the regular file `name` for writing; -1 on failure. The caller closes.
    int createFile(const std::string& name) const;
    // Sets access and modification times on `name` (not through a symlink).
    bool setTimes(const std::string& name, const EntryTimes& times) const;

    const std::filesystem::path& path() const { return path_; }
    // Distinct spellings for the names saved into this folder during one save.
    SavedNameSet& names() { return names_; }

private:
    OutputFolder(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}

    int fd_ = -1;
    std::filesystem::path path_;
    SavedNameSet names_;
};

} // namespace vindaru
