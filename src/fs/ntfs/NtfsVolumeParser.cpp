#include "fs/ntfs/NtfsVolumeParser.h"

#include "common/DisplayFormat.h"
#include "fs/ntfs/NtfsEntryView.h"
#include "fs/ntfs/ntfs.h"
#include "fs/parser/TreeFill.h"

namespace vindaru {

namespace {

constexpr const char* kParsingBasedOnMft = " ParsingBasedOnMFT is going on....";
constexpr const char* kDeepScanning = " scanning for mft entries in deep mode ....";
constexpr const char* kScanCompleted = "Scanning process completed...";
constexpr const char* kAdvancedCompleted = "Scanning process completed.";
constexpr const char* kCountMessage =
    "Number of MFT-ENTRY found = %d . Please select the choice from combo box and click Parse "
    "button to proceed.";
constexpr const char* kCandidateItem = "MFT_ENTRY:%d";
constexpr const char* kSearchDone = "Parsing done.Click next to continue.";
// The sectors-per-cluster values offered, most common first.
constexpr std::uint64_t kClusterChoices[] = {8, 4, 2, 16, 32, 64};
// A sectors-per-cluster choice above this is not a number the list offers; it is ignored.
constexpr std::uint64_t kMaxSectorsPerCluster = 1u << 16;

class NtfsVolumeParser final : public VolumeParser, public AdvancedPart {
public:
    explicit NtfsVolumeParser(const ParserSetup& setup)
        : parser_(setup.reader, setup.volume, setup.sinks.status, setup.sinks.progress),
          view_(parser_), status_(setup.sinks.status) {}

    FileSystemKind kind() const override { return FileSystemKind::Ntfs; }
    void attachSinks(const ScanSinks& sinks) override {
        parser_.attachSinks(sinks.status, sinks.progress);
        status_ = sinks.status;
    }
    EntryView& view() override { return view_; }
    EngineControl& control() override { return parser_.control; }
    AdvancedPart* advanced() override { return this; }
    std::optional<UsedRanges> usedByteRanges() override { return parser_.usedByteRanges(); }

    ScanOutcome scan(const ScanRequest& request) override {
        return request.mode == kScanModeAdvanced ? rebuild(request) : scanStandardOrDeep(request);
    }

    void searchCandidates(std::uint64_t limit) override {
        parser_.scanMode = kScanModeAdvanced;
        parser_.readBootSector();
        found_ = parser_.findMftCandidates(limit);
    }

    AdvancedLists lists() const override {
        AdvancedLists lists;
        for (std::uint64_t i = 0; i < found_; ++i)
            lists.candidates.push_back(formatText(kCandidateItem, static_cast<int>(i)));
        for (const std::uint64_t sectors : kClusterChoices) addClusterItem(lists, sectors, sectors);
        lists.countMessage = formatText(kCountMessage, static_cast<int>(found_));
        lists.endStatus = kSearchDone;
        return lists;
    }

private:
    ScanOutcome scanStandardOrDeep(const ScanRequest& request) {
        parser_.scanMode = request.mode;
        parser_.readBootSector();
        if (request.mode == kScanModeDeep) {
            statusText(kDeepScanning);
            parser_.scanMftRecordsDeep();
        } else {
            statusText(kParsingBasedOnMft);
            parser_.locateMft();
        }
        parser_.readMftByRuns();
        parser_.parseAllEntries();
        fillTree(request);
        return outcome({kScanCompleted});
    }

    // The Advanced thread: the chosen candidate's runs and cluster size, then the usual parse.
    ScanOutcome rebuild(const ScanRequest& request) {
        parser_.control.stopRequested.acknowledge();
        parser_.scanMode = kScanModeAdvanced;
        parser_.clearEntries();
        parser_.runsFromCandidate(request.choice.candidate);
        if (const std::uint64_t sectors = request.choice.sectorsPerCluster; sectors > 0 && sectors <= kMaxSectorsPerCluster)
            parser_.clusterSize = sectors * kSectorSize;
        parser_.readMftByRuns();
        parser_.parseAllEntries();
        fillTree(request);
        // One box: the Advanced mode's own completion text, not that and the Standard one after it.
        return outcome({kAdvancedCompleted});
    }

    void fillTree(const ScanRequest& request) {
        if (request.tree) fillTopLevel(*request.tree, view_, request.volumeItem);
    }

    static ScanOutcome outcome(std::vector<std::string> messages) {
        ScanOutcome o;
        o.endMessages = std::move(messages);
        o.recycle = RecycleLayout::PerUserFolders;
        return o;
    }

    void statusText(const char* text) {
        if (status_) status_->setText(text);
    }

    ntfs parser_;
    NtfsEntryView view_;
    StatusSink* status_;
    std::uint64_t found_ = 0;
};

} // namespace

std::shared_ptr<VolumeParser> createNtfsParser(const ParserSetup& setup) {
    return std::make_shared<NtfsVolumeParser>(setup);
}

} // namespace vindaru
