#include "fs/hfsplus/HfsPlusVolumeParser.h"

#include "fs/hfsplus/HFSP.h"
#include "fs/hfsplus/HfsPlusEntryView.h"
#include "fs/parser/TreeFill.h"

namespace vindaru {

namespace {

constexpr const char* kScanDone = "Scanning process Done.";
constexpr const char* kScanAborted = "Scanning process Aborted....";
constexpr const char* kNoSignature =
    "The volume header has no HFS+ signature (H+ or HX).The volume was not scanned; the Deep "
    "mode searches it for catalog nodes.";

class HfsPlusVolumeParser : public VolumeParser {
public:
    explicit HfsPlusVolumeParser(const ParserSetup& setup)
        : parser_(setup.reader, setup.volume, setup.sinks.status, setup.sinks.progress), view_(parser_),
          messages_(setup.sinks.messages) {}

    FileSystemKind kind() const override { return FileSystemKind::HfsPlus; }

    void attachSinks(const ScanSinks& sinks) override {
        parser_.attachSinks(sinks.status, sinks.progress);
        messages_ = sinks.messages;
    }

    ScanOutcome scan(const ScanRequest& request) override {
        parser_.readVolumeHeader();
        ScanOutcome aborted;
        aborted.addPlaceholders = false;
        aborted.endStatus = kScanAborted;
        bool ok = false;
        if (request.mode == kScanModeStandard) {
            // The normal mode trusts the header; without its signature there is nothing to trust.
            if (!parser_.header.hasSignature()) {
                if (messages_) messages_->info(kNoSignature);
                return aborted;
            }
            // The extents overflow file first: it holds the catalog's own further extents.
            ok = parser_.scanExtentsOverflow() && parser_.scanCatalogNodes();
        } else {
            // A damaged extents file does not stop the deep mode: files then end after their
            // first eight extents.
            ok = parser_.scanVolumeForLeafNodes();
            if (ok) parser_.scanExtentsOverflow();
        }
        if (!ok) return aborted;
        parser_.readCatalogRecords();
        parser_.linkParentChild();
        if (request.tree)
            fillTopLevel(*request.tree, view_, request.volumeItem,
                         [this](EntryRef entry, std::size_t) { return parser_.announceTopLevelEntry(entry); });
        ScanOutcome done;
        done.endStatus = kScanDone;
        return done;
    }

    EntryView& view() override { return view_; }
    EngineControl& control() override { return parser_.control; }
    std::optional<UsedRanges> usedByteRanges() override { return parser_.usedByteRanges(); }

private:
    HFSP parser_;
    HfsPlusEntryView view_;
    MessageSink* messages_;
};

} // namespace

std::shared_ptr<VolumeParser> createHfsPlusParser(const ParserSetup& setup) {
    return std::make_shared<HfsPlusVolumeParser>(setup);
}

} // namespace vindaru
