#include "image/FileReadSeekVmdkSplit.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <sys/resource.h>

#include "common/ByteLoader.h"
#include "common/TextConvert.h"
#include "image/ReadOnlyFile.h"

namespace vindaru {

namespace {

constexpr std::uint64_t kSector = kSectorSize;
// Piece numbers beyond this are not taken for piece numbers (a name like disk-2026.vmdk still
// parses; a 30-digit run does not).
constexpr std::uint64_t kMaxPieceNumber = 999999999;
// Names listed in the one message about missing extent files; the rest are counted.
constexpr std::size_t kMissingNamesShown = 16;
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

std::string descriptorFolder(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

} // namespace

FileReadSeekVmdkSplit::FileReadSeekVmdkSplit(Session& session) : session_(session) {}
FileReadSeekVmdkSplit::~FileReadSeekVmdkSplit() = default;

// ---------------------------------------------------------------------------------------------
// Open

bool FileReadSeekVmdkSplit::open(const std::string& path) {
    current_ = nullptr;
    opened_ = false;
    beyondEnd_ = false;
    const bool ok = descriptorMode ? openDescriptor(path) : openNumbered(path);
    starts_.clear();
    return ok;
}

// One message for the whole set, however many files are missing: a damaged descriptor can name
// thousands, and each would otherwise be a message box of its own.
void FileReadSeekVmdkSplit::announceMissing() {
    if (missingExtents_.empty()) return;
    if (missingExtents_.size() == 1) {
        session_.messages->info("extent file missing: " + missingExtents_.front());
        return;
    }
    std::string text = "extent files missing: ";
    const std::size_t shown = std::min(missingExtents_.size(), kMissingNamesShown);
    for (std::size_t i = 0; i < shown; ++i) text += (i ? ", " : "") + missingExtents_[i];
    if (shown < missingExtents_.size())
        text += " and " + std::to_string(missingExtents_.size() - shown) + " more";
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
    declaredSectors_ = 0;
    ReadOnlyFile file;
    if (!file.open(path, memoryFiles)) return false;
    imageLength = file.length();
    if (imageLength > kVmdkMaxDescriptorFileBytes) {
        session_.messages->info("file size greater than 50 kb .possibly not a descriptor file");
        return false;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(imageLength));
    const std::int64_t got = file.readAt(0, bytes);
    if (got <= 0) return false;
    descriptorText.assign(bytes.begin(), bytes.begin() + got);

    VmdkDescriptorFile parsed = parseVmdkDescriptorFile(descriptorText);
    if (!parsed.extentTypeChoice.empty()) extentTypeChoice = parsed.extentTypeChoice;
    for (auto& record : parsed.extents) {
        if (extentTypeChoice == "FLAT")
            declaredSectors_ = saturatingAdd(declaredSectors_, record.sectors);
        extents.push_back(std::move(record));
    }

    const std::string folder = descriptorFolder(path);
    reserveFileDescriptors(extents.size());
    for (const auto& record : extents) {
        std::string name = record.extentFile;
        std::replace(name.begin(), name.end(), '\\', '/');
        auto reader = std::make_unique<FileReadSeekVmdk>(session_);
        reader->memoryFiles = memoryFiles;
        reader->extents.push_back(record);
        if (reader->open(folder + name)) {
            extentReaders.push_back(std::move(reader));
        } else {
            missingExtents_.push_back(record.extentFile);
        }
    }
    announceMissing();
    // A flat set's size is what its descriptor lines say; a sparse one's what its extents hold.
    if (extentTypeChoice != "FLAT") {
        for (const auto& reader : extentReaders)
            declaredSectors_ = saturatingAdd(declaredSectors_, reader->capacitySectors());
    }
    opened_ = true;
    return true;
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
    for (std::uint64_t n = 1;; ++n) {
        const auto it = pieces.find(n);
        if (it == pieces.end()) {
            // A later piece without this one: the set has a gap, and the disk ends before it.
            const auto later = pieces.upper_bound(n);
            if (later != pieces.end()) missingExtents_.push_back(missingPieceName(stem, later->second.front(), n));
            break;
        }
        const NumberedName& piece = it->second.front();
        auto reader = std::make_unique<FileReadSeekVmdk>(session_);
        reader->extentTypeChoice = extentTypeChoice;
        VmdkExtentRecord record;
        record.extentType = extentTypeChoice;
        reader->extents.push_back(record);
        if (!reader->open(folder + piece.name)) {
            missingExtents_.push_back(piece.name);
            break;
        }
        extentReaders.push_back(std::move(reader));
    }
    announceMissing();
    // The disk's end follows from the pieces, so that a scan or an export knows it.
    declaredSectors_ = coveredSectors();
    opened_ = true;
    return true;
}

std::uint64_t FileReadSeekVmdkSplit::capacity() const {
    std::uint64_t sectors = 0;
    for (const auto& reader : extentReaders) sectors = saturatingAdd(sectors, extentSectors(*reader));
    std::uint64_t bytes = 0;
    return checkedMul(sectors, kSector, bytes) ? bytes : UINT64_MAX;
}

// ---------------------------------------------------------------------------------------------
// Layout

std::uint64_t FileReadSeekVmdkSplit::extentSectors(const FileReadSeekVmdk& reader) const {
    return extentTypeChoice == "FLAT" ? reader.imageLength / kSector : reader.capacitySectors();
}

const std::vector<std::uint64_t>& FileReadSeekVmdkSplit::extentStarts() {
    const bool flat = extentTypeChoice == "FLAT";
    if (starts_.size() != extentReaders.size() + 1 || startsForFlat_ != flat) {
        starts_.assign(1, 0);
        for (const auto& reader : extentReaders)
            starts_.push_back(saturatingAdd(starts_.back(), extentSectors(*reader)));
        startsForFlat_ = flat;
    }
    return starts_;
}

std::uint64_t FileReadSeekVmdkSplit::coveredSectors() { return extentStarts().back(); }

std::optional<FileReadSeekVmdkSplit::Located> FileReadSeekVmdkSplit::locate(std::uint64_t sector) {
    const auto& starts = extentStarts();
    if (sector >= starts.back()) return std::nullopt;
    // The last start not above the sector; empty extents share their start with the next one.
    const auto it = std::upper_bound(starts.begin(), starts.end(), sector);
    const auto i = static_cast<std::size_t>(it - starts.begin()) - 1;
    return Located{i, sector - starts[i], starts[i + 1] - sector};
}

// ---------------------------------------------------------------------------------------------
// Cursor

bool FileReadSeekVmdkSplit::seek(std::int64_t pos, int origin) {
    if (pos < 0) return false;
    position = pos;
    const std::uint64_t absolute = static_cast<std::uint64_t>(pos);
    if (absolute % kSector != 0) return false;
    if (extentReaders.empty()) return true;
    const auto at = locate(absolute / kSector);
    if (!at) {
        // Past the last extent there is nothing to read: a hole, not the bytes that happen to
        // follow in whichever extent was read last.
        sectorMapped = 0;
        beyondEnd_ = true;
        cursorAbsolute_ = std::numeric_limits<std::uint64_t>::max();
        return true;
    }
    FileReadSeekVmdk& reader = *extentReaders[at->extent];
    reader.seek(static_cast<std::int64_t>(at->localSector * kSector), origin);
    sectorMapped = reader.sectorMapped;
    current_ = &reader;
    currentIndex_ = at->extent;
    cursorAbsolute_ = absolute;
    beyondEnd_ = false;
    return true;
}

bool FileReadSeekVmdkSplit::readTrailing(std::uint8_t* out, std::uint64_t length) {
    if (sectorMapped == 1) return current_ != nullptr && current_->readAtFilePointer(out, length);
    std::memset(out, 0, static_cast<std::size_t>(length)); // a hole reads as zeros to the end
    if (current_ != nullptr) current_->skipAtFilePointer(length);
    return true;
}

bool FileReadSeekVmdkSplit::read(void* buffer, std::uint64_t length) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::uint64_t sectors = length / kSector;
    bool result = true;
    std::uint64_t i = 0;
    while (i < sectors) {
        std::uint8_t* slot = out + i * kSector;
        const std::uint64_t absolute = static_cast<std::uint64_t>(position);
        const bool cursorOnDisk = absolute % kSector == 0;
        if (fastPathEnabled && cursorOnDisk && beyondEnd_ && !locate(absolute / kSector)) {
            // Every later position is past the end as well.
            const std::uint64_t n = sectors - i;
            std::memset(slot, 0, static_cast<std::size_t>(n * kSector));
            if (current_ != nullptr) current_->skipAtFilePointer(n * kSector);
            result = seek(position + static_cast<std::int64_t>(n * kSector), 0);
            i = sectors;
            continue;
        }
        // The extent's cursor holds the place of the last seek; if the position moved since, the
        // next sectors lie elsewhere and only the sector loop finds them.
        const bool cursorCurrent = current_ != nullptr && absolute == cursorAbsolute_;
        const auto at = cursorOnDisk && cursorCurrent ? locate(absolute / kSector) : std::nullopt;
        if (fastPathEnabled && at && at->extent == currentIndex_ && current_->mapsPositions()) {
            const std::uint64_t n = std::min(sectors - i, at->sectorsLeft);
            current_->sectorMapped = sectorMapped;
            if (!current_->readSectorsFromCursor(slot, n, false)) return false;
            result = seek(position + static_cast<std::int64_t>(n * kSector), 0);
            i += n;
            continue;
        }
        // One sector at a time: from the current extent's file pointer, then a seek.
        if (sectorMapped == 1) {
            if (current_ == nullptr || !current_->readAtFilePointer(slot, kSector)) return false;
        } else {
            // The discarded read of a hole; its outcome does not matter.
            if (current_ != nullptr) current_->skipAtFilePointer(kSector);
            std::memset(slot, 0, kSector);
        }
        result = seek(position + static_cast<std::int64_t>(kSector), 0);
        ++i;
    }
    if (const std::uint64_t rest = length % kSector; rest != 0) result = readTrailing(out + sectors * kSector, rest);
    return result;
}

// ---------------------------------------------------------------------------------------------
// Positional reads

bool FileReadSeekVmdkSplit::readRange(std::uint64_t absolute, std::span<std::uint8_t> out, ReadReport*) const {
    // locate() rebuilds its table of extent starts on demand: one read at a time.
    const std::lock_guard lock(mutex_);
    auto* self = const_cast<FileReadSeekVmdkSplit*>(this);
    if (extentReaders.empty()) {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        return false;
    }
    if (const std::uint64_t head = absolute % kSector; head != 0) {
        // The extents map whole sectors: read the sectors the range touches, then take its part.
        std::vector<std::uint8_t> whole(static_cast<std::size_t>((head + out.size() + kSector - 1) / kSector * kSector));
        const bool ok = readRange(absolute - head, whole, nullptr);
        std::memcpy(out.data(), whole.data() + head, out.size());
        return ok;
    }
    std::size_t done = 0;
    bool ok = true;
    while (done < out.size()) {
        const auto at = self->locate(absolute / kSector + done / kSector);
        if (!at) {
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(done), out.end(), std::uint8_t{0});
            break;
        }
        std::uint64_t room = 0;
        if (!checkedMul(at->sectorsLeft, kSector, room)) room = std::numeric_limits<std::uint64_t>::max();
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size() - done, room));
        if (!extentReaders[at->extent]->readAt(at->localSector * kSector, out.subspan(done, n))) ok = false;
        done += n;
    }
    return ok;
}

} // namespace vindaru
