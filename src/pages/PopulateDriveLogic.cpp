#include "pages/PopulateDriveLogic.h"

#include <cctype>

#include "common/ByteLoader.h"
#include "common/DisplayFormat.h"
#include "common/TextConvert.h"
#include "volume/FileSystemDriver.h"
#include "volume/VolumeTypeNames.h"

namespace vindaru {

namespace {

constexpr std::int64_t kProgressEnd = 1000;
constexpr std::uint64_t kSectorsPerMb = 2048;

// The number an edit or a column text starts with, read the way "%lld" reads it; a negative
// or missing number is 0.
std::uint64_t leadingNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && text[i] == '+') ++i;
    std::uint64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
        value = value * 10 + digit;
    }
    return value;
}

// "Volume Size" without its "MB" and the blanks around what is left.
std::string sizeWithoutUnit(std::string text) {
    if (const auto at = text.find("MB"); at != std::string::npos) text.erase(at, 2);
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string numberText(std::uint64_t value) { return std::to_string(value); }

VolumeRow rowTexts(const VolumeRecord& record) {
    return {record.volumeName, record.fileSystemName, record.sizeText, numberText(record.startSector),
            record.sectorCount};
}

} // namespace

PopulateDriveLogic::PopulateDriveLogic(Session& session, Choices choices, StatusSink& status,
                                       ProgressSink& progress, MessageSink& messages)
    : session_(session), choices_(std::move(choices)), status_(status), progress_(progress),
      messages_(messages) {}

PopulateDriveLogic::~PopulateDriveLogic() {
    if (worker_.joinable()) {
        if (discovery_) discovery_->requestStop();
        worker_.join();
    }
}

void PopulateDriveLogic::start() {
    {
        std::lock_guard lock(mutex_);
        controls_.customCheckEnabled = false;
        controls_.addCustomEnabled = false;
        controls_.customControlsEnabled = false;
    }
    if (advanced()) {
        startAdvancedScan();
        return;
    }
    progress_.setRange(0, kProgressEnd);
    runStandardDiscovery();
    progress_.setPosition(kProgressEnd);
}

// A new reader replaces the old one when the image page recorded an image kind; then it is
// opened on the image.
PopulateDriveLogic::ReaderState PopulateDriveLogic::prepareReader() {
    if (session_.imageSourcePage == kImageSourceRecorded && choices_.makeReader) {
        // The VMDK readers add their extents to the disk size while opening.
        if (session_.sessionReader) session_.diskSectorCount = 0;
        session_.clearReader();
        session_.replaceReader(choices_.makeReader(session_));
    }
    if (!session_.sessionReader) return ReaderState::Missing;
    if (!choices_.openReader) return ReaderState::Ready;
    if (!openSessionReader(session_, choices_.imagePath)) return ReaderState::NotOpened;
    return ReaderState::Ready;
}

bool PopulateDriveLogic::runStandardDiscovery() {
    {
        std::lock_guard lock(mutex_);
        controls_.addCustomVisible = false;
    }
    discovery_.reset();
    const ReaderState state = prepareReader();
    if (state == ReaderState::Missing) {
        {
            std::lock_guard lock(mutex_);
            controls_.progressVisible = false;
        }
        messages_.infoNoCaption("Information lost ..go back and parse again");
        return false;
    }
    discovery_ = std::make_unique<VolumeDiscovery>(*session_.sessionReader, choices_.fileSystems, status_,
                                                   progress_, messages_);
    if (state == ReaderState::NotOpened) {
        messages_.show(Message{"file not opened..", true, MessageIcon::Information, MessageButtons::YesNo});
    } else {
        {
            std::lock_guard lock(mutex_);
            rows_.clear();
            copies_.clear();
            volumeList_.clear();
        }
        std::vector<VolumeRecord> volumes = discovery_->readPartitionTables(choices_.gptMode);
        std::lock_guard lock(mutex_);
        volumeList_ = std::move(volumes);
        showListLocked();
    }
    {
        std::lock_guard lock(mutex_);
        controls_.filterEnabled = true;
        controls_.progressVisible = false;
        controls_.stopVisible = false;
    }
    discovery_->reportEnd(false);
    return state == ReaderState::Ready;
}

// The standard discovery's list, in its order.
void PopulateDriveLogic::showListLocked() {
    rows_.clear();
    unfilteredRows_.reset();
    for (std::size_t i = 0; i < volumeList_.size(); ++i)
        rows_.push_back(Row{rowTexts(volumeList_[i]), RecordRef{false, i}, {}});
    if (!volumeList_.empty()) controls_.customCheckEnabled = true;
}

