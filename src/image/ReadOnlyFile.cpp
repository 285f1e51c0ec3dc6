#include "image/ReadOnlyFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vindaru {

namespace {
// One pread never asks for more than this, so the size always fits ssize_t and the kernel's
// own per-call cap.
constexpr std::uint64_t kMaxReadPerCall = 1u << 30;

std::uint64_t blockDeviceBytes(int fd) {
    std::uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) == 0) return bytes;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    return end > 0 ? static_cast<std::uint64_t>(end) : 0;
}
} // namespace

ReadOnlyFile::~ReadOnlyFile() { close(); }

// A moved file is mapped again on demand; the mapping stays with (and dies with) the original.
ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), inMemory_(std::exchange(other.inMemory_, false)),
      memory_(std::exchange(other.memory_, {})), length_(std::exchange(other.length_, 0)) {
    other.unmap();
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        close();
        other.unmap();
        fd_ = std::exchange(other.fd_, -1);
        inMemory_ = std::exchange(other.inMemory_, false);
        memory_ = std::exchange(other.memory_, {});
        length_ = std::exchange(other.length_, 0);
    }
    return *this;
}

bool ReadOnlyFile::open(const std::string& path, const MemoryFiles* memory) {
    close();
    if (memory != nullptr) {
        const auto bytes = memory->find(path);
        if (!bytes) return false;
        inMemory_ = true;
        memory_ = *bytes;
        length_ = bytes->size();
        return true;
    }
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
    length_ = S_ISBLK(st.st_mode) ? blockDeviceBytes(fd)
                                  : (st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0);
    return true;
}

void ReadOnlyFile::unmap() {
    if (!mapping_.empty())
        ::munmap(const_cast<std::uint8_t*>(mapping_.data()), mapping_.size());
    mapping_ = {};
    mapTried_ = false;
}

std::uint64_t ReadOnlyFile::nextDataAt(std::uint64_t offset) const {
    if (inMemory_ || fd_ < 0 || offset >= length_ ||
        offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return offset;
    std::lock_guard lock(extentMutex_);
    if (offset >= dataBegin_ && offset < dataEnd_) return offset;
    if (offset >= holeBegin_ && offset < holeEnd_) return holeEnd_;
    // lseek moves the descriptor's position, which no read here uses (they are all pread).
    const off_t data = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0) {
        if (errno != ENXIO) return offset; // the file system cannot tell
        holeBegin_ = offset, holeEnd_ = length_; // nothing but hole to the end
        return length_;
    }
    const std::uint64_t at = std::clamp<std::uint64_t>(static_cast<std::uint64_t>(data), offset, length_);
    if (at > offset) holeBegin_ = offset, holeEnd_ = at;
    if (at < length_) {
        const off_t hole = ::lseek(fd_, static_cast<off_t>(at), SEEK_HOLE);
        if (hole > data) dataBegin_ = at, dataEnd_ = std::min<std::uint64_t>(static_cast<std::uint64_t>(hole), length_);
    }
    return at;
}

std::span<const std::uint8_t> ReadOnlyFile::mapped() const {
    if (inMemory_) return memory_;
    std::lock_guard lock(mapMutex_);
    if (mapTried_ || fd_ < 0 || length_ == 0) return mapping_;
    mapTried_ = true;
    void* at = ::mmap(nullptr, static_cast<std::size_t>(length_), PROT_READ, MAP_SHARED, fd_, 0);
    if (at == MAP_FAILED) return mapping_;
    ::madvise(at, static_cast<std::size_t>(length_), MADV_SEQUENTIAL);
    mapping_ = {static_cast<const std::uint8_t*>(at), static_cast<std::size_t>(length_)};
    return mapping_;
}

void ReadOnlyFile::close() {
    unmap();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    inMemory_ = false;
    memory_ = {};
    length_ = 0;
}

std::int64_t ReadOnlyFile::readAt(std::uint64_t offset, std::span<std::uint8_t> out) const {
    if (!isOpen()) return -1;
    const std::uint64_t available = offset < length_ ? length_ - offset : 0;
    const std::uint64_t wanted = std::min<std::uint64_t>(out.size(), available);
    if (inMemory_) {
        if (wanted != 0) std::memcpy(out.data(), memory_.data() + offset, static_cast<std::size_t>(wanted));
        return static_cast<std::int64_t>(wanted);
    }
    constexpr auto maxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    std::uint64_t done = 0;
    while (done < wanted) {
        if (offset > maxOffset - done) break; // past any possible end of file
        const std::uint64_t want = std::min(wanted - done, kMaxReadPerCall);
        const ssize_t got = ::pread(fd_, out.data() + done, static_cast<std::size_t>(want),
                                    static_cast<off_t>(offset + done));
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

std::uint64_t ReadOnlyFile::readZeroFilled(std::uint64_t offset, void* out, std::uint64_t count,
                                           bool* ioError) const {
    auto* bytes = static_cast<std::uint8_t*>(out);
    const std::int64_t got = isOpen() ? readAt(offset, {bytes, static_cast<std::size_t>(count)}) : 0;
    const std::uint64_t done = got > 0 ? static_cast<std::uint64_t>(got) : 0;
    if (done < count) std::memset(bytes + done, 0, static_cast<std::size_t>(count - done));
    if (ioError) *ioError = got < 0;
    return done;
}

} // namespace vindaru
