// One image file opened read-only, read by position. Images are never written, so the handle is
// opened O_RDONLY whatever the caller intends; positional reads leave no shared file pointer for
// a reader's cursor logic to trip over, and several cursors can share one descriptor. A file can
// also be bytes held in memory under a name (MemoryFiles), so the readers run without a file
// system in fuzzing and tests.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>

namespace vindaru {

// Image files held in memory by name; the bytes stay owned by the caller.
class MemoryFiles {
  public:
    void add(const std::string& name, std::span<const std::uint8_t> bytes) { files_[name] = bytes; }
    std::optional<std::span<const std::uint8_t>> find(const std::string& name) const {
        const auto it = files_.find(name);
        if (it == files_.end()) return std::nullopt;
        return it->second;
    }

  private:
    std::map<std::string, std::span<const std::uint8_t>> files_;
};

class ReadOnlyFile {
  public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;

    // Opens an existing regular file or block device for reading; false when it cannot (and for
    // anything else: folders, FIFOs, character devices). With `memory`, the name is looked up
    // there instead of on the file system.
    bool open(const std::string& path, const MemoryFiles* memory = nullptr);
    void close();
    bool isOpen() const { return fd_ >= 0 || inMemory_; }
    // Length at open time (images are not expected to change while read); a block device's
    // size as the kernel reports it.
    std::uint64_t length() const { return length_; }

    // Reads up to out.size() bytes at `offset`; stops early only at the end of the file.
    // Returns the byte count, or -1 on an I/O error. Bytes not read are left untouched.
    std::int64_t readAt(std::uint64_t offset, std::span<std::uint8_t> out) const;
    // As readAt, but fills whatever lies past the end of the file with zeros. False on error.
    bool readAtZeroFilled(std::uint64_t offset, std::span<std::uint8_t> out) const;
    // Reads up to `count` bytes at `offset`; the bytes it could not read (past the end of the
    // file, or after an I/O error) are set to zero. Returns the number of bytes read from the
    // file; `ioError` tells whether a read failed (not just end of file).
    std::uint64_t readZeroFilled(std::uint64_t offset, void* out, std::uint64_t count,
                                 bool* ioError = nullptr) const;

    // The first offset at or after `offset` that the file system holds data for: the end of a
    // hole of a sparse file (length() when only hole follows), `offset` itself where the file
    // system cannot tell or `offset` lies in data. Holes read as zeros.
    std::uint64_t nextDataAt(std::uint64_t offset) const;

    // The whole file (as long as it was at open) mapped read-only, for bulk copies that can use
    // the bytes where they lie; empty when it cannot be mapped. Mapped once, on the first call.
    std::span<const std::uint8_t> mapped() const;

  private:
    void unmap();

    int fd_ = -1;
    bool inMemory_ = false;
    std::span<const std::uint8_t> memory_;
    std::uint64_t length_ = 0;
    // The last data extent and hole nextDataAt learnt of, so that the many questions of a
    // sweep about one extent cost one lookup: [begin, end) each, empty at first.
    mutable std::mutex extentMutex_;
    mutable std::uint64_t dataBegin_ = 0, dataEnd_ = 0;
    mutable std::uint64_t holeBegin_ = 0, holeEnd_ = 0;
    mutable std::mutex mapMutex_;
    mutable bool mapTried_ = false;
    mutable std::span<const std::uint8_t> mapping_;
};

} // namespace vindaru
