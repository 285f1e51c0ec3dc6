#include "fs/ext2/Ext2VolumeParser.h"

#include "fs/ext2/Ext2EntryView.h"
#include "fs/ext2/ext2Class.h"
#include "fs/parser/TreeFill.h"
#include "volume/VolumeBytes.h"

namespace vindaru {

namespace {

constexpr const char* kExt2Done = "done..";

class Ext2VolumeParser : public VolumeParser {
public:
    explicit Ext2VolumeParser(const ParserSetup& setup)
        : parser_(setup.reader, setup.volume, setup.sinks.status, setup.sinks.progress), view_(parser_) {}

    FileSystemKind kind() const override { return FileSystemKind::Ext; }
    void attachSinks(const ScanSinks& sinks) override { parser_.attachSinks(sinks.status, sinks.progress); }
    EntryView& view() override { return view_; }
    EngineControl& control() override { return parser_.control; }

    std::optional<UsedRanges> usedByteRanges() override {
        // Without a scan, only as far as the group descriptors.
        if (parser_.groups.empty()) {
            if (!parser_.attachVolume()) return std::nullopt;
            parser_.volumeBytes = volumeLength(parser_.volume, parser_.reader);
            if (!parser_.findSuperblock() || !parser_.readGroupDescriptors()) return std::nullopt;
        }
        return parser_.usedByteRanges();
    }

    ScanOutcome scan(const ScanRequest& request) override {
        ScanOutcome outcome;
        outcome.endMessages = {kExt2Done};
        if (!parser_.attachVolume()) return outcome;
        parser_.volumeBytes = volumeLength(parser_.volume, parser_.reader);
        if (parser_.volumeBytes == 0) return outcome;
        if (!parser_.findSuperblock() || !parser_.readGroupDescriptors()) return outcome;
        parser_.readInodeTables();
        parser_.readJournal();
        parser_.parseDirectories();
        parser_.buildEntryMap();
        parser_.linkParentChild();
        parser_.announceTreeFill();
        if (request.tree) fillTopLevel(*request.tree, view_, request.volumeItem);
        return outcome;
    }

private:
    ext2Class parser_;
    Ext2EntryView view_;
};

} // namespace

std::shared_ptr<VolumeParser> createExt2Parser(const ParserSetup& setup) {
    return std::make_shared<Ext2VolumeParser>(setup);
}

} // namespace vindaru
