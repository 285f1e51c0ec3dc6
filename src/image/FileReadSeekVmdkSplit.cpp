#include "image/FileReadSeekVmdkSplit.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <sys/resource.h>

#include "common/ByteLoader.h"
#include "common/TextConvert.h"
#include "image/ReadOnlyFile.h"

namespace vindaru {

namespace {

// Piece numbers beyond this are not taken for piece numbers (a name like disk-2026.vmdk still
// parses; a 30-digit run does not).
constexpr std::uint64_t kMaxPieceNumber = 999999999;
// Names listed in the one message about missing extent files; the rest are counted.
constexpr std::size_t kMissingNamesShown = 16;
// The longest gap in the numbers of a set that is taken for missing pieces of it.
constexpr std::uint64_t kMaxMissingPieces = 64;
// Descriptors left for the rest of the program beside the extents' own.
constexpr std::size_t kSpareFileDescriptors = 256;

namespace fs = std::filesystem;

struct NumberedName {
    std::string name;
    std::string prefix; // the text between the stem and the number
    std::string digits;
    std::uint64_t number = 0;
};

// "disk-s011.vmdk" with stem "disk-" is piece 11 with prefix "s".
std::optional<NumberedName> parseNumberedName(const std::string& name, const std::string& stem) {
    constexpr std::string_view ext = ".vmdk";
    if (name.size() < stem.size() + ext.size() || name.compare(0, stem.size(), stem) != 0) return std::nullopt;
    if (!equalsIgnoreCase(std::string_view(name).substr(name.size() - ext.size()), ext)) return std::nullopt;
    const std::string middle = name.substr(stem.size(), name.size() - stem.size() - ext.size());
    std::size_t d = middle.size();
    while (d > 0 && middle[d - 1] >= '0' && middle[d - 1] <= '9') --d;
    NumberedName n;
    n.name = name;
    n.prefix = middle.substr(0, d);
    n.digits = middle.substr(d);
    if (n.digits.empty() || n.digits.size() > 9) return std::nullopt;
    n.number = std::stoull(n.digits);
    if (n.number == 0 || n.number > kMaxPieceNumber) return std::nullopt;
    return n;
}

// The name a missing piece would have, modelled on a piece of the same set.
std::string missingPieceName(const std::string& stem, const NumberedName& model, std::uint64_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < model.digits.size()) digits.insert(0, model.digits.size() - digits.size(), '0');
    return stem + model.prefix + digits + model.name.substr(model.name.size() - 5);
}


} // namespace

FileReadSeekVmdkSplit::FileReadSeekVmdkSplit(Session& session) : FileReadSeekVmdk(session), session_(session) {}
FileReadSeekVmdkSplit::~FileReadSeekVmdkSplit() = default;

bool FileReadSeekVmdkSplit::open(const std::string& path) {
    disk_ = VmdkDisk{};
    opened_ = false;
    openError_.clear();
    const bool ok = descriptorMode ? openDescriptor(path) : openNumbered(path);
    if (!ok) return false;
    announceMissing();
    applyDescriptor();
    opened_ = true;
    return true;
}

// One message for the whole set, however many files are missing: a damaged descriptor can name
// thousands, and each would otherwise be a message box of its own.
void FileReadSeekVmdkSplit::announceMissing() {
    if (missingExtents().empty()) return;
    if (missingExtents().size() == 1) {
        session_.messages->info("extent file missing: " + missingExtents().front());
        return;
    }
    std::string text = "extent files missing: ";
    const std::size_t shown = std::min(missingExtents().size(), kMissingNamesShown);
    for (std::size_t i = 0; i < shown; ++i) text += (i ? ", " : "") + missingExtents()[i];
    if (shown < missingExtents().size())
        text += " and " + std::to_string(missingExtents().size() - shown) + " more";
    session_.messages->info(text);
}

