// What `vindaru-cli ls`, `save` and `search` share: open the image, choose the volume, scan it in
// a volume session (browser/VolumeSession, as the scan page does), and find entries by a
// '/'-separated path below the volume item.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/VolumeSession.h"
#include "cli/CliCommand.h"
#include "cli/CliImage.h"
#include "cli/CliScanMode.h"
#include "cli/CliSinks.h"
#include "cli/CliVolume.h"
#include "common/CheckTree.h"
#include "common/Session.h"
#include "image/ByteSource.h"

namespace vindaru::cli {

class CliBrowse {
public:
    explicit CliBrowse(bool assumeYes);

    // Opens the image, resolves the volume and runs the scan in the chosen mode (Advanced: the
    // candidate search first). Prints what went wrong and returns the exit status on failure
    // (kExitOk on success).
    int openAndScan(const ImageArgs& image, const VolumeArgs& volume, const ScanModeArgs& mode);

    // The entries the page shows right under the volume item.
    std::vector<EntryRef> firstLevel() const;
    struct Target {
        bool volumeItem = false; // the path named the volume item itself
        EntryRef entry = 0;      // otherwise the entry it names
        std::string path;        // as listings print it (CliText.h), "" for the volume item
    };
    // nullopt when a component names nothing.
    std::optional<Target> resolve(const std::string& path) const;

    EntryView& view() { return *session_->view(); }
    VolumeSession& session() { return *session_; }
    const VolumeRecord& volume() const { return volume_; }
    CliMessageSink& messages() { return messages_; }
    CliProgressSink& progress() { return progress_; }
    // What the scan's reads met: a scan that read unreadable ranges of the disk (as zeros) may
    // have lost entries or listed wrong ones.
    const ReadReport& scanReads() const { return scanReads_; }
    // Says so on stderr when the scan's reads, or `walkReads` (those of the folders read as the
    // listing or the save walked them), met unreadable ranges; true when they did.
    bool warnOfDamagedListing(const ReadReport& walkReads) const;

private:
    CliMessageSink messages_;
    CliProgressSink progress_;
    CliStatusSink status_;
    NullStatusSink secondStatus_;
    Session imageSession_;
    CheckTree tree_;
    VolumeRecord volume_;
    std::unique_ptr<VolumeSession> session_;
    ReadReport scanReads_;
};


} // namespace vindaru::cli
