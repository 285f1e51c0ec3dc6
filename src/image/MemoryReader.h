// A reader over bytes held in memory, read one-to-one like a flat disk. Fuzz targets and unit
// tests use it to put synthetic volumes under the parsers without a file. The disk may be larger
// than what is held: pieces of bytes are placed at offsets, and everything else reads as zeros
// and is reported as a hole, so a scan need not read it.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <span>
#include <vector>

#include "image/readWriteInterface.h"

namespace vindaru {

class MemoryReader : public readWriteInterface {
  public:
    MemoryReader() = default;
    explicit MemoryReader(std::vector<std::uint8_t> bytes) : capacity_(bytes.size()) {
        imageLength = bytes.size();
        if (!bytes.empty()) pieces_.emplace(0, std::move(bytes));
    }
    // A disk of `capacity` bytes, all zeros until pieces are placed.
    explicit MemoryReader(std::uint64_t capacity) : capacity_(capacity) { imageLength = capacity; }

    // Puts `bytes` at disk offset `at` (cut at the disk's end); pieces are not to overlap.
    void place(std::uint64_t at, std::span<const std::uint8_t> bytes) {
        if (at >= capacity_ || bytes.empty()) return;
        const std::uint64_t n = std::min<std::uint64_t>(bytes.size(), capacity_ - at);
        pieces_[at].assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    }

    bool open(const std::string&) override { return true; }

    bool seek(std::int64_t position, int) override {
        if (position < 0) return false;
        cursor_ = static_cast<std::uint64_t>(position);
        return true;
    }

    // Bytes past the end read as zeros, like a hole; the read fails only when it starts past it.
    bool read(void* buffer, std::uint64_t length) override {
        auto* out = static_cast<std::uint8_t*>(buffer);
        const bool ok = cursor_ < capacity_ || length == 0;
        copyOut(cursor_, out, length);
        cursor_ += length;
        return ok;
    }

    bool isHole(std::uint64_t at, std::uint64_t length) const override {
        if (length == 0 || at + length < at) return false;
        // The last piece starting before the range's end is the only one that can reach into it.
        auto it = pieces_.lower_bound(at + length);
        if (it == pieces_.begin()) return true;
        --it;
        return it->first + it->second.size() <= at;
    }

    std::uint64_t nextData(std::uint64_t at) const override {
        if (at >= capacity_) return at;
        // The piece that holds `at`, or else the first that starts after it.
        auto it = pieces_.upper_bound(at);
        if (it != pieces_.begin() && std::prev(it)->first + std::prev(it)->second.size() > at) return at;
        return it == pieces_.end() ? capacity_ : std::min(it->first, capacity_);
    }

    std::uint64_t capacity() const override { return capacity_; }

    // The bytes from the start of the disk to the end of the first piece (all of a disk made
    // from one vector).
    const std::vector<std::uint8_t>& bytes() const {
        static const std::vector<std::uint8_t> none;
        return pieces_.empty() || pieces_.begin()->first != 0 ? none : pieces_.begin()->second;
    }

  protected:
    bool readRange(std::uint64_t at, std::span<std::uint8_t> out, ReadReport*) const override {
        copyOut(at, out.data(), out.size());
        return true;
    }

  private:
    // Zeros where no piece lies, the pieces' bytes where they do (memset and memcpy: a scan of
    // a fuzzed volume copies megabytes per input).
    void copyOut(std::uint64_t at, std::uint8_t* out, std::uint64_t length) const {
        if (length == 0) return;
        if (at + length < at) {
            std::memset(out, 0, length);
            return;
        }
        std::uint64_t done = 0; // bytes of out filled so far
        auto it = pieces_.upper_bound(at);
        if (it != pieces_.begin()) --it;
        for (; it != pieces_.end() && it->first < at + length; ++it) {
            const std::uint64_t begin = std::max(at, it->first);
            const std::uint64_t end = std::min(at + length, it->first + it->second.size());
            if (begin >= end) continue;
            if (begin - at > done) std::memset(out + done, 0, begin - at - done);
            std::memcpy(out + (begin - at), it->second.data() + (begin - it->first), end - begin);
            done = end - at;
        }
        if (done < length) std::memset(out + done, 0, length - done);
    }

    std::map<std::uint64_t, std::vector<std::uint8_t>> pieces_;
    std::uint64_t capacity_ = 0;
    std::uint64_t cursor_ = 0;
};

} // namespace vindaru
