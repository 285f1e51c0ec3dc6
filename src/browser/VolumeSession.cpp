#include "browser/VolumeSession.h"

#include "browser/FileSystemDrivers.h"
#include "browser/RecycleBinNames.h"
#include "image/VolumeSlice.h"

namespace vindaru {

namespace {

constexpr const char* kProcessingDone = "Processing done...";
constexpr const char* kNoReader =
    "Please Restart the program to rebegin necessary initialisation...";
constexpr const char* kUnknownVolume = "unKnown Partition Cant be parsed...";
constexpr const char* kNotValidStatus = "Not a valid Drive .Go back";
constexpr const char* kNotValidMessage = "not a valid drive.";

} // namespace

VolumeSession::VolumeSession(const ByteSource* disk, VolumeRecord volume, CheckTree& tree,
                             BrowserSinks sinks, int scanMode, std::string rootItemName)
    : disk_(disk), volume_(std::move(volume)), tree_(tree), sinks_(sinks), scanMode_(scanMode),
      rootItemName_(std::move(rootItemName)) {}

VolumeSession::~VolumeSession() = default;

EngineControl* VolumeSession::control() { return parser_ ? &parser_->control() : nullptr; }

void VolumeSession::takeAdvancedParser(std::shared_ptr<VolumeParser> parser, AdvancedChoice choice) {
    parser_ = std::move(parser);
    advancedChoice_ = std::move(choice);
    // The rebuild is a new run: a Stop meant for the candidate search does not end it.
    if (parser_) parser_->control().stopRequested.reset();
}

VolumeSession::Prepared VolumeSession::prepare() {
    const FileSystemDriver& driver = driverFor(volume_);
    const FileSystemKind kind = driver.kind;
    auto refuse = [this](Prepared why) {
        busy_ = false;
        return why;
    };
    if (kind == FileSystemKind::Unknown) {
        sinks_.messages.info(kUnknownVolume);
        return refuse(Prepared::UnknownVolume);
    }
    if (driver.listName[0] == '\0') {
        sinks_.status.setText(kNotValidStatus);
        sinks_.messages.info(kNotValidMessage);
        return refuse(Prepared::NotValid);
    }
    if (driver.selectedStatus) sinks_.status.setText(driver.selectedStatus);
    if (!driver.create) return refuse(Prepared::NotBuiltYet);
    if (!disk_) {
        sinks_.messages.info(kNoReader);
        return refuse(Prepared::NoReader);
    }
    // A volume the disk does not hold is refused here, by its numbers, before any parser runs.
    if (auto made = VolumeSlice::fromSectors(*disk_, volume_.startSector, volume_.sectorCount); !made) {
        sinks_.messages.info("The volume cannot be read: " + made.problem + ".");
        return refuse(Prepared::NotValid);
    } else if (!made.problem.empty()) {
        sinks_.status.setText("The volume is cut to the disk: " + made.problem + ".");
    }
    const ScanSinks scanSinks{&sinks_.status, &sinks_.progress, &sinks_.messages};
    if (parser_ && parser_->kind() == kind)
        parser_->attachSinks(scanSinks);
    else
        parser_ = driver.create(ParserSetup{*disk_, volume_, scanSinks, driveFormatted_});
    view_ = &parser_->view();
    browser_ = std::make_unique<VolumeBrowser>(tree_, *view_);
    saver_ = std::make_unique<EntrySaver>(*view_, sinks_, saveStopRequested_);
    saver_->pauseGate = &parser_->control().pauseGate;
    return Prepared::Ready;
}

void VolumeSession::run() {
    if (parser_) {
        // The Advanced rebuild starts from an empty tree: the page may re-parse with new choices.
        if (scanMode_ == kScanModeAdvanced) tree_.deleteAllItems();
        volumeItem_ = tree_.insertItem(rootItemName_, IconKind::Folder, kTreeTop);
        ScanRequest request;
        request.mode = scanMode_;
        request.tree = &tree_;
        request.volumeItem = volumeItem_;
        request.choice = advancedChoice_;
        const ScanOutcome outcome = parser_->scan(request);
        if (!outcome.rejected) {
            // The volume item stands for the root directory, so selecting it lists the root's
            // files and a folder save of it saves the whole volume.
            if (auto root = view_->rootEntry()) tree_.setItemData(volumeItem_, *root);
            commonEnd(outcome);
        }
    }
    busy_ = false;
}

void VolumeSession::commonEnd(const ScanOutcome& outcome) {
    // Every scan leaves what it found checked, whichever file system it read (Save Checked
    // then saves everything until the user unchecks some of it). Unchecked first, so that the
    // check reaches every item even when the volume item was checked before its children came.
    if (!tree_.getCheck(volumeItem_)) {
        tree_.setCheck(volumeItem_, false);
        tree_.setCheck(volumeItem_, true);
    }
    if (outcome.addPlaceholders) browser_->addPlaceholders();
    // Recycled files show and save under their former names.
    if (outcome.recycle == RecycleLayout::PerUserFolders)
        recycledNamesRestored_ =
            RecycleBinNames(tree_, volumeItem_, *view_, RecycleBinNames::Layout::PerUserFolders).restore();
    else if (outcome.recycle == RecycleLayout::Flat)
        recycledNamesRestored_ =
            RecycleBinNames(tree_, volumeItem_, *view_, RecycleBinNames::Layout::Flat).restore();
    if (afterPlaceholders) afterPlaceholders();
    for (const std::string& message : outcome.endMessages) sinks_.messages.info(message);
    sinks_.status.setText(outcome.endStatus.empty() ? kProcessingDone : outcome.endStatus);
}

bool VolumeSession::requestStop() {
    EngineControl* c = control();
    if (!c) return false;
    saveStopRequested_.raise();
    c->requestStop();
    return true;
}

EntrySearch::Result VolumeSession::search(const std::string& pattern, const EntrySearch::RowFn& onRow) {
    EngineControl* engine = control();
    if (!view_ || !engine) {
        sinks_.messages.infoNoCaption(kSearchFinished);
        return EntrySearch::Result::Finished;
    }
    EntrySearch searcher(tree_, volumeItem_, *view_, sinks_, *engine);
    return searcher.search(pattern, onRow);
}

} // namespace vindaru
