// The scan page without its window: the volume session (browser/VolumeSession) that creates the
// parser, scans and serves the tree, the list and saving, with the page's Pause, Resume and Stop
// and the status texts they show. The wizard's VolumeScanDlg drives it.
//
// Threads: run() on one worker; pause(), resume(), requestStop() from the UI thread at any
// time; the browsing and saving calls after run() has returned (busy() false).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "browser/VolumeSession.h"

namespace vindaru {

class VolumeScanLogic {
public:
    using Prepared = VolumeSession::Prepared;

    // `reader` may be null (the session has none); it must outlive this object.
    VolumeScanLogic(const ByteSource* reader, VolumeRecord volume, CheckTree& tree,
                    BrowserSinks sinks, int scanMode = kScanModeStandard,
                    std::string rootItemName = "ROOT");
    VolumeScanLogic(const VolumeScanLogic&) = delete;
    VolumeScanLogic& operator=(const VolumeScanLogic&) = delete;

    // Advanced mode: the advance options page's parser and choices; call before prepare().
    void takeAdvancedParser(std::shared_ptr<VolumeParser> parser, AdvancedChoice choice) {
        session_.takeAdvancedParser(std::move(parser), std::move(choice));
    }
    // Whatever the session values the parser is created with ("Is Drive Formated..?").
    void setDriveFormatted(bool formatted) { session_.setDriveFormatted(formatted); }

    // Page start: picks the parser by the volume's file-system kind and reports refusals
    // through the sinks. busy() stays true only when Ready.
    Prepared prepare() { return session_.prepare(); }
    // The scan thread's procedure, ending with the common end. Returns when done or stopped.
    void run() { session_.run(); }

    // Thread controls of the page.
    void pause();
    void resume();
    void requestStop();
    // The exit path: stop flags set, "All thread Stopped".
    void stopAll();

    bool busy() const { return session_.busy(); }
    int scanMode() const { return session_.scanMode(); }
    TreeItemId volumeItem() const { return session_.volumeItem(); }
    // Non-null after a successful prepare().
    EntryView* view() { return session_.view(); }
    VolumeBrowser* browser() { return session_.browser(); }
    EntrySaver* saver() { return session_.saver(); }
    VolumeParser* parser() { return session_.parser(); }
    EngineControl* control() { return session_.control(); }
    StopFlag& saveStopRequested() { return session_.saveStopRequested(); }

    // The search button's worker procedure (after run()): rows as they are found go to `onRow`.
    EntrySearch::Result search(const std::string& pattern, const EntrySearch::RowFn& onRow = {}) {
        return session_.search(pattern, onRow);
    }
    // Entries given back their names from the recycle bin's index files by the last scan.
    std::uint64_t recycledNamesRestored() const { return session_.recycledNamesRestored(); }

    // Runs after the placeholders and the recycle-bin names, before the end message.
    std::function<void()> afterPlaceholders;

private:
    StatusSink& status_;
    VolumeSession session_;
};

} // namespace vindaru
