#include "browser/OutputFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vindaru {

namespace {

constexpr mode_t kFolderMode = 0755;
constexpr mode_t kFileMode = 0644;

int openFolderAt(int dirFd, const char* name, bool followLinks) {
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (!followLinks) flags |= O_NOFOLLOW;
    int fd;
    do {
        fd = ::openat(dirFd, name, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

std::optional<OutputFolder> OutputFolder::openChosen(const std::filesystem::path& path,
                                                     std::string* why) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    // The user's own choice may pass through links; only what we create below it may not.
    const int fd = openFolderAt(AT_FDCWD, path.c_str(), true);
    const int openError = errno;
    // A folder that opens but takes no files (read-only, or a kernel folder such as /proc)
    // would fail every file: it is refused at once.
    int writeError = 0;
    if (fd >= 0 && ::faccessat(fd, ".", W_OK, AT_EACCESS) == 0) {
        // Permissions do not bind every user, nor a read-only mount: an unnamed file tells.
        const int probe = ::openat(fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kFileMode);
        if (probe >= 0) ::close(probe);
        if (probe >= 0 || (errno != EROFS && errno != EACCES && errno != EPERM))
            return OutputFolder(fd, path);
    }
    writeError = errno;
    if (fd >= 0) ::close(fd);
    if (why) {
        if (fd >= 0)
            *why = std::strerror(writeError);
        else if (ec)
            *why = ec.message();
        else
            *why = std::strerror(openError);
    }
    return std::nullopt;
}

OutputFolder::OutputFolder(OutputFolder&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), names_(std::move(other.names_)) {
    other.fd_ = -1;
}

OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        names_ = std::move(other.names_);
        other.fd_ = -1;
    }
    return *this;
}

OutputFolder::~OutputFolder() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<OutputFolder> OutputFolder::subfolder(const std::string& name) const {
    if (::mkdirat(fd_, name.c_str(), kFolderMode) != 0 && errno != EEXIST) return std::nullopt;
    const int fd = openFolderAt(fd_, name.c_str(), false);
    if (fd < 0) return std::nullopt;
    return OutputFolder(fd, path_ / name);
}

int OutputFolder::createFile(const std::string& name) const {
    // O_NONBLOCK: a FIFO planted under the name must not hang the save; it is refused below.
    int fd;
    do {
        fd = ::openat(fd_, name.c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                      kFileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

bool OutputFolder::setTimes(const std::string& name, const EntryTimes& times) const {
    if (!times.known) return false;
    struct timespec ts[2];
    ts[0].tv_sec = static_cast<time_t>(times.accessSeconds);
    ts[0].tv_nsec = times.accessNanoseconds;
    ts[1].tv_sec = static_cast<time_t>(times.modificationSeconds);
    ts[1].tv_nsec = times.modificationNanoseconds;
    return ::utimensat(fd_, name.c_str(), ts, AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace vindaru
