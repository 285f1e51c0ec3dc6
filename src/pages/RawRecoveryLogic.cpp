#include "pages/RawRecoveryLogic.h"

#include <algorithm>
#include <cctype>

#include "image/readWriteInterface.h"
#include "raw/DefaultSignatures.h"
#include "raw/FindSaver.h"
#include "raw/SignatureFile.h"

namespace vindaru {

namespace {
constexpr const char* kProcessingDone = "Processing done";
constexpr const char* kReadingAllocationMap = "Reading the allocation map of the volume...";
} // namespace

RawRecoveryLogic::RawRecoveryLogic(Session& session, VolumeRecord volume, CheckTree& tree,
                                   RawRecoverySinks sinks, std::string defaultPath)
    : session_(session), volume_(std::move(volume)), tree_(tree), sinks_(sinks),
      defaultPath_(std::move(defaultPath)) {}

std::string RawRecoveryLogic::defaultSignaturePathForPage() {
    return defaultSignaturePath();
}

std::uint64_t RawRecoveryLogic::volumeBytes() const {
    // The carve covers the volume's sectors, as many as the disk holds; a volume of no sectors
    // is the described zero-size volume.
    if (!session_.sessionReader) return volume_.byteLength();
    return std::min(volume_.byteLength(), volumeSlice(*session_.sessionReader, volume_).size());
}

void RawRecoveryLogic::loadDefaultSignatures(const std::string& path) {
    engine_ = std::make_shared<myJpg>();
    sinks_.status.setText("Processing.....");
    std::vector<signatureRecord> records;
    switch (readSignatureFile(path, false, records)) {
    case SignatureFileResult::NotOpened:
        return; // no default set: nothing to say
    case SignatureFileResult::Invalid:
        sinks_.messages.info(kSignatureFileInvalid);
        return;
    case SignatureFileResult::Loaded:
        break;
    }
    for (const signatureRecord& r : records) engine_->addSignature(r);
}

bool RawRecoveryLogic::loadSignatureFile(const std::string& path) {
    if (!engine_) engine_ = std::make_shared<myJpg>();
    sinks_.status.setText("Processing.....");
    std::vector<signatureRecord> records;
    switch (readSignatureFile(path, true, records)) {
    case SignatureFileResult::NotOpened:
        sinks_.messages.info(kSignatureFileNotOpened);
        return false;
    case SignatureFileResult::Invalid:
        sinks_.messages.info(kSignatureFileInvalid);
        return false;
    case SignatureFileResult::Loaded:
        break;
    }
    for (const signatureRecord& r : records) engine_->addSignature(r);
    return true;
}

RawRecoveryLogic::Prepared RawRecoveryLogic::prepare(bool loadDefaultItems, const std::string& pathBox) {
    const auto fail = [&](Prepared why) {
        sinks_.status.setText(kProcessingDone);
        return why;
    };
    if (loadDefaultItems) loadDefaultSignatures(defaultPath_);
    if (!pathBox.empty() && !loadSignatureFile(pathBox)) return fail(Prepared::LoadFailed);
    if (!engine_) engine_ = std::make_shared<myJpg>();
    const std::uint64_t bytes = volumeBytes();
    if (bytes == 0) {
        sinks_.messages.infoNoCaption("zero size volume..");
        return fail(Prepared::ZeroSize);
    }
    if (session_.imageSourcePage == kImageSourceRecorded && reopenReader && !reopenReader(session_))
        return fail(Prepared::NoReader);
    if (!session_.sessionReader) return fail(Prepared::NoReader);
    // Carving positions count from the volume's first byte.
    slice_ = volumeSlice(*session_.sessionReader, volume_);
    // A Stop of the engine's previous run must not end this one.
    engine_->control().stopRequested.reset();
    engine_->control().pauseGate.resume();
    engine_->attach(&*slice_, bytes, &tree_, &sinks_.progress, &sinks_.messages);
    carving_ = true;
    return Prepared::Ready;
}

RawRecoveryLogic::Carve RawRecoveryLogic::carve() {
    std::shared_ptr<myJpg> engine = engine_;
    UsedRanges used;
    if (usedSpace) {
        sinks_.status.setText(kReadingAllocationMap);
        UsedSpace space = usedSpace(*session_.sessionReader, volume_);
        if (!space.ranges) {
            carving_ = false;
            sinks_.messages.info(space.message);
            sinks_.status.setText(kProcessingDone);
            return Carve::FreeSpaceUnknown;
        }
        used = std::move(*space.ranges);
    }
    // An engine kept from an earlier Parse carves the whole volume unless told otherwise.
    engine->setUsedRanges(std::move(used));
    const bool carved = engine->carveVolume();
    if (carved) runs_.push_back(Run{engine, engine->rootItem()});
    carving_ = false;
    sinks_.status.setText(kProcessingDone);
    return carved ? Carve::Carved : Carve::EngineFailed;
}

void RawRecoveryLogic::pause() {
    if (engine_) engine_->control().pauseGate.pause();
    sinks_.status.setText("Pause button pressed");
}

void RawRecoveryLogic::resume() {
    if (engine_) engine_->control().pauseGate.resume();
    sinks_.status.setText("Resume button pressed");
}

void RawRecoveryLogic::stop() {
    if (engine_) engine_->control().requestStop();
    sinks_.status.setText("Stop button pressed.Please wait for the process to stop");
}

std::vector<RawRecoveryLogic::ListedFind> RawRecoveryLogic::listFor(TreeItemId item) const {
    std::vector<ListedFind> rows;
    for (const TreeItemId child : tree_.children(item)) {
        const std::optional<CheckTreeItemView> v = tree_.item(child);
        if (!v || v->icon == IconKind::Folder) continue;
        ListedFind row{v->label, child};
        if (const myJpg::FoundFile* find = findOf(child)) {
            row.size = find->size;
            row.state = find->state;
        }
        rows.push_back(row);
    }
    return rows;
}

const myJpg::FoundFile* RawRecoveryLogic::findOf(TreeItemId item) const {
    if (carving_) return nullptr;
    const TreeItemId root = tree_.parentOf(tree_.parentOf(item));
    const std::optional<std::uint64_t> index = tree_.getItemData(item);
    const auto in = [&](const myJpg& engine) -> const myJpg::FoundFile* {
        const auto& found = engine.foundFiles();
        return index && *index < found.size() && found[*index].item == item ? &found[*index] : nullptr;
    };
    for (const Run& run : runs_)
        if (run.root == root) return in(*run.engine);
    return nullptr;
}

std::uint64_t RawRecoveryLogic::bytesOf(const std::vector<CheckedFind>& finds) {
    std::uint64_t total = 0;
    for (const CheckedFind& f : finds) total += f.find.size;
    return total;
}

std::vector<RawRecoveryLogic::CheckedFind> RawRecoveryLogic::checkedFinds() const {
    std::vector<CheckedFind> finds;
    for (const Run& run : runs_) {
        for (const TreeItemId category : tree_.children(run.root)) {
            for (const TreeItemId item : tree_.children(category)) {
                if (!tree_.getCheck(item)) continue;
                const std::optional<std::uint64_t> index = tree_.getItemData(item);
                const auto& found = run.engine->foundFiles();
                if (index && *index < found.size()) finds.push_back(CheckedFind{run.engine, found[*index]});
            }
        }
    }
    return finds;
}

RawRecoveryLogic::SaveResult RawRecoveryLogic::saveChecked(const std::filesystem::path& folder,
                                                           const std::vector<CheckedFind>& finds) {
    SaveResult result;
    std::optional<FindSaver> saver = FindSaver::open(folder);
    if (!saver || !session_.sessionReader) return result;
    result.folderOpened = true;
    const VolumeSlice reader = volumeSlice(*session_.sessionReader, volume_);
    for (const CheckedFind& f : finds) {
        const std::string base = FindSaver::baseName(f.find.namedAfter, f.engine->extensionOf(f.find));
        const std::string name = saver->save(reader, f.find.start, f.find.size, base);
        if (name.empty()) ++result.failed;
        result.names.push_back(name);
    }
    return result;
}

} // namespace vindaru
