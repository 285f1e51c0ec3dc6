// One volume scanned and browsed: the parser for the volume's file system made from the driver
// table over the volume's slice of the disk, the scan in the chosen mode, the common end every
// scan has (what was found checked, the placeholders, the recycle bin's former names, the end
// message and status), and afterwards the tree, the list, saving and the name search through one
// entry view. The scan page (pages/VolumeScanLogic) and `vindaru-cli ls/save/search` both run
// it; the page adds its buttons' texts.
//
// Threads: run() on one worker; control() and requestStop() from any thread at any time; the
// browsing and saving calls after run() has returned (busy() false).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "browser/BrowserSinks.h"
#include "browser/EntrySaver.h"
#include "browser/EntrySearch.h"
#include "browser/VolumeBrowser.h"
#include "common/CheckTree.h"
#include "common/StopControl.h"
#include "fs/parser/EntryView.h"
#include "fs/parser/VolumeParser.h"
#include "image/ByteSource.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

class VolumeSession {
public:
    enum class Prepared {
        Ready,         // a parser exists; call run()
        NoReader,      // "Please Restart the program to rebegin necessary initialisation..."
        UnknownVolume, // "unKnown Partition Cant be parsed..."
        NotValid,      // "not a valid drive.", or a volume the disk does not hold
        NotBuiltYet    // a file system whose parser is not in this build
    };

    // `disk` may be null (the session has none); it must outlive this object.
    VolumeSession(const ByteSource* disk, VolumeRecord volume, CheckTree& tree, BrowserSinks sinks,
                  int scanMode = kScanModeStandard, std::string rootItemName = "ROOT");
    ~VolumeSession();
    VolumeSession(const VolumeSession&) = delete;
    VolumeSession& operator=(const VolumeSession&) = delete;

    // Advanced mode: the candidate search's parser and the choice; call before prepare().
    void takeAdvancedParser(std::shared_ptr<VolumeParser> parser, AdvancedChoice choice);
    // "Is Drive Formated..?", for the parser prepare() creates.
    void setDriveFormatted(bool formatted) { driveFormatted_ = formatted; }

    // Picks the parser by the volume's file-system kind and reports refusals through the sinks.
    // busy() stays true only when Ready.
    Prepared prepare();
    // The scan in the chosen mode, ending with the common end. Returns when done or stopped.
    void run();

    // The save's stop flag, then the parser's (which also lets a paused save go on, so that it
    // sees the stop at once). False when there is no parser to stop.
    bool requestStop();

    bool busy() const { return busy_.load(); }
    int scanMode() const { return scanMode_; }
    TreeItemId volumeItem() const { return volumeItem_; }
    // Non-null after a successful prepare().
    EntryView* view() { return view_; }
    VolumeBrowser* browser() { return browser_.get(); }
    EntrySaver* saver() { return saver_.get(); }
    VolumeParser* parser() { return parser_.get(); }
    EngineControl* control();
    StopFlag& saveStopRequested() { return saveStopRequested_; }

    // The name search (after run()): rows as they are found go to `onRow`.
    EntrySearch::Result search(const std::string& pattern, const EntrySearch::RowFn& onRow = {});
    // Entries given back their names from the recycle bin's index files by the last scan.
    std::uint64_t recycledNamesRestored() const { return recycledNamesRestored_; }

    // Runs after the placeholders and the recycle-bin names, before the end message.
    std::function<void()> afterPlaceholders;

private:
    void commonEnd(const ScanOutcome& outcome);

    const ByteSource* disk_;
    VolumeRecord volume_;
    CheckTree& tree_;
    BrowserSinks sinks_;
    int scanMode_;
    std::string rootItemName_;
    TreeItemId volumeItem_ = kNoTreeItem;
    std::atomic<bool> busy_{true};
    StopFlag saveStopRequested_;
    std::uint64_t recycledNamesRestored_ = 0;
    bool driveFormatted_ = false;
    std::shared_ptr<VolumeParser> parser_; // shared with the candidate search in Advanced mode
    AdvancedChoice advancedChoice_;
    EntryView* view_ = nullptr;
    std::unique_ptr<VolumeBrowser> browser_;
    std::unique_ptr<EntrySaver> saver_;
};

} // namespace vindaru
