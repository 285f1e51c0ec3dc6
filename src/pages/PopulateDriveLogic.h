// PopulateDriveLogic: everything the volume list page does, without a window. The wizard page
// puts it on screen; it owns the page's volume records and rows, makes the session reader ready,
// runs the discoveries (volume/VolumeDiscovery, which `vindaru-cli volumes` runs too), and
// decides where Next leads.
//
// How a page uses it:
//   1. Construct it with the session, the choices the drive parsing modes page made, and the
//      page's sinks (status line, progress bar, message boxes). Set onRowsChanged and
//      onScanFinished if the page wants to hear about changes.
//   2. start() — page start: creates the session reader (when the image page recorded an image
//      kind and a makeReader is given) and runs the chosen discovery. The standard discovery
//      runs to its end inside start(); the advanced scan runs on a worker thread.
//   3. While an advanced scan runs, onRowsChanged fires on the worker after each volume found;
//      onScanFinished fires on the worker when it ends. The page then calls finishAdvancedScan()
//      on its own thread (it waits for the worker and does the page's closing steps: message,
//      status texts, controls). stop() is the Stop button.
//   4. rows() and controls() give what to show; after any call below, read them again.
//   5. Row selection, the up-down arrows, Filter, Add Custom Volume and Next are plain calls.
//
// Rows and records: volumeList() holds the records in discovery order plus custom volumes. Each
// row refers to its record by index — into volumeList in standard mode, into a store of copies
// in advanced mode — so the link survives the list growing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/Session.h"
#include "common/Sinks.h"
#include "image/ReaderFactory.h"
#include "image/readWriteInterface.h"
#include "volume/VolumeDiscovery.h"
#include "volume/VolumeRecord.h"

namespace vindaru {

// One row of the list: the texts of its four columns ("Volume", "File System", "Volume Size",
// "Start Sector").
struct VolumeRow {
    std::string volume;
    std::string fileSystem;
    std::string volumeSize;
    std::string startSector;
    std::uint64_t sectorCount = 0; // the volume's length when discovery learnt it
};

// Which of the page's controls are enabled or shown, as the page's steps leave them.
struct PopulateDriveControls {
    bool customCheckEnabled = false;    // "Custom Settings For Selected Volume "
    bool customChecked = false;
    bool customControlsEnabled = false; // labels, edits, up-downs, "Treat file system as:"
    bool addCustomVisible = true;       // "Add Custom Volume"
    bool addCustomEnabled = false;
    bool filterEnabled = false;         // "Filter volume entries."
    bool nextEnabled = true;
    bool backEnabled = true;
    bool progressVisible = true;
    bool stopVisible = true;
};

// What selecting a row puts into the custom controls.
struct RowSelection {
    std::string selectedVolume; // shown after "Selected Volume :"
    std::string startEdit;      // "Start Sector:"
    std::string endEdit;        // "End Sector :"
};

// The page's custom controls as Next reads them.
struct NextInput {
    std::optional<std::size_t> selectedRow; // first selected row, if any
    bool customChecked = false;
    std::string startEdit;
    std::string endEdit;
    std::string treatAs; // "Treat file system as:" selection; empty when none
};

enum class NextAction {
    Stay,          // a message was shown; the page stays
    RawRecovery,   // go to the raw recovery page with selectedRecord
    RecoveryMode,  // go to the recovery mode page with selectedRecord
};

struct NextResult {
    NextAction action = NextAction::Stay;
    VolumeRecord selectedRecord;
};

enum class DiscoveryMode { Standard = 1, Advanced = 2 };

class PopulateDriveLogic {
public:
    // What the drive parsing modes page hands the volume list page.
    struct Choices {
        std::string imagePath;
        DiscoveryMode discoveryMode = DiscoveryMode::Standard;
        bool gptMode = false;
        bool doNotSkipVolumeSize = false;
        std::uint64_t customStartSector = 0;
        std::uint64_t customEndSector = 0;
        // Makes a new session reader from the image page's choices (the GUI passes the reader
        // factory). Used when session.imageSourcePage is kImageSourceRecorded; when empty, the
        // session's reader is kept as it is.
        std::function<std::unique_ptr<readWriteInterface>(Session&)> makeReader;
        // The usual makeReader: the reader factory with the image page's choices.
        static std::function<std::unique_ptr<readWriteInterface>(Session&)> fromImageChoices(ImageChoices image) {
            return [image](Session& session) { return createReader(session, image); };
        }
        // False when the session reader is already open on imagePath.
        bool openReader = true;
        // The file systems discovery and "Treat file system as:" know: the program's table
        // (browser/FileSystemDrivers.h); it outlives the page.
        FileSystemTable fileSystems;
    };

