#include "cli/CliBrowse.h"

#include <iostream>

#include "cli/CliText.h"
#include "common/DisplayFormat.h"

namespace vindaru::cli {

namespace {

std::vector<std::string> splitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '/') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

} // namespace

CliBrowse::CliBrowse(bool assumeYes)
    : messages_(assumeYes), status_(progress_.active() ? &progress_ : nullptr) {
    imageSession_.messages = &messages_;
}

int CliBrowse::openAndScan(const ImageArgs& image, const VolumeArgs& volume, const ScanModeArgs& mode) {
    if (!openSessionReader(imageSession_, image)) return kExitImage;
    std::string error;
    VolumeArgs chosen = volume;
    chosen.otherFileSystemAtStart = mode.scanMode != kScanModeStandard || mode.driveFormatted;
    auto record = resolveVolume(*imageSession_.sessionReader, imageSession_.diskSectorCount, chosen,
                                status_, error);
    if (!record) {
        std::cerr << "vindaru-cli: " << error << "\n";
        return kExitNotFound;
    }
    volume_ = *record;
    // Whatever the candidate search and the scan read is kept: the listing is only as sound as
    // the bytes it was built from.
    ReadScope reads;
    std::shared_ptr<VolumeParser> searched;
    AdvancedChoice choice;
    if (mode.scanMode == kScanModeAdvanced) {
        const int rc = runAdvancedSearch(*imageSession_.sessionReader, volume_, mode, status_, progress_, messages_,
                                         searched, choice);
        if (rc != kExitOk) return rc;
    }
    session_ = std::make_unique<VolumeSession>(
        imageSession_.sessionReader.get(), volume_, tree_,
        BrowserSinks{status_, secondStatus_, progress_, messages_}, mode.scanMode,
        imageSession_.rootItemName);
    session_->setDriveFormatted(mode.driveFormatted);
    if (searched) session_->takeAdvancedParser(std::move(searched), choice);
    switch (session_->prepare()) {
    case VolumeSession::Prepared::Ready: break;
    case VolumeSession::Prepared::NotBuiltYet:
        std::cerr << "vindaru-cli: browsing " << volume_.fileSystemName
                  << " volumes is not in this build yet\n";
        return kExitNotFound;
    default: return kExitNotFound;
    }
    session_->run();
    status_.flush();
    progress_.finish();
    scanReads_ = reads.report();
    return kExitOk;
}

bool CliBrowse::warnOfDamagedListing(const ReadReport& walkReads) const {
    ReadReport reads = scanReads_;
    reads.merge(walkReads);
    if (!reads.damaged()) return false;
    const std::size_t ranges = reads.unreadableRanges().size();
    std::cerr << "vindaru-cli: the volume's file system was read from " << ranges
              << (ranges == 1 ? " range" : " ranges") << " of the disk that could not be read ("
              << formatSizeText(reads.unreadableBytes())
              << ", taken as zeros): entries may be missing or wrong; `vindaru-cli check` lists the damage\n";
    return true;
}

std::vector<EntryRef> CliBrowse::firstLevel() const {
    std::vector<EntryRef> level;
    for (TreeItemId item : tree_.children(session_->volumeItem())) {
        auto data = tree_.getItemData(item);
        if (data && session_->view()->isEntry(*data)) level.push_back(*data);
    }
    return level;
}

std::optional<CliBrowse::Target> CliBrowse::resolve(const std::string& path) const {
    Target target;
    target.volumeItem = true;
    std::vector<EntryRef> level = firstLevel();
    const auto parts = splitPath(path);
    EntryView& v = *session_->view();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        std::optional<EntryRef> found;
        int foundRank = 0;
        for (EntryRef e : level) {
            // Before the last component a folder is wanted. The printed form beats the name
            // typed as it is on disk; then a live entry beats a deleted twin.
            const int rank = componentMatch(v, e, parts[i]);
            if (rank == 0 || (!last && !v.isDirectory(e))) continue;
            if (!found || rank > foundRank ||
                (rank == foundRank && v.isDeleted(*found) && !v.isDeleted(e))) {
                found = e;
                foundRank = rank;
            }
        }
        if (!found) return std::nullopt;
        target.volumeItem = false;
        target.entry = *found;
        target.path += "/" + pathComponent(v, *found);
        if (!last) level = v.children(*found);
    }
    return target;
}

} // namespace vindaru::cli
