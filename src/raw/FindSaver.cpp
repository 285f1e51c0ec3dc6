#include "raw/FindSaver.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

#include "raw/RawFileIo.h"
#include <system_error>
#include <unistd.h>
#include <vector>

#include "common/Md5.h"
#include "image/readWriteInterface.h"
#include "volume/VolumeSweep.h"

namespace vindaru {

namespace {

constexpr std::size_t kMaxNameBytes = 255;
// Enough distinct names for any number of saves of one find into one folder.
constexpr int kMaxNameAttempts = 100000;
constexpr std::uint64_t kCopyBytes = 1u << 20;


// "1048576.jpg" -> "1048576 (2).jpg"
std::string numbered(const std::string& base, int n) {
    if (n == 1) return base;
    const std::size_t dot = base.find('.');
    const std::string suffix = " (" + std::to_string(n) + ")";
    return dot == std::string::npos ? base + suffix : base.substr(0, dot) + suffix + base.substr(dot);
}

} // namespace

std::optional<FindSaver> FindSaver::open(const std::filesystem::path& folder) {
    if (folder.empty()) return std::nullopt;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    return FindSaver(fd, folder);
}

FindSaver::FindSaver(FindSaver&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

FindSaver::~FindSaver() {
    if (fd_ >= 0) ::close(fd_);
}

std::string FindSaver::baseName(std::uint64_t namedAfter, const std::string& extension) {
    // The extension comes from a settings file anyone may have written: one plain component.
    std::string ext;
    for (const char c : extension) {
        const auto u = static_cast<unsigned char>(c);
        ext.push_back(c == '/' || c == '\\' || u < 0x20 ? '_' : c);
    }
    std::string name = std::to_string(namedAfter);
    if (!ext.empty()) name += "." + ext;
    // Room for " (100000)".
    if (name.size() > kMaxNameBytes - 12) name.resize(kMaxNameBytes - 12);
    return name;
}

int FindSaver::createUnique(const std::string& base, std::string& name) const {
    for (int n = 1; n <= kMaxNameAttempts; ++n) {
        name = numbered(base, n);
        const int fd = ::openat(fd_, name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -1;
    }
    return -1;
}

bool FindSaver::readRange(const ByteSource& reader, std::uint64_t start, std::uint64_t size,
                          const std::function<bool(std::span<const std::uint8_t>)>& take) {
    const std::uint64_t diskEnd = reader.size();
    const std::uint64_t end = start >= diskEnd ? start : start + std::min(size, diskEnd - start);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(kCopyBytes, std::max<std::uint64_t>(end - start, 1))) +
                                     kSectorSize);
    bool ok = true;
    for (std::uint64_t at = start; at < end && ok;) {
        // Readers map whole sectors: read from the sector holding `at`, write what was asked.
        const std::uint64_t from = at - at % kSectorSize;
        const std::uint64_t want = std::min<std::uint64_t>(end - at, kCopyBytes);
        const std::uint64_t readBytes =
            std::min<std::uint64_t>((at - from + want + kSectorSize - 1) / kSectorSize * kSectorSize,
                                    buffer.size());
        ok = reader.readAt(from, std::span(buffer).first(static_cast<std::size_t>(readBytes))) &&
             take(std::span<const std::uint8_t>(buffer).subspan(static_cast<std::size_t>(at - from),
                                                                static_cast<std::size_t>(want)));
        at += want;
    }
    return ok;
}

std::string FindSaver::md5Of(const ByteSource& reader, std::uint64_t start, std::uint64_t size) {
    Md5 digest;
    const bool ok = readRange(reader, start, size, [&](std::span<const std::uint8_t> piece) {
        digest.update(piece);
        return true;
    });
    return ok ? digest.finishHex() : std::string();
}

std::string FindSaver::save(const ByteSource& reader, std::uint64_t start, std::uint64_t size,
                            const std::string& base) {
    std::string name;
    const int fd = createUnique(base, name);
    if (fd < 0) return {};
    const bool ok = readRange(reader, start, size, [&](std::span<const std::uint8_t> piece) {
        return writeAllTo(fd, piece.data(), piece.size());
    });
    ::close(fd);
    return ok ? name : std::string();
}

} // namespace vindaru
