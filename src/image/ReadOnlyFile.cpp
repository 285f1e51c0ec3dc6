#include "image/ReadOnlyFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vindaru {

ReadOnlyFile::~ReadOnlyFile() { close(); }

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), length_(std::exchange(other.length_, 0)) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        length_ = std::exchange(other.length_, 0);
    }
    return *this;
}

bool ReadOnlyFile::open(const std::string& path) {
    close();
    // Non-blocking for the open itself: a name that turns out to be a FIFO must not hang.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    // Only regular files and block devices have a length to map against; a descriptor naming
    // a pipe, a terminal or a folder names no extent.
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    length_ = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    if (S_ISBLK(st.st_mode)) {
        const off_t end = ::lseek(fd, 0, SEEK_END);
        length_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    }
    return true;
}

void ReadOnlyFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    length_ = 0;
}

std::int64_t ReadOnlyFile::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (fd_ < 0) return -1;
    constexpr std::uint64_t maxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    std::uint64_t done = 0;
    while (done < out.size()) {
        if (offset > maxOffset - done) break; // past any possible end of file
        const std::size_t want = std::min<std::size_t>(out.size() - done, std::size_t{1} << 30);
        const ssize_t got = ::pread(fd_, out.data() + done, want, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<std::uint64_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

bool ReadOnlyFile::readAtZeroFilled(std::uint64_t offset, std::span<std::uint8_t> out) const {
    const std::int64_t got = readAt(offset, out);
    const std::size_t filled = got > 0 ? static_cast<std::size_t>(got) : 0;
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(filled), out.end(), std::uint8_t{0});
    return got >= 0;
}

} // namespace vindaru
