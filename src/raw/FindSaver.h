// Writes carved finds into the folder the user chose: one file per find, named after its item
// text ("1048576.jpg"), made safe for the host, and never over a file already there (the next
// free "1048576 (2).jpg" is taken instead). Files are created relative to the folder's
// descriptor, exclusively and without following symlinks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <optional>
#include <string>

#include "image/ByteSource.h"

namespace vindaru {

class FindSaver {
public:
    // The chosen folder, created with its parents when missing; nullopt when it cannot be.
    static std::optional<FindSaver> open(const std::filesystem::path& folder);
    FindSaver(FindSaver&& other) noexcept;
    FindSaver& operator=(FindSaver&&) = delete;
    FindSaver(const FindSaver&) = delete;
    ~FindSaver();

    // "<position>.<extension>", with the extension's unsafe characters replaced.
    static std::string baseName(std::uint64_t namedAfter, const std::string& extension);

    // Copies `size` bytes from `start` (cut at the disk's end) into a new file; the name
    // written, or an empty text when nothing could be written.
    std::string save(const ByteSource& reader, std::uint64_t start, std::uint64_t size,
                     const std::string& baseName);

    const std::filesystem::path& path() const { return path_; }

    // Hands `size` bytes from `start` (cut at the disk's end) to `take`, a piece at a time;
    // false when a read fails or `take` says stop.
    static bool readRange(const ByteSource& reader, std::uint64_t start, std::uint64_t size,
                          const std::function<bool(std::span<const std::uint8_t>)>& take);
    // The MD5 of those bytes, or an empty text when they cannot be read.
    static std::string md5Of(const ByteSource& reader, std::uint64_t start, std::uint64_t size);

private:
    FindSaver(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    int createUnique(const std::string& baseName, std::string& name) const;

    int fd_ = -1;
    std::filesystem::path path_;
};

} // namespace vindaru
