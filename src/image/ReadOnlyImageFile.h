// One image file opened read-only, read by position. Images are never written, so the handle is
// opened O_RDONLY whatever the caller intends; positional reads leave no shared file pointer for
// a reader's cursor logic to trip over.
#pragma once

#include <cstdint>
#include <string>

namespace vindaru {

class ReadOnlyImageFile {
  public:
    ReadOnlyImageFile() = default;
    ~ReadOnlyImageFile();
    ReadOnlyImageFile(const ReadOnlyImageFile&) = delete;
    ReadOnlyImageFile& operator=(const ReadOnlyImageFile&) = delete;

    // Opens an existing regular file or block device for reading; false when it cannot (and for
    // anything else: folders, FIFOs, character devices).
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    std::uint64_t length() const { return length_; }

    // Reads up to `count` bytes at `offset`, retrying short reads; the bytes it could not read
    // (past the end of the file, or after an I/O error) are set to zero. Returns the number of
    // bytes read from the file; `ioError` tells whether a read failed (not just end of file).
    std::uint64_t readZeroFilled(std::uint64_t offset, void* out, std::uint64_t count,
                                 bool* ioError = nullptr) const;

  private:
    int fd_ = -1;
    std::uint64_t length_ = 0;
};

} // namespace vindaru