bool PopulateDriveLogic::startAdvancedScan() {
    if (worker_.joinable()) return false; // one scan at a time
    {
        std::lock_guard lock(mutex_);
        controls_.addCustomEnabled = false;
        controls_.nextEnabled = false;
    }
    discovery_.reset();
    const ReaderState state = prepareReader();
    if (state != ReaderState::Ready) {
        {
            std::lock_guard lock(mutex_);
            controls_.nextEnabled = true;
        }
        messages_.info("file not opened..");
        return false;
    }
    discovery_ = std::make_unique<VolumeDiscovery>(*session_.sessionReader, choices_.fileSystems, status_,
                                                   progress_, messages_);
    const VolumeDiscovery::ScanRange range{!choices_.doNotSkipVolumeSize, choices_.customStartSector,
                                           choices_.customEndSector, session_.diskSectorCount};
    {
        std::lock_guard lock(mutex_);
        rows_.clear();
        unfilteredRows_.reset();
        copies_.clear();
        volumeList_.clear();
        controls_.filterEnabled = false;
        controls_.backEnabled = false;
    }
    scanStarted_ = true;
    worker_ = std::thread([this, range] { scanWorker(range); });
    return true;
}

void PopulateDriveLogic::scanWorker(VolumeDiscovery::ScanRange range) {
    discovery_->scan(range, [this](const VolumeRecord& record) {
        {
            std::lock_guard lock(mutex_);
            volumeList_.push_back(record);
            copies_.push_back(record);
            // The newest volume is shown first.
            rows_.insert(rows_.begin(), Row{rowTexts(record), RecordRef{true, copies_.size() - 1}, {}});
        }
        if (onRowsChanged) onRowsChanged();
    });
    if (onScanFinished) onScanFinished();
}

void PopulateDriveLogic::finishAdvancedScan() {
    if (!scanStarted_) return;
    if (worker_.joinable()) worker_.join();
    scanStarted_ = false;
    discovery_->reportEnd(true);
    discovery_.reset();
    {
        std::lock_guard lock(mutex_);
        if (!volumeList_.empty()) controls_.customCheckEnabled = true;
        controls_.addCustomEnabled = true;
        controls_.nextEnabled = true;
        controls_.filterEnabled = true;
        controls_.progressVisible = false;
        controls_.stopVisible = false;
        controls_.backEnabled = true;
    }
}

bool PopulateDriveLogic::scanRunning() const { return scanStarted_; }

void PopulateDriveLogic::stop() {
    if (discovery_) discovery_->requestStop();
    std::lock_guard lock(mutex_);
    controls_.backEnabled = true;
}

std::vector<VolumeRow> PopulateDriveLogic::rows() const {
    std::lock_guard lock(mutex_);
    std::vector<VolumeRow> out;
    out.reserve(rows_.size());
    for (const Row& row : rows_) out.push_back(row.texts);
    return out;
}

std::vector<VolumeRecord> PopulateDriveLogic::volumeList() const {
    std::lock_guard lock(mutex_);
    return volumeList_;
}

PopulateDriveControls PopulateDriveLogic::controls() const {
    std::lock_guard lock(mutex_);
    return controls_;
}

VolumeRecord& PopulateDriveLogic::recordLocked(const RecordRef& ref) {
    return ref.copy ? copies_.at(ref.index) : volumeList_.at(ref.index);
}

std::optional<VolumeRecord> PopulateDriveLogic::recordOfRow(std::size_t row) const {
    std::lock_guard lock(mutex_);
    if (row >= rows_.size()) return std::nullopt;
    const RecordRef& ref = rows_[row].ref;
    return ref.copy ? copies_.at(ref.index) : volumeList_.at(ref.index);
}

// A row for record `listIndex` of volumeList: in advanced mode the row gets its own copy.
PopulateDriveLogic::Row PopulateDriveLogic::makeRowLocked(std::size_t listIndex, const VolumeRecord& record) {
    if (!advanced()) return Row{rowTexts(record), RecordRef{false, listIndex}, {}};
    copies_.push_back(record);
    return Row{rowTexts(record), RecordRef{true, copies_.size() - 1}, {}};
}

std::optional<RowSelection> PopulateDriveLogic::selectRow(std::size_t row) const {
    std::lock_guard lock(mutex_);
    if (row >= rows_.size()) return std::nullopt;
    const VolumeRow& texts = rows_[row].texts;
    const RecordRef& ref = rows_[row].ref;
    const VolumeRecord& record = ref.copy ? copies_.at(ref.index) : volumeList_.at(ref.index);
    const std::uint64_t start = record.startSector;
    // The volume's last sector from its sector count; from the whole MB shown when discovery
    // learnt no count.
    std::uint64_t sectors = record.sectorCount;
    if (sectors == 0 && !checkedMul(leadingNumber(texts.volumeSize), kSectorsPerMb, sectors)) sectors = UINT64_MAX;
    std::uint64_t end = 0;
    if (sectors > 0) end = checkedAdd(sectors, start, end) ? end - 1 : UINT64_MAX;
    return RowSelection{texts.volume, texts.startSector, numberText(end)};
}

