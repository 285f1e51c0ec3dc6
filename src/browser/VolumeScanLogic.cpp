#include "browser/VolumeScanLogic.h"

#include "browser/NtfsEntryView.h"
#include "browser/RecycleBinNames.h"
#include "common/TextConvert.h"
#include "fs/ntfs/ntfs.h"

namespace vindaru {

namespace {

constexpr const char* kNtfsSelected = "ntfs partition selected....";
constexpr const char* kParsingBasedOnMft = " ParsingBasedOnMFT is going on....";
constexpr const char* kDeepScanning = " scanning for mft entries in deep mode ....";
constexpr const char* kScanCompleted = "Scanning process completed...";
constexpr const char* kProcessingDone = "Processing done...";
constexpr const char* kNoReader =
    "Please Restart the program to rebegin necessary initialisation...";
constexpr const char* kUnknownVolume = "unKnown Partition Cant be parsed...";
constexpr const char* kNotValidStatus = "Not a valid Drive .Go back";
constexpr const char* kNotValidMessage = "not a valid drive.";
constexpr const char* kPausePressed = "Pause button pressed";
constexpr const char* kResumePressed = "Resume button pressed";
constexpr const char* kStopPressed = "stop button pressed.Please wait for the process to be stopped.";
constexpr const char* kAllStopped = "All thread Stopped";

// The type names the page knows a parser for (compared without regard to letter case).
bool isOtherKnownFileSystem(const std::string& name) {
    for (const char* known : {"fat32", "fat16", "fat", "extX", "fat64", "exFat", "HFS+"})
        if (equalsIgnoreCase(name, known)) return true;
    return false;
}

} // namespace

VolumeScanLogic::VolumeScanLogic(readWriteInterface* reader, VolumeRecord volume, CheckTree& tree,
                                 BrowserSinks sinks, int scanMode, std::string rootItemName)
    : reader_(reader), volume_(std::move(volume)), tree_(tree), sinks_(sinks),
      scanMode_(scanMode), rootItemName_(std::move(rootItemName)) {}

VolumeScanLogic::~VolumeScanLogic() = default;

EngineControl* VolumeScanLogic::control() { return ntfs_ ? &ntfs_->control : nullptr; }

VolumeScanLogic::Prepared VolumeScanLogic::prepare() {
    const std::string& name = volume_.fileSystemName;
    if (equalsIgnoreCase(name, "ntfs")) {
        sinks_.status.setText(kNtfsSelected);
        if (!reader_) {
            busy_ = false;
            sinks_.messages.info(kNoReader);
            return Prepared::NoReader;
        }
        if (ntfs_)
            ntfs_->attachSinks(&sinks_.status, &sinks_.progress);
        else
            ntfs_ = std::make_shared<ntfs>(*reader_, volume_, &sinks_.status, &sinks_.progress);
        ntfs_->scanMode = scanMode_;
        view_ = std::make_unique<NtfsEntryView>(*ntfs_);
    } else if (equalsIgnoreCase(name, "unknown")) {
        busy_ = false;
        sinks_.messages.info(kUnknownVolume);
        return Prepared::UnknownVolume;
    } else if (isOtherKnownFileSystem(name)) {
        busy_ = false;
        return Prepared::NotBuiltYet;
    } else {
        busy_ = false;
        sinks_.status.setText(kNotValidStatus);
        sinks_.messages.info(kNotValidMessage);
        return Prepared::NotValid;
    }
    browser_ = std::make_unique<VolumeBrowser>(tree_, *view_);
    saver_ = std::make_unique<EntrySaver>(*view_, sinks_, saveStopRequested_);
    return Prepared::Ready;
}

void VolumeScanLogic::insertVolumeItem() {
    volumeItem_ = tree_.insertItem(rootItemName_, IconKind::Folder, kTreeTop);
}

void VolumeScanLogic::run() {
    if (ntfs_ && scanMode_ == kScanModeAdvanced)
        runNtfsAdvanced();
    else if (ntfs_)
        runNtfs();
    busy_ = false;
}

void VolumeScanLogic::runNtfs() {
    ntfs& parser = *ntfs_;
    parser.attachReader();
    insertVolumeItem();
    parser.attachTree(&tree_, volumeItem_);
    parser.readBootSector();
    if (scanMode_ == kScanModeDeep) {
        sinks_.status.setText(kDeepScanning);
        parser.scanMftRecordsDeep();
    } else {
        sinks_.status.setText(kParsingBasedOnMft);
        parser.locateMft();
    }
    parser.readMftByRuns();
    parser.parseAllEntries();
    // The volume item stands for the root directory, so selecting it lists the root's files
    // and a folder save of it saves the whole volume.
    if (auto root = view_->rootEntry()) tree_.setItemData(volumeItem_, *root);
    commonEnd(kScanCompleted);
}

void VolumeScanLogic::commonEnd(const std::string& endMessage, const char* firstMessage) {
    browser_->addPlaceholders();
    // Recycled files show and save under their former names (NTFS keeps a folder per user).
    if (ntfs_)
        recycledNamesRestored_ =
            RecycleBinNames(tree_, volumeItem_, *view_, RecycleBinNames::Layout::PerUserFolders).restore();
    if (afterPlaceholders) afterPlaceholders();
    if (firstMessage) sinks_.messages.info(firstMessage);
    sinks_.messages.info(endMessage);
    sinks_.status.setText(kProcessingDone);
}

void VolumeScanLogic::pause() {
    if (auto* c = control()) c->pauseGate.pause();
    sinks_.status.setText(kPausePressed);
}

void VolumeScanLogic::resume() {
    if (auto* c = control()) c->pauseGate.resume();
    sinks_.status.setText(kResumePressed);
}

void VolumeScanLogic::requestStop() {
    if (auto* c = control()) {
        c->requestStop();
        saveStopRequested_ = true;
        sinks_.status.setText(kStopPressed);
    }
}

void VolumeScanLogic::stopAll() {
    if (auto* c = control()) {
        c->requestStop();
        saveStopRequested_ = true;
        sinks_.status.setText(kAllStopped);
    }
}

EntrySearch::Result VolumeScanLogic::search(const std::string& pattern, const EntrySearch::RowFn& onRow) {
    EngineControl* engine = control();
    if (!view_ || !engine) {
        sinks_.messages.infoNoCaption(kSearchFinished);
        return EntrySearch::Result::Finished;
    }
    EntrySearch searcher(tree_, volumeItem_, *view_, sinks_, *engine);
    return searcher.search(pattern, onRow);
}

} // namespace vindaru
