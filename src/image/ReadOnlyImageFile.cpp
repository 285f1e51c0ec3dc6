#include "image/ReadOnlyImageFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vindaru {

namespace {
// One pread never asks for more than this, so the size always fits ssize_t and the kernel's
// own per-call cap.
constexpr std::uint64_t kMaxReadPerCall = 1u << 30;
} // namespace

ReadOnlyImageFile::~ReadOnlyImageFile() {
    close();
}

bool ReadOnlyImageFile::open(const std::string& path) {
    close();
    // Non-blocking so that a FIFO given as an image cannot hang the open; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
        ::close(fd);
        return false;
    }
    std::uint64_t length = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    if (S_ISBLK(st.st_mode)) {
        std::uint64_t deviceBytes = 0;
        if (::ioctl(fd, BLKGETSIZE64, &deviceBytes) == 0) length = deviceBytes;
    }
    fd_ = fd;
    length_ = length;
    return true;
}

void ReadOnlyImageFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    length_ = 0;
}

std::uint64_t ReadOnlyImageFile::readZeroFilled(std::uint64_t offset, void* out,
                                                std::uint64_t count, bool* ioError) const {
    auto* bytes = static_cast<std::uint8_t*>(out);
    std::uint64_t done = 0;
    bool failed = false;
    const std::uint64_t available = offset < length_ ? length_ - offset : 0;
    while (fd_ >= 0 && done < count && done < available &&
           offset + done <= static_cast<std::uint64_t>(LLONG_MAX)) {
        const std::uint64_t want = std::min({count - done, kMaxReadPerCall, available - done});
        const ssize_t got = ::pread(fd_, bytes + done, want, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) failed = true;
        if (got <= 0) break;
        done += static_cast<std::uint64_t>(got);
    }
    if (done < count) std::memset(bytes + done, 0, count - done);
    if (ioError) *ioError = failed;
    return done;
}

} // namespace vindaru
