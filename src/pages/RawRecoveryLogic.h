// The raw recovery page without its window: the carve of the selected volume (raw/VolumeCarve)
// with the page's settings choices, Pause, Resume and Stop, a category's finds as the list shows
// them, and the saving of the checked finds. Every Parse keeps its engine, so finds of earlier
// runs can still be saved.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/CheckTree.h"
#include "common/Session.h"
#include "common/Sinks.h"
#include "raw/VolumeCarve.h"
#include "raw/myJpg.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

using RawRecoverySinks = CarveSinks;

class RawRecoveryLogic {
public:
    RawRecoveryLogic(Session& session, VolumeRecord volume, CheckTree& tree, RawRecoverySinks sinks,
                     std::string defaultPath = defaultSignaturePathForPage());

    static std::string defaultSignaturePathForPage();
    const std::string& defaultPath() const { return defaultPath_; }

    // Makes a fresh session reader for the image when the image page recorded one. False when
    // no reader could be made.
    std::function<bool(Session&)> reopenReader;

    enum class Prepared { Ready, LoadFailed, ZeroSize, NoReader };
    // Parse, up to the worker: load the settings (the default file first when asked), check the
    // volume's size, hand the engine its reader. After anything but Ready the status is
    // "Processing done".
    Prepared prepare(bool loadDefaultItems, const std::string& pathBox);
    // Free space only: see VolumeCarve::usedSpace.
    std::function<UsedSpace(const ByteSource& disk, const VolumeRecord& volume)> usedSpace;

    // On the worker: the carving, then "Processing done". Anything but Carved means nothing was
    // carved: the free space could not be told (the user is told why) or the engine could not run.
    using Carve = VolumeCarve::Carve;
    Carve carve();

    void pause();
    void resume();
    void stop();

    // The loaders, on the current engine.
    void loadDefaultSignatures(const std::string& path) { carve_.loadDefaultSignatures(path); }
    bool loadSignatureFile(const std::string& path) { return carve_.loadSignatureFile(path); }

    struct ListedFind {
        std::string text;
        TreeItemId item = kNoTreeItem;
        std::uint64_t size = 0;
        FindState state = FindState::Partial;
    };
    // The clicked item's children that are not folders (a category's finds).
    std::vector<ListedFind> listFor(TreeItemId item) const;

    using CheckedFind = VolumeCarve::Find;
    std::vector<CheckedFind> checkedFinds() const;
    // What saving `finds` writes, told before it starts.
    static std::uint64_t bytesOf(const std::vector<CheckedFind>& finds) { return VolumeCarve::bytesOf(finds); }

    using SaveResult = VolumeCarve::SaveResult;
    // Writes every checked find into `folder` (on the worker; the engines must be idle).
    SaveResult saveChecked(const std::filesystem::path& folder, const std::vector<CheckedFind>& finds) {
        return carve_.save(folder, finds);
    }

    std::shared_ptr<myJpg> engine() const { return carve_.engine(); }
    const VolumeRecord& volume() const { return carve_.volume(); }
    std::uint64_t volumeBytes() const { return carve_.volumeBytes(); }

private:
    // The find a category's child item stands for, in the run that found it.
    const myJpg::FoundFile* findOf(TreeItemId item) const;
    struct Run {
        std::shared_ptr<myJpg> engine;
        TreeItemId root = kNoTreeItem;
    };
    VolumeCarve carve_;
    CheckTree& tree_;
    RawRecoverySinks sinks_;
    std::string defaultPath_;
    std::vector<Run> runs_;
    // From a Parse's start (on the UI thread) to the end of its carve (on the worker): the
    // engines' lists of finds may grow, so the list shows no sizes meanwhile.
    std::atomic<bool> carving_{false};
};

} // namespace vindaru
