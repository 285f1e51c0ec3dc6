#include "pages/AdvanceOptionsLogic.h"

namespace vindaru {

namespace {

constexpr const char* kPausePressed = "Pause button pressed";
constexpr const char* kResumePressed = "Resume button pressed";
constexpr const char* kStopPressed = "stop button pressed";

} // namespace

AdvanceOptionsLogic::AdvanceOptionsLogic(const ByteSource* reader, VolumeRecord volume,
                                         std::int64_t maxFileSystems, AdvanceSinks sinks,
                                         bool driveFormatted)
    : maxFileSystems_(maxFileSystems), sinks_(sinks),
      search_(reader, std::move(volume), candidateLimit(),
              ScanSinks{&sinks.status, &sinks.progress, &sinks.messages}, driveFormatted) {
    search_.onListed = [this](const AdvancedLists& lists) {
        {
            std::lock_guard lock(mutex_);
            lists_ = lists;
            candidateSelection_ = lists_.candidates.empty() ? -1 : 0;
            clusterSelection_ = lists_.clusters.empty() ? -1 : 0;
            heapSelection_ = lists_.heaps.empty() ? -1 : 0;
        }
        heapListVisible_ = lists.heapListShown;
    };
    search_.beforeEndStatus = [this] {
        nextEnabled_ = true;
        backEnabled_ = true;
        threadButtonsVisible_ = false;
    };
}

AdvanceOptionsLogic::~AdvanceOptionsLogic() = default;

std::uint64_t AdvanceOptionsLogic::candidateLimit() const {
    return static_cast<std::uint64_t>(maxFileSystems_ > 0 ? maxFileSystems_ : kDefaultCandidateLimit);
}

AdvanceOptionsLogic::Prepared AdvanceOptionsLogic::prepare() {
    switch (search_.prepare()) {
    case CandidateSearch::Prepared::Ready:
        break;
    case CandidateSearch::Prepared::NoReader:
        return Prepared::NoReader;
    case CandidateSearch::Prepared::NotBuiltYet:
        return Prepared::NotBuiltYet;
    case CandidateSearch::Prepared::NotOffered:
        return Prepared::NotOffered;
    }
    listsVisible_ = true;
    searching_ = true;
    return Prepared::Ready;
}

void AdvanceOptionsLogic::runSearch() {
    search_.run();
    searching_ = false;
    if (onSearchFinished) onSearchFinished();
}

void AdvanceOptionsLogic::pause() {
    if (VolumeParser* p = parser()) p->control().pauseGate.pause();
    sinks_.status.setText(kPausePressed);
}

void AdvanceOptionsLogic::resume() {
    if (VolumeParser* p = parser()) p->control().pauseGate.resume();
    sinks_.status.setText(kResumePressed);
}

void AdvanceOptionsLogic::stop() {
    if (searching_)
        search_.requestStop();
    else
        stopParsers();
    sinks_.status.setText(kStopPressed);
    // Next and Back wait for the search to end: the parser is the search's until then. With no
    // search running they are enabled at once.
    if (!searching_) {
        nextEnabled_ = true;
        backEnabled_ = true;
    }
}

void AdvanceOptionsLogic::stopParsers() { search_.stopParser(); }

std::vector<std::string> AdvanceOptionsLogic::candidateItems() const {
    std::lock_guard lock(mutex_);
    return lists_.candidates;
}

std::vector<std::string> AdvanceOptionsLogic::clusterItems() const {
    std::lock_guard lock(mutex_);
    return lists_.clusters;
}

std::vector<std::string> AdvanceOptionsLogic::heapItems() const {
    std::lock_guard lock(mutex_);
    return lists_.heaps;
}

std::string AdvanceOptionsLogic::candidateItemsLabel() const {
    std::lock_guard lock(mutex_);
    return lists_.candidateItemsLabel;
}

int AdvanceOptionsLogic::heapSelection() const {
    std::lock_guard lock(mutex_);
    return heapSelection_;
}

void AdvanceOptionsLogic::selectHeap(int index) {
    std::lock_guard lock(mutex_);
    if (index >= -1 && index < static_cast<int>(lists_.heaps.size())) heapSelection_ = index;
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
    if (index >= -1 && index < static_cast<int>(lists_.candidates.size())) candidateSelection_ = index;
}

void AdvanceOptionsLogic::selectCluster(int index) {
    std::lock_guard lock(mutex_);
    if (index >= -1 && index < static_cast<int>(lists_.clusters.size())) clusterSelection_ = index;
}

bool AdvanceOptionsLogic::nextAllowed() const {
    std::lock_guard lock(mutex_);
    return candidateSelection_ >= 0 && clusterSelection_ >= 0;
}

AdvancedChoice AdvanceOptionsLogic::choice() const {
    std::lock_guard lock(mutex_);
    AdvancedChoice c;
    c.candidate = candidateSelection_ >= 0 ? static_cast<std::uint64_t>(candidateSelection_) : 0;
    if (clusterSelection_ >= 0 && static_cast<std::size_t>(clusterSelection_) < lists_.clusterSectors.size())
        c.sectorsPerCluster = lists_.clusterSectors[static_cast<std::size_t>(clusterSelection_)];
    if (heapSelection_ >= 0 && static_cast<std::size_t>(heapSelection_) < lists_.heaps.size())
        c.heapCandidate = static_cast<std::uint64_t>(heapSelection_);
    return c;
}

} // namespace vindaru
