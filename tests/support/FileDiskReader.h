// A raw disk file read one-to-one, for the acceptance tests on unpacked corpus disks. Bytes
// past the end read as zeros; a read that starts past the end fails, like MemoryReader.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "image/readWriteInterface.h"

namespace vindaru::test {

class FileDiskReader : public readWriteInterface {
public:
    ~FileDiskReader() override {
        if (fd_ >= 0) ::close(fd_);
    }
    bool open(const std::string& path) override {
        fd_ = ::open(path.c_str(), O_RDONLY);
        struct stat st {};
        if (fd_ < 0 || fstat(fd_, &st) != 0) return false;
        imageLength = static_cast<std::uint64_t>(st.st_size);
        return true;
    }
    bool seek(std::int64_t position, int) override {
        cursor_ = static_cast<std::uint64_t>(position);
        return position >= 0;
    }
    bool read(void* buffer, std::uint64_t length) override {
        const bool ok = readAt(cursor_, std::span(static_cast<std::uint8_t*>(buffer), length));
        cursor_ += length;
        return ok;
    }

    std::uint64_t capacity() const override { return imageLength; }

protected:
    bool readRange(std::uint64_t at, std::span<std::uint8_t> out, ReadReport*) const override {
        std::fill(out.begin(), out.end(), 0);
        std::size_t done = 0;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), imageLength - at));
        while (done < want) {
            const ssize_t n = ::pread(fd_, out.data() + done, want - done, static_cast<off_t>(at + done));
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int fd_ = -1;
    std::uint64_t cursor_ = 0;
};

} // namespace vindaru::test
