#include "pages/RawRecoveryLogic.h"

#include "raw/DefaultSignatures.h"

namespace vindaru {

RawRecoveryLogic::RawRecoveryLogic(Session& session, VolumeRecord volume, CheckTree& tree,
                                   RawRecoverySinks sinks, std::string defaultPath)
    : carve_(session, std::move(volume), tree, sinks), tree_(tree), sinks_(sinks),
      defaultPath_(std::move(defaultPath)) {
    carve_.onCarveEnd = [this](Carve outcome) {
        if (outcome == Carve::Carved) runs_.push_back(Run{carve_.engine(), carve_.engine()->rootItem()});
        carving_ = false;
    };
}

std::string RawRecoveryLogic::defaultSignaturePathForPage() {
    return defaultSignaturePath();
}

RawRecoveryLogic::Prepared RawRecoveryLogic::prepare(bool loadDefaultItems, const std::string& pathBox) {
    if (loadDefaultItems) carve_.loadDefaultSignatures(defaultPath_);
    if (!pathBox.empty() && !carve_.loadSignatureFile(pathBox)) {
        sinks_.status.setText(kCarveProcessingDone);
        return Prepared::LoadFailed;
    }
    carve_.reopenReader = reopenReader;
    switch (carve_.prepare()) {
    case VolumeCarve::Prepared::Ready:
        break;
    case VolumeCarve::Prepared::ZeroSize:
        return Prepared::ZeroSize;
    case VolumeCarve::Prepared::NoReader:
        return Prepared::NoReader;
    }
    carving_ = true;
    return Prepared::Ready;
}

RawRecoveryLogic::Carve RawRecoveryLogic::carve() {
    carve_.usedSpace = usedSpace;
    return carve_.carve();
}

void RawRecoveryLogic::pause() {
    if (const auto engine = carve_.engine()) engine->control().pauseGate.pause();
    sinks_.status.setText("Pause button pressed");
}

void RawRecoveryLogic::resume() {
    if (const auto engine = carve_.engine()) engine->control().pauseGate.resume();
    sinks_.status.setText("Resume button pressed");
}

void RawRecoveryLogic::stop() {
    if (const auto engine = carve_.engine()) engine->control().requestStop();
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

} // namespace vindaru
