#include "pages/AdvanceOptionsLogic.h"

#include "browser/FileSystemDrivers.h"
#include "common/DisplayFormat.h"

namespace vindaru {

namespace {

constexpr const char* kNoReader =
    "Please Restart the program to rebegin necessary initialisation...";
constexpr const char* kPausePressed = "Pause button pressed";
constexpr const char* kResumePressed = "Resume button pressed";
constexpr const char* kStopPressed = "stop button pressed";
constexpr std::int64_t kDefaultLimit = 3;
constexpr const char* kSearchStopped =
    "The search was stopped: %llu candidate%s found before the stop. Choose one and click Next, or go Back.";

} // namespace

AdvanceOptionsLogic::AdvanceOptionsLogic(readWriteInterface* reader, VolumeRecord volume,
                                         std::int64_t maxFileSystems, AdvanceSinks sinks,
                                         bool driveFormatted)
    : reader_(reader), volume_(std::move(volume)), maxFileSystems_(maxFileSystems), sinks_(sinks),
      driveFormatted_(driveFormatted) {}

AdvanceOptionsLogic::~AdvanceOptionsLogic() = default;

std::uint64_t AdvanceOptionsLogic::candidateLimit() const {
    return static_cast<std::uint64_t>(maxFileSystems_ > 0 ? maxFileSystems_ : kDefaultLimit);
}

AdvanceOptionsLogic::Prepared AdvanceOptionsLogic::prepare() {
    const FileSystemDriver& driver = driverFor(volume_);
    if (!driver.offersAdvanced || driver.listName[0] == '\0') return Prepared::NotOffered;
    if (!driver.create) return Prepared::NotBuiltYet;
    if (!reader_) {
        sinks_.messages.infoNoCaption(kNoReader);
        return Prepared::NoReader;
    }
    if (driver.selectedStatus) sinks_.status.setText(driver.selectedStatus);
    parser_ = driver.create(
        ParserSetup{*reader_, volume_, ScanSinks{&sinks_.status, &sinks_.progress, &sinks_.messages},
                    driveFormatted_});
    if (!parser_->advanced()) {
        // The row offers the mode, but this build's parser has no candidate search yet.
        parser_.reset();
        return Prepared::NotBuiltYet;
    }
    listsVisible_ = true;
    searching_ = true;
    return Prepared::Ready;
}

void AdvanceOptionsLogic::runSearch() {
    if (parser_) {
        AdvancedPart& part = *parser_->advanced();
        part.searchCandidates(candidateLimit());
        AdvancedLists lists = part.lists();
        {
            std::lock_guard lock(mutex_);
            lists_ = lists;
            candidateSelection_ = lists_.candidates.empty() ? -1 : 0;
            clusterSelection_ = lists_.clusters.empty() ? -1 : 0;
            heapSelection_ = lists_.heaps.empty() ? -1 : 0;
        }
        heapListVisible_ = lists.heapListShown;
        // The parser may clear its own stop flag as it ends; the page's Stop is kept here.
        if (stopPressed_.load() || parser_->control().stopRequested.load()) {
            // A stopped search found only part of what is there: it is not "done".
            stopped_ = true;
            const std::string said = formatText(kSearchStopped, static_cast<unsigned long long>(lists.candidates.size()),
                                                lists.candidates.size() == 1 ? "" : "s");
            sinks_.messages.info(said);
            finishSearch(said);
        } else {
            if (!lists.countMessage.empty()) sinks_.messages.info(lists.countMessage);
            finishSearch(lists.endStatus);
        }
    }
    searching_ = false;
    if (onSearchFinished) onSearchFinished();
}

void AdvanceOptionsLogic::finishSearch(const std::string& endStatus) {
    nextEnabled_ = true;
    backEnabled_ = true;
    threadButtonsVisible_ = false;
    sinks_.status.setText(endStatus);
}

void AdvanceOptionsLogic::pause() {
    if (parser_) parser_->control().pauseGate.pause();
    sinks_.status.setText(kPausePressed);
}

void AdvanceOptionsLogic::resume() {
    if (parser_) parser_->control().pauseGate.resume();
    sinks_.status.setText(kResumePressed);
}

void AdvanceOptionsLogic::stop() {
    stopParsers();
    if (searching_) stopPressed_ = true;
    sinks_.status.setText(kStopPressed);
    // Next and Back wait for the search to end: the parser is the search's until then. With no
    // search running they are enabled at once.
    if (!searching_) {
        nextEnabled_ = true;
        backEnabled_ = true;
    }
}

void AdvanceOptionsLogic::stopParsers() {
    if (parser_) parser_->control().requestStop();
}

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
    if (index >= -1 && index < static_cast<int>(lists_.clusters.size())) {
        clusterSelection_ = index;
        clusterTextBeyondList_.clear();
    }
}

bool AdvanceOptionsLogic::selectClusterText(const std::string& text) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < lists_.clusters.size(); ++i)
        if (lists_.clusters[i] == text) {
            clusterSelection_ = static_cast<int>(i);
            clusterTextBeyondList_.clear();
            return true;
        }
    if (!parser_ || !parser_->advanced() || !parser_->advanced()->acceptsClusterChoice(text)) return false;
    clusterTextBeyondList_ = text;
    return true;
}

bool AdvanceOptionsLogic::nextAllowed() const {
    std::lock_guard lock(mutex_);
    return candidateSelection_ >= 0 && clusterSelection_ >= 0;
}

AdvancedChoice AdvanceOptionsLogic::choice() const {
    std::lock_guard lock(mutex_);
    AdvancedChoice c;
    c.candidate = candidateSelection_ >= 0 ? static_cast<std::uint64_t>(candidateSelection_) : 0;
    if (!clusterTextBeyondList_.empty())
        c.sectorsPerClusterText = clusterTextBeyondList_;
    else if (clusterSelection_ >= 0 && static_cast<std::size_t>(clusterSelection_) < lists_.clusters.size())
        c.sectorsPerClusterText = lists_.clusters[static_cast<std::size_t>(clusterSelection_)];
    if (heapSelection_ >= 0 && static_cast<std::size_t>(heapSelection_) < lists_.heaps.size()) {
        c.heapCandidate = static_cast<std::uint64_t>(heapSelection_);
        c.heapOffsetText = lists_.heaps[static_cast<std::size_t>(heapSelection_)];
    }
    return c;
}

} // namespace vindaru
