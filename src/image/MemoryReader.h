// A reader over bytes held in memory, read one-to-one like a flat disk. Fuzz targets and unit
// tests use it to put synthetic volumes under the parsers without a file.
#pragma once

#include <algorithm>
#include <vector>

#include "image/readWriteInterface.h"

namespace vindaru {

class MemoryReader : public readWriteInterface {
  public:
    MemoryReader() = default;
    explicit MemoryReader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
        imageLength = bytes_.size();
    }

    bool open(const std::string&) override { return true; }

    bool seek(std::int64_t position, int) override {
        if (position < 0) return false;
        cursor_ = baseOffset + static_cast<std::uint64_t>(position);
        return true;
    }

    // Bytes past the end read as zeros, like a hole; the read fails only when it starts past it.
    bool read(void* buffer, std::uint64_t length) override {
        auto* out = static_cast<std::uint8_t*>(buffer);
        const bool ok = cursor_ < bytes_.size() || length == 0;
        copyOut(cursor_, out, length);
        cursor_ += length;
        return ok;
    }

    bool readAt(std::uint64_t position, std::span<std::uint8_t> out) override {
        const std::uint64_t at = baseOffset + position;
        copyOut(at, out.data(), out.size());
        return at < bytes_.size() || out.empty();
    }

    std::uint64_t capacity() const override { return bytes_.size(); }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  private:
    void copyOut(std::uint64_t at, std::uint8_t* out, std::uint64_t length) const {
        std::fill(out, out + length, 0);
        if (at >= bytes_.size()) return;
        const std::uint64_t n = std::min<std::uint64_t>(length, bytes_.size() - at);
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at), n, out);
    }

    std::vector<std::uint8_t> bytes_;
    std::uint64_t cursor_ = 0;
};

} // namespace vindaru
