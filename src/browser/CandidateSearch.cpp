#include "browser/CandidateSearch.h"

#include <cctype>
#include <limits>

#include "browser/FileSystemDrivers.h"
#include "common/DisplayFormat.h"

namespace vindaru {

namespace {

constexpr const char* kNoReader =
    "Please Restart the program to rebegin necessary initialisation...";
constexpr const char* kSearchStopped =
    "The search was stopped: %llu candidate%s found before the stop. Choose one and click Next, or go Back.";

} // namespace

// The text as the page reads its edit: optional white space and sign, then leading digits;
// nothing readable, or a value not above 0, gives the default.
std::uint64_t candidateLimitFromText(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::uint64_t value = 0;
    bool digits = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        digits = true;
        const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (std::numeric_limits<std::uint32_t>::max() - digit) / 10) {
            value = std::numeric_limits<std::uint32_t>::max(); // a page's int cannot hold more
            break;
        }
        value = value * 10 + digit;
    }
    if (!digits || negative || value == 0) return kDefaultCandidateLimit;
    return value;
}

CandidateSearch::CandidateSearch(const ByteSource* disk, VolumeRecord volume, std::uint64_t limit,
                                 ScanSinks sinks, bool driveFormatted)
    : disk_(disk), volume_(std::move(volume)), limit_(limit), sinks_(sinks),
      driveFormatted_(driveFormatted) {}

CandidateSearch::Prepared CandidateSearch::prepare() {
    const FileSystemDriver& driver = driverFor(volume_);
    if (!driver.offersAdvanced || driver.listName[0] == '\0') return Prepared::NotOffered;
    if (!driver.create) return Prepared::NotBuiltYet;
    if (!disk_) {
        sinks_.messages->infoNoCaption(kNoReader);
        return Prepared::NoReader;
    }
    if (driver.selectedStatus) sinks_.status->setText(driver.selectedStatus);
    parser_ = driver.create(ParserSetup{*disk_, volume_, sinks_, driveFormatted_});
    if (!parser_->advanced()) {
        // The row offers the mode, but this build's parser has no candidate search yet.
        parser_.reset();
        return Prepared::NotBuiltYet;
    }
    return Prepared::Ready;
}

const AdvancedLists& CandidateSearch::run() {
    if (!parser_) return lists_;
    AdvancedPart& part = *parser_->advanced();
    part.searchCandidates(limit_);
    lists_ = part.lists();
    if (onListed) onListed(lists_);
    std::string endStatus = lists_.endStatus;
    // The parser may clear its own stop flag as it ends; the user's Stop is kept here.
    if (stopPressed_.load() || parser_->control().stopRequested.load()) {
        // A stopped search found only part of what is there: it is not "done".
        stopped_ = true;
        endStatus = formatText(kSearchStopped, static_cast<unsigned long long>(lists_.candidates.size()),
                               lists_.candidates.size() == 1 ? "" : "s");
        sinks_.messages->info(endStatus);
    } else if (!lists_.countMessage.empty()) {
        sinks_.messages->info(lists_.countMessage);
    }
    if (beforeEndStatus) beforeEndStatus();
    sinks_.status->setText(endStatus);
    return lists_;
}

void CandidateSearch::requestStop() {
    stopPressed_ = true;
    stopParser();
}

void CandidateSearch::stopParser() {
    if (parser_) parser_->control().requestStop();
}

std::optional<std::uint64_t> CandidateSearch::clusterSectorsFor(const std::string& typed) const {
    if (!parser_ || !parser_->advanced()) return std::nullopt;
    return typedClusterChoice(*parser_->advanced(), lists_, typed);
}

} // namespace vindaru
