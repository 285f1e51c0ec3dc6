#include "browser/AdvanceOptionsLogic.h"

#include "common/DisplayFormat.h"
#include "common/TextConvert.h"
#include "fs/ntfs/ntfs.h"

namespace vindaru {

namespace {

constexpr const char* kNtfsSelected = "ntfs partition selected....";
constexpr const char* kNoReader =
    "Please Restart the program to rebegin necessary initialisation...";
constexpr const char* kNtfsCountMessage =
    "Number of MFT-ENTRY found = %d . Please select the choice from combo box and click Parse "
    "button to proceed.";
constexpr const char* kNtfsCandidateItem = "MFT_ENTRY:%d";
constexpr const char* kNtfsSearchDone = "Parsing done.Click next to continue.";
constexpr const char* kPausePressed = "Pause button pressed";
constexpr const char* kResumePressed = "Resume button pressed";
constexpr const char* kStopPressed = "stop button pressed";
// The sectors-per-cluster values offered for NTFS, most common first.
constexpr const char* kNtfsClusterChoices[] = {"8", "4", "2", "16", "32", "64"};
constexpr std::int64_t kDefaultLimit = 3;

bool isFatFamily(const std::string& name) {
    for (const char* fat : {"fat32", "fat16", "fat", "fat64", "exFat"})
        if (equalsIgnoreCase(name, fat)) return true;
    return false;
}

} // namespace

AdvanceOptionsLogic::AdvanceOptionsLogic(readWriteInterface* reader, VolumeRecord volume,
                                         std::int64_t maxFileSystems, AdvanceSinks sinks)
    : reader_(reader), volume_(std::move(volume)), maxFileSystems_(maxFileSystems), sinks_(sinks) {}

AdvanceOptionsLogic::~AdvanceOptionsLogic() = default;

std::uint64_t AdvanceOptionsLogic::candidateLimit() const {
    return static_cast<std::uint64_t>(maxFileSystems_ > 0 ? maxFileSystems_ : kDefaultLimit);
}

AdvanceOptionsLogic::Prepared AdvanceOptionsLogic::prepare() {
    const std::string& name = volume_.fileSystemName;
    if (equalsIgnoreCase(name, "ntfs")) {
        if (!reader_) {
            sinks_.messages.infoNoCaption(kNoReader);
            return Prepared::NoReader;
        }
        sinks_.status.setText(kNtfsSelected);
        ntfs_ = std::make_shared<ntfs>(*reader_, volume_, &sinks_.status, &sinks_.progress);
        ntfs_->scanMode = 2;
        listsVisible_ = true;
        searching_ = true;
        return Prepared::Ready;
    }
    if (isFatFamily(name)) return Prepared::NotBuiltYet;
    return Prepared::NotOffered;
}

void AdvanceOptionsLogic::runSearch() {
    if (ntfs_) searchNtfs();
    searching_ = false;
    if (onSearchFinished) onSearchFinished();
}

void AdvanceOptionsLogic::searchNtfs() {
    ntfs& parser = *ntfs_;
    parser.attachReader();
    parser.readBootSector();
    const std::uint64_t found = parser.findMftCandidates(candidateLimit());
    {
        std::lock_guard lock(mutex_);
        candidates_.clear();
        for (std::uint64_t i = 0; i < found; ++i)
            candidates_.push_back(formatText(kNtfsCandidateItem, static_cast<int>(i)));
        clusters_.assign(std::begin(kNtfsClusterChoices), std::end(kNtfsClusterChoices));
        candidateSelection_ = candidates_.empty() ? -1 : 0;
        clusterSelection_ = 0;
    }
    sinks_.messages.info(formatText(kNtfsCountMessage, static_cast<int>(found)));
    finishSearch(kNtfsSearchDone);
}

void AdvanceOptionsLogic::finishSearch(const std::string& endStatus) {
    nextEnabled_ = true;
    backEnabled_ = true;
    threadButtonsVisible_ = false;
    sinks_.status.setText(endStatus);
}

void AdvanceOptionsLogic::pause() {
    if (ntfs_) ntfs_->control.pauseGate.pause();
    sinks_.status.setText(kPausePressed);
}

void AdvanceOptionsLogic::resume() {
    if (ntfs_) ntfs_->control.pauseGate.resume();
    sinks_.status.setText(kResumePressed);
}

void AdvanceOptionsLogic::stop() {
    stopParsers();
    sinks_.status.setText(kStopPressed);
    nextEnabled_ = true;
    backEnabled_ = true;
}

void AdvanceOptionsLogic::stopParsers() {
    if (ntfs_) ntfs_->control.requestStop();
}

std::vector<std::string> AdvanceOptionsLogic::candidateItems() const {
    std::lock_guard lock(mutex_);
    return candidates_;
}

std::vector<std::string> AdvanceOptionsLogic::clusterItems() const {
    std::lock_guard lock(mutex_);
    return clusters_;
}

std::vector<std::string> AdvanceOptionsLogic::heapItems() const {
    return {};
}

int AdvanceOptionsLogic::candidateSelection() const {
    std::lock_guard lock(mutex_);
    return candidateSelection_;
}

int AdvanceOptionsLogic::clusterSelection() const {
    std::lock_guard lock(mutex_);
    return clusterSelection_;
}

void AdvanceOptionsLogic::selectCandidate(int index) {
    std::lock_guard lock(mutex_);
    if (index >= -1 && index < static_cast<int>(candidates_.size())) candidateSelection_ = index;
}

void AdvanceOptionsLogic::selectCluster(int index) {
    std::lock_guard lock(mutex_);
    if (index >= -1 && index < static_cast<int>(clusters_.size())) clusterSelection_ = index;
}

bool AdvanceOptionsLogic::nextAllowed() const {
    std::lock_guard lock(mutex_);
    return candidateSelection_ >= 0 && clusterSelection_ >= 0;
}

AdvancedChoice AdvanceOptionsLogic::choice() const {
    std::lock_guard lock(mutex_);
    AdvancedChoice c;
    c.candidate = candidateSelection_ >= 0 ? static_cast<std::uint64_t>(candidateSelection_) : 0;
    if (clusterSelection_ >= 0 && static_cast<std::size_t>(clusterSelection_) < clusters_.size())
        c.sectorsPerClusterText = clusters_[static_cast<std::size_t>(clusterSelection_)];
    return c;
}

} // namespace vindaru
