#include "image/DiskExport.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include "common/ByteLoader.h"
#include "common/DisplayFormat.h"
#include "image/ExportPieces.h"

namespace vindaru {

namespace {

namespace fs = std::filesystem;

static_assert(DiskExport::kPieceBytes % ExportPieces::kGrain == 0);

constexpr std::uint64_t kMiB = 1ull << 20;
constexpr long double kGiB = 1073741824.0L;
constexpr const char* kRecoveredName = "Recovered_diskimg.img";

bool pathTaken(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

bool isDiskFull(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

// The target must never be one of the image's own files: the space check truncates the target.
// Any file the reader holds open (a VMDK's extents as much as the image itself) is open in this
// process, so the process's open files are compared with the target.
bool isImageFile(const std::string& imagePath, const std::string& target) {
    struct stat goal {};
    if (::stat(target.c_str(), &goal) != 0) return false;
    auto same = [&goal](const struct stat& st) {
        return st.st_dev == goal.st_dev && st.st_ino == goal.st_ino;
    };
    struct stat st {};
    if (::stat(imagePath.c_str(), &st) == 0 && same(st)) return true;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", ec)) {
        if (::stat(entry.path().c_str(), &st) == 0 && S_ISREG(st.st_mode) && same(st)) return true;
    }
    return false;
}

enum class SpaceCheck { Ok, CannotCreate, NoSpace };

// Room for `bytes` as the file system itself reports it (the space an unprivileged user may
// fill), or false when it does not say.
bool reportsRoomFor(int fd, std::uint64_t bytes) {
    struct statvfs vfs {};
    if (::fstatvfs(fd, &vfs) != 0 || vfs.f_frsize == 0) return false;
    std::uint64_t room = 0;
    if (!checkedMul(vfs.f_bavail, vfs.f_frsize, room)) return true;
    return room >= bytes;
}

// Tries to reserve `bytes` in the open file: 0 or the errno that refused it.
int reserve(int fd, std::uint64_t bytes) {
    if (bytes > static_cast<std::uint64_t>(INT64_MAX)) return EFBIG;
    if (::fallocate(fd, 0, 0, static_cast<off_t>(bytes)) == 0) return 0;
    const int error = errno;
    // File systems without fallocate at least get the size set.
    if (error == EOPNOTSUPP || error == ENOSYS)
        return ::ftruncate(fd, static_cast<off_t>(bytes)) == 0 ? 0 : errno;
    return error;
}

// Whether the file system of the empty file `fd` keeps holes: a file grown without writing then
// takes (next to) no blocks. A file system without them stores the zeros, as a FAT one does.
bool keepsHoles(int fd) {
    constexpr off_t kProbeBytes = 1 << 20;
    if (::ftruncate(fd, kProbeBytes) != 0) return false;
    struct stat st {};
    const bool holes = ::fstat(fd, &st) == 0 && st.st_blocks * 512 < kProbeBytes / 2;
    if (::ftruncate(fd, 0) != 0) return false;
    return holes;
}

// Whether the empty file `fd` may be as long as `bytes` (file systems cap a file's length).
bool canReachLength(int fd, std::uint64_t bytes) {
    if (bytes > static_cast<std::uint64_t>(INT64_MAX) || ::ftruncate(fd, static_cast<off_t>(bytes)) != 0) return false;
    return ::ftruncate(fd, 0) == 0;
}

// Creates a file of the target's name, makes sure the export of the first `total` bytes of
// `disk` fits, and removes it again. Where the file system reports room for the whole disk that
// is taken as the answer; otherwise the room the export needs there (spaceNeeded) is asked of
// the report and then really reserved, which is the definite test (on memory-backed file
// systems the reservation would cost as much as writing the data, so it is not done
// needlessly). Failures other than a full disk are not the space check's business.
SpaceCheck checkSpace(const std::string& target, const ByteSource& disk, std::uint64_t total) {
    const int fd =
        ::open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return SpaceCheck::CannotCreate;
    bool fits = total == 0 || reportsRoomFor(fd, total);
    if (!fits) {
        const bool holes = keepsHoles(fd);
        const std::uint64_t needed = DiskExport::spaceNeeded(disk, total, holes);
        // Holes take no room, but the file must still be allowed the disk's length.
        fits = (!holes || canReachLength(fd, total)) &&
               (needed == 0 || reportsRoomFor(fd, needed) || !isDiskFull(reserve(fd, needed)));
    }
    ::close(fd);
    ::unlink(target.c_str());
    return fits ? SpaceCheck::Ok : SpaceCheck::NoSpace;
}

void reportWriteError(int error, MessageSink& messages) {
    if (isDiskFull(error))
        messages.info("Insufficient Disk Space in saving Location");
    else
        messages.info(formatText("Error %d while writing in File", error));
}

struct CopyOutcome {
    std::uint64_t copied = 0;
    bool failed = false;
    bool stopped = false;
    ReadReport damage;
};

// The copy loop: piece by piece, status after each, progress every 10 MiB, stop polled after
// every piece.
CopyOutcome copyPieces(const readWriteInterface& reader, int fd, std::uint64_t total, StatusSink& status,
                       ProgressSink& progress, MessageSink& messages, EngineControl& control) {
    CopyOutcome outcome;
    progress.setRange(0, static_cast<std::int64_t>(total / kSectorSize));
    progress.setPosition(0);
    ExportPieces pieces(reader, total, DiskExport::kPieceBytes);
    while (outcome.copied < total) {
        const ExportPieces::Piece piece = pieces.next();
        if (!piece.ok) {
            status.setText(formatText("Exit with error number %d", piece.error));
            outcome.failed = true;
            break;
        }
        if (piece.damage)
            for (const ByteRange& r : piece.damage->ranges())
                outcome.damage.addUnreadable(r.offset, r.length, r.reason);
        if (const int error = ExportPieces::write(fd, piece); error != 0) {
            reportWriteError(error, messages);
            outcome.failed = true;
            break;
        }
        const std::uint64_t before = outcome.copied;
        outcome.copied += piece.size;
        if (control.shouldStop()) {
            control.stopRequested.acknowledge();
            outcome.stopped = true;
            break;
        }
        // Every 10 MiB: at each multiple for pieces of 5 MiB, once for a run of hole pieces.
        if (outcome.copied / DiskExport::kProgressStep != before / DiskExport::kProgressStep)
            progress.setPosition(static_cast<std::int64_t>(outcome.copied / kSectorSize));
        status.setText(DiskExport::progressText(outcome.copied, total));
    }
    return outcome;
}

// Sets the target's length to the bytes copied (holes at the end were never written) and
// closes it; false, with the message, when that fails and `report` is set.
bool closeTarget(int fd, std::uint64_t length, bool report, MessageSink& messages) {
    bool ok = ::ftruncate(fd, static_cast<off_t>(length)) == 0;
    if (!ok && report) reportWriteError(errno, messages);
    if (::close(fd) != 0 && ok) {
        ok = false;
        if (report) reportWriteError(errno, messages);
    }
    return ok;
}

// Holds the session values the export owns while it runs and gives them back however it ends.
class ExportCleanup {
  public:
    explicit ExportCleanup(Session& session) : session_(session) {}
    ~ExportCleanup() {
        session_.clearReader();
        session_.diskSectorCount = 0;
        session_.exportRunning = false;
    }
    ExportCleanup(const ExportCleanup&) = delete;
    ExportCleanup& operator=(const ExportCleanup&) = delete;

  private:
    Session& session_;
};

constexpr const char* kSavedStatus = "Image Saved,Choose any one of the mode and click next.";

// The closing status: "Image Saved" only for a file that holds the whole disk.
std::string endStatus(const ExportResult& r, std::uint64_t needed) {
    if (r.completed && r.damage.damaged())
        return formatText("Image saved with %s of unreadable ranges written as zeros.",
                          formatSizeText(r.damage.unreadableBytes()).c_str());
    if (r.completed) return kSavedStatus;
    const auto mb = [](std::uint64_t bytes) { return static_cast<unsigned long long>(bytes / kMiB); };
    if (r.path.empty()) return "Image not saved: no image file was written.";
    return formatText("Image not saved%s: only %llu MB of %llu MB are in the file.",
                      r.stopped ? " (stopped)" : "", mb(r.bytesWritten), mb(needed));
}

} // namespace

std::string DiskExport::chooseTarget(const std::string& folder, const std::string& imagePath) {
    std::string dir = folder;
    if (dir.empty() || dir.back() != '/') dir += '/';
    const auto slash = imagePath.rfind('/');
    const std::string name = slash == std::string::npos ? "" : imagePath.substr(slash + 1);
    // An image path that ends in a separator names no file: use the generic name as well.
    const std::string tail = name.empty() ? std::string(kRecoveredName) : name + ".img";
    std::string candidate = formatText("%s%s", dir.c_str(), tail.c_str());
    for (int n = 1; pathTaken(candidate); ++n)
        candidate = formatText("%s%d%s", dir.c_str(), n, tail.c_str());
    return candidate;
}

void DiskExport::prepareReader(Session& session, const ImageChoices& choices) {
    session.diskSectorCount = 0;
    session.clearReader();
    session.replaceReader(createReader(session, choices));
}

ExportResult DiskExport::run(Session& session, const ImageChoices& choices,
                             const std::string& imagePath, const std::string& exportPath,
                             StatusSink& status, ProgressSink& progress, MessageSink& messages,
                             EngineControl& control) {
    prepareReader(session, choices);
    return copy(session, imagePath, exportPath, status, progress, messages, control);
}

std::uint64_t DiskExport::spaceNeeded(const ByteSource& disk, std::uint64_t total, bool targetKeepsHoles) {
    if (!targetKeepsHoles) return total;
    // The export's own grains: it leaves a grain unwritten only when all of it is a hole, and
    // writes nothing past the disk's end (what "Size of HDD" adds there reads as zeros).
    constexpr std::uint64_t kGrain = ExportPieces::kGrain;
    const std::uint64_t last = std::min(total, disk.size());
    std::uint64_t stored = 0;
    for (std::uint64_t at = std::min(disk.nextData(0), last); at < last;) {
        const std::uint64_t start = at / kGrain * kGrain;
        const std::uint64_t end = start + std::min(kGrain, last - start);
        if (disk.isHole(start, end - start)) {
            at = std::max(end, std::min(disk.nextData(end), last));
            continue;
        }
        stored += end - start;
        at = end;
    }
    return stored;
}

std::string DiskExport::progressText(std::uint64_t copied, std::uint64_t total) {
    return formatText("%llu MB of %llu MB or %Lf GB of %Lf GB Saved",
                      static_cast<unsigned long long>(copied / kMiB),
                      static_cast<unsigned long long>(total / kMiB),
                      static_cast<long double>(copied) / kGiB,
                      static_cast<long double>(total) / kGiB);
}

ExportResult DiskExport::copy(Session& session, const std::string& imagePath,
                              const std::string& exportPath, StatusSink& status,
                              ProgressSink& progress, MessageSink& messages,
                              EngineControl& control) {
    ExportResult result;
    if (!session.sessionReader) {
        messages.info("Information lost, please click Back button and parse again");
        return result;
    }
    ExportCleanup cleanup(session);
    session.exportRunning = true;
    if (!openSessionReader(session, imagePath)) return result;
    // Taken after opening: reading as of an older layer puts that layer in the session's place.
    const readWriteInterface& reader = *session.sessionReader;

    std::uint64_t total = 0;
    if (!checkedMul(session.diskSectorCount, kSectorSize, total)) total = UINT64_MAX;
    result.diskBytes = total;
    // The disk's own size, whatever "Size of HDD" says: a copy shorter than it is no image of
    // the disk.
    std::uint64_t ownBytes = 0;
    if (!checkedMul(sessionDiskSectors(reader, 0), kSectorSize, ownBytes)) ownBytes = UINT64_MAX;

    if (isImageFile(imagePath, exportPath)) {
        messages.info("File cannot be Created");
        return result;
    }
    switch (checkSpace(exportPath, reader, total)) {
    case SpaceCheck::CannotCreate:
        messages.info("File cannot be Created");
        return result;
    case SpaceCheck::NoSpace:
        messages.info("Insufficient Disk Space in saving Location");
        return result;
    case SpaceCheck::Ok:
        break;
    }

    const int fd =
        ::open(exportPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        messages.info("Disk Image file cannot be created");
        status.setText(endStatus(result, total));
        return result;
    }
    result.path = exportPath;

    const CopyOutcome outcome = copyPieces(reader, fd, total, status, progress, messages, control);
    const bool closed = closeTarget(fd, outcome.copied, !outcome.failed, messages);
    result.bytesWritten = outcome.copied;
    result.stopped = outcome.stopped;
    result.damage = outcome.damage;
    const std::uint64_t needed = std::max(total, ownBytes);
    result.diskBytes = needed;
    result.completed = closed && !outcome.failed && !outcome.stopped && outcome.copied >= needed;
    if (closed && !outcome.failed && !outcome.stopped && !result.completed)
        messages.info(formatText("The disk image is incomplete: the disk holds %llu MB but only "
                                 "%llu MB were written, as \"Size of HDD\" says.",
                                 static_cast<unsigned long long>(needed / kMiB),
                                 static_cast<unsigned long long>(outcome.copied / kMiB)));
    if (result.damage.damaged())
        messages.info(formatText("%zu range%s of the disk (%s) could not be read: they are zeros in the image file.",
                                 result.damage.unreadableRanges().size(),
                                 result.damage.unreadableRanges().size() == 1 ? "" : "s",
                                 formatSizeText(result.damage.unreadableBytes()).c_str()));
    status.setText(endStatus(result, needed));
    return result;
}

} // namespace vindaru
