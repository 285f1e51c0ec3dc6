// The raw recovery page without its window: loading the signature settings, running the carving
// engine over the selected volume, listing a category's finds, and saving the checked finds.
// Every Parse keeps its engine, so finds of earlier runs can still be saved.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/CheckTree.h"
#include "common/Session.h"
#include "common/Sinks.h"
#include "common/UsedRanges.h"
#include "raw/myJpg.h"
#include "volume/VolumeBytes.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

struct RawRecoverySinks {
    StatusSink& status;
    ProgressSink& progress;
    MessageSink& messages;
};

class RawRecoveryLogic {
public:
    RawRecoveryLogic(Session& session, VolumeRecord volume, CheckTree& tree, RawRecoverySinks sinks,
                     std::string defaultPath = defaultSignaturePathForPage());

    static std::string defaultSignaturePathForPage();
    const std::string& defaultPath() const { return defaultPath_; }

    // Makes a fresh session reader for the image when the image page recorded one (set by the
    // page; the CLI keeps the reader it opened). False when no reader could be made.
    std::function<bool(Session&)> reopenReader;

    enum class Prepared { Ready, LoadFailed, ZeroSize, NoReader };
    // Parse, up to the worker: load the settings (the default file first when asked), check the
    // volume's size, hand the engine its reader. After anything but Ready the status is
    // "Processing done".
    Prepared prepare(bool loadDefaultItems, const std::string& pathBox);
    // Free space only: when set, the carve first asks it which ranges of the volume live files
    // use (the browser's usedSpaceOf) and looks for starts only outside them; empty: the whole
    // volume.
    std::function<UsedSpace(const ByteSource& disk, const VolumeRecord& volume)> usedSpace;

    // On the worker: the carving, then "Processing done". Anything but Carved means nothing was
    // carved: the free space could not be told (the user is told why) or the engine could not run.
    enum class Carve { Carved, FreeSpaceUnknown, EngineFailed };
    Carve carve();

    void pause();
    void resume();
    void stop();

    // The loaders, on the current engine.
    void loadDefaultSignatures(const std::string& path);
    bool loadSignatureFile(const std::string& path);

    struct ListedFind {
        std::string text;
        TreeItemId item = kNoTreeItem;
        std::uint64_t size = 0;
        FindState state = FindState::Partial;
    };
    // The clicked item's children that are not folders (a category's finds).
    std::vector<ListedFind> listFor(TreeItemId item) const;

    struct CheckedFind {
        std::shared_ptr<myJpg> engine;
        myJpg::FoundFile find;
    };
    std::vector<CheckedFind> checkedFinds() const;
    // What saving `finds` writes, told before it starts.
    static std::uint64_t bytesOf(const std::vector<CheckedFind>& finds);

    struct SaveResult {
        bool folderOpened = false;
        std::vector<std::string> names; // per find, in order; empty when it was not written
        std::size_t failed = 0;
        std::size_t written() const { return names.size() - failed; }
    };
    // Writes every checked find into `folder` (on the worker; the engines must be idle).
    SaveResult saveChecked(const std::filesystem::path& folder, const std::vector<CheckedFind>& finds);

    std::shared_ptr<myJpg> engine() const { return engine_; }
    const VolumeRecord& volume() const { return volume_; }
    std::uint64_t volumeBytes() const;

private:
    // The find a category's child item stands for, in the run that found it.
    const myJpg::FoundFile* findOf(TreeItemId item) const;
    struct Run {
        std::shared_ptr<myJpg> engine;
        TreeItemId root = kNoTreeItem;
    };
    Session& session_;
    VolumeRecord volume_;
    // The volume's bytes the engine carves, made when the carve is prepared.
    std::optional<VolumeSlice> slice_;
    CheckTree& tree_;
    RawRecoverySinks sinks_;
    std::string defaultPath_;
    std::shared_ptr<myJpg> engine_;
    std::vector<Run> runs_;
    // From a Parse's start (on the UI thread) to the end of its carve (on the worker): the
    // engines' lists of finds may grow, so the list shows no sizes meanwhile.
    std::atomic<bool> carving_{false};
};

} // namespace vindaru
