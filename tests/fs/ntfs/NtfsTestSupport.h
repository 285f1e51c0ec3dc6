// Shared by the NTFS tests: a raw image file as a disk, the corpus expectations, a whole
// Standard scan, and the paths of everything the scan reached.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fs/ntfs/ntfs.h"
#include "image/readWriteInterface.h"

namespace vindaru::test {

// A raw image file read with pread: bytes past the end read as zeros, a read that starts past
// the end fails (as a hole-less flat disk behaves).
class RawFileReader : public readWriteInterface {
public:
    ~RawFileReader() override {
        if (fd_ >= 0) ::close(fd_);
    }
    bool open(const std::string& path) override {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return false;
        imageLength = static_cast<std::uint64_t>(::lseek(fd_, 0, SEEK_END));
        return true;
    }
    bool seek(std::int64_t position, int) override {
        if (position < 0) return false;
        cursor_ = static_cast<std::uint64_t>(position);
        return true;
    }
    bool read(void* buffer, std::uint64_t length) override {
        const bool ok = readAt(cursor_, std::span(static_cast<std::uint8_t*>(buffer), length));
        cursor_ += length;
        return ok;
    }
    bool readAt(std::uint64_t position, std::span<std::uint8_t> out) override {
        const std::uint64_t at = baseOffset + position;
        std::fill(out.begin(), out.end(), 0);
        if (at >= imageLength) return out.empty();
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(at + done));
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int fd_ = -1;
    std::uint64_t cursor_ = 0;
};

// One row of NAME.expected.tsv (both the generated and the external layout).
struct ExpectedRow {
    std::uint64_t startSector = 0;
    std::string fsType;
    std::string path; // always with a leading '/'
    bool isDir = false;
    bool isDeleted = false;
    std::uint64_t size = 0;
    std::string md5;
};

std::vector<ExpectedRow> loadExpected(const std::filesystem::path& tsv);

// What a Standard scan reached, by '/'-joined path from the root (ORPHAN_ENTRY's children under
// "/ORPHAN_ENTRY/"); every entry once.
struct ScannedVolume {
    std::unique_ptr<RawFileReader> reader;
    std::unique_ptr<ntfs> parser;
    std::map<std::string, std::uint64_t> paths;
};

std::unique_ptr<ScannedVolume> scanImage(const std::filesystem::path& image, std::uint64_t startSector);
void collectPaths(ntfs& parser, std::map<std::string, std::uint64_t>& paths);

// md5 of what saveEntry writes, for many entries at once (one md5sum process).
std::map<std::uint64_t, std::string> savedMd5s(ntfs& parser, const std::vector<std::uint64_t>& indexes);

} // namespace vindaru::test
