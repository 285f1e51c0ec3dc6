// A file opened read-only for positional reads. Images are never opened for writing; reads go
// through pread so that several logical cursors can share one descriptor.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vindaru {

class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;

    bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    // Length at open time (images are not expected to change while read).
    std::uint64_t length() const { return length_; }

    // Reads up to out.size() bytes at `offset`; stops early only at the end of the file.
    // Returns the byte count, or -1 on an I/O error. Bytes not read are left untouched.
    std::int64_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const;
    // As readAt, but fills whatever lies past the end of the file with zeros. False on error.
    bool readAtZeroFilled(std::uint64_t offset, std::span<std::uint8_t> out) const;

private:
    int fd_ = -1;
    std::uint64_t length_ = 0;
};

} // namespace vindaru