std::optional<std::size_t> PopulateDriveLogic::treatAsForRow(std::size_t row) const {
    std::lock_guard lock(mutex_);
    if (row >= rows_.size()) return std::nullopt;
    const std::string prefix = asciiLower(rows_[row].texts.fileSystem);
    const std::vector<std::string> choices = treatAsChoices(choices_.fileSystems);
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (asciiLower(choices[i]).rfind(prefix, 0) == 0) return i;
    return std::nullopt;
}

void PopulateDriveLogic::setCustomChecked(bool checked) {
    std::lock_guard lock(mutex_);
    controls_.customChecked = checked;
    controls_.customControlsEnabled = checked;
}

std::string PopulateDriveLogic::stepEdit(const std::string& text, bool up) {
    std::uint64_t value = leadingNumber(text);
    if (up && value < UINT64_MAX) ++value;
    if (!up && value > 0) --value;
    return numberText(value);
}

bool PopulateDriveLogic::filterEntries() {
    std::lock_guard lock(mutex_);
    // Rows are built aside: a filter that keeps nothing leaves the list as it was, and the
    // rows before the filter stay at hand for showAllEntries.
    std::vector<Row> kept;
    for (std::size_t i = 1; i < volumeList_.size(); ++i) {
        if (volumeList_[i].startSector != volumeList_[i - 1].startSector + 1) continue;
        volumeList_[i].volumeName = std::to_string(i);
        kept.insert(kept.begin(), makeRowLocked(i, volumeList_[i]));
    }
    if (kept.empty()) return false;
    unfilteredRows_ = std::move(rows_);
    rows_ = std::move(kept);
    return true;
}

bool PopulateDriveLogic::showAllEntries() {
    std::lock_guard lock(mutex_);
    if (!unfilteredRows_) return false;
    rows_ = std::move(*unfilteredRows_);
    unfilteredRows_.reset();
    return true;
}

bool PopulateDriveLogic::filtered() const {
    std::lock_guard lock(mutex_);
    return unfilteredRows_.has_value();
}

std::size_t PopulateDriveLogic::addCustomVolume() {
    std::lock_guard lock(mutex_);
    const std::size_t n = volumeList_.size();
    VolumeRecord record;
    record.volumeName = std::to_string(n);
    record.fileSystemName = "CUSTOM ";
    record.startSector = 0;
    record.sizeText = "0";
    controls_.customChecked = true;
    controls_.customControlsEnabled = true;
    controls_.nextEnabled = true;
    volumeList_.push_back(record);
    const std::size_t at = std::min(n, rows_.size());
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at), makeRowLocked(n, record));
    return at;
}

NextResult PopulateDriveLogic::next(const NextInput& input) {
    std::unique_lock lock(mutex_);
    if (!input.selectedRow || *input.selectedRow >= rows_.size()) {
        lock.unlock();
        messages_.info("please select a valid volume.");
        return {};
    }
    Row& row = rows_[*input.selectedRow];
    VolumeRecord& record = recordLocked(row.ref);
    // Custom settings applied earlier and now switched off: the row's own record counts again,
    // with its size text as the row shows it, without the unit.
    if (!input.customChecked && customApplied_ && row.beforeCustom) {
        record = *row.beforeCustom;
        record.sizeText = sizeWithoutUnit(row.texts.volumeSize);
    }
    const FileSystemDriver* treatAs = findFileSystem(choices_.fileSystems, input.treatAs);
    const bool raw = input.customChecked && treatAs && treatAs->kind == FileSystemKind::Raw;
    if (input.customChecked) {
        customApplied_ = true;
        if (!row.beforeCustom) row.beforeCustom = record;
        record.startSector = leadingNumber(input.startEdit);
        const std::uint64_t end = leadingNumber(input.endEdit);
        // Sectors start..end inclusive; an end of the largest number holds one sector fewer
        // than wrapping would give.
        record.sectorCount = end <= record.startSector ? 0 : std::max<std::uint64_t>(end - record.startSector + 1, end - record.startSector);
        const std::uint64_t span = end - record.startSector;
        record.sizeText = end > record.startSector ? numberText(span / kSectorsPerMb + (span % kSectorsPerMb == kSectorsPerMb - 1))
                                                   : "0";
        if (!input.treatAs.empty() && !raw)
            if (auto name = treatAsFileSystemName(choices_.fileSystems, input.treatAs)) record.fileSystemName = *name;
    }
    NextResult result;
    if (raw) {
        record.fileSystemName = "RAW";
        result.action = NextAction::RawRecovery;
    } else if (const FileSystemDriver* row = findFileSystem(choices_.fileSystems, record.fileSystemName);
               !row || row->kind != FileSystemKind::Unknown) {
        result.action = NextAction::RecoveryMode;
    }
    result.selectedRecord = record;
    lock.unlock();
    if (result.action == NextAction::Stay) {
        messages_.infoNoCaption("can not parse unknown volume");
        return result;
    }
    if (!worker_.joinable()) discovery_.reset();
    return result;
}

} // namespace vindaru