    PopulateDriveLogic(Session& session, Choices choices, StatusSink& status, ProgressSink& progress,
                       MessageSink& messages);
    ~PopulateDriveLogic(); // stops and waits for a running scan
    PopulateDriveLogic(const PopulateDriveLogic&) = delete;
    PopulateDriveLogic& operator=(const PopulateDriveLogic&) = delete;

    // Called after rows change during an advanced scan (on the worker thread).
    std::function<void()> onRowsChanged;
    // Called on the worker thread when the advanced scan has ended.
    std::function<void()> onScanFinished;

    // Page start: the reader, then the chosen discovery.
    void start();
    // The standard discovery from the partition tables. False when there was no reader or it
    // could not be opened (the page's message was shown).
    bool runStandardDiscovery();
    // Starts the boot-sector scan on a worker. False when the reader could not be opened.
    bool startAdvancedScan();
    // Waits for the scan's worker, then does the page's closing steps. Call it on the page's
    // thread after onScanFinished (or to wait for the scan). Does nothing when no scan ran.
    void finishAdvancedScan();
    bool scanRunning() const;
    // The Stop button.
    void stop();

    std::vector<VolumeRow> rows() const;
    std::vector<VolumeRecord> volumeList() const;
    PopulateDriveControls controls() const;
    // The record row `row` refers to (a copy); nullopt for a row that does not exist.
    std::optional<VolumeRecord> recordOfRow(std::size_t row) const;

    // The list's selection moved to `row`.
    std::optional<RowSelection> selectRow(std::size_t row) const;
    // The row was clicked: the index into treatAsChoices(fileSystems) of the first entry that begins with
    // the row's "File System" text (letter case ignored), if any.
    std::optional<std::size_t> treatAsForRow(std::size_t row) const;
    // The custom check box.
    void setCustomChecked(bool checked);
    // An up-down arrow on the start or end edit: the edit's new text.
    static std::string stepEdit(const std::string& text, bool up);

    // "Filter volume entries.": keeps the rows that start one sector after the volume before
    // them. False, with the list unchanged, when that would keep none.
    bool filterEntries();
    // Undoes the filter: the rows as they were before it. False when the list is not filtered.
    bool showAllEntries();
    bool filtered() const;
    // "Add Custom Volume": returns the new row's index (it becomes the selection; both edits
    // then read "0").
    std::size_t addCustomVolume();
    // "Next".
    NextResult next(const NextInput& input);

private:
    struct RecordRef {
        bool copy = false; // true: index into copies_ (advanced mode); false: into volumeList_
        std::size_t index = 0;
    };
    struct Row {
        VolumeRow texts;
        RecordRef ref;
        // The record as discovery gave it, kept while custom settings replace it.
        std::optional<VolumeRecord> beforeCustom;
    };
    std::optional<std::vector<Row>> unfilteredRows_;

    enum class ReaderState { Missing, NotOpened, Ready };
    ReaderState prepareReader();
    void showListLocked();
    VolumeRecord& recordLocked(const RecordRef& ref);
    RecordRef refForLocked(std::size_t listIndex, const VolumeRecord& record);
    Row makeRowLocked(std::size_t listIndex, const VolumeRecord& record);
    bool advanced() const { return choices_.discoveryMode == DiscoveryMode::Advanced; }
    void scanWorker(VolumeDiscovery::ScanRange range);

    Session& session_;
    Choices choices_;
    StatusSink& status_;
    ProgressSink& progress_;
    MessageSink& messages_;

    mutable std::mutex mutex_;
    std::vector<VolumeRecord> volumeList_;
    std::vector<VolumeRecord> copies_; // the rows' own records in advanced mode
    std::vector<Row> rows_;
    PopulateDriveControls controls_;
    bool customApplied_ = false;

    std::unique_ptr<VolumeDiscovery> discovery_;
    std::thread worker_;
    bool scanStarted_ = false;
};

} // namespace vindaru
