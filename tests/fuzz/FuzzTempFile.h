// Puts a fuzz input into a temporary file, for the readers that take a path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace vindaru::fuzz {

class FuzzTempFile {
  public:
    FuzzTempFile(const std::uint8_t* data, std::size_t size, const char* suffix) {
        const char* tmp = std::getenv("TMPDIR");
        path_ = std::string(tmp ? tmp : "/tmp") + "/vindaru-fuzz-XXXXXX" + suffix;
        const int fd = ::mkstemps(path_.data(), static_cast<int>(std::string(suffix).size()));
        if (fd < 0) std::abort();
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::write(fd, data + done, size - done);
            if (n <= 0) std::abort();
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
    }
    ~FuzzTempFile() { ::unlink(path_.c_str()); }
    FuzzTempFile(const FuzzTempFile&) = delete;
    FuzzTempFile& operator=(const FuzzTempFile&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

} // namespace vindaru::fuzz