// Every extent keeps its file open; a set of many extents may need more descriptors than the
// usual soft limit of 1024 allows, so the soft limit is raised towards the hard one.
void FileReadSeekVmdkSplit::reserveFileDescriptors(std::size_t extentCount) {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    const rlim_t wanted = static_cast<rlim_t>(extentCount) + kSpareFileDescriptors;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

bool FileReadSeekVmdkSplit::openDescriptor(const std::string& path) {
    ReadOnlyFile file;
    if (!file.open(path, memoryFiles)) {
        openError_ = "cannot be opened";
        return false;
    }
    if (file.length() > kVmdkMaxDescriptorFileBytes) {
        session_.messages->info("file size greater than 50 kb .possibly not a descriptor file");
        openError_ = "is larger than a descriptor file";
        return false;
    }
    std::string text(static_cast<std::size_t>(file.length()), '\0');
    const std::int64_t got = file.readAt(0, {reinterpret_cast<std::uint8_t*>(text.data()), text.size()});
    file.close();
    if (got <= 0) {
        openError_ = "cannot be read";
        return false;
    }
    text.resize(static_cast<std::size_t>(got));
    reserveFileDescriptors(parseVmdkDiskDescriptor(text).extents.size());
    return disk_.open(path, memoryFiles, false, openError_);
}

bool FileReadSeekVmdkSplit::openNumbered(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string chosen = path.substr(folder.size());
    const auto dash = chosen.find_last_of('-');
    if (dash == std::string::npos) {
        session_.messages->info(
            "Possibly not a split file . Go back and try without checking the split check box");
        return false;
    }
    const std::string stem = chosen.substr(0, dash + 1);
    const auto chosenName = parseNumberedName(chosen, stem);
    const std::string chosenPrefix = chosenName ? chosenName->prefix : std::string();

    // Every numbered piece of the set by its number; of several with one number, those named
    // like the chosen file come first, then by name, so the choice never depends on the order
    // of the directory listing.
    std::map<std::uint64_t, std::vector<NumberedName>> pieces;
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec), end;
         !ec && it != end; it.increment(ec)) {
        if (auto n = parseNumberedName(it->path().filename().string(), stem))
            pieces[n->number].push_back(std::move(*n));
    }
    for (auto& [number, names] : pieces) {
        std::sort(names.begin(), names.end(), [&](const NumberedName& a, const NumberedName& b) {
            const bool aLike = a.prefix == chosenPrefix, bLike = b.prefix == chosenPrefix;
            return aLike != bLike ? aLike : a.name < b.name;
        });
    }

    reserveFileDescriptors(pieces.size());
    if (pieces.empty()) {
        openError_ = "is not a numbered piece of a split set";
        return false;
    }
    // A missing piece keeps its place: it is as long as the pieces of the set usually are (the
    // first that opens), and the pieces after it stay where they belong.
    const bool flat = equalsIgnoreCase(extentTypeChoice, "FLAT");
    // The set ends at its last piece that no longer gap than kMaxMissingPieces parts from the
    // one before; a piece numbered far beyond is not taken for part of it.
    std::uint64_t last = 0;
    for (const auto& [number, names] : pieces) {
        if (number - last - 1 > kMaxMissingPieces) break;
        last = number;
    }
    std::uint64_t pieceSectors = 0;
    for (const auto& [number, names] : pieces) {
        VmdkDisk probe;
        std::string error;
        if (probe.appendFile(folder + names.front().name, memoryFiles, flat, error)) {
            pieceSectors = probe.size() / kSectorSize;
            break;
        }
    }
    for (std::uint64_t n = 1; n <= last; ++n) {
        const auto it = pieces.find(n);
        std::string error;
        if (it != pieces.end() && disk_.appendFile(folder + it->second.front().name, memoryFiles, flat, error))
            continue;
        disk_.appendMissing(it != pieces.end() ? it->second.front().name
                                               : missingPieceName(stem, pieces.upper_bound(n)->second.front(), n),
                            pieceSectors);
    }
    return disk_.extentCount() != 0;
}

} // namespace vindaru
