// The scan page's engine side, free of widgets: it creates the parser for the chosen volume,
// runs the scan procedure (on whatever thread calls run(), normally the page's worker), ends
// it with the placeholders and the end message, and afterwards serves the tree, the list and
// saving through one entry view. The wizard's VolumeScanDlg and `vindaru-cli ls/save` both
// drive it.
//
// Threads: run() on one worker; pause(), resume(), requestStop() from the UI thread at any
// time; the browsing and saving calls after run() has returned (busy() false).
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
#include "image/readWriteInterface.h"
#include "pages/AdvanceOptionsLogic.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

class VolumeScanLogic {
public:
    enum class Prepared {
        Ready,         // a parser exists; call run()
        NoReader,      // "Please Restart the program to rebegin necessary initialisation..."
        UnknownVolume, // "unKnown Partition Cant be parsed..."
        NotValid,      // "not a valid drive."
        NotBuiltYet    // a file system whose parser is not in this build
    };

    // `reader` may be null (the session has none); it must outlive this object.
    VolumeScanLogic(readWriteInterface* reader, VolumeRecord volume, CheckTree& tree,
                    BrowserSinks sinks, int scanMode = kScanModeStandard,
                    std::string rootItemName = "ROOT");
    ~VolumeScanLogic();
    VolumeScanLogic(const VolumeScanLogic&) = delete;
    VolumeScanLogic& operator=(const VolumeScanLogic&) = delete;

    // Advanced mode: the advance options page's parser and choices; call before prepare().
    void takeAdvancedParser(std::shared_ptr<VolumeParser> parser, AdvancedChoice choice);
    // Whatever the session values the parser is created with ("Is Drive Formated..?").
    void setDriveFormatted(bool formatted) { driveFormatted_ = formatted; }

    // Page start: picks the parser by the volume's file-system kind and reports refusals
    // through the sinks. busy() stays true only when Ready.
    Prepared prepare();
    // The scan thread's procedure, ending with the common end. Returns when done or stopped.
    void run();

    // Thread controls of the page.
    void pause();
    void resume();
    void requestStop();
    // The exit path: stop flags set, "All thread Stopped".
    void stopAll();

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

    // The search button's worker procedure (after run()): rows as they are found go to `onRow`.
    EntrySearch::Result search(const std::string& pattern, const EntrySearch::RowFn& onRow = {});
    // Entries given back their names from the recycle bin's index files by the last scan.
    std::uint64_t recycledNamesRestored() const { return recycledNamesRestored_; }

    // Runs after the placeholders and the recycle-bin names, before the end message.
    std::function<void()> afterPlaceholders;

private:
    void commonEnd(const ScanOutcome& outcome);
    void insertVolumeItem();

    readWriteInterface* reader_;
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
    std::shared_ptr<VolumeParser> parser_; // shared with the advance options page in Advanced mode
    AdvancedChoice advancedChoice_;
    EntryView* view_ = nullptr;
    std::unique_ptr<VolumeBrowser> browser_;
    std::unique_ptr<EntrySaver> saver_;
};

} // namespace vindaru
